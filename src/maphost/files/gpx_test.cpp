// The GPX document the map host keeps: rendered, read back, refused.
#include "maphost/files/gpx.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "platform/descriptor.h"
#include "test_support.h"

namespace {

// A capture time becomes a GPX time only when it is one: a real day, each field within its bounds.
TEST(Gpx, OnlyARealCaptureTimeBecomesAGpxTime) {
  EXPECT_EQ(GpxTime("0001:01:01 00:00:00") + GpxTime("2000:02:29 23:59:59"), "0001-01-01T00:00:002000-02-29T23:59:59");
  for (const char *taken : {"0000:07:04 12:34:56", "2019:02:29 10:00:00", "2016:00:04 12:34:56", "2016:13:04 12:34:56", "2016:07:00 12:34:56",
                            "2016:07:32 12:34:56", "2016:07:04 24:34:56", "2016:07:04 12:60:56", "2016:07:04 12:34:60",
                            "2016-07-04 12:34:56", "2016:07:04 12:34:5", "2016:07:04 12:34:567"})
    EXPECT_EQ(GpxTime(taken), "") << taken;
}

// Every name, however broken, comes back as the valid text written.
TEST(Gpx, TextsAreValidXmlWhateverTheBytes) {
  EXPECT_EQ(XmlChars("Zürich\tx \xF4\x8F\xBF\xBF"), "Zürich\tx \xF4\x8F\xBF\xBF");
  EXPECT_EQ(XmlChars(std::string("a\x01\x7f\0", 4)), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(XmlChars("\xFF\xC3"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // not UTF-8
  EXPECT_EQ(XmlChars("\xED\xA0\x80").substr(0, 3), "\xEF\xBF\xBD"); // a surrogate
  std::vector<Position> sent(3);
  sent[0] = {false, "1.5", "-2", "a<b>&\"c\" \x01 \xFF", "", "", ""};
  sent[1] = {true, "3", "4", "p&q.jpg", "/cafe b/p&q.jpg", FileUri("/cafe b/p&q.jpg"), ""};
  sent[1].taken = "2016:07:04 12:34:56"; // back from its <time>
  sent[2] = {false, "5", "6", "", "", "", ""}; // no name element
  TempDir dir;
  Descriptor file(open((dir / "t.gpx").c_str(), O_RDWR | O_CREAT, 0600));
  ASSERT_TRUE(WriteGpx(file.fd, [&](const auto &visit) { std::for_each(sent.begin(), sent.end(), visit); }));
  std::string rendered = ReadFileText(dir / "t.gpx");
  EXPECT_EQ(rendered.find("<name></name>"), std::string::npos);
  EXPECT_NE(rendered.find("<type>image/jpeg</type>"), std::string::npos); // the link says what it points at
  Store store;
  std::string why;
  ASSERT_EQ(LoadGpx(rendered, "t.gpx", store, &why), GpxLoad::Loaded);
  std::vector<Position> kept = AllPositions(store);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(std::tuple(kept[2].latitude, kept[2].longitude), std::tuple("5", "6")); // an empty element
  EXPECT_EQ(kept[0].name, XmlChars(sent[0].name));
  EXPECT_EQ(std::tuple(kept[1].path, kept[1].taken), std::tuple(std::string("/cafe b/p&q.jpg"), sent[1].taken));
  EXPECT_EQ(PathOfFileUri("file:///a%zz%2G%4a%4A%e9%0A%4"), "/a%zz%2GJJ\xE9\n%4"); // whole escapes alone
  EXPECT_EQ(std::tuple(kept[0].picture, kept[1].picture, kept[2].picture), std::tuple(false, true, false));
  std::string ns = "\"http://www.topografix.com/GPX/1/1\"", named = "<name xmlns=" + ns + ">p</name>";
  std::string prefixed = "<g:gpx xmlns:g=" + ns + "><g:wpt lat=\"1\" lon=\"2\">" + named + "</g:wpt></g:gpx>";
  ASSERT_EQ(LoadGpx(prefixed, "p.gpx", store, &why), GpxLoad::Loaded); // kept as it stood: a child keeps its own xmlns
  EXPECT_NE(AllPositions(store).back().raw.find(named), std::string::npos);
  std::string timed = "<gpx xmlns=" + ns + ">"; // a picture's time in UTC or as this host writes it, nothing else
  for (const char *time : {"2016-07-04T12:34:56Z", "2016-07-04T12:34:56+", "2016-07-04T12:34:56", "2016:07:04T12:34:56",
                           "2019-02-29T10:00:00Z"})
    timed += "<wpt lat=\"1\" lon=\"2\"><time>" + std::string(time) + "</time><link href=\"file:///" + time + "\"/></wpt>";
  Store times;
  ASSERT_EQ(LoadGpx(timed + "</gpx>", "t.gpx", times, &why), GpxLoad::Loaded);
  std::vector<std::string> taken;
  for (const Position &p : AllPositions(times))
    taken.push_back(p.taken);
  EXPECT_EQ(taken, (std::vector<std::string>{"2016:07:04 12:34:56", "", "2016:07:04 12:34:56", "", ""}));
}

// Refused before libxml2 checks them for duplicates in time squared; comments, CDATA, instructions and quoted values do not count.
TEST(Gpx, AnElementWithThousandsOfAttributesIsRefusedUnread) {
  auto document = [](int attributes) {
    std::string wpt = "<wpt lat=\"1\" lon='2' a=\"x=>'\"";
    for (int i = 3; i < attributes; i++)
      wpt += " a" + std::to_string(i) + "=\"\"";
    std::string equals(2000, '=');
    return "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><!-- " + equals + " --><?pi " + equals + "?><![CDATA[" +
           equals + "]]>" + wpt + "/></gpx>";
  };
  Store store;
  std::string why; // below, at and past the bound
  EXPECT_EQ(LoadGpx(document(1000), "most.gpx", store, &why), GpxLoad::Loaded) << why;
  EXPECT_EQ(LoadGpx(document(1001), "bomb.gpx", store, &why), GpxLoad::NotGpx);
  EXPECT_EQ(why, "bomb.gpx has an element with more than 1000 attributes");
  EXPECT_EQ(LoadGpx("<><!---->", "empty.gpx", store, &why), GpxLoad::NotGpx); // counted through once
}

// Known whole before any of it is kept.
TEST(Gpx, ADocumentCutShortKeepsNoneOfItsWaypoints) {
  Store store;
  std::string why, cut = "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"1\" lon=\"2\"/><wpt";
  EXPECT_EQ(LoadGpx(cut, "cut.gpx", store, &why), GpxLoad::NotGpx);
  EXPECT_EQ(CountsOf(store).waypoints, 0u);
}

} // namespace

// What the page is made of: JSON that no name can break out of, the tile
// server the Content-Security-Policy allows, thumbnails as data URIs.
#include "maphost/web/page.h"

#include <gtest/gtest.h>

#include "maphost/web/thumbnail.h"

namespace {

TEST(Page, NamesStayTextInsideTheScriptElement) {
  Position hostile{true, "1.5", "-2", "</script><img src=x onerror=alert(1)>\xFF", "/a/b.jpg", "", ""};
  FolderTable folders;
  std::string json = PositionJson(hostile, 7, folders);
  EXPECT_EQ(json.find('<'), std::string::npos) << json;
  EXPECT_NE(json.find("\\u003c/script>\\u003cimg src=x onerror=alert(1)>\xEF\xBF\xBD"), std::string::npos) << json;
  EXPECT_EQ(json.substr(0, 13), "[7,1,1.5,-2.0");
  // Pictures of one folder share its number; a waypoint has none.
  Position other{true, "0", "0", "c.jpg", "/a/c.jpg", "", ""}, waypoint{false, "0", "0", "w", "", "", ""};
  EXPECT_EQ(PositionJson(other, 8, folders), "[8,1,0.0,0.0,\"c.jpg\",0]");
  EXPECT_EQ(PositionJson(waypoint, 9, folders), "[9,0,0.0,0.0,\"w\"]");
  EXPECT_EQ(BatchJson("[1]", folders), "{\"f\":[\"/a/\"],\"p\":[[1]]}");
}

TEST(Page, TileServersTheSecurityPolicyAllows) {
  EXPECT_EQ(TileSource(""), "https://*.tile.openstreetmap.org");
  EXPECT_EQ(TileSource("https://tiles.example.org:8443/{z}/{x}/{y}.png"), "https://tiles.example.org:8443");
  EXPECT_EQ(TileSource("https://{s}.example.org/{z}/{x}/{y}.png"), "https://*.example.org");
  EXPECT_EQ(TileSource("https://t-{s}.example.org/{z}/{x}/{y}.png"), "https:"); // no such wildcard
  EXPECT_EQ(TileSource("http://x.org;script-src *;/{z}.png"), "http:"); // nothing added to the policy
  EXPECT_EQ(TileSource("tiles/{z}.png"), "https:");
  EXPECT_EQ(TileSource("none"), ""); // the outline map alone: no tile server
}

TEST(Page, ThumbnailsAsDataUris) {
  EXPECT_EQ(JpegDataUri(std::string("\xFF\xD8\xFF\0", 4)), "data:image/jpeg;base64,/9j/AA==");
  EXPECT_EQ(JpegDataUri(""), "data:image/jpeg;base64,");
}

} // namespace

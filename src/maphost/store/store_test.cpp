#include "maphost/store/store.h"

#include <gtest/gtest.h>

namespace {

// A picture sent again is moved, once, whichever coordinate changed.
TEST(Store, APictureMovesToItsLatestPosition) {
  Store store;
  for (auto [lat, lon, kept] : {std::tuple{"1", "2", Kept::Changed}, {"1", "2", Kept::Same},
                                {"1", "3", Kept::Changed}, {"4", "3", Kept::Changed}})
    EXPECT_EQ(KeepPosition(store, Position{true, lat, lon, "p.jpg", "/p.jpg", "file:///p.jpg", ""}), kept);
  ASSERT_EQ(store.positions.size(), 1u);
  EXPECT_EQ(store.positions[0].latitude, "4");
  EXPECT_EQ(store.positions[0].longitude, "3");
}

} // namespace

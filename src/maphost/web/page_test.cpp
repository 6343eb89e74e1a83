// The tile server the page's Content-Security-Policy allows.
#include "maphost/web/page.h"

#include <gtest/gtest.h>

namespace {

TEST(Page, TileServersTheSecurityPolicyAllows) {
  EXPECT_EQ(TileSource(""), "https://*.tile.openstreetmap.org");
  EXPECT_EQ(TileSource("https://tiles.example.org:8443/{z}/{x}/{y}.png"), "https://tiles.example.org:8443");
  EXPECT_EQ(TileSource("https://{s}.example.org/{z}/{x}/{y}.png"), "https://*.example.org");
  EXPECT_EQ(TileSource("https://t-{s}.example.org/{z}/{x}/{y}.png"), "https:"); // no such wildcard
  EXPECT_EQ(TileSource("http://x.org;script-src *;/{z}.png"), "http:"); // nothing added to the policy
  EXPECT_EQ(TileSource("tiles/{z}.png"), "https:");
  EXPECT_EQ(TileSource("none"), ""); // the outline map alone: no tile server
}

} // namespace

#include "maphost/web/thumbnail_cache.h"

#include <gtest/gtest.h>

namespace {

// Filled to its budget exactly, the cache keeps all; past it, the least recently used go.
TEST(ThumbnailCache, KeepsUpToItsBudgetDroppingTheLeastRecentlyUsedFirst) {
  ThumbnailCache cache;
  cache.most_bytes = 30;
  auto kept = [&](uint32_t index) { std::string jpeg = "-"; KeptThumbnail(cache, index, jpeg); return jpeg; };
  for (uint32_t i = 0; i < 3; i++)
    KeepThumbnail(cache, i, std::string(10, char('a' + i)));
  KeepThumbnail(cache, 1, "kept once"); // not kept again, not counted again
  EXPECT_EQ(cache.bytes, 30u);
  EXPECT_EQ(kept(1), "bbbbbbbbbb");
  EXPECT_EQ(kept(0), "aaaaaaaaaa"); // now 2 is the least recently used
  KeepThumbnail(cache, 3, "ddddddddddddddd");
  std::string now;
  for (uint32_t i : {2, 1, 0, 3})
    now += kept(i);
  EXPECT_EQ(now, "--aaaaaaaaaaddddddddddddddd"); // 0 was used after 1
  EXPECT_EQ(cache.bytes, 25u);
  KeepThumbnail(cache, 4, std::string(31, 'e')); // too big for any budget: nothing stays
  EXPECT_EQ(kept(4), "-");
  EXPECT_EQ(kept(3), "-");
  EXPECT_EQ(cache.bytes, 0u);
}

} // namespace

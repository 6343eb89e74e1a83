#include "maphost/web/thumbnail_cache.h"

#include <gtest/gtest.h>

namespace {

std::string kept(ThumbnailCache &cache, uint32_t index) {
  std::string jpeg = "none";
  KeptThumbnail(cache, index, jpeg);
  return jpeg;
}

// Filled to its budget exactly, the cache keeps all; past it, the least recently used go.
TEST(ThumbnailCache, KeepsUpToItsBudgetDroppingTheLeastRecentlyUsedFirst) {
  ThumbnailCache cache;
  cache.most_bytes = 30;
  for (uint32_t i = 0; i < 3; i++)
    KeepThumbnail(cache, i, std::string(10, char('a' + i)));
  KeepThumbnail(cache, 1, "kept once"); // not kept again, not counted again
  EXPECT_EQ(cache.bytes, 30u);
  EXPECT_EQ(kept(cache, 1), std::string(10, 'b'));
  EXPECT_EQ(kept(cache, 0), std::string(10, 'a')); // now 2 is the least recently used
  KeepThumbnail(cache, 3, std::string(15, 'd'));
  EXPECT_EQ(kept(cache, 2), "none");
  EXPECT_EQ(kept(cache, 1), "none"); // 0 was used after it
  EXPECT_EQ(kept(cache, 0), std::string(10, 'a'));
  EXPECT_EQ(kept(cache, 3), std::string(15, 'd'));
  EXPECT_EQ(cache.bytes, 25u);
  KeepThumbnail(cache, 4, std::string(31, 'e')); // too big for any budget: nothing stays
  EXPECT_EQ(cache.bytes, 0u);
  EXPECT_EQ(kept(cache, 4), "none");
}

} // namespace

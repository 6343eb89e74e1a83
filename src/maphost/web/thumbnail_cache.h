// The thumbnails the web view made, kept within a budget in bytes; when a
// new one would pass it, the least recently used go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

struct ThumbnailCache {
  size_t most_bytes = 64 << 20;
  size_t bytes = 0;
  std::list<uint32_t> used; // the most recently used last
  std::unordered_map<uint32_t, std::pair<std::string, std::list<uint32_t>::iterator>> kept;
};

// Keeps the picture's thumbnail, unless one is kept already.
void KeepThumbnail(ThumbnailCache &cache, uint32_t index, const std::string &jpeg);
// The picture's kept thumbnail, now the most recently used; false: none kept.
bool KeptThumbnail(ThumbnailCache &cache, uint32_t index, std::string &jpeg);

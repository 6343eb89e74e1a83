#include "maphost/web/thumbnail_cache.h"

void KeepThumbnail(ThumbnailCache &cache, uint32_t index, const std::string &jpeg) {
  if (cache.kept.count(index))
    return;
  cache.used.push_back(index);
  cache.kept[index] = {jpeg, std::prev(cache.used.end())};
  cache.bytes += jpeg.size();
  while (cache.bytes > cache.most_bytes && !cache.used.empty()) {
    auto oldest = cache.kept.find(cache.used.front());
    cache.bytes -= oldest->second.first.size();
    cache.kept.erase(oldest);
    cache.used.pop_front();
  }
}

bool KeptThumbnail(ThumbnailCache &cache, uint32_t index, std::string &jpeg) {
  auto found = cache.kept.find(index);
  if (found == cache.kept.end())
    return false;
  cache.used.splice(cache.used.end(), cache.used, found->second.second);
  jpeg = found->second.first;
  return true;
}

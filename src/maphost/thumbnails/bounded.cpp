#include "maphost/thumbnails/bounded.h"

#include <chrono>

namespace {

enum Kind { kThumbnail, kWhole };

// Decodes stop this long after the host is told to end.
constexpr auto kLastDecodes = std::chrono::seconds(1);

ApartHandle decoder;
GiveUp give_up{kNever};

// In the child: the thumbnail, or the whole picture as its type, a NUL and
// its bytes.
bool decode(int kind, const std::string &file, std::string &output) {
  if (kind == kThumbnail) {
    output = MakeThumbnail(file);
    return true;
  }
  WholePicture whole = ShowWhole(file);
  output = whole.type ? std::string(whole.type) + '\0' + whole.bytes : "";
  return true;
}

// The decode done apart, or here when there is no helper.
std::string decoded(Kind kind, const std::string &file) {
  std::string output;
  if (!decoder)
    return decode(kind, file, output) ? output : "";
  return DoApart(*decoder, kind, file, output, give_up) ? output : "";
}

} // namespace

bool StartBoundedDecoding() {
  decoder = StartApart(decode, kDecodeLimits);
  return decoder != nullptr;
}

void EndBoundedDecoding() {
  give_up = (std::chrono::steady_clock::now() + kLastDecodes).time_since_epoch().count();
}

std::string BoundedThumbnail(const std::string &file) { return decoded(kThumbnail, file); }

WholePicture BoundedWhole(std::string file) {
  if (FormatOf(file) != PictureFormat::Heif)
    return ShowWhole(std::move(file)); // as it is, or a preview it carries: nothing to decode
  std::string answer = decoded(kWhole, file);
  size_t type_end = answer.find('\0');
  if (type_end == std::string::npos)
    return {};
  // The media types ShowWhole gives are static texts: find the one meant.
  static const char *const kTypes[] = {"image/jpeg", "image/png", "image/webp"};
  for (const char *type : kTypes)
    if (answer.compare(0, type_end, type) == 0)
      return {type, answer.substr(type_end + 1)};
  return {};
}

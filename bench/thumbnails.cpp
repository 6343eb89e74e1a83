// pintrail-thumbnails CORPUS_DIR: thumbnails made per second for each
// format the map host shows, from pictures in memory (the file reads left
// out): the camera JPEGs as they are (most carry an EXIF thumbnail), and
// the largest of them without its EXIF, and re-encoded as PNG, WebP and
// HEIC (no thumbnail item: the primary image decoded), and inside a RAF.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <libheif/heif.h>
#include <png.h>
#include <string>
#include <vector>
#include <webp/encode.h>

#include "fixtures/formats.h"
#include "maphost/thumbnails/decode.h"
#include "maphost/thumbnails/shown.h"

namespace {

std::string png_of(const Raster &picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width, image.height = picture.height, image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  png_image_write_get_memory_size(image, size, 0, picture.rgb.data(), 0, nullptr);
  std::string bytes(size, '\0');
  png_image_write_to_memory(&image, bytes.data(), &size, 0, picture.rgb.data(), 0, nullptr);
  bytes.resize(size);
  return bytes;
}

std::string webp_of(const Raster &picture) {
  uint8_t *out = nullptr;
  size_t size = WebPEncodeRGB(picture.rgb.data(), picture.width, picture.height, picture.width * 3, 80, &out);
  std::string bytes(reinterpret_cast<char *>(out), size);
  WebPFree(out);
  return bytes;
}

heif_error append(heif_context *, const void *data, size_t size, void *out) {
  static_cast<std::string *>(out)->append(static_cast<const char *>(data), size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

std::string heic_of(const Raster &picture) {
  heif_context *context = heif_context_alloc();
  heif_encoder *encoder = nullptr;
  heif_image *image = nullptr;
  std::string bytes;
  if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
      heif_image_create(picture.width, picture.height, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                        &image).code == heif_error_Ok) {
    heif_image_add_plane(image, heif_channel_interleaved, picture.width, picture.height, 8);
    int stride;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < picture.height; y++)
      std::copy_n(&picture.rgb[size_t(y) * picture.width * 3], picture.width * 3, plane + size_t(y) * stride);
    heif_encoder_set_lossy_quality(encoder, 70);
    heif_writer writer{1, append};
    if (heif_context_encode_image(context, image, encoder, nullptr, nullptr).code == heif_error_Ok)
      heif_context_write(context, &writer, &bytes);
  }
  if (image)
    heif_image_release(image);
  if (encoder)
    heif_encoder_release(encoder);
  heif_context_free(context);
  return bytes;
}

void measure(const char *what, const std::vector<std::string> &files) {
  if (files.empty() || files[0].empty())
    return;
  size_t made = 0, bytes = 0;
  auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  for (size_t i = 0; seconds < 2 || i < files.size(); i++) {
    std::string thumbnail = MakeThumbnail(files[i % files.size()]);
    made += !thumbnail.empty();
    bytes += thumbnail.size();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (i + 1 == files.size() * 1000)
      break;
  }
  size_t tried = std::max<size_t>(1, made);
  printf("  %-44s %8.1f thumbnails/s  %7.2f ms each, %6.1f KB a thumbnail\n", what, made / seconds,
         1e3 * seconds / tried, bytes / 1e3 / tried);
}

} // namespace

int main(int argc, char **argv) {
  std::string dir = argc > 1 ? argv[1] : "../shared/corpus/jpg";
  std::vector<std::string> jpegs;
  std::string largest;
  if (DIR *listing = opendir(dir.c_str())) {
    while (dirent *entry = readdir(listing)) {
      std::string file;
      if (ReadPictureFile(dir + "/" + entry->d_name, file) && FormatOf(file) == PictureFormat::Jpeg) {
        jpegs.push_back(file);
        largest = file.size() > largest.size() ? file : largest;
      }
    }
    closedir(listing);
  }
  if (jpegs.empty()) {
    printf("thumbnails: no JPEGs in %s\n", dir.c_str());
    return 0;
  }
  Raster picture = DecodeJpeg(largest, 0);
  printf("thumbnails: %zu camera JPEGs; the others from the largest, %d x %d\n", jpegs.size(),
         picture.width, picture.height);
  measure("JPEG, camera files as they are", jpegs);
  measure("JPEG without EXIF (a 1/8 decode)", {EncodeJpeg(picture, 90)});
  measure("PNG", {png_of(picture)});
  measure("WebP (decoded scaled)", {webp_of(picture)});
  measure("HEIC (the primary image)", {heic_of(picture)});
  measure("RAF (its embedded JPEG)", {MakeRaf(largest)});
  return 0;
}

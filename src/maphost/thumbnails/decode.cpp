#include "maphost/thumbnails/decode.h"

#include "formats/jpeg_markers.h"

#include <libheif/heif.h>
#include <png.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <algorithm>
#include <memory>

namespace {

struct HeifContextFree {
  void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HeifHandleFree {
  void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct HeifImageFree {
  void operator()(heif_image *image) const { heif_image_release(image); }
};
struct PngFree {
  void operator()(png_image *image) const { png_image_free(image); }
};

Raster blank(int width, int height) {
  Raster raster;
  raster.width = width;
  raster.height = height;
  raster.rgb.resize(size_t(width) * height * 3);
  return raster;
}

// The sides a picture of width x height has when shrunk by the factor that
// keeps least pixels on its shorter side.
int shrink_factor(int width, int height, int least, int most_factor) {
  int factor = 1;
  while (factor < most_factor && least > 0 && std::min(width, height) / (factor * 2) >= least)
    factor *= 2;
  return factor;
}

// Whether a JPEG is progressive: its first frame marker says. Such a JPEG
// holds every coefficient of the picture while it decodes, whatever the
// scale.
bool progressive_jpeg(std::string_view bytes) {
  for (size_t at = 2; at + 4 <= bytes.size() && uint8_t(bytes[at]) == kMarker;) {
    uint8_t marker = uint8_t(bytes[at + 1]);
    if (marker == kMarker) { // fill
      at++;
      continue;
    }
    if (IsFrameMarker(marker))
      return IsProgressiveFrame(marker);
    at += 2 + (uint8_t(bytes[at + 2]) << 8 | uint8_t(bytes[at + 3]));
  }
  return false;
}

// The bytes a progressive JPEG's coefficients take: two a sample, in
// samples per pixel of its subsampling (twice the count, for 4:2:0's 1.5).
uint64_t coefficient_bytes(int width, int height, int subsampling) {
  static const int kTwiceSamples[TJ_NUMSAMP] = {6, 4, 3, 2, 4, 3};
  int twice = subsampling >= 0 && subsampling < TJ_NUMSAMP ? kTwiceSamples[subsampling] : 6;
  return uint64_t(width) * uint64_t(height) * uint64_t(twice);
}

} // namespace

Raster DecodeJpeg(std::string_view bytes, int least) {
  TjHandle decoder(tjInitDecompress());
  auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  int width, height, subsampling, colours;
  if (!decoder || tjDecompressHeader3(decoder.get(), data, bytes.size(), &width, &height,
                                      &subsampling, &colours) != 0)
    return {};
  // A progressive JPEG holds all its coefficients whatever the scale.
  if (!FitsInMemory(uint64_t(width), uint64_t(height)))
    return {};
  int factor = shrink_factor(width, height, least, 8);
  int scaled_width = (width + factor - 1) / factor, scaled_height = (height + factor - 1) / factor;
  uint64_t coefficients = progressive_jpeg(bytes) ? coefficient_bytes(width, height, subsampling) : 0;
  if (coefficients + uint64_t(scaled_width) * uint64_t(scaled_height) * 3 > kMostDecodeBytes)
    return {}; // a few bytes that claim a vast progressive picture
  Raster raster = blank(scaled_width, scaled_height);
  if (tjDecompress2(decoder.get(), data, bytes.size(), raster.rgb.data(), scaled_width, 0,
                    scaled_height, TJPF_RGB, TJFLAG_FASTDCT) != 0 &&
      tjGetErrorCode(decoder.get()) == TJERR_FATAL)
    return {}; // a warning (a truncated file) leaves what was decoded
  return raster;
}

Raster DecodePng(std::string_view bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::unique_ptr<png_image, PngFree> release(&image);
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) ||
      !FitsInMemory(image.width, image.height) || uint64_t(image.width) * image.height * 3 > kMostDecodeBytes)
    return {};
  image.format = PNG_FORMAT_RGB;
  Raster raster = blank(int(image.width), int(image.height));
  png_color white = {255, 255, 255}; // under transparent pixels
  if (!png_image_finish_read(&image, &white, raster.rgb.data(), 0, nullptr))
    return {};
  return raster;
}

Raster DecodeWebp(std::string_view bytes, int least) {
  WebPDecoderConfig config;
  auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
  if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, bytes.size(), &config.input) != VP8_STATUS_OK)
    return {};
  int width = config.input.width, height = config.input.height;
  if (!FitsInMemory(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))))
    return {}; // an extended WebP's canvas may claim 16 million pixels a side
  int factor = shrink_factor(width, height, least, 64);
  Raster raster = blank(std::max(1, width / factor), std::max(1, height / factor));
  config.options.use_scaling = factor > 1;
  config.options.scaled_width = raster.width;
  config.options.scaled_height = raster.height;
  config.output.colorspace = MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = raster.rgb.data();
  config.output.u.RGBA.stride = raster.width * 3;
  config.output.u.RGBA.size = raster.rgb.size();
  bool decoded = WebPDecode(data, bytes.size(), &config) == VP8_STATUS_OK;
  WebPFreeDecBuffer(&config.output);
  return decoded ? raster : Raster{};
}

Raster DecodeHeif(std::string_view bytes, bool thumbnail) {
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context)
    return {};
  heif_context_set_maximum_image_size_limit(context.get(), 10954); // sides of at most kMostPixels
  heif_image_handle *got = nullptr;
  if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code ||
      heif_context_get_primary_image_handle(context.get(), &got).code)
    return {};
  std::unique_ptr<heif_image_handle, HeifHandleFree> handle(got);
  heif_item_id thumb_id;
  if (thumbnail && heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), &thumb_id, 1) == 1 &&
      heif_image_handle_get_thumbnail(handle.get(), thumb_id, &got).code == heif_error_Ok)
    handle.reset(got);
  int width = heif_image_handle_get_width(handle.get());
  int height = heif_image_handle_get_height(handle.get());
  heif_image *decoded = nullptr;
  if (!FitsInMemory(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))) ||
      heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                        nullptr).code)
    return {};
  std::unique_ptr<heif_image, HeifImageFree> image(decoded);
  int stride = 0;
  const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  width = heif_image_get_width(image.get(), heif_channel_interleaved);
  height = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (!plane || !FitsInMemory(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))))
    return {};
  Raster raster = blank(width, height);
  for (int y = 0; y < height; y++)
    std::copy(plane + size_t(y) * stride, plane + size_t(y) * stride + size_t(width) * 3,
              raster.rgb.begin() + size_t(y) * width * 3);
  return raster;
}

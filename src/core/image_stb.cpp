#include "image_stb.h"

#include <climits>
#include <cstring>
#include <memory>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_HDR  // no float formats: every input becomes 8-bit
#define STBI_FAILURE_USERMSG
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {
bool fits_rgb_buffer(int width, int height) {
  return width > 0 && height > 0 && width <= INT_MAX / 3 / height;
}
}  // namespace

bool probe_image_size(const std::string& path, int& width, int& height) {
  int channels = 0;
  return stbi_info(path.c_str(), &width, &height, &channels) != 0;
}

bool decode_with_stb(const std::string& path, rgb_image& image, std::string& error) {
  int width = 0, height = 0, channels = 0;
  if (stbi_info(path.c_str(), &width, &height, &channels) && !fits_rgb_buffer(width, height)) {
    error = "image of " + std::to_string(width) + " by " + std::to_string(height) +
            " pixels is too large";
    return false;
  }
  // Asking for 3 channels makes stb convert grey, grey+alpha and RGBA to RGB, and 16-bit
  // samples to 8 bits.
  std::unique_ptr<unsigned char, void (*)(void*)> data(
      stbi_load(path.c_str(), &width, &height, &channels, 3), stbi_image_free);
  if (!data) {
    const char* reason = stbi_failure_reason();
    error = reason ? reason : "unknown decoder error";
    return false;
  }
  if (!fits_rgb_buffer(width, height)) {
    error = "image is too large";
    return false;
  }
  image.pixels.assign(data.get(), data.get() + static_cast<size_t>(width) * height * 3);
  image.width = width;
  image.height = height;
  return true;
}

// Reading image files. SOIL is the first loader; what it refuses (progressive JPEG, 16-bit and
// interlaced PNG, among others) goes to the current stb decoder. Before either decoder sees a
// file, its header is read to refuse sizes that the buffers' int arithmetic cannot hold.
#include <SOIL/SOIL.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image_io.h"
#include "image_stb.h"

namespace {

std::string too_large_message(int width, int height) {
  return "the image is too large (" + std::to_string(width) + " x " + std::to_string(height) +
         " pixels; width * height * 3 must stay below " + std::to_string(INT_MAX) + ")";
}

// SOIL recognises these formats by their leading bytes. A file with none of them would reach
// its TGA reader, which has no signature to check and crashes on well-formed TGA files read
// from disk, so such files go to the second decoder only.
bool has_soil_signature(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  unsigned char head[10] = {};
  const size_t n = std::fread(head, 1, sizeof head, file.get());
  auto starts = [&](const char* magic, size_t len) {
    return n >= len && std::memcmp(head, magic, len) == 0;
  };
  return starts("\xFF\xD8", 2) || starts("\x89PNG", 4) || starts("BM", 2) || starts("8BPS", 4) ||
         starts("#?RADIANCE", 10) || starts("#?RGBE", 6) || starts("DDS ", 4);
}

bool load_with_soil(const std::string& path, rgb_image& image, std::string& error) {
  int width = 0;
  int height = 0;
  int channels_in_file = 0;
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> data(
      SOIL_load_image(path.c_str(), &width, &height, &channels_in_file, SOIL_LOAD_RGB),
      SOIL_free_image_data);
  if (!data) {
    const char* reason = SOIL_last_result();
    error = (reason != nullptr && *reason != '\0') ? reason : "unknown error";
    return false;
  }
  // Everything downstream sizes buffers as width * height * 3 in int arithmetic.
  if (width <= 0 || height <= 0) {
    error = "the image has no pixels";
    return false;
  }
  if (width > INT_MAX / 3 / height) {
    error = too_large_message(width, height);
    return false;
  }
  image.width = width;
  image.height = height;
  image.pixels.assign(data.get(), data.get() + static_cast<size_t>(width) * height * 3);
  return true;
}

}  // namespace

bool load_image(const std::string& path, rgb_image& image, std::string& error) {
  std::unique_ptr<FILE, int (*)(FILE*)> probe(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!probe) {
    error = std::strerror(errno);
    return false;
  }
  probe.reset();

  int width = 0, height = 0;
  if (probe_image_size(path, width, height) &&
      (width <= 0 || height <= 0 || width > INT_MAX / 3 / height)) {
    error = too_large_message(width, height);
    return false;
  }

  std::string soil_error;
  const bool tried_soil = has_soil_signature(path);
  if (tried_soil && load_with_soil(path, image, soil_error)) return true;

  std::string stb_error;
  if (decode_with_stb(path, image, stb_error)) return true;
  error = tried_soil ? soil_error : stb_error;
  return false;
}

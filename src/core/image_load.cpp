// Reading image files through SOIL, which decides which formats load.
#include <SOIL/SOIL.h>

#include <climits>
#include <cstring>

#include "image_io.h"

bool load_image(const std::string& path, rgb_image& image, std::string& error) {
  int width = 0;
  int height = 0;
  int channels_in_file = 0;
  unsigned char* data =
      SOIL_load_image(path.c_str(), &width, &height, &channels_in_file, SOIL_LOAD_RGB);
  if (data == nullptr) {
    const char* reason = SOIL_last_result();
    error = (reason != nullptr && *reason != '\0') ? reason : "unknown error";
    return false;
  }
  // Everything downstream sizes buffers as width * height * 3 in int arithmetic.
  if (width <= 0 || height <= 0) {
    SOIL_free_image_data(data);
    error = "the image has no pixels";
    return false;
  }
  if (width > INT_MAX / 3 / height) {
    SOIL_free_image_data(data);
    error = "the image is too large (" + std::to_string(width) + " x " + std::to_string(height) +
            " pixels; width * height * 3 must stay below " + std::to_string(INT_MAX) + ")";
    return false;
  }
  image.width = width;
  image.height = height;
  const size_t bytes = static_cast<size_t>(width) * height * 3;
  image.pixels.assign(data, data + bytes);
  SOIL_free_image_data(data);
  return true;
}

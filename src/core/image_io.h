// Image files in and out.
//
// Pixel layout of rgb_image: width * height pixels of 3 bytes (R, G, B); the first pixel is the
// top-left one of the picture; rows follow one another from the top with no padding, so pixel
// (x, y) starts at byte (y * width + x) * 3. The struct owns its bytes.
// Errors come back as false plus a one-line reason (no trailing newline); nothing throws for a
// bad file. width * height * 3 always fits in a 32-bit int for an image that loaded.
#pragma once

#include <string>
#include <vector>

struct rgb_image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

// Reads any file that the image loader understands, forced to 8-bit RGB.
bool load_image(const std::string& path, rgb_image& image, std::string& error);

// True when the extension of `path` names a format write_image can produce
// (.png, .jpg, .jpeg, .bmp, .tga; case-insensitive).
bool is_supported_output(const std::string& path);

// Writes the image in the format of the extension (JPEG at quality 95). Writes a temporary
// file beside `path` and renames it into place, so a failure never leaves a partial file and
// never clobbers an existing one.
bool write_image(const std::string& path, const rgb_image& image, std::string& error);

// Outline files and selection masks of the batch command.
#include "outline_file.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "check.h"
#include "selection.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// A token as it may be quoted in a one-line message: short, and printable whatever the file held.
std::string quoted(const std::string& token) {
  std::string shown = token.substr(0, 24);
  for (char& c : shown) {
    if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
  }
  if (token.size() > shown.size()) shown += "...";
  return "'" + shown + "'";
}

// One number; the whole token must be the number. from_chars neither reads the locale nor
// accepts hex or leading blanks.
bool parse_number(const std::string& token, double& value, std::string& error) {
  const char* first = token.data();
  const char* last = first + token.size();
  const auto [end, status] = std::from_chars(first, last, value);
  if (end != last || status == std::errc::invalid_argument) {
    error = quoted(token) + " is not a number";
    return false;
  }
  if (status == std::errc::result_out_of_range) {
    // Too large or too small for a double. Huge values clamp to the image edge later; tiny
    // ones are as good as zero.
    const bool huge = std::isinf(std::strtod(token.c_str(), nullptr));
    const double magnitude = huge ? DBL_MAX : 0.0;
    value = token[0] == '-' ? -magnitude : magnitude;
  }
  if (!std::isfinite(value)) {
    error = quoted(token) + " is not a finite number";
    return false;
  }
  return true;
}

// Clamped into 0..size-1 while still a double, so the conversion to int is always defined.
int clamp_to_pixel(double v, int size) {
  const double clamped = std::min(std::max(v, 0.0), static_cast<double>(size - 1));
  return static_cast<int>(clamped);
}

}  // namespace

bool parse_outline(const std::string& text, std::vector<double>& xs, std::vector<double>& ys,
                   std::string& error) {
  xs.clear();
  ys.clear();
  size_t line_start = 0;
  int line_number = 0;
  while (line_start < text.size()) {
    ++line_number;
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    std::string line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    std::vector<std::string> tokens;
    size_t at = 0;
    while (at < line.size()) {
      while (at < line.size() && is_blank(line[at])) ++at;
      if (at == line.size()) break;
      size_t end = at;
      while (end < line.size() && !is_blank(line[end])) ++end;
      tokens.push_back(line.substr(at, end - at));
      at = end;
    }
    if (tokens.empty() || tokens[0][0] == '#') continue;

    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (tokens.size() < 2) {
      error = where + "expected a point \"x y\" (two numbers), found one value";
      return false;
    }
    double x = 0;
    double y = 0;
    std::string reason;
    if (!parse_number(tokens[0], x, reason) || !parse_number(tokens[1], y, reason)) {
      error = where + reason;
      return false;
    }
    if (tokens.size() > 2) {
      error = where + "unexpected text " + quoted(tokens[2]) + " after the point";
      return false;
    }
    xs.push_back(x);
    ys.push_back(y);
  }
  if (xs.size() < 4) {
    error = "the outline has " + std::to_string(xs.size()) +
            (xs.size() == 1 ? " point" : " points") + "; at least 4 are needed";
    xs.clear();
    ys.clear();
    return false;
  }
  return true;
}

void outline_to_pixels(const std::vector<double>& xs, const std::vector<double>& ys, int width,
                       int height, std::vector<int>& pixel_x, std::vector<int>& pixel_y) {
  ML_CHECK(xs.size() == ys.size());
  ML_CHECK(width >= 1 && height >= 1);
  for (size_t i = 0; i < xs.size(); ++i) {
    pixel_x.push_back(clamp_to_pixel(xs[i], width));
    pixel_y.push_back(clamp_to_pixel(ys[i], height));
  }
}

bool selection_from_mask(const rgb_image& mask, int object_width, int object_height,
                         std::vector<int>& inner_px, std::vector<int>& inner_py,
                         std::vector<int>& selection_box, std::string& error) {
  inner_px.clear();
  inner_py.clear();
  if (mask.width != object_width || mask.height != object_height) {
    error = "the mask is " + std::to_string(mask.width) + " x " + std::to_string(mask.height) +
            " pixels but the object image is " + std::to_string(object_width) + " x " +
            std::to_string(object_height) + "; it must have the object's size";
    return false;
  }
  ML_CHECK(mask.pixels.size() == static_cast<size_t>(mask.width) * mask.height * 3);
  for (int y = 1; y < mask.height - 1; ++y) {
    for (int x = 1; x < mask.width - 1; ++x) {
      const unsigned char* p = &mask.pixels[(static_cast<size_t>(y) * mask.width + x) * 3];
      if (p[0] >= 128 || p[1] >= 128 || p[2] >= 128) {
        inner_px.push_back(x);
        inner_py.push_back(y);
      }
    }
  }
  if (inner_px.empty()) {
    error =
        "the mask selects no pixel (selected: red, green or blue 128 or more, off the outermost "
        "ring of pixels)";
    return false;
  }
  compute_selection_box(selection_box, inner_px, inner_py);
  return true;
}

rgb_image selection_to_mask(const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                            int width, int height) {
  ML_CHECK(inner_px.size() == inner_py.size());
  rgb_image mask;
  mask.width = width;
  mask.height = height;
  mask.pixels.assign(static_cast<size_t>(width) * height * 3, 0);
  for (size_t i = 0; i < inner_px.size(); ++i) {
    const int x = inner_px[i];
    const int y = inner_py[i];
    if (x < 0 || x >= width || y < 0 || y >= height) continue;
    const size_t at = (static_cast<size_t>(y) * width + x) * 3;
    mask.pixels[at] = mask.pixels[at + 1] = mask.pixels[at + 2] = 255;
  }
  return mask;
}

// Fuzz target: arbitrary text as an outline file, through the parser and the mapping to
// object-image pixels. Whatever the text, parsing either fails with a one-line message or
// yields at least four finite points that map into the image.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "outline_file.h"

namespace {
void require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<double> xs, ys;
  std::string error;
  if (!parse_outline(text, xs, ys, error)) {
    require(!error.empty() && error.find('\n') == std::string::npos);
    return 0;
  }
  require(xs.size() == ys.size() && xs.size() >= 4);
  for (size_t k = 0; k < xs.size(); ++k) require(std::isfinite(xs[k]) && std::isfinite(ys[k]));

  const int width = 37, height = 23;
  std::vector<int> px, py;
  outline_to_pixels(xs, ys, width, height, px, py);
  require(px.size() == xs.size() && py.size() == ys.size());
  for (size_t k = 0; k < px.size(); ++k) {
    require(px[k] >= 0 && px[k] < width && py[k] >= 0 && py[k] < height);
  }
  return 0;
}

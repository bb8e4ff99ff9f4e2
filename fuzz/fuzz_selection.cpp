// Fuzz target: arbitrary outlines, image sizes included, through the whole selection build.
// Input bytes: width and height (one byte each, 1..256), then x, y as little-endian int32 pairs,
// so points land anywhere: inside, on every edge, far outside, at the int limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "selection.h"

namespace {
void require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int width = data[0] + 1;
  const int height = data[1] + 1;
  std::vector<int> px, py;
  for (size_t at = 2; at + 8 <= size && px.size() < 4096; at += 8) {
    int32_t x, y;
    std::memcpy(&x, data + at, 4);
    std::memcpy(&y, data + at + 4, 4);
    px.push_back(x);
    py.push_back(y);
  }
  if (px.empty()) return 0;

  std::vector<int> inner_px, inner_py, contour_x, contour_y, box;
  std::vector<int> mask =
      build_selection(inner_px, inner_py, contour_x, contour_y, box, px, py, width, height);

  require(inner_px.size() == inner_py.size());
  require(contour_x.size() == contour_y.size());
  for (size_t k = 0; k < contour_x.size(); ++k) {
    require(contour_x[k] >= 0 && contour_x[k] < width);
    require(contour_y[k] >= 0 && contour_y[k] < height);
  }
  for (size_t k = 0; k < inner_px.size(); ++k) {
    // Every inner pixel has four neighbours inside the image, and the order is row-major.
    require(inner_px[k] >= 1 && inner_px[k] <= width - 2);
    require(inner_py[k] >= 1 && inner_py[k] <= height - 2);
    if (k > 0) {
      require(inner_py[k] > inner_py[k - 1] ||
              (inner_py[k] == inner_py[k - 1] && inner_px[k] > inner_px[k - 1]));
    }
    require(mask[inner_py[k] * width + inner_px[k]] == 1);
  }
  if (!inner_px.empty()) {
    require(box.size() == 6);
    require(box[0] <= box[2] && box[1] <= box[3]);
    require(box[1] == inner_py.front() && box[3] == inner_py.back());
  }
  return 0;
}

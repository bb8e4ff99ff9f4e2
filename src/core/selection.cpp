// Selection: the closed pixel contour, the row-crossing fill and the selection box.
//
// The exact pixels matter here: the inner pixel order numbers the unknowns of the Poisson
// system, so the rasterisation (single precision, truncation) and the crossing rules below are
// followed to the letter, and only the memory-safety decisions at list and row ends are ours.
#include "selection.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "check.h"

// ---------------------------------------------------------------------------------------------
// Contour
// ---------------------------------------------------------------------------------------------

void rasterize_line(int x0, int y0, int x1, int y1, std::vector<int>& xs, std::vector<int>& ys) {
  // Differences in 64 bits so that no pair of ints overflows; for image coordinates this is
  // the same value the int subtraction gives. Start minus end: the walk subtracts increments.
  const float dx = static_cast<float>(static_cast<int64_t>(x0) - x1);
  const float dy = static_cast<float>(static_cast<int64_t>(y0) - y1);
  const float steps = std::abs(dx) > std::abs(dy) ? std::abs(dx) : std::abs(dy);
  float fx = static_cast<float>(x0);
  float fy = static_cast<float>(y0);
  xs.push_back(static_cast<int>(fx));
  ys.push_back(static_cast<int>(fy));
  if (steps == 0.0f) return;
  const float incx = dx / steps;
  const float incy = dy / steps;
  // Repeated float subtraction, then truncation toward zero: the short axis drifts and can stop
  // one pixel short of the end, and a value a hair below zero still truncates to 0.
  const int64_t count = static_cast<int64_t>(steps);
  for (int64_t i = 0; i < count; ++i) {
    fx -= incx;
    fy -= incy;
    xs.push_back(static_cast<int>(fx));
    ys.push_back(static_cast<int>(fy));
  }
}

void build_contour(std::vector<int>& contour_x, std::vector<int>& contour_y,
                   const std::vector<int>& px, const std::vector<int>& py) {
  ML_CHECK(px.size() == py.size());
  ML_CHECK(!px.empty());
  const size_t n = px.size();
  contour_x.reserve(contour_x.size() + 2 * n);
  contour_y.reserve(contour_y.size() + 2 * n);
  // The closing segment (last point back to the first) comes first, so the contour starts on
  // the exact pixel of the last point.
  int prev_x = px[n - 1];
  int prev_y = py[n - 1];
  std::vector<int> xs, ys;
  for (size_t j = 0; j < n; ++j) {
    xs.clear();
    ys.clear();
    rasterize_line(prev_x, prev_y, px[j], py[j], xs, ys);
    // A segment that ended exactly on this one's start shares that pixel; one that fell a
    // pixel short keeps both pixels side by side.
    size_t first = 0;
    if (!contour_x.empty() && contour_x.back() == xs[0] && contour_y.back() == ys[0]) first = 1;
    contour_x.insert(contour_x.end(), xs.begin() + first, xs.end());
    contour_y.insert(contour_y.end(), ys.begin() + first, ys.end());
    prev_x = px[j];
    prev_y = py[j];
  }
}

bool is_closed_contour(const std::vector<int>& contour_x, const std::vector<int>& contour_y) {
  if (contour_x.empty() || contour_x.size() != contour_y.size()) return false;
  const size_t m = contour_x.size();
  int64_t prev_x = contour_x[m - 1];
  int64_t prev_y = contour_y[m - 1];
  for (size_t i = 0; i < m; ++i) {
    if (std::abs(contour_x[i] - prev_x) > 1 || std::abs(contour_y[i] - prev_y) > 1) return false;
    prev_x = contour_x[i];
    prev_y = contour_y[i];
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Crossings and their repair
// ---------------------------------------------------------------------------------------------

namespace {

// One step of the odd-row repair: `odd` (odd count) is corrected against `ref` (even, non-empty).
void repair_odd_row(const std::vector<int>& ref, std::vector<int>& odd) {
  const size_t n = ref.size();
  // Narrow tip: two reference crossings at most 4 apart whose right one lies within 3 of an odd
  // row crossing mean the odd row caught the tip of a thin spike with a single crossing. The
  // walk stops at the end of either list (the odd row may be the shorter one).
  size_t j = 0, k = 0;
  while (j + 1 < n && k < odd.size()) {
    if (std::abs(odd[k] - ref[j + 1]) < 4 && std::abs(ref[j] - ref[j + 1]) < 5) {
      odd.erase(odd.begin() + static_cast<std::ptrdiff_t>(k));
      j += 2;
    } else {
      ++j;
      ++k;
    }
  }
  if (odd.size() % 2 == 0) return;
  // Suffix match from the right ends; the first crossing that does not line up is the extra
  // one. When every crossing of the odd row lined up there is no extra one to blame, and the
  // row is left as it is.
  const size_t m = odd.size();
  size_t t = 0;
  while (t < n && t < m && std::abs(ref[n - 1 - t] - odd[m - 1 - t]) < 10) ++t;
  if (t < m) odd.erase(odd.begin() + static_cast<std::ptrdiff_t>(m - 1 - t));
}

bool can_repair(const std::vector<int>& ref, const std::vector<int>& odd) {
  return !ref.empty() && ref.size() % 2 == 0 && odd.size() % 2 == 1;
}

}  // namespace

std::vector<std::vector<int>> compute_segments(const std::vector<int>& mask, int width,
                                               int height) {
  std::vector<std::vector<int>> segments(height > 0 ? static_cast<size_t>(height) : 0);
  if (width < 3 || height < 3) return segments;
  ML_CHECK(mask.size() == static_cast<size_t>(width) * static_cast<size_t>(height));
  std::vector<int> segment;
  for (int y = 1; y <= height - 2; ++y) {
    const int* row = mask.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    segment.clear();
    for (int x = 1; x <= width - 2; ++x) {
      if (row[x] != 0) continue;
      // A maximal run of contour pixels gives one crossing at its rightmost pixel. The walk
      // ends at the row's last column: in the row-major mask it would otherwise run on into
      // the next row.
      while (x + 1 < width && row[x + 1] == 0) ++x;
      segment.push_back(x);
    }
    if (segment.size() >= 2) segments[y] = segment;
  }
  for (int y = 1; y <= height - 2; ++y) {
    if (can_repair(segments[y], segments[y + 1])) repair_odd_row(segments[y], segments[y + 1]);
  }
  for (int y = height - 2; y >= 3; --y) {
    if (can_repair(segments[y], segments[y - 1])) repair_odd_row(segments[y], segments[y - 1]);
  }
  return segments;
}

bool in_segments(int x, int y, const std::vector<std::vector<int>>& segments) {
  if (y < 0 || static_cast<size_t>(y) >= segments.size()) return false;
  const std::vector<int>& list = segments[y];
  // Only complete pairs bound a span; an unpaired last crossing is ignored.
  for (size_t i = 0; i + 1 < list.size(); i += 2) {
    if (list[i] < x && x < list[i + 1]) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Fill and box
// ---------------------------------------------------------------------------------------------

std::vector<int> fill_region(std::vector<int>& inner_px, std::vector<int>& inner_py,
                             const std::vector<int>& contour_x, const std::vector<int>& contour_y,
                             int width, int height) {
  ML_CHECK(contour_x.size() == contour_y.size());
  ML_CHECK(width >= 0 && height >= 0);
  const size_t w = static_cast<size_t>(width);
  std::vector<int> mask(w * static_cast<size_t>(height), -1);
  for (size_t k = 0; k < contour_x.size(); ++k) {
    const int x = contour_x[k];
    const int y = contour_y[k];
    ML_CHECK(0 <= x && x < width && 0 <= y && y < height);
    mask[static_cast<size_t>(y) * w + static_cast<size_t>(x)] = 0;
  }
  const std::vector<std::vector<int>> segments = compute_segments(mask, width, height);
  // Reserving the exact count spares a large selection the copies and page faults of growth.
  size_t count = 0;
  for (const std::vector<int>& list : segments) {
    for (size_t i = 0; i + 1 < list.size(); i += 2) count += list[i + 1] - list[i] - 1;
  }
  inner_px.reserve(inner_px.size() + count);
  inner_py.reserve(inner_py.size() + count);
  // Walking each row's pairs selects exactly the pixels for which in_segments holds, in the
  // same row-major order: a row's crossings ascend, so its spans are disjoint and ordered.
  for (int y = 0; y < height; ++y) {
    const std::vector<int>& list = segments[y];
    int* row = mask.data() + static_cast<size_t>(y) * w;
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
      for (int x = list[i] + 1; x < list[i + 1]; ++x) {
        row[x] = 1;
        inner_px.push_back(x);
        inner_py.push_back(y);
      }
    }
  }
  return mask;
}

void compute_selection_box(std::vector<int>& selection_box, const std::vector<int>& inner_px,
                           const std::vector<int>& inner_py) {
  ML_CHECK(inner_px.size() == inner_py.size());
  // Extremes start from the int range itself, so any image size gives the right box.
  int min_x = INT_MAX, min_y = INT_MAX, max_x = INT_MIN, max_y = INT_MIN;
  for (size_t k = 0; k < inner_px.size(); ++k) {
    min_x = std::min(min_x, inner_px[k]);
    min_y = std::min(min_y, inner_py[k]);
    max_x = std::max(max_x, inner_px[k]);
    max_y = std::max(max_y, inner_py[k]);
  }
  selection_box.resize(6);
  selection_box[0] = min_x;
  selection_box[1] = min_y;
  selection_box[2] = max_x;
  selection_box[3] = max_y;
  selection_box[4] = static_cast<int>((static_cast<int64_t>(min_x) + max_x) / 2);
  selection_box[5] = static_cast<int>((static_cast<int64_t>(min_y) + max_y) / 2);
}

// ---------------------------------------------------------------------------------------------
// Whole build
// ---------------------------------------------------------------------------------------------

std::vector<int> build_selection(std::vector<int>& inner_px, std::vector<int>& inner_py,
                                 std::vector<int>& contour_x, std::vector<int>& contour_y,
                                 std::vector<int>& selection_box, const std::vector<int>& pixel_x,
                                 const std::vector<int>& pixel_y, int width, int height) {
  ML_CHECK(pixel_x.size() == pixel_y.size());
  inner_px.clear();
  inner_py.clear();
  contour_x.clear();
  contour_y.clear();
  if (pixel_x.empty() || width <= 0 || height <= 0) return {};
  // Clamping keeps every rasterised point inside the image (a segment never leaves the box of
  // its end points), including the row `height` that the window mapping gives the bottom row.
  std::vector<int> px(pixel_x.size()), py(pixel_y.size());
  for (size_t i = 0; i < pixel_x.size(); ++i) {
    px[i] = std::clamp(pixel_x[i], 0, width - 1);
    py[i] = std::clamp(pixel_y[i], 0, height - 1);
  }
  build_contour(contour_x, contour_y, px, py);
  if (!is_closed_contour(contour_x, contour_y)) return {};
  std::vector<int> mask = fill_region(inner_px, inner_py, contour_x, contour_y, width, height);
  compute_selection_box(selection_box, inner_px, inner_py);
  return mask;
}

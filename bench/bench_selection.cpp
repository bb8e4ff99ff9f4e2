// Time of one selection build for a disc 2,000 pixels across on a 4,000 by 3,000 object image,
// drawn as a free-hand outline of closely spaced points. Prints the best of a few runs, and
// beside it the time this machine takes to touch the same amount of fresh memory for the first
// time (the returned mask and the inner lists), which no fill can avoid; where page faults are
// expensive that share dominates.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "selection.h"

int main() {
  const int width = 4000, height = 3000, points = 3000;
  const double cx = 2000, cy = 1500, radius = 1000, pi = 3.14159265358979323846;
  std::vector<int> xs, ys;
  for (int i = 0; i < points; ++i) {
    const double a = 2 * pi * i / points;
    xs.push_back(static_cast<int>(std::lround(cx + radius * std::cos(a))));
    ys.push_back(static_cast<int>(std::lround(cy + radius * std::sin(a))));
  }
  double best_ms = 1e30;
  size_t inner = 0, contour = 0;
  for (int run = 0; run < 5; ++run) {
    std::vector<int> ipx, ipy, cxs, cys, box;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int> mask = build_selection(ipx, ipy, cxs, cys, box, xs, ys, width, height);
    const auto stop = std::chrono::steady_clock::now();
    best_ms = std::min(best_ms, std::chrono::duration<double, std::milli>(stop - start).count());
    inner = ipx.size();
    contour = cxs.size();
  }
  double touch_ms = 1e30;
  const size_t ints = static_cast<size_t>(width) * height + 2 * inner;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<int> fresh(ints, -1);
    const auto stop = std::chrono::steady_clock::now();
    touch_ms = std::min(touch_ms, std::chrono::duration<double, std::milli>(stop - start).count());
    if (fresh[ints / 2] != -1) return 1;
  }
  std::printf(
      "selection of a %d-pixel disc on %dx%d: %.1f ms (best of 5), %zu inner pixels, "
      "%zu contour points\n",
      static_cast<int>(2 * radius), width, height, best_ms, inner, contour);
  std::printf("first touch of the %.0f MB of output on this machine: %.1f ms\n",
              ints * sizeof(int) / 1e6, touch_ms);
  return 0;
}

// Properties of build_selection over thousands of random outlines, and an independent check of
// the fill for convex outlines against a 4-connected flood fill. Both also run under the
// sanitizers, where any read outside a list or the mask fails the run.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "selection.h"

namespace {

// splitmix64: the same sequence with every standard library, unlike std:: distributions.
struct rng {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int uniform(int lo, int hi) {  // inclusive
    return lo + static_cast<int>(next() % static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1));
  }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

constexpr double pi = 3.14159265358979323846;

struct outline {
  std::vector<int> xs, ys;
  void add(double x, double y) {
    xs.push_back(static_cast<int>(std::lround(x)));
    ys.push_back(static_cast<int>(std::lround(y)));
  }
};

// A coordinate on, just beyond or far beyond an edge of an axis of `size` pixels.
int edge_value(rng& r, int size) {
  const int choices[] = {INT_MIN,  -1000000000, -3,       -1,       0,          1,      size - 2,
                         size - 1, size,        size + 1, size + 7, 1000000000, INT_MAX};
  return choices[r.uniform(0, 12)];
}

outline random_outline(rng& r, int kind, int width, int height) {
  outline o;
  const double cx = r.uniform(-width / 4, width + width / 4);
  const double cy = r.uniform(-height / 4, height + height / 4);
  const double rx = 1 + r.unit() * width * 0.7, ry = 1 + r.unit() * height * 0.7;
  const int n = r.uniform(4, 40);
  const double turn = r.unit() * 2 * pi;
  switch (kind) {
    case 0:  // convex: an ellipse, possibly reaching past the edges
      for (int i = 0; i < n; ++i) {
        const double a = turn + 2 * pi * i / n;
        o.add(cx + rx * std::cos(a), cy + ry * std::sin(a));
      }
      break;
    case 1:  // concave: a star with alternating radii
      for (int i = 0; i < 2 * n; ++i) {
        const double a = turn + pi * i / n, f = (i % 2) ? 0.2 + 0.6 * r.unit() : 1.0;
        o.add(cx + f * rx * std::cos(a), cy + f * ry * std::sin(a));
      }
      break;
    case 2:  // self-crossing scribble, partly outside the image
      for (int i = 0; i < n; ++i) {
        o.add(r.uniform(-width / 2, width + width / 2),
              r.uniform(-height / 2, height + height / 2));
      }
      break;
    case 3:  // spiral of several turns
      for (int i = 0; i < 4 * n; ++i) {
        const double a = turn + 0.4 * i, f = static_cast<double>(i) / (4 * n);
        o.add(cx + f * rx * std::cos(a), cy + f * ry * std::sin(a));
      }
      break;
    case 4: {  // degenerate: one to three distinct points, repeated
      const int distinct = r.uniform(1, 3);
      for (int i = 0; i < n; ++i) {
        const int k = i % distinct;
        o.add(cx + k * rx * 0.3, cy + (k == 2 ? 0 : k) * ry * 0.1);
      }
      break;
    }
    default:  // points on and beyond every edge, including the extremes of int
      for (int i = 0; i < n; ++i) {
        const bool edge_x = r.uniform(0, 2) != 0, edge_y = r.uniform(0, 2) != 0;
        o.xs.push_back(edge_x ? edge_value(r, width) : r.uniform(0, std::max(0, width - 1)));
        o.ys.push_back(edge_y ? edge_value(r, height) : r.uniform(0, std::max(0, height - 1)));
      }
      break;
  }
  return o;
}

int random_side(rng& r) {
  const int tiny[] = {1, 2, 3, 4, 5};
  return r.uniform(0, 2) == 0 ? tiny[r.uniform(0, 4)] : r.uniform(6, 70);
}

// The literal per-pixel rule: every pixel for which in_segments holds, in row-major order.
void reference_inner(const std::vector<int>& contour_x, const std::vector<int>& contour_y,
                     int width, int height, std::vector<int>& px, std::vector<int>& py) {
  std::vector<int> mask(static_cast<size_t>(width) * height, -1);
  for (size_t k = 0; k < contour_x.size(); ++k) mask[contour_y[k] * width + contour_x[k]] = 0;
  const std::vector<std::vector<int>> segments = compute_segments(mask, width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (in_segments(x, y, segments)) px.push_back(x), py.push_back(y);
    }
  }
}

TEST(SelectionProperties, RandomOutlinesKeepTheInvariants) {
#if MENDLARK_SANITIZED
  const int cases = 3000;
#else
  const int cases = 6000;
#endif
  rng r{20240611};
  int selections = 0;
  for (int c = 0; c < cases; ++c) {
    const int width = random_side(r), height = random_side(r), kind = c % 6;
    const outline o = random_outline(r, kind, width, height);
    const std::string where = "case " + std::to_string(c) + " kind " + std::to_string(kind) +
                              " image " + std::to_string(width) + "x" + std::to_string(height);
    std::vector<int> ipx = {99}, ipy = {99}, cx, cy, box;
    const std::vector<int> mask = build_selection(ipx, ipy, cx, cy, box, o.xs, o.ys, width, height);

    ASSERT_EQ(ipx.size(), ipy.size()) << where;
    ASSERT_EQ(cx.size(), cy.size()) << where;
    ASSERT_FALSE(cx.empty()) << where;
    ASSERT_TRUE(is_closed_contour(cx, cy)) << where;
    ASSERT_EQ(mask.size(), static_cast<size_t>(width) * height) << where;
    for (size_t k = 0; k < cx.size(); ++k) {
      ASSERT_TRUE(0 <= cx[k] && cx[k] < width && 0 <= cy[k] && cy[k] < height) << where;
    }
    for (size_t k = 0; k < ipx.size(); ++k) {
      ASSERT_TRUE(ipy[k] >= 1 && ipy[k] <= height - 2 && ipx[k] >= 2 && ipx[k] <= width - 2)
          << where << " inner (" << ipx[k] << ", " << ipy[k] << ")";
      if (k > 0) {
        ASSERT_TRUE(ipy[k] > ipy[k - 1] || (ipy[k] == ipy[k - 1] && ipx[k] > ipx[k - 1]))
            << where << " order at " << k;
      }
    }

    // The mask: 1 exactly at the inner pixels, 0 at the other contour pixels, -1 elsewhere.
    std::vector<int> expected_mask(mask.size(), -1);
    for (size_t k = 0; k < cx.size(); ++k) expected_mask[cy[k] * width + cx[k]] = 0;
    for (size_t k = 0; k < ipx.size(); ++k) expected_mask[ipy[k] * width + ipx[k]] = 1;
    ASSERT_EQ(mask, expected_mask) << where;

    std::vector<int> ref_x, ref_y;
    reference_inner(cx, cy, width, height, ref_x, ref_y);
    ASSERT_EQ(ipx, ref_x) << where;
    ASSERT_EQ(ipy, ref_y) << where;

    if (ipx.empty()) continue;
    ++selections;
    ASSERT_EQ(box.size(), 6u) << where;
    EXPECT_EQ(box[0], *std::min_element(ipx.begin(), ipx.end())) << where;
    EXPECT_EQ(box[1], ipy.front()) << where;
    EXPECT_EQ(box[2], *std::max_element(ipx.begin(), ipx.end())) << where;
    EXPECT_EQ(box[3], ipy.back()) << where;
    EXPECT_EQ(box[4], (box[0] + box[2]) / 2) << where;
    EXPECT_EQ(box[5], (box[1] + box[3]) / 2) << where;
  }
  // The generator must actually produce selections, or the checks above prove little.
  EXPECT_GT(selections, cases / 5);
}

using point = std::pair<int, int>;

int64_t cross(point o, point a, point b) {
  return static_cast<int64_t>(a.first - o.first) * (b.second - o.second) -
         static_cast<int64_t>(a.second - o.second) * (b.first - o.first);
}

// Convex hull (monotone chain) without collinear points, counter-clockwise.
std::vector<point> convex_hull(std::vector<point> p) {
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;
  std::vector<point> h(2 * p.size());
  size_t k = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  for (size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  h.resize(k - 1);
  return h;
}

TEST(SelectionProperties, ConvexOutlinesAgreeWithAFloodFill) {
#if MENDLARK_SANITIZED
  const int cases = 600;
#else
  const int cases = 1500;
#endif
  rng r{77};
  int with_interior = 0;
  for (int c = 0; c < cases; ++c) {
    const int width = r.uniform(8, 90), height = r.uniform(8, 90);
    // Shapes stay two pixels or more clear of the edges.
    const int lo_x = 2, hi_x = width - 3, lo_y = 2, hi_y = height - 3;
    std::vector<point> pts;
    const int kind = c % 3;
    if (kind == 0) {  // rectangle
      const int x0 = r.uniform(lo_x, hi_x), x1 = r.uniform(lo_x, hi_x);
      const int y0 = r.uniform(lo_y, hi_y), y1 = r.uniform(lo_y, hi_y);
      pts = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    } else if (kind == 1) {  // triangle
      for (int i = 0; i < 3; ++i) pts.push_back({r.uniform(lo_x, hi_x), r.uniform(lo_y, hi_y)});
    } else {  // disc
      const int rad = r.uniform(1, std::min(hi_x - lo_x, hi_y - lo_y) / 2);
      const double cx = r.uniform(lo_x + rad, hi_x - rad), cy = r.uniform(lo_y + rad, hi_y - rad);
      const int n = r.uniform(4, 64);
      for (int i = 0; i < n; ++i) {
        const double a = 2 * pi * i / n;
        pts.push_back({static_cast<int>(std::lround(cx + rad * std::cos(a))),
                       static_cast<int>(std::lround(cy + rad * std::sin(a)))});
      }
    }
    std::vector<point> hull = convex_hull(pts);
    if (r.uniform(0, 1)) std::reverse(hull.begin(), hull.end());  // both drawing directions
    std::vector<int> xs, ys;
    for (const point& p : hull) xs.push_back(p.first), ys.push_back(p.second);
    const std::string where = "case " + std::to_string(c) + " kind " + std::to_string(kind);

    std::vector<int> ipx, ipy, cx, cy, box;
    const std::vector<int> mask = build_selection(ipx, ipy, cx, cy, box, xs, ys, width, height);
    ASSERT_EQ(mask.size(), static_cast<size_t>(width) * height) << where;

    std::vector<char> contour(mask.size(), 0), outside(mask.size(), 0);
    for (size_t k = 0; k < cx.size(); ++k) contour[cy[k] * width + cx[k]] = 1;
    std::vector<int> stack;
    for (int x = 0; x < width; ++x) stack.push_back(x), stack.push_back((height - 1) * width + x);
    for (int y = 0; y < height; ++y)
      stack.push_back(y * width), stack.push_back(y * width + width - 1);
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      if (contour[i] || outside[i]) continue;
      outside[i] = 1;
      const int x = i % width, y = i / width;
      if (x > 0) stack.push_back(i - 1);
      if (x < width - 1) stack.push_back(i + 1);
      if (y > 0) stack.push_back(i - width);
      if (y < height - 1) stack.push_back(i + width);
    }
    bool any_interior = false;
    for (int i = 0; i < width * height; ++i) {
      const bool interior = !contour[i] && !outside[i];
      any_interior = any_interior || interior;
      if (interior) {
        ASSERT_EQ(mask[i], 1) << where << " interior pixel " << i % width << ", " << i / width
                              << " not selected";
      } else if (mask[i] == 1) {
        ASSERT_TRUE(contour[i]) << where << " pixel " << i % width << ", " << i / width
                                << " selected outside the contour";
      }
    }
    with_interior += any_interior;
  }
  EXPECT_GT(with_interior, cases / 2);
}

}  // namespace

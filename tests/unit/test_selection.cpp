// Hand-checked examples of the contour rasterisation, the crossing scan, the odd-row repair and
// the selection box. Each table row is small enough to verify with pencil and paper.
#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "selection.h"

namespace {

using points = std::vector<std::pair<int, int>>;

points zip(const std::vector<int>& xs, const std::vector<int>& ys) {
  EXPECT_EQ(xs.size(), ys.size());
  points out;
  for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) out.push_back({xs[i], ys[i]});
  return out;
}

// A mask of -1 with the given contour pixels set to 0, per row: rows[y] lists the columns.
std::vector<int> mask_with_rows(int width, int height, const std::vector<std::vector<int>>& rows) {
  std::vector<int> mask(static_cast<size_t>(width) * height, -1);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (int x : rows[y]) mask[y * width + x] = 0;
  }
  return mask;
}

TEST(RasterizeLine, TruncatedSinglePrecisionPoints) {
  struct row {
    int x0, y0, x1, y1;
    points expected;
  };
  points long_flat = {{10, 6}};
  for (int x = 9; x >= 0; --x) long_flat.push_back({x, 5});
  points steep;
  for (int y = 0; y <= 12; ++y) steep.push_back({0, y});
  const std::vector<row> table = {
      {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
      // Accumulates to a hair below zero, which still truncates to 0.
      {0, 1, 3, 0, {{0, 1}, {1, 0}, {2, 0}, {3, 0}}},
      // Ends one pixel short on the short axis.
      {0, 6, 3, 5, {{0, 6}, {1, 5}, {2, 5}, {3, 4}}},
      {3, 5, 0, 6, {{3, 5}, {2, 5}, {1, 5}, {0, 6}}},
      {10, 6, 0, 5, long_flat},
      {0, 0, 1, 12, steep},  // never reaches x = 1
      {5, 0, 5, 3, {{5, 0}, {5, 1}, {5, 2}, {5, 3}}},
      {5, 5, 6, 6, {{5, 5}, {6, 6}}},
      {3, 3, 3, 3, {{3, 3}}},
  };
  for (const row& r : table) {
    std::vector<int> xs, ys;
    rasterize_line(r.x0, r.y0, r.x1, r.y1, xs, ys);
    EXPECT_EQ(zip(xs, ys), r.expected)
        << "(" << r.x0 << ", " << r.y0 << ") to (" << r.x1 << ", " << r.y1 << ")";
  }
}

TEST(BuildContour, ClosingSegmentFirstAndJunctions) {
  // Closing segment (3,6)->(0,6) first; (0,6)->(3,5) shares its start with the contour's end
  // and adds three pixels, but stops at (3,4), short of (3,5); so (3,5)->(3,6) is added whole
  // and (3,4), (3,5) sit side by side. The last point repeats the first.
  std::vector<int> cx, cy;
  build_contour(cx, cy, {0, 3, 3}, {6, 5, 6});
  const points expected = {{3, 6}, {2, 6}, {1, 6}, {0, 6}, {1, 5}, {2, 5}, {3, 4}, {3, 5}, {3, 6}};
  EXPECT_EQ(zip(cx, cy), expected);
  EXPECT_TRUE(is_closed_contour(cx, cy));
}

TEST(IsClosedContour, GapsOfTwoAnywhereAreRejected) {
  struct row {
    std::vector<int> xs, ys;
    bool closed;
  };
  const std::vector<row> table = {
      {{4}, {7}, true},                     // one point
      {{1, 2, 2, 1}, {1, 1, 2, 2}, true},   // square of neighbours
      {{1, 1, 2}, {1, 1, 2}, true},         // repeated point
      {{1, 3, 2}, {1, 1, 2}, false},        // two apart in x
      {{1, 2, 2}, {1, 1, 3}, false},        // two apart in y
      {{0, 1, 2, 3}, {0, 0, 0, 0}, false},  // last two away from first
      {{0, 1, 2, 1}, {0, 0, 0, 0}, true},   // doubles back
      {{}, {}, false},                      // nothing to close
      {{1, 2}, {1}, false},                 // lists of unequal length
      {{INT_MAX, INT_MIN}, {0, 0}, false},  // no overflow in the difference
  };
  for (size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(is_closed_contour(table[i].xs, table[i].ys), table[i].closed) << "row " << i;
  }
}

TEST(FillRegion, RectangleBorder) {
  // Border of the rectangle (5,3)-(20,10) on an image of 25 by 14, from its four corners.
  std::vector<int> ipx, ipy, cx, cy, box;
  std::vector<int> mask =
      build_selection(ipx, ipy, cx, cy, box, {5, 20, 20, 5}, {3, 3, 10, 10}, 25, 14);
  ASSERT_EQ(mask.size(), 25u * 14u);
  ASSERT_EQ(ipx.size(), 84u);
  EXPECT_EQ(std::make_pair(ipx.front(), ipy.front()), std::make_pair(6, 4));
  EXPECT_EQ(std::make_pair(ipx.back(), ipy.back()), std::make_pair(19, 9));
  EXPECT_EQ(box, (std::vector<int>{6, 4, 19, 9, 12, 6}));
  EXPECT_EQ(mask[4 * 25 + 5], 0);
  EXPECT_EQ(mask[4 * 25 + 6], 1);
  EXPECT_EQ(mask[3 * 25 + 6], 0);  // the top row is one run: no crossing pair
  EXPECT_EQ(mask[2 * 25 + 6], -1);

  std::vector<int> full_mask(25 * 14, -1);
  for (size_t k = 0; k < cx.size(); ++k) full_mask[cy[k] * 25 + cx[k]] = 0;
  const std::vector<std::vector<int>> segments = compute_segments(full_mask, 25, 14);
  for (int y = 0; y < 14; ++y) {
    const std::vector<int> expected =
        (y >= 4 && y <= 9) ? std::vector<int>{5, 20} : std::vector<int>{};
    EXPECT_EQ(segments[y], expected) << "row " << y;
  }

  // Repeated outline points and a repeated contour change nothing.
  std::vector<int> ipx2, ipy2, cx2, cy2, box2;
  build_selection(ipx2, ipy2, cx2, cy2, box2, {5, 5, 20, 20, 20, 5}, {3, 3, 3, 10, 10, 10}, 25, 14);
  EXPECT_EQ(ipx2, ipx);
  EXPECT_EQ(ipy2, ipy);
  EXPECT_EQ(box2, box);
  std::vector<int> twice_x = cx, twice_y = cy, ipx3, ipy3;
  twice_x.insert(twice_x.end(), cx.begin(), cx.end());
  twice_y.insert(twice_y.end(), cy.begin(), cy.end());
  EXPECT_EQ(fill_region(ipx3, ipy3, twice_x, twice_y, 25, 14), mask);
  EXPECT_EQ(ipx3, ipx);
}

TEST(FillRegion, RunsGiveOneCrossingAtTheirRightEnd) {
  struct row {
    const char* name;
    int width;
    std::vector<int> contour_row2;  // contour columns in row 2
    std::vector<int> contour_row3;  // contour columns in row 3
    std::vector<int> inner_row2;
  };
  const std::vector<row> table = {
      // Left run 10..12, right run 20..22: crossings [12, 22]; 20 and 21 are inner.
      {"two runs", 30, {10, 11, 12, 20, 21, 22}, {}, {13, 14, 15, 16, 17, 18, 19, 20, 21}},
      // The run from 7 reaches the last column and ends there, not in row 3's first pixels.
      {"run to last column", 10, {3, 7, 8, 9}, {0, 1}, {4, 5, 6, 7, 8}},
      // Lone pixels in columns 0 and width - 1 are never crossings.
      {"edge columns", 10, {0, 4, 6, 9}, {}, {5}},
      {"single crossing", 10, {0, 4, 9}, {}, {}},
  };
  for (const row& r : table) {
    std::vector<int> cx, cy, ipx, ipy;
    for (int x : r.contour_row2) cx.push_back(x), cy.push_back(2);
    for (int x : r.contour_row3) cx.push_back(x), cy.push_back(3);
    const std::vector<int> mask = fill_region(ipx, ipy, cx, cy, r.width, 6);
    EXPECT_EQ(ipx, r.inner_row2) << r.name;
    EXPECT_EQ(ipy, std::vector<int>(r.inner_row2.size(), 2)) << r.name;
    for (int x : r.contour_row2) {
      const bool inner =
          std::find(r.inner_row2.begin(), r.inner_row2.end(), x) != r.inner_row2.end();
      EXPECT_EQ(mask[2 * r.width + x], inner ? 1 : 0) << r.name << " x " << x;
    }
  }
}

TEST(ComputeSegments, OddRowRepairs) {
  // Lone contour pixels at the listed columns of two neighbouring rows of a 60 by 7 image, all
  // other rows empty, so exactly one repair step runs: the downward pass when the odd row lies
  // below the reference row, the upward pass when it lies above.
  struct row {
    const char* name;
    std::vector<int> reference, odd, repaired;
  };
  const std::vector<row> table = {
      {"narrow tip", {5, 14, 16, 25}, {5, 15, 25}, {5, 25}},
      {"narrow tip at its limits", {2, 14, 18, 25}, {3, 15, 25}, {3, 25}},
      {"reference gap of 5 is no tip", {2, 14, 19, 25}, {3, 18, 25}, {18, 25}},
      {"odd crossing 4 away is no tip", {2, 14, 16, 25}, {3, 12, 25}, {12, 25}},
      {"wide tip", {5, 25}, {5, 15, 25}, {5, 25}},
      {"difference of 9 passes", {5, 25}, {5, 14, 25}, {14, 25}},
      {"more crossings", {10, 50}, {12, 30, 40, 45, 52}, {12, 30, 40, 52}},
      // Shorter odd row: every crossing lines up, none is removed; the unpaired one is ignored.
      {"shorter odd row", {3, 8, 18, 23}, {3, 18, 23}, {3, 18, 23}},
      // Three narrow tips use up the odd row before the reference row ends.
      {"odd row used up", {2, 4, 10, 12, 20, 22, 30, 32}, {3, 11, 21}, {}},
      {"reference odd too", {5, 15, 25}, {5, 15, 25}, {5, 15, 25}},
  };
  for (const row& r : table) {
    for (bool odd_below : {true, false}) {
      const int ref_y = odd_below ? 2 : 4, odd_y = 3;
      std::vector<std::vector<int>> rows(7);
      rows[ref_y] = r.reference;
      rows[odd_y] = r.odd;
      const std::vector<std::vector<int>> segments =
          compute_segments(mask_with_rows(60, 7, rows), 60, 7);
      EXPECT_EQ(segments[odd_y], r.repaired) << r.name << (odd_below ? " below" : " above");
      EXPECT_EQ(segments[ref_y], r.reference) << r.name;
    }
  }
  // Row 1 is never an odd row: the upward pass ends with row 2 as its odd row.
  const std::vector<std::vector<int>> segments =
      compute_segments(mask_with_rows(60, 7, {{}, {5, 15, 25}, {5, 25}}), 60, 7);
  EXPECT_EQ(segments[1], (std::vector<int>{5, 15, 25}));
}

TEST(FillRegion, UnpairedLastCrossingIsIgnored) {
  std::vector<int> cx, cy, ipx, ipy;
  for (int x : {3, 8, 18, 23}) cx.push_back(x), cy.push_back(2);
  for (int x : {3, 18, 23}) cx.push_back(x), cy.push_back(3);
  fill_region(ipx, ipy, cx, cy, 30, 6);
  std::vector<int> expected_x, expected_y;
  for (int x = 4; x <= 7; ++x) expected_x.push_back(x), expected_y.push_back(2);
  for (int x = 19; x <= 22; ++x) expected_x.push_back(x), expected_y.push_back(2);
  for (int x = 4; x <= 17; ++x) expected_x.push_back(x), expected_y.push_back(3);
  EXPECT_EQ(ipx, expected_x);
  EXPECT_EQ(ipy, expected_y);
  EXPECT_FALSE(in_segments(
      20, 3,
      compute_segments(mask_with_rows(30, 6, {{}, {}, {3, 8, 18, 23}, {3, 18, 23}}), 30, 6)));
}

TEST(InSegments, StrictInsideCompletePairs) {
  const std::vector<std::vector<int>> segments = {{}, {2, 5, 9, 12, 20}, {}};
  struct row {
    int x, y;
    bool inside;
  };
  const std::vector<row> table = {
      {2, 1, false},  {3, 1, true},   {4, 1, true},  {5, 1, false}, {7, 1, false},  {10, 1, true},
      {12, 1, false}, {25, 1, false}, {3, 0, false}, {3, 2, false}, {3, -1, false}, {3, 3, false},
  };
  for (const row& r : table) {
    EXPECT_EQ(in_segments(r.x, r.y, segments), r.inside) << r.x << ", " << r.y;
  }
}

TEST(ComputeSelectionBox, ExtremesAndCentre) {
  struct row {
    std::vector<int> px, py, box;
  };
  const std::vector<row> table = {
      {{7}, {3}, {7, 3, 7, 3, 7, 3}},
      {{2, 9, 4}, {5, 5, 8}, {2, 5, 9, 8, 5, 6}},
      // Beyond 10000 on both axes: the box still follows the pixels.
      {{12000, 12003}, {15000, 15001}, {12000, 15000, 12003, 15001, 12001, 15000}},
      {{}, {}, {INT_MAX, INT_MAX, INT_MIN, INT_MIN, 0, 0}},
  };
  for (const row& r : table) {
    std::vector<int> box = {1, 2};
    compute_selection_box(box, r.px, r.py);
    EXPECT_EQ(box, r.box);
  }
}

TEST(ComputeSelectionBoxDeathTest, UnequalListsStopWithTheCondition) {
  std::vector<int> box;
  EXPECT_DEATH(compute_selection_box(box, {1, 2}, {1}),
               "inner_px.size\\(\\) == inner_py.size\\(\\)");
}

TEST(BuildSelection, DegenerateOutlines) {
  struct row {
    const char* name;
    std::vector<int> xs, ys;
    int width, height;
    size_t contour_points;
  };
  const std::vector<row> table = {
      {"four points on one pixel", {4, 4, 4, 4}, {3, 3, 3, 3}, 10, 8, 1},
      {"two pixels wide loop", {2, 3, 3, 2}, {1, 1, 6, 6}, 10, 8, 13},
      {"all beyond the right edge", {50, 60, 70, 80}, {1, 2, 3, 4}, 10, 8, 7},
      {"single-column image", {-5, 3, 9, -1}, {0, 2, 7, 9}, 1, 8, 15},
      {"single-row image", {0, 5, 9, 2}, {-3, 0, 4, 1}, 10, 1, 19},
  };
  for (const row& r : table) {
    // A previous selection is gone after any build.
    std::vector<int> ipx = {1}, ipy = {1}, cx, cy, box;
    const std::vector<int> mask =
        build_selection(ipx, ipy, cx, cy, box, r.xs, r.ys, r.width, r.height);
    EXPECT_EQ(mask.size(), static_cast<size_t>(r.width * r.height)) << r.name;
    EXPECT_TRUE(ipx.empty() && ipy.empty()) << r.name;
    EXPECT_EQ(cx.size(), r.contour_points) << r.name;
  }
  std::vector<int> ipx = {1}, ipy = {1}, cx = {1}, cy = {1}, box = {1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(build_selection(ipx, ipy, cx, cy, box, {}, {}, 10, 8).empty());
  EXPECT_TRUE(build_selection(ipx, ipy, cx, cy, box, {1, 2}, {1, 2}, 0, 8).empty());
  EXPECT_TRUE(ipx.empty() && cx.empty());
  EXPECT_EQ(box, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(BuildSelection, BottomRowFromTheWindowMappingIsClamped) {
  // Row `height` (one past the last) is where the window mapping puts the bottom image row.
  std::vector<int> ipx, ipy, cx, cy, box;
  build_selection(ipx, ipy, cx, cy, box, {1, 8, 8, 1}, {2, 2, 8, 8}, 10, 8);
  for (size_t k = 0; k < cx.size(); ++k) EXPECT_LE(cy[k], 7);
  EXPECT_EQ(box, (std::vector<int>{2, 3, 7, 6, 4, 4}));
}

}  // namespace

// Selection: outline pixels -> closed pixel contour -> filled region -> inner pixels and box.
//
// Frames: every coordinate here is an image pixel of the object image: x is the column (0 at
// the left), y the row (0 at the first row of the buffer, the top of the picture). Masks are
// row-major, pixel (x, y) at index y * width + x. Lists of points are pairs of parallel
// std::vector<int> of equal length. Functions that produce point lists append to lists that
// the caller has emptied. No globals; nothing here touches GL.
#pragma once

#include <vector>

// Points of the segment from (x0, y0) to (x1, y1), start first, appended to xs/ys.
// Single precision with truncation toward zero: the short axis can end one pixel short.
// Gives max(|x0 - x1|, |y0 - y1|) + 1 points; meant for image coordinates (below 2^24), which
// build_selection guarantees by clamping.
void rasterize_line(int x0, int y0, int x1, int y1, std::vector<int>& xs, std::vector<int>& ys);

// Closed contour through the pixel points px/py (at least one point), closing segment first.
void build_contour(std::vector<int>& contour_x, std::vector<int>& contour_y,
                   const std::vector<int>& px, const std::vector<int>& py);

// True when consecutive contour points, and the last and the first, are 8-neighbours or equal.
bool is_closed_contour(const std::vector<int>& contour_x, const std::vector<int>& contour_y);

// Row crossings of the contour marked in `mask` (0 = contour pixel), odd rows repaired.
// One list per row, ascending; rows 0 and height-1 stay empty. A horizontal run of contour
// pixels gives one crossing at its rightmost pixel; a run never continues past the row's last
// column. A row that no repair could make even keeps its unpaired last crossing, which
// in_segments ignores.
std::vector<std::vector<int>> compute_segments(const std::vector<int>& mask, int width, int height);

// True when list[i] < x < list[i + 1] for an even i of row y's list (complete pairs only).
bool in_segments(int x, int y, const std::vector<std::vector<int>>& segments);

// Marks the contour, scans and repairs crossings, appends inner pixels in row-major order.
// Returns the mask: -1 outside, 0 contour, 1 inner. Every contour point must be in the image
// (checked; build_selection guarantees it). Inner pixels never lie in rows 0 and height-1 or
// columns 0, 1 and width-1, so their four neighbours are always inside the image.
std::vector<int> fill_region(std::vector<int>& inner_px, std::vector<int>& inner_py,
                             const std::vector<int>& contour_x, const std::vector<int>& contour_y,
                             int width, int height);

// Six entries: min x, min y, max x, max y, centre x, centre y of the inner pixels; the centre
// divisions truncate toward zero. With no inner pixel: INT_MAX, INT_MAX, INT_MIN, INT_MIN, 0, 0
// (nothing reads that box: an empty selection is discarded). Unequal list lengths abort.
void compute_selection_box(std::vector<int>& selection_box, const std::vector<int>& inner_px,
                           const std::vector<int>& inner_py);

// The whole build from outline points already mapped to object-image pixels. Each point is
// first clamped into the image (0..width-1, 0..height-1). Empties inner and contour lists,
// builds the contour, and when it closes fills it and writes selection_box (left untouched
// when the contour does not close). Returns the fill mask, or an empty list when there is no
// point, the image is empty, or the contour does not close. pixel_x and pixel_y must have
// equal lengths (checked).
std::vector<int> build_selection(std::vector<int>& inner_px, std::vector<int>& inner_py,
                                 std::vector<int>& contour_x, std::vector<int>& contour_y,
                                 std::vector<int>& selection_box, const std::vector<int>& pixel_x,
                                 const std::vector<int>& pixel_y, int width, int height);

// Panel layout of the window and the conversions that need no GL.
//
// Frames: window pixels have their origin at the top-left corner, y downwards; object
// coordinates make the window the unit square, origin bottom-left, y upwards; image pixels are
// column x and row y of an image buffer, row 0 being the top of the picture.
// A `rect` is (x, y, w, h): left edge, bottom edge, width, height, as single-precision floats;
// panel rectangles in window pixels measure y from the window's bottom edge.
// All arithmetic is single precision, as the window program's coordinate mapping requires.
// No globals, no GL.
#pragma once

#include "image_io.h"

struct rect {
  float x = 0;
  float y = 0;
  float w = 0;
  float h = 0;
};

// Space between the two columns, in window pixels.
constexpr int panel_gap = 10;

// Where one image sits in the window: window pixels per image pixel, and the rectangle in
// window pixels and in object coordinates.
struct panel_layout {
  float scale = 0;
  rect rect_px;
  rect rect_unit;
};

// Panel 0 is the left column, panel 1 the right one; each column is (window_width - gap) / 2
// pixels wide. The image is scaled uniformly to the largest size that fits its column and is
// centred both ways. Image sizes must be positive.
panel_layout compute_panel_layout(int panel, int image_width, int image_height, int window_width,
                                  int window_height);

// Index of the panel whose pixel rectangle holds the window pixel (x, y), or -1.
// Compares y directly against the bottom-based rectangle: this is exact only because every
// panel is centred vertically, so its top margin equals its bottom margin.
int panel_index_at(const rect panel_rects_px[2], int x, int y);

// Object coordinates to a pixel of the panel's image. The column lies in 0..width-1 inside the
// panel, the row in 1..height (the panel's bottom edge maps one past the last row); callers
// that address pixels clamp.
void object_to_image_pixel(const float objectxy[2], int imagexy[2], const rect& panel_rect_unit,
                           float scale, int window_width, int window_height, int image_height);

// A copy no side of which exceeds max_side, each pixel the mean of a block of f by f source
// pixels (f the smallest integer factor that fits; partial blocks at the right and bottom edges
// average what they hold). For showing an image larger than the GL texture limit.
rgb_image downscale_to_fit(const unsigned char* pixels, int width, int height, int max_side);

// The window program's process-wide state. Every global of the program lives here and nowhere
// else; the callbacks read and write them directly, one callback at a time on the main thread.
//
// Frames (see layout.h): window pixels (origin top-left, y down), object coordinates (the window
// as the unit square, origin bottom-left, y up), image pixels (row 0 at the top of the picture).
// images[i] points at width * height * 3 bytes, RGB, rows from the top, no padding; the bytes
// are owned by image_storage[i], allocated once at start-up and only ever changed in place.
#pragma once

#include <string>
#include <vector>

#include "compositing.h"
#include "image_io.h"
#include "layout.h"

extern const int window_width;   // 800
extern const int window_height;  // 600

// [0] background (left panel), [1] object (right panel), [2] pristine copy of [0].
extern unsigned char* images[3];
extern int image_width[3];
extern int image_height[3];
extern rgb_image image_storage[3];

// What the panels upload instead of images[i] when a side exceeds the GL texture limit;
// empty (width 0) otherwise. Rebuilt whenever images[0] changes while it is in use.
extern rgb_image texture_copy[2];

extern float display_scale[2];  // window pixels per image pixel
extern rect panel_rect_px[2];   // window pixels, y from the window's bottom edge
extern rect panel_rect[2];      // object coordinates

// Background pixel on which the selection's centre is previewed and blended.
extern int paste_position[2];

// Empty while there is no selection; else min x, min y, max x, max y, centre x, centre y.
extern std::vector<int> selection_box;
extern std::vector<int> inner_px;  // object-image pixels inside the selection, row-major order
extern std::vector<int> inner_py;
extern std::vector<int> contour_x;  // closed pixel contour of the selection, object-image pixels
extern std::vector<int> contour_y;
extern std::vector<float> outline_x;  // the drawn outline, object coordinates, drawing order
extern std::vector<float> outline_y;

// From the command line: where each blend is written (empty: nowhere) and how it is solved.
extern std::string output_path;
extern blend_options blend_settings;

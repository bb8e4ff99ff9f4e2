// Selections of the batch command: outline files, mask images and the mask written back.
//
// An outline file is text, one point a line: "x y", two decimal numbers (object-image pixel
// coordinates: x the column from the left, y the row from the top) separated by spaces or tabs.
// Blank lines and lines whose first non-blank character is '#' are ignored; lines may end in
// "\r\n" and the last one needs no newline. Any other content is an error naming its line
// (counted from 1). A mask image has the object's size; a pixel is selected where its red, green
// or blue value is 128 or more. Images use the layout of image_io.h. No globals, no IO here.
#pragma once

#include <string>
#include <vector>

#include "image_io.h"

// The points of an outline file's text, in file order, as written (not yet clamped). Fails on
// a malformed line (not two numbers, trailing text, NaN or infinity) and on fewer than 4
// points; the error names the line. Values too large for a double are kept as +-infinity's
// nearest finite stand-in (+-DBL_MAX), since they are clamped anyway.
bool parse_outline(const std::string& text, std::vector<double>& xs, std::vector<double>& ys,
                   std::string& error);

// Maps outline points to object-image pixels as the window does: each coordinate clamped into
// 0..width-1 / 0..height-1 first, then truncated toward zero. Appends to pixel_x/pixel_y.
// width and height must be at least 1.
void outline_to_pixels(const std::vector<double>& xs, const std::vector<double>& ys, int width,
                       int height, std::vector<int>& pixel_x, std::vector<int>& pixel_y);

// The selection of a mask image: selected pixels off the object's outermost ring (their
// Laplacian needs four neighbours) in row-major order, and the box of compute_selection_box.
// Fails when the mask's size differs from the object's or nothing is selected inside the ring;
// the lists are emptied first and selection_box is written only on success.
bool selection_from_mask(const rgb_image& mask, int object_width, int object_height,
                         std::vector<int>& inner_px, std::vector<int>& inner_py,
                         std::vector<int>& selection_box, std::string& error);

// A mask image of width x height: white at the listed pixels, black elsewhere. Pixels outside
// the image are ignored. Reading it back with selection_from_mask gives the same lists when
// they are in row-major order and off the outermost ring.
rgb_image selection_to_mask(const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                            int width, int height);

// Mouse and key events: draw the outline on the object (right panel), build the selection on
// release, preview it under the cursor over the background (left panel), blend it with F1.
#include <GL/freeglut.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "check.h"
#include "selection.h"
#include "shell.h"
#include "state.h"

std::vector<int> build_selection(std::vector<int>& inner_px, std::vector<int>& inner_py,
                                 std::vector<int>& contour_x, std::vector<int>& contour_y,
                                 const std::vector<float>& outline_x,
                                 const std::vector<float>& outline_y, int width, int height) {
  ML_CHECK(outline_x.size() == outline_y.size());
  std::vector<int> pixel_x;
  std::vector<int> pixel_y;
  pixel_x.reserve(outline_x.size());
  pixel_y.reserve(outline_y.size());
  for (size_t i = 0; i < outline_x.size(); ++i) {
    const float objectxy[2] = {outline_x[i], outline_y[i]};
    int imagexy[2];
    object_to_image(objectxy, imagexy, 1);
    pixel_x.push_back(imagexy[0]);
    pixel_y.push_back(imagexy[1]);
  }
  // The core clamps each pixel into the image: the panel's bottom edge maps to row `height`.
  return ::build_selection(inner_px, inner_py, contour_x, contour_y, selection_box, pixel_x,
                           pixel_y, width, height);
}

void preview_paste(const int position[2]) {
  const int from[2] = {selection_box[4], selection_box[5]};
  paste_pixels(images[0], images[1], image_width[0], image_height[0], image_width[1], inner_px,
               inner_py, from, position);
  refresh_texture_copy(0);
}

static void write_output() try {
  rgb_image result;
  result.width = image_width[0];
  result.height = image_height[0];
  result.pixels.assign(images[0],
                       images[0] + static_cast<size_t>(result.width) * result.height * 3);
  std::string error;
  if (write_image(output_path, result, error)) {
    std::fprintf(stderr, "Mendlark: wrote the blended background to '%s'\n", output_path.c_str());
  } else {
    std::fprintf(stderr, "Mendlark: cannot write '%s': %s; the blend stays on screen only\n",
                 output_path.c_str(), error.c_str());
  }
} catch (const std::bad_alloc&) {
  std::fprintf(stderr,
               "Mendlark: cannot write '%s': not enough memory; the blend stays on screen only\n",
               output_path.c_str());
}

void apply_blend(const int position[2]) {
  const int from[2] = {selection_box[4], selection_box[5]};
  blend_report report;
  glutSetCursor(GLUT_CURSOR_WAIT);
  // A round trip to the X server sends the cursor change before the blend blocks the loop.
  glutGet(GLUT_WINDOW_X);
  const bool blended =
      blend_selection(images[0], image_width[0], image_height[0], images[1], image_width[1],
                      image_height[1], inner_px, inner_py, from, position, blend_settings, &report);
  glutSetCursor(GLUT_CURSOR_INHERIT);
  if (!blended) {
    // The background is untouched and the selection stays live, so the user can move it.
    std::fprintf(stderr, "Mendlark: cannot blend: %s\n", report.error.c_str());
    return;
  }
  selection_box.clear();
  refresh_texture_copy(0);
  if (!output_path.empty()) write_output();
}

void on_mouse(int button, int state, int, int) {
  if (button != GLUT_LEFT_BUTTON) return;
  if (state == GLUT_DOWN) {
    outline_x.clear();
    outline_y.clear();
    return;
  }
  if (state != GLUT_UP || outline_x.size() < 4) return;
  try {
    build_selection(inner_px, inner_py, contour_x, contour_y, outline_x, outline_y, image_width[1],
                    image_height[1]);
  } catch (const std::bad_alloc&) {
    // Ends like a selection that found no pixel; the images are not touched by the build.
    inner_px.clear();
    inner_py.clear();
    std::fprintf(stderr, "Mendlark: the selection needed more memory than is available\n");
  }
  if (inner_px.empty()) {
    outline_x.clear();
    outline_y.clear();
    selection_box.clear();
  }
}

void on_motion(int x, int y) {
  const int panel = panel_at(x, y);
  std::cout << panel << "\n";
  if (panel != 1) return;
  double ox, oy, oz;
  window_to_object(x, y, ox, oy, oz);
  outline_x.push_back(static_cast<float>(ox));
  outline_y.push_back(static_cast<float>(oy));
  glutPostRedisplay();
}

void on_passive_motion(int x, int y) {
  const int panel = panel_at(x, y);
  std::cout << panel << "\n";
  if (panel != 0) return;
  if (!selection_box.empty()) {
    double ox, oy, oz;
    window_to_object(x, y, ox, oy, oz);
    const float objectxy[2] = {static_cast<float>(ox), static_cast<float>(oy)};
    object_to_image(objectxy, paste_position, 0);
    std::memcpy(images[0], images[2], static_cast<size_t>(image_width[0]) * image_height[0] * 3);
    preview_paste(paste_position);
  }
  glutPostRedisplay();
}

void on_keyboard(unsigned char, int, int) {
  glutPostRedisplay();
}

void on_special(int key, int, int) {
  if (key == GLUT_KEY_F1 && !selection_box.empty()) apply_blend(paste_position);
  glutPostRedisplay();
}

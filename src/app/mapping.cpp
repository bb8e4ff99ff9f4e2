// Conversions between window pixels, object coordinates and image pixels.
#include <GL/glu.h>

#include "shell.h"
#include "state.h"

int panel_at(int x, int y) {
  return panel_index_at(panel_rect_px, x, y);
}

void window_to_object(int x, int y, double& ox, double& oy, double& oz) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  const int flipped_y = viewport[3] - y;
  GLdouble modelview[16];
  GLdouble projection[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  // The window has no depth buffer, so this read fails and leaves wz alone; x and y of the
  // result do not depend on it and nobody uses z.
  GLfloat wz = 0;
  glReadPixels(x, flipped_y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &wz);
  while (glGetError() != GL_NO_ERROR) {
  }
  gluUnProject(x, flipped_y, static_cast<double>(wz), modelview, projection, viewport, &ox, &oy,
               &oz);
}

void object_to_image(const float objectxy[2], int imagexy[2], int panel) {
  object_to_image_pixel(objectxy, imagexy, panel_rect[panel], display_scale[panel], window_width,
                        window_height, image_height[panel]);
}

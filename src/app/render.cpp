// Drawing: both images as textured quads in their panels, then the outline as red dots.
// Every frame re-uploads both image buffers, so any change to them shows in the next frame.
#include <GL/freeglut.h>

#include "shell.h"
#include "state.h"

void display() {
  glViewport(0, 0, window_width, window_height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(0, 1, 0, 1);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  draw_panels();
  draw_outline();
  glutSwapBuffers();
  glFlush();
}

void draw_panels() {
  glEnable(GL_TEXTURE_2D);
  for (int i = 0; i < 2; ++i) {
    if (images[i] == nullptr) continue;
    // Both panels share the one default texture: upload panel i only after panel i-1's quad.
    const bool use_copy = texture_copy[i].width > 0;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, use_copy ? texture_copy[i].width : image_width[i],
                 use_copy ? texture_copy[i].height : image_height[i], 0, GL_RGB, GL_UNSIGNED_BYTE,
                 use_copy ? texture_copy[i].pixels.data() : images[i]);
    // Texture row t = 0 is the top row of the picture and goes to the panel's top edge.
    const rect& r = panel_rect[i];
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(r.x, r.y + r.h);
    glTexCoord2f(0, 1);
    glVertex2f(r.x, r.y);
    glTexCoord2f(1, 1);
    glVertex2f(r.x + r.w, r.y);
    glTexCoord2f(1, 0);
    glVertex2f(r.x + r.w, r.y + r.h);
    glEnd();
  }
  glDisable(GL_TEXTURE_2D);
}

void draw_outline() {
  glPointSize(3);
  glColor3f(1, 0, 0);
  glBegin(GL_POINTS);
  for (size_t i = 0; i < outline_x.size(); ++i) glVertex2f(outline_x[i], outline_y[i]);
  glEnd();
}

void on_reshape(int width, int height) {
  if (width != window_width || height != window_height) {
    glutReshapeWindow(window_width, window_height);
  }
}

void refresh_texture_copy(int panel) {
  if (texture_copy[panel].width == 0) return;
  GLint max_side = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_side);
  texture_copy[panel] =
      downscale_to_fit(images[panel], image_width[panel], image_height[panel], max_side);
}

// Mouse and key events.
#include <GL/freeglut.h>

#include <iostream>

#include "shell.h"
#include "state.h"

void on_mouse(int, int, int, int) {}

void on_motion(int x, int y) {
  std::cout << panel_at(x, y) << "\n";
}

void on_passive_motion(int x, int y) {
  std::cout << panel_at(x, y) << "\n";
}

void on_keyboard(unsigned char, int, int) {
  glutPostRedisplay();
}

void on_special(int, int, int) {
  glutPostRedisplay();
}

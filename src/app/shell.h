// Functions of the window program, over the globals of state.h.
//
// Start-up (main.cpp) opens the window and loads both images; rendering (render.cpp) redraws
// everything from the globals every frame; mapping.cpp converts between window pixels, object
// coordinates and image pixels; input.cpp turns mouse and key events into selection, preview
// and blend. Everything runs on the main thread inside the toolkit's callbacks.
#pragma once

#include <string>
#include <vector>

// ---- start-up ----

// Fixed texture state shared by both panels; called once, before any upload.
void init_gl();

// Loads both images, makes the pristine copy of the background and computes the layout.
// Needs the GL context (for the texture size limit). On failure nothing usable is set and
// `error` names the image, the path and the loader's reason.
bool load_images(const char* background_path, const char* object_path, std::string& error);

// ---- rendering ----

void display();
void draw_panels();
void draw_outline();

// Puts the window back to 800 by 600 whenever it is resized: the layout and the mapping of
// clicks assume that size.
void on_reshape(int width, int height);

// Rebuilds the downscaled copy of panel i after images[i] changed; no-op for images that
// upload at full size.
void refresh_texture_copy(int panel);

// ---- coordinate mapping ----

// Window pixel to panel index: 0, 1, or -1 for none.
int panel_at(int x, int y);

// Window pixel to object coordinates through the viewport and matrices that display() left.
void window_to_object(int x, int y, double& ox, double& oy, double& oz);

// Object coordinates to a pixel of panel's image; the row lies in 1..height inside the panel.
void object_to_image(const float objectxy[2], int imagexy[2], int panel);

// ---- input ----

// Maps each outline point (object coordinates) to a pixel of the object image and builds the
// closed contour, the inner pixels and selection_box from them. Returns the fill mask (empty
// when the contour does not close).
std::vector<int> build_selection(std::vector<int>& inner_px, std::vector<int>& inner_py,
                                 std::vector<int>& contour_x, std::vector<int>& contour_y,
                                 const std::vector<float>& outline_x,
                                 const std::vector<float>& outline_y, int width, int height);

// Pastes the selection's inner pixels into images[0], centre on `position`; the caller
// restores the background from images[2] first.
void preview_paste(const int position[2]);

// Blends the selection into images[0] with its centre on `position` and ends the selection;
// writes the result to output_path when one was given. On failure prints one line on stderr
// and leaves the background and the selection as they were.
void apply_blend(const int position[2]);

void on_mouse(int button, int state, int x, int y);
void on_motion(int x, int y);
void on_passive_motion(int x, int y);
void on_keyboard(unsigned char key, int x, int y);
void on_special(int key, int x, int y);

#include "state.h"

const int window_width = 800;
const int window_height = 600;

unsigned char* images[3] = {nullptr, nullptr, nullptr};
int image_width[3] = {0, 0, 0};
int image_height[3] = {0, 0, 0};
rgb_image image_storage[3];
rgb_image texture_copy[2];

float display_scale[2] = {0, 0};
rect panel_rect_px[2];
rect panel_rect[2];

int paste_position[2] = {0, 0};

// Constructed in this order before main runs and destroyed in reverse at exit.
std::vector<int> selection_box;
std::vector<int> inner_px;
std::vector<int> inner_py;
std::vector<int> contour_x;
std::vector<int> contour_y;
std::vector<float> outline_x;
std::vector<float> outline_y;

std::string output_path;
blend_options blend_settings;

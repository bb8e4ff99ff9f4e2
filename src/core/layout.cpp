#include "layout.h"

#include <algorithm>

#include "check.h"

panel_layout compute_panel_layout(int panel, int image_width, int image_height, int window_width,
                                  int window_height) {
  ML_CHECK(image_width > 0 && image_height > 0);
  ML_CHECK(panel == 0 || panel == 1);
  const int column_width = (window_width - panel_gap) / 2;
  panel_layout layout;
  layout.scale = std::min(static_cast<float>(column_width) / static_cast<float>(image_width),
                          static_cast<float>(window_height) / static_cast<float>(image_height));
  rect& r = layout.rect_px;
  r.w = layout.scale * static_cast<float>(image_width);
  r.h = layout.scale * static_cast<float>(image_height);
  r.x = (static_cast<float>(column_width) - r.w) / 2;
  r.y = (static_cast<float>(window_height) - r.h) / 2;
  if (panel == 1) r.x += static_cast<float>(panel_gap + column_width);
  const float ww = static_cast<float>(window_width);
  const float wh = static_cast<float>(window_height);
  layout.rect_unit = {r.x / ww, r.y / wh, r.w / ww, r.h / wh};
  return layout;
}

int panel_index_at(const rect panel_rects_px[2], int x, int y) {
  const float fx = static_cast<float>(x);
  const float fy = static_cast<float>(y);
  for (int i = 0; i < 2; ++i) {
    const rect& r = panel_rects_px[i];
    if (r.x <= fx && fx < r.x + r.w && r.y <= fy && fy < r.y + r.h) return i;
  }
  return -1;
}

void object_to_image_pixel(const float objectxy[2], int imagexy[2], const rect& panel_rect_unit,
                           float scale, int window_width, int window_height, int image_height) {
  const float dx = objectxy[0] - panel_rect_unit.x;
  const float dy = objectxy[1] - panel_rect_unit.y;
  imagexy[0] = static_cast<int>(dx * static_cast<float>(window_width) / scale);
  imagexy[1] = image_height - static_cast<int>(dy * static_cast<float>(window_height) / scale);
}

rgb_image downscale_to_fit(const unsigned char* pixels, int width, int height, int max_side) {
  ML_CHECK(width > 0 && height > 0 && max_side > 0);
  const int longest = std::max(width, height);
  const int factor = (longest + max_side - 1) / max_side;
  rgb_image out;
  out.width = (width + factor - 1) / factor;
  out.height = (height + factor - 1) / factor;
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 3, 0);
  for (int oy = 0; oy < out.height; ++oy) {
    for (int ox = 0; ox < out.width; ++ox) {
      const int x_end = std::min(width, (ox + 1) * factor);
      const int y_end = std::min(height, (oy + 1) * factor);
      unsigned long sum[3] = {0, 0, 0};
      unsigned long count = 0;
      for (int y = oy * factor; y < y_end; ++y) {
        for (int x = ox * factor; x < x_end; ++x) {
          const unsigned char* p = pixels + (static_cast<size_t>(y) * width + x) * 3;
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
          ++count;
        }
      }
      unsigned char* q = out.pixels.data() + (static_cast<size_t>(oy) * out.width + ox) * 3;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<unsigned char>((sum[c] + count / 2) / count);
    }
  }
  return out;
}

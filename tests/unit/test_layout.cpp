#include <gtest/gtest.h>

#include "layout.h"

namespace {

TEST(Layout, PanelScaleAndRectangles) {
  struct row {
    int panel, width, height;
    float scale, x, y, w, h;
  };
  const row rows[] = {
      {0, 640, 480, 0.6171875f, 0, 151.875f, 395, 296.25f},
      {1, 640, 480, 0.6171875f, 405, 151.875f, 395, 296.25f},
      {0, 100, 100, 3.95f, 0, 102.5f, 395, 395},                      // scaled up
      {1, 300, 800, 0.75f, 490, 0, 225, 600},                         // limited by the height
      {0, 395, 600, 1, 0, 0, 395, 600},                               // fills its column exactly
      {1, 725, 300, 395.0f / 725, 405, 218.27586f, 395, 163.44827f},  // odd width
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << "panel " << r.panel << ", " << r.width << "x" << r.height);
    const panel_layout l = compute_panel_layout(r.panel, r.width, r.height, 800, 600);
    EXPECT_FLOAT_EQ(l.scale, r.scale);
    EXPECT_FLOAT_EQ(l.rect_px.x, r.x);
    EXPECT_FLOAT_EQ(l.rect_px.y, r.y);
    EXPECT_FLOAT_EQ(l.rect_px.w, r.w);
    EXPECT_FLOAT_EQ(l.rect_px.h, r.h);
    EXPECT_FLOAT_EQ(l.rect_unit.x, r.x / 800);
    EXPECT_FLOAT_EQ(l.rect_unit.y, r.y / 600);
    EXPECT_FLOAT_EQ(l.rect_unit.w, r.w / 800);
    EXPECT_FLOAT_EQ(l.rect_unit.h, r.h / 600);
  }
  const panel_layout l = compute_panel_layout(0, 640, 480, 800, 600);
  EXPECT_FLOAT_EQ(l.rect_unit.y, 0.253125f);
  EXPECT_FLOAT_EQ(l.rect_unit.w, 0.49375f);
  EXPECT_FLOAT_EQ(compute_panel_layout(1, 640, 480, 800, 600).rect_unit.x, 0.50625f);
}

TEST(Layout, PanelIndexAtWindowPixel) {
  // 640x480 on the left, 300x800 on the right: different vertical margins per panel.
  const rect rects[2] = {compute_panel_layout(0, 640, 480, 800, 600).rect_px,
                         compute_panel_layout(1, 300, 800, 800, 600).rect_px};
  struct row {
    int x, y, expected;
  };
  const row rows[] = {
      {0, 152, 0},    {394, 447, 0},  {395, 300, -1},  // right edge is exclusive
      {0, 151, -1},   {0, 448, 0},    {0, 449, -1},    // letterbox bands above and below
      {489, 300, -1}, {490, 0, 1},    {714, 599, 1},  {715, 300, -1},
      {400, 300, -1}, {799, 300, -1}, {-1, 300, -1},
  };
  for (const row& r : rows) {
    EXPECT_EQ(panel_index_at(rects, r.x, r.y), r.expected) << "at " << r.x << "," << r.y;
  }
  const rect same[2] = {compute_panel_layout(0, 640, 480, 800, 600).rect_px,
                        compute_panel_layout(1, 640, 480, 800, 600).rect_px};
  EXPECT_EQ(panel_index_at(same, 405, 300), 1);
  EXPECT_EQ(panel_index_at(same, 404, 300), -1);
}

TEST(Layout, ObjectToImagePixel) {
  const panel_layout left = compute_panel_layout(0, 640, 480, 800, 600);
  const panel_layout right = compute_panel_layout(1, 7, 5, 800, 600);  // scale 56.42857
  struct row {
    const panel_layout* layout;
    int image_height;
    float ox, oy;
    int x, y;
  };
  // Window pixel (0, 152) is object (0, (600 - 152) / 600).
  const row rows[] = {
      {&left, 480, 0, 448.0f / 600, 0, 1},
      {&left, 480, 0, 0.253125f, 0, 480},  // bottom edge: one past the last row
      {&left, 480, 0.49375f - 1e-6f, 0.74687f, 639, 1},
      {&left, 480, 0, 0.746875f, 0, 0},  // row 0 only at the exact top edge
      // 7x5 image, 395 x 282.142 pixels at (405, 158.93): pixel (3, 2) spans window x
      // 574.3..630.7 and rows 2 from the top, window y (from the top) 271.8..328.2.
      {&right, 5, 600.0f / 800, (600.0f - 300) / 600, 3, 3},
      {&right, 5, 406.0f / 800, (600.0f - 160) / 600, 0, 1},
  };
  for (const row& r : rows) {
    const float objectxy[2] = {r.ox, r.oy};
    int imagexy[2] = {-7, -7};
    object_to_image_pixel(objectxy, imagexy, r.layout->rect_unit, r.layout->scale, 800, 600,
                          r.image_height);
    EXPECT_EQ(imagexy[0], r.x) << r.ox << "," << r.oy;
    EXPECT_EQ(imagexy[1], r.y) << r.ox << "," << r.oy;
  }
}

TEST(Layout, DownscaleToFitAveragesBlocks) {
  // 5x3 image, max side 2: factor 3, result 2x1; the right block holds only 2 columns.
  std::vector<unsigned char> px(5 * 3 * 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      unsigned char* p = &px[(y * 5 + x) * 3];
      p[0] = static_cast<unsigned char>(x * 10);  // red varies with the column
      p[1] = static_cast<unsigned char>(y * 30);  // green with the row
      p[2] = 200;
    }
  }
  const rgb_image out = downscale_to_fit(px.data(), 5, 3, 2);
  ASSERT_EQ(out.width, 2);
  ASSERT_EQ(out.height, 1);
  const unsigned char expected[] = {10, 30, 200, 35, 30, 200};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out.pixels[i], expected[i]) << "byte " << i;

  const rgb_image same = downscale_to_fit(px.data(), 5, 3, 5);
  EXPECT_EQ(same.width, 5);
  EXPECT_EQ(same.height, 3);
  EXPECT_EQ(same.pixels, px);
}

}  // namespace

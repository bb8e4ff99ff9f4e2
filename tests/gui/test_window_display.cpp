// The window shows both images upright in their panels, with black around them, and refuses
// images it cannot load.
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"
#include "layout.h"

namespace {

struct colour {
  unsigned char r, g, b;
};

// An image split into four quadrants of the given colours (top-left, top-right, bottom-left,
// bottom-right): a flip, a mirror or a transpose moves a colour to another corner.
std::vector<unsigned char> quadrants(int width, int height, const colour c[4]) {
  std::vector<unsigned char> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const colour& q = c[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
      unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
      p[0] = q.r;
      p[1] = q.g;
      p[2] = q.b;
    }
  }
  return rgb;
}

// Window pixel (x from the left, y from the top) showing the centre of image pixel (ix, iy).
void window_pixel_of(int panel, int width, int height, double ix, double iy, int& wx, int& wy) {
  const panel_layout l = compute_panel_layout(panel, width, height, 800, 600);
  wx = static_cast<int>(l.rect_px.x + (ix + 0.5) * l.scale);
  wy = static_cast<int>(600 - l.rect_px.y - l.rect_px.h + (iy + 0.5) * l.scale);
}

class WindowDisplay : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(display.ok()) << display.error(); }

  std::unique_ptr<gui::app_process> start(const std::vector<std::string>& args,
                                          const std::string& working_dir = "") {
    return std::make_unique<gui::app_process>(display, MENDLARK_BINARY, args, working_dir);
  }

  gui::virtual_display display;
  gui::temp_dir dir;
};

TEST_F(WindowDisplay, ImagesUprightInTheirPanelsWithBlackAround) {
  // Background 40x30 (wide: letterboxed above and below), as TGA; object 30x60 (tall:
  // letterboxed beside), as BMP, whose rows are stored bottom-up.
  const colour bg[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  const colour obj[4] = {{0, 255, 255}, {255, 0, 255}, {255, 255, 255}, {128, 64, 0}};
  ASSERT_TRUE(gui::write_tga(dir.file("bg.tga"), 40, 30, quadrants(40, 30, bg)));
  ASSERT_TRUE(gui::write_bmp(dir.file("obj.bmp"), 30, 60, quadrants(30, 60, obj)));
  auto app = start({dir.file("bg.tga"), dir.file("obj.bmp")});
  ASSERT_TRUE(app->wait_for_window(30)) << app->stderr_text();

  struct probe {
    int panel, width, height;
    double ix, iy;
    colour expected;
  };
  const probe probes[] = {
      {0, 40, 30, 5, 4, bg[0]},   {0, 40, 30, 34, 4, bg[1]},   {0, 40, 30, 5, 25, bg[2]},
      {0, 40, 30, 34, 25, bg[3]}, {1, 30, 60, 4, 8, obj[0]},   {1, 30, 60, 25, 8, obj[1]},
      {1, 30, 60, 4, 51, obj[2]}, {1, 30, 60, 25, 51, obj[3]},
  };
  auto all_probes_hold = [&](const gui::screenshot& s) {
    for (const probe& p : probes) {
      int x, y;
      window_pixel_of(p.panel, p.width, p.height, p.ix, p.iy, x, y);
      if (!s.near(x, y, p.expected.r, p.expected.g, p.expected.b, 2)) return false;
    }
    return true;
  };
  gui::screenshot shot;
  ASSERT_TRUE(app->wait_for_stable_screen(all_probes_hold, 20, &shot));
  ASSERT_EQ(shot.width, 800);
  ASSERT_EQ(shot.height, 600);

  // Black: the gap between the columns, the bands above and below the wide background
  // (its panel spans window rows 151.875 to 448.125), and beside the tall object (window
  // columns 452.5 to 752.5).
  struct box {
    int x0, y0, x1, y1;
  };
  const box black[] = {{396, 0, 405, 600},
                       {0, 0, 395, 151},
                       {0, 449, 395, 600},
                       {405, 0, 452, 600},
                       {753, 0, 800, 600}};
  for (const box& b : black) {
    for (int y = b.y0; y < b.y1; ++y) {
      for (int x = b.x0; x < b.x1; ++x) {
        ASSERT_TRUE(shot.near(x, y, 0, 0, 0)) << "not black at " << x << "," << y;
      }
    }
  }
}

TEST_F(WindowDisplay, OddWidthRowsShowWithoutSkew) {
  // 725x301: rows of 2175 bytes, not a multiple of 4. Left half red, right half blue; a
  // misaligned upload would slant the boundary and mix channels.
  const colour halves[4] = {{255, 0, 0}, {0, 0, 255}, {255, 0, 0}, {0, 0, 255}};
  ASSERT_TRUE(gui::write_tga(dir.file("odd.tga"), 725, 301, quadrants(725, 301, halves)));
  auto app = start({dir.file("odd.tga"), dir.file("odd.tga")});
  ASSERT_TRUE(app->wait_for_window(30)) << app->stderr_text();
  gui::screenshot shot;
  const panel_layout l = compute_panel_layout(1, 725, 301, 800, 600);
  const int top = static_cast<int>(600 - l.rect_px.y - l.rect_px.h) + 1;
  const int bottom = static_cast<int>(600 - l.rect_px.y) - 2;
  ASSERT_TRUE(app->wait_for_stable_screen(
      [&](const gui::screenshot& s) { return s.near(410, top, 255, 0, 0, 2); }, 20, &shot));
  // The boundary sits at image column 362 (of 725), window x 405 + 362 * 0.5448 = 602.2.
  for (int y = top; y <= bottom; y += 7) {
    for (int panel_x : {405 + 1, 0 + 1}) {
      int boundary = -1;
      for (int x = panel_x; x < panel_x + 394; ++x) {
        if (shot.at(x, y)[2] > shot.at(x, y)[0]) {
          boundary = x;
          break;
        }
      }
      EXPECT_NEAR(boundary, panel_x - 1 + 197.5, 1.5) << "row " << y;
      EXPECT_TRUE(shot.near(panel_x + 20, y, 255, 0, 0, 2)) << "row " << y;
      EXPECT_TRUE(shot.near(panel_x + 370, y, 0, 0, 255, 2)) << "row " << y;
    }
  }
}

TEST_F(WindowDisplay, ImageWiderThanTheTextureLimitIsShownDownscaled) {
  // 16500 columns exceed the texture limit of common GL implementations (16384 or less).
  const colour halves[4] = {{0, 255, 0}, {0, 0, 255}, {0, 255, 0}, {0, 0, 255}};
  ASSERT_TRUE(gui::write_tga(dir.file("wide.tga"), 16500, 240, quadrants(16500, 240, halves)));
  const colour plain[4] = {{255, 0, 0}, {255, 0, 0}, {255, 0, 0}, {255, 0, 0}};
  ASSERT_TRUE(gui::write_tga(dir.file("red.tga"), 8, 8, quadrants(8, 8, plain)));
  auto app = start({dir.file("wide.tga"), dir.file("red.tga")});
  ASSERT_TRUE(app->wait_for_window(30)) << app->stderr_text();
  // Scale 395 / 16500: the panel is 5.7 pixels high around window row 300.
  EXPECT_TRUE(app->wait_for_stable_screen(
      [](const gui::screenshot& s) {
        return s.near(100, 300, 0, 255, 0, 8) && s.near(300, 300, 0, 0, 255, 8);
      },
      20));
}

TEST_F(WindowDisplay, ResizedWindowReturnsTo800By600) {
  const colour plain[4] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  ASSERT_TRUE(gui::write_tga(dir.file("a.tga"), 4, 4, quadrants(4, 4, plain)));
  auto app = start({dir.file("a.tga"), dir.file("a.tga")});
  ASSERT_TRUE(app->wait_for_window(30)) << app->stderr_text();
  XResizeWindow(display.connection(), app->window(), 500, 400);
  XSync(display.connection(), False);
  int width = 0, height = 0;
  ASSERT_TRUE(app->window_size(width, height));
  EXPECT_EQ(width, 500);  // the server has applied the resize
  bool restored = false;
  for (int i = 0; i < 500 && !restored; ++i) {
    restored = app->window_size(width, height) && width == 800 && height == 600;
    if (!restored) usleep(20000);
  }
  EXPECT_TRUE(restored) << "window stayed " << width << "x" << height;
}

TEST_F(WindowDisplay, DefaultImagesLoadUnlessBothPathsAreGiven) {
  // With no argument or with one (ignored), src.jpg and tgt.jpg of the working directory load.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"no-such-file.png"}}) {
    auto app = start(args, MENDLARK_SAMPLES_DIR);
    EXPECT_TRUE(app->wait_for_window(30)) << args.size() << " args: " << app->stderr_text();
  }
}

TEST_F(WindowDisplay, UnloadableImageStopsWithOneLineAndStatus1) {
  const colour plain[4] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  ASSERT_TRUE(gui::write_tga(dir.file("good.tga"), 4, 4, quadrants(4, 4, plain)));
  {
    std::FILE* f = std::fopen(dir.file("notes.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a picture\n", f);
    std::fclose(f);
  }
  struct row {
    std::string background, object, expected_prefix;
  };
  const row rows[] = {
      {dir.file("missing.png"), dir.file("good.tga"),
       "Mendlark: cannot load background image '" + dir.file("missing.png") + "': "},
      {dir.file("good.tga"), dir.file("notes.txt"),
       "Mendlark: cannot load object image '" + dir.file("notes.txt") + "': "},
      {dir.file("good.tga"), dir.path(),  // a directory
       "Mendlark: cannot load object image '" + dir.path() + "': "},
  };
  for (const row& r : rows) {
    auto app = start({r.background, r.object});
    const std::optional<int> status = app->wait_for_exit(30);
    ASSERT_TRUE(status.has_value()) << r.object;
    EXPECT_EQ(*status, 1);
    const std::string err = app->stderr_text();
    const size_t at = err.find(r.expected_prefix);
    ASSERT_NE(at, std::string::npos) << err;
    const size_t end = err.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end, at + r.expected_prefix.size()) << "no reason given: " << err;
    EXPECT_TRUE(app->stdout_lines().empty());
  }
}

}  // namespace

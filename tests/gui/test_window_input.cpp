// The whole interaction in the real window: draw an outline on the object, release, preview
// over the background, blend with F1, keep the result with -o.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "harness.h"
#include "image_io.h"

namespace {

// Background 200x150 in panel 0: scale 1.975, window rows 151.875..448.125 (from the top).
// Object 100x100 in panel 1: scale 3.95, window x 405..800, rows 102.5..497.5.
constexpr int bg_w = 200, bg_h = 150, obj_w = 100, obj_h = 100;

// Window pixel showing the middle of object pixel (ix, iy), and of background pixel (bx, by).
int object_wx(int ix) {
  return static_cast<int>(std::lround(405 + (ix + 0.5) * 3.95));
}
int object_wy(int iy) {
  return static_cast<int>(std::lround(102.5 + (iy + 0.5) * 3.95));
}
int background_wx(int bx) {
  return static_cast<int>(std::lround((bx + 0.5) * 1.975));
}
int background_wy(int by) {
  return static_cast<int>(std::lround(151.875 + (by + 0.5) * 1.975));
}

bool has_red_near(const gui::screenshot& s, int x, int y) {
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      if (s.near(x + dx, y + dy, 255, 0, 0)) return true;
    }
  }
  return false;
}

int red_pixels(const gui::screenshot& s) {
  int count = 0;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) count += s.near(x, y, 255, 0, 0);
  }
  return count;
}

// Panel 0 of the window, where previews and blends show.
int panel0_differences(const gui::screenshot& a, const gui::screenshot& b) {
  return gui::count_differences(a, b, 0, 0, 395, 600);
}

class WindowInput : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display.ok()) << display.error();
    // Background: a smooth gradient. Object: a 10-pixel checkerboard of two colours with no
    // pure red, so outline dots are unambiguous and a blend visibly differs from a paste.
    std::vector<unsigned char> bg(size_t(bg_w) * bg_h * 3), obj(size_t(obj_w) * obj_h * 3);
    for (int y = 0; y < bg_h; ++y) {
      for (int x = 0; x < bg_w; ++x) {
        unsigned char* p = &bg[(size_t(y) * bg_w + x) * 3];
        p[0] = static_cast<unsigned char>(x);
        p[1] = static_cast<unsigned char>(y);
        p[2] = 128;
      }
    }
    for (int y = 0; y < obj_h; ++y) {
      for (int x = 0; x < obj_w; ++x) {
        unsigned char* p = &obj[(size_t(y) * obj_w + x) * 3];
        const bool dark = ((x / 10) + (y / 10)) % 2 == 0;
        p[0] = dark ? 20 : 200;
        p[1] = dark ? 200 : 40;
        p[2] = dark ? 60 : 180;
      }
    }
    ASSERT_TRUE(gui::write_tga(background_path(), bg_w, bg_h, bg));
    ASSERT_TRUE(gui::write_tga(object_path(), obj_w, obj_h, obj));
  }

  std::string background_path() const { return dir.file("background.tga"); }
  std::string object_path() const { return dir.file("object.tga"); }

  // Starts the window on the two images and waits for its first full frame.
  void start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {background_path(), object_path()};
    args.insert(args.end(), extra.begin(), extra.end());
    app = std::make_unique<gui::app_process>(display, MENDLARK_BINARY, args);
    ASSERT_TRUE(app->wait_for_window(30)) << app->stderr_text();
    ASSERT_TRUE(app->wait_for_stable_screen(
        [](const gui::screenshot& s) {
          return s.near(object_wx(5), object_wy(5), 20, 200, 60, 2) &&
                 s.near(background_wx(100), background_wy(10), 100, 10, 128, 3);
        },
        20, &initial));
    // Park the pointer in the gap: every later move then is a real motion.
    ASSERT_EQ(app->move_and_wait(400, 580), "-1");
  }

  // Drags with the left button through the object pixels (press at the first, release at the
  // last); each motion must print "1".
  void drag_on_object(const std::vector<std::pair<int, int>>& pixels) {
    ASSERT_EQ(app->move_and_wait(object_wx(pixels[0].first), object_wy(pixels[0].second)), "1");
    app->press(1);
    for (size_t i = 1; i < pixels.size(); ++i) {
      ASSERT_EQ(app->move_and_wait(object_wx(pixels[i].first), object_wy(pixels[i].second)), "1");
    }
    app->release(1);
  }

  // A square outline through object pixels 30..70: about 39x39 inner pixels.
  void select_square() {
    std::vector<std::pair<int, int>> square;
    for (int i = 30; i < 70; i += 8) square.push_back({i, 30});
    for (int i = 30; i < 70; i += 8) square.push_back({70, i});
    for (int i = 70; i > 30; i -= 8) square.push_back({i, 70});
    for (int i = 70; i > 30; i -= 8) square.push_back({30, i});
    drag_on_object(square);
  }

  // Every event sent so far has been handled and a frame drawn after it: a right-button drag
  // over the object records one more outline dot (the right button changes nothing else), and
  // we wait until that dot is on screen.
  gui::screenshot settle() {
    const int wx = 420 + 3 * (settle_count % 40);
    const int wy = 480 - 3 * (settle_count / 40);
    ++settle_count;
    app->press(3);
    EXPECT_EQ(app->move_and_wait(wx, wy), "1");
    app->release(3);
    gui::screenshot shot;
    EXPECT_TRUE(app->wait_for_stable_screen(
        [&](const gui::screenshot& s) { return has_red_near(s, wx, wy); }, 20, &shot));
    return shot;
  }

  gui::virtual_display display;
  gui::temp_dir dir;
  std::unique_ptr<gui::app_process> app;
  gui::screenshot initial;
  int settle_count = 0;
};

TEST_F(WindowInput, MotionPrintsThePanelIndexOncePerEvent) {
  ASSERT_NO_FATAL_FAILURE(start());
  const size_t before = app->stdout_lines().size();
  struct step {
    int button;  // held during the move (0: none)
    int x, y;
    const char* expected;
  };
  const step steps[] = {
      {0, 100, 300, "0"},  {0, 400, 300, "-1"},                      // gap between the columns
      {0, 100, 40, "-1"},                                            // band above the background
      {0, 600, 50, "-1"},                                            // band above the object
      {0, 600, 300, "1"},  {1, 610, 300, "1"},  {1, 300, 300, "0"},  // dragging over panel 0
      {1, 402, 300, "-1"}, {1, 799, 599, "-1"}, {0, 394, 447, "0"}, {0, 395, 300, "-1"},
  };
  int held = 0;
  for (const step& s : steps) {
    if (s.button != held) {
      if (held != 0) app->release(held);
      if (s.button != 0) app->press(s.button);
      held = s.button;
    }
    EXPECT_EQ(app->move_and_wait(s.x, s.y), s.expected) << "at " << s.x << "," << s.y;
  }
  if (held != 0) app->release(held);
  settle();
  // One line per motion event, nothing else (settle() made one more).
  EXPECT_EQ(app->stdout_lines().size(), before + std::size(steps) + 1);
}

TEST_F(WindowInput, DragLeavesRedDotsAndFewPointsSelectNothing) {
  ASSERT_NO_FATAL_FAILURE(start());
  // The press records no point, the three motions do: dots show, the release builds nothing.
  drag_on_object({{20, 20}, {50, 20}, {50, 50}, {20, 50}});
  gui::screenshot shot;
  ASSERT_TRUE(app->wait_for_screen(
      [](const gui::screenshot& s) {
        return has_red_near(s, object_wx(50), object_wy(20)) &&
               has_red_near(s, object_wx(50), object_wy(50)) &&
               has_red_near(s, object_wx(20), object_wy(50));
      },
      20, &shot));
  EXPECT_FALSE(has_red_near(shot, object_wx(20), object_wy(20)));
  EXPECT_EQ(app->move_and_wait(background_wx(100), background_wy(70)), "0");
  shot = settle();
  EXPECT_EQ(panel0_differences(shot, initial), 0);
}

TEST_F(WindowInput, SelectionFollowsTheCursorAndSurvivesAPressOnTheBackground) {
  ASSERT_NO_FATAL_FAILURE(start());
  select_square();
  const int p1x = background_wx(50), p1y = background_wy(50);
  const int p2x = background_wx(150), p2y = background_wy(100);
  EXPECT_EQ(app->move_and_wait(p1x, p1y), "0");
  const gui::screenshot at_p1 = settle();
  // The object's checkerboard is pasted around the cursor, nowhere near the other spot.
  EXPECT_GT(gui::count_differences(at_p1, initial, p1x - 30, p1y - 30, p1x + 30, p1y + 30), 2000);
  EXPECT_EQ(gui::count_differences(at_p1, initial, p2x - 30, p2y - 30, p2x + 30, p2y + 30), 0);
  EXPECT_TRUE(at_p1.near(p1x, p1y, 20, 200, 60, 3) || at_p1.near(p1x, p1y, 200, 40, 180, 3));

  // A click on the background empties the outline but keeps the selection live.
  app->press(1);
  app->release(1);
  EXPECT_EQ(app->move_and_wait(p2x, p2y), "0");
  const gui::screenshot at_p2 = settle();
  EXPECT_EQ(gui::count_differences(at_p2, initial, p1x - 30, p1y - 30, p1x + 30, p1y + 30), 0);
  EXPECT_GT(gui::count_differences(at_p2, initial, p2x - 30, p2y - 30, p2x + 30, p2y + 30), 2000);
  EXPECT_FALSE(has_red_near(at_p2, object_wx(30), object_wy(30)));
}

TEST_F(WindowInput, F1BlendsOnceAndTheBlendStays) {
  const std::string output = dir.file("kept.png");
  ASSERT_NO_FATAL_FAILURE(start({"-o", output}));
  // F1 with no selection: no pixel changes and nothing is written.
  EXPECT_EQ(app->move_and_wait(background_wx(60), background_wy(60)), "0");
  app->tap_key(XK_F1);
  EXPECT_EQ(panel0_differences(settle(), initial), 0);
  EXPECT_EQ(access(output.c_str(), F_OK), -1);

  select_square();
  EXPECT_EQ(app->move_and_wait(background_wx(100), background_wy(75)), "0");
  const gui::screenshot preview = settle();
  app->tap_key(XK_F1);
  ASSERT_TRUE(
      app->wait_for_stderr("Mendlark: wrote the blended background to '" + output + "'", 60))
      << app->stderr_text();
  const gui::screenshot blended = settle();
  EXPECT_GT(panel0_differences(blended, preview), 1000);  // not the plain paste
  EXPECT_GT(panel0_differences(blended, initial), 1000);

  // No selection is live any more: moving over the background and a second F1 change nothing.
  EXPECT_EQ(app->move_and_wait(background_wx(40), background_wy(40)), "0");
  app->tap_key(XK_F1);
  EXPECT_EQ(app->move_and_wait(background_wx(160), background_wy(110)), "0");
  EXPECT_EQ(panel0_differences(settle(), blended), 0);
  EXPECT_EQ(app->stderr_text().find("wrote", app->stderr_text().find("wrote") + 1),
            std::string::npos);

  // The file holds the background as blended, at full size.
  rgb_image written;
  std::string error;
  ASSERT_TRUE(load_image(output, written, error)) << error;
  EXPECT_EQ(written.width, bg_w);
  EXPECT_EQ(written.height, bg_h);
}

TEST_F(WindowInput, OutlineThatSelectsNothingDisappears) {
  ASSERT_NO_FATAL_FAILURE(start());
  // Five motions within one object pixel: the contour closes around no inner pixel.
  const int x = object_wx(40), y = object_wy(40);
  ASSERT_EQ(app->move_and_wait(x - 1, y - 1), "1");
  app->press(1);
  for (auto [dx, dy] : {std::pair{0, -1}, {1, -1}, {1, 0}, {0, 1}, {-1, 0}}) {
    ASSERT_EQ(app->move_and_wait(x + dx, y + dy), "1");
  }
  ASSERT_TRUE(
      app->wait_for_screen([&](const gui::screenshot& s) { return has_red_near(s, x, y); }, 20));
  app->release(1);
  EXPECT_TRUE(
      app->wait_for_screen([](const gui::screenshot& s) { return red_pixels(s) == 0; }, 20));
  // And no selection: moving over the background previews nothing.
  EXPECT_EQ(app->move_and_wait(background_wx(100), background_wy(70)), "0");
  EXPECT_EQ(panel0_differences(settle(), initial), 0);
}

TEST_F(WindowInput, FailedWriteKeepsTheBlendOnScreen) {
  const std::string output = dir.file("no-such-folder/kept.png");
  ASSERT_NO_FATAL_FAILURE(start({"--output", output}));
  select_square();
  EXPECT_EQ(app->move_and_wait(background_wx(100), background_wy(75)), "0");
  app->tap_key(XK_F1);
  ASSERT_TRUE(app->wait_for_stderr("Mendlark: cannot write '" + output + "': ", 60))
      << app->stderr_text();
  EXPECT_TRUE(app->running());
  EXPECT_GT(panel0_differences(settle(), initial), 1000);
}

TEST_F(WindowInput, BadFlagsStopBeforeTheWindowOpens) {
  struct row {
    std::vector<std::string> flags;
    std::string expected;
  };
  const row rows[] = {
      {{"-o", "result.gif"}, "Mendlark: cannot write 'result.gif': unknown image format"},
      {{"--output", "noextension"}, "Mendlark: cannot write 'noextension': unknown image format"},
      {{"-o"}, "Mendlark: -o needs a file name"},
      {{"--solver", "fast"}, "Mendlark: --solver takes auto, lu or multigrid (got 'fast')"},
  };
  for (const row& r : rows) {
    std::vector<std::string> args = {background_path(), object_path()};
    args.insert(args.end(), r.flags.begin(), r.flags.end());
    gui::app_process bad(display, MENDLARK_BINARY, args);
    const std::optional<int> status = bad.wait_for_exit(30);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 2);
    const std::string err = bad.stderr_text();
    EXPECT_EQ(err.rfind(r.expected, 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

// The window and the batch command blend the same way: the outline the window records, mapped
// as the window maps it, and the cursor's background pixel, given to mendlark-blend, give the
// same pixels.
TEST_F(WindowInput, BlendEqualsTheBatchCommandsForTheSameOutlineAndPosition) {
  if (std::string(MENDLARK_BLEND_BINARY).empty()) GTEST_SKIP() << "mendlark-blend not built";
  const std::string window_output = dir.file("window.png");
  ASSERT_NO_FATAL_FAILURE(start({"-o", window_output}));

  // An irregular outline; the press point records nothing, each motion records one point.
  const std::vector<std::pair<int, int>> pixels = {{25, 25}, {48, 20}, {75, 33}, {80, 60},
                                                   {62, 82}, {35, 75}, {18, 52}};
  std::vector<std::pair<int, int>> drag = {{22, 22}};
  drag.insert(drag.end(), pixels.begin(), pixels.end());
  drag_on_object(drag);

  // Part of the mapping under test, computed independently in double precision: window pixel
  // (wx, wy) is object column trunc((wx - 405) / 3.95) and row 100 - trunc((497.5 - wy) / 3.95).
  std::string outline_text;
  for (auto [ix, iy] : pixels) {
    const double fx = (object_wx(ix) - 405) / 3.95, fy = (497.5 - object_wy(iy)) / 3.95;
    ASSERT_GT(fx - std::floor(fx), 0.05);  // far from pixel edges, where float and double agree
    ASSERT_LT(fx - std::floor(fx), 0.95);
    ASSERT_GT(fy - std::floor(fy), 0.05);
    ASSERT_LT(fy - std::floor(fy), 0.95);
    outline_text += std::to_string(static_cast<int>(fx)) + " " +
                    std::to_string(obj_h - static_cast<int>(fy)) + "\n";
  }
  // The cursor over the background: column trunc(cx / 1.975), row 150 - trunc((448.125 - cy) /
  // 1.975).
  const int cx = background_wx(90), cy = background_wy(80);
  const double bx = cx / 1.975, by = (448.125 - cy) / 1.975;
  ASSERT_GT(bx - std::floor(bx), 0.05);
  ASSERT_GT(by - std::floor(by), 0.05);
  const std::string at =
      std::to_string(static_cast<int>(bx)) + "," + std::to_string(bg_h - static_cast<int>(by));

  EXPECT_EQ(app->move_and_wait(cx, cy), "0");
  app->tap_key(XK_F1);
  ASSERT_TRUE(app->wait_for_stderr("wrote the blended background", 60)) << app->stderr_text();

  const std::string outline_file = dir.file("outline.txt");
  std::ofstream(outline_file) << outline_text;
  const std::string batch_output = dir.file("batch.png");
  gui::app_process batch(
      display, MENDLARK_BLEND_BINARY,
      {"--outline", outline_file, "--at", at, background_path(), object_path(), batch_output});
  const std::optional<int> status = batch.wait_for_exit(60);
  ASSERT_TRUE(status.has_value());
  ASSERT_EQ(*status, 0) << batch.stderr_text();

  rgb_image from_window, from_batch;
  std::string error;
  ASSERT_TRUE(load_image(window_output, from_window, error)) << error;
  ASSERT_TRUE(load_image(batch_output, from_batch, error)) << error;
  ASSERT_EQ(from_window.width, from_batch.width);
  ASSERT_EQ(from_window.height, from_batch.height);
  EXPECT_TRUE(from_window.pixels == from_batch.pixels) << "outline:\n"
                                                       << outline_text << "at " << at;
  // And the blend did something: the result is not the background as loaded.
  rgb_image original;
  ASSERT_TRUE(load_image(background_path(), original, error)) << error;
  EXPECT_FALSE(original.pixels == from_window.pixels);
}

}  // namespace

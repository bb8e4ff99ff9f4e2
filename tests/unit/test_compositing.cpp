// Preview paste, byte/float conversion, guidance and the blend over explicit arguments, on
// tiny images whose results can be checked by hand.
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compositing.h"

namespace {

constexpr double K = 1.0 / 255.0;

struct bytes_image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
  unsigned char& at(int x, int y, int c) {
    return pixels[(static_cast<size_t>(y) * width + x) * 3 + c];
  }
};

bytes_image filled(int width, int height, unsigned char value) {
  return {width, height,
          std::vector<unsigned char>(static_cast<size_t>(width) * height * 3, value)};
}

bytes_image random_image(int width, int height, std::mt19937& random) {
  bytes_image image = filled(width, height, 0);
  std::uniform_int_distribution<int> byte(0, 255);
  for (unsigned char& v : image.pixels) v = static_cast<unsigned char>(byte(random));
  return image;
}

struct selection {
  std::vector<int> xs, ys;
};

// Every pixel of the rectangle, row-major, as the fill produces them.
selection rectangle(int x0, int y0, int x1, int y1) {
  selection s;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      s.xs.push_back(x);
      s.ys.push_back(y);
    }
  }
  return s;
}

TEST(Conversion, FloatsToBytesTruncatesAndClamps) {
  struct row {
    float value;
    unsigned char expected;
  };
  const std::vector<row> table = {
      {1.0f, 255},
      {0.5f, 127},
      {0.0f, 0},
      {-0.003f, 0},   // -0.765 truncates to 0
      {-0.01f, 0},    // -2.55: would wrap to 254 without the clamp
      {1.004f, 255},  // 256.02: would wrap to 0 without the clamp
      {256.0f / 255.0f, 255},
      {-1.0f, 0},
      {1e30f, 255},
      {-1e30f, 0},
      {std::nanf(""), 0},
      {0.999f, 254},
  };
  for (const row& r : table) {
    unsigned char byte = 77;
    floats_to_bytes(&byte, {r.value}, 1, 1, 1);
    EXPECT_EQ(int{byte}, int{r.expected}) << "value " << r.value;
  }
}

TEST(Conversion, EveryByteSurvivesTheRoundTrip) {
  std::vector<unsigned char> bytes(256 * 3);
  for (int v = 0; v < 256; ++v) bytes[3 * v] = bytes[3 * v + 1] = bytes[3 * v + 2] = v;
  std::vector<float> floats(bytes.size());
  bytes_to_floats(floats, bytes.data(), 16, 16, 3);
  EXPECT_FLOAT_EQ(floats[3 * 255], 1.0f);
  std::vector<unsigned char> back(bytes.size());
  floats_to_bytes(back.data(), floats, 16, 16, 3);
  EXPECT_EQ(back, bytes);
}

TEST(PastePixels, CopiesOnlyWhatLandsInside) {
  // Object pixel (x, y) carries x in red and y in green, so each copy names its source.
  bytes_image object = filled(24, 12, 200);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 24; ++x) {
      object.at(x, y, 0) = x;
      object.at(x, y, 1) = y;
    }
  }
  const selection s = rectangle(6, 4, 19, 9);
  const int from[2] = {12, 6};
  struct row {
    int width, height, to_x, to_y;
    int copied;
    int first_x, first_y, first_source_x, first_source_y;  // first copied destination
    int last_x, last_y, last_source_x, last_source_y;      // last copied destination
  };
  const std::vector<row> table = {
      {30, 20, 0, 0, 32, 0, 0, 12, 6, 7, 3, 19, 9},
      {7, 3, 6, 2, 21, 0, 0, 6, 4, 6, 2, 12, 6},
      {4, 4, 2, 2, 16, 0, 0, 10, 4, 3, 3, 13, 7},  // selection larger than the background
  };
  for (const row& r : table) {
    bytes_image background = filled(r.width, r.height, 250);
    const int to[2] = {r.to_x, r.to_y};
    paste_pixels(background.pixels.data(), object.pixels.data(), r.width, r.height, 24, s.xs, s.ys,
                 from, to);
    int copied = 0;
    for (int y = 0; y < r.height; ++y) {
      for (int x = 0; x < r.width; ++x) copied += background.at(x, y, 2) == 200;
    }
    EXPECT_EQ(copied, r.copied) << "to " << r.to_x << ", " << r.to_y;
    EXPECT_EQ(background.at(r.first_x, r.first_y, 0), r.first_source_x);
    EXPECT_EQ(background.at(r.first_x, r.first_y, 1), r.first_source_y);
    EXPECT_EQ(background.at(r.last_x, r.last_y, 0), r.last_source_x);
    EXPECT_EQ(background.at(r.last_x, r.last_y, 1), r.last_source_y);
  }
}

// One selected object pixel at (1, 1) of a 3x3 object, blended at the centre of a 3x3
// background: its value is (guidance + the four background neighbours) / 4.
struct one_pixel_case {
  const char* name;
  blend_mode mode;
  int object_centre, object_up, object_right, object_down, object_left;
  int background_centre, background_up, background_right, background_down, background_left;
  double expected_sum;  // guidance / K, worked out by hand
};

TEST(Guidance, SinglePixelNormalAndMixed) {
  const std::vector<one_pixel_case> table = {
      // 4 * 255 - 0: guidance 4.0, the value exceeds 1 and the byte saturates.
      {"bright spot", blend_mode::normal, 255, 0, 0, 0, 0, 40, 40, 40, 40, 40, 1020},
      // Object differences +10, 0, 0, -20.
      {"normal", blend_mode::normal, 100, 90, 100, 100, 120, 50, 60, 80, 50, 45, -10},
      // Background differences -10, -30, 0, +5. Per neighbour: +10 (tie, object kept), -30
      // (background steeper), 0, -20 (object steeper).
      {"mixed", blend_mode::mixed, 100, 90, 100, 100, 120, 50, 60, 80, 50, 45, -40},
      {"mixed flat object", blend_mode::mixed, 7, 7, 7, 7, 7, 50, 60, 80, 50, 45, -35},
  };
  for (const one_pixel_case& r : table) {
    bytes_image object = filled(3, 3, 0);
    bytes_image background = filled(3, 3, 0);
    const int object_values[5] = {r.object_centre, r.object_up, r.object_right, r.object_down,
                                  r.object_left};
    const int background_values[5] = {r.background_centre, r.background_up, r.background_right,
                                      r.background_down, r.background_left};
    const int positions[5][2] = {{1, 1}, {1, 0}, {2, 1}, {1, 2}, {0, 1}};
    for (int k = 0; k < 5; ++k) {
      // Channel 0 carries the case; channels 1 and 2 stay flat at 30 over 90.
      object.at(positions[k][0], positions[k][1], 0) = object_values[k];
      background.at(positions[k][0], positions[k][1], 0) = background_values[k];
    }
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        object.at(x, y, 1) = object.at(x, y, 2) = 30;
        background.at(x, y, 1) = background.at(x, y, 2) = 90;
      }
    }
    const std::vector<int> xs = {1}, ys = {1};
    const int from[2] = {1, 1};
    blend_options options;
    options.mode = r.mode;
    options.solver = solver_choice::lu;
    std::vector<float> blended;
    std::vector<int> tx, ty;
    blend_report report;
    ASSERT_TRUE(compute_guidance_field(blended, tx, ty, background.pixels.data(),
                                       object.pixels.data(), 3, 3, 3, 3, xs, ys, from, from,
                                       options, &report))
        << r.name << ": " << report.error;
    const double neighbours =
        r.background_up + r.background_right + r.background_down + r.background_left;
    const double expected = K * (r.expected_sum + neighbours) / 4.0;
    EXPECT_NEAR(blended[3 * 4], expected, 1e-6) << r.name;
    EXPECT_NEAR(blended[3 * 4 + 1], 90 * K, 1e-6) << r.name;
    EXPECT_EQ(report.unknowns, 1) << r.name;

    ASSERT_TRUE(blend_selection(background.pixels.data(), 3, 3, object.pixels.data(), 3, 3, xs, ys,
                                from, from, options, &report))
        << r.name;
    const int expected_byte = expected >= 1.0 ? 255 : static_cast<int>(255.0 * expected + 1e-9);
    EXPECT_NEAR(background.at(1, 1, 0), expected_byte, 1) << r.name;
  }
}

TEST(Blend, UniformObjectOverUniformBackgroundGivesBackground) {
  for (blend_mode mode : {blend_mode::normal, blend_mode::mixed}) {
    for (int background_value : {0, 1, 128, 254, 255}) {
      bytes_image object = filled(9, 8, 173);
      bytes_image background = filled(12, 11, static_cast<unsigned char>(background_value));
      const selection s = rectangle(1, 1, 7, 6);
      const int from[2] = {4, 3};
      const int to[2] = {6, 5};
      blend_options options;
      options.mode = mode;
      blend_report report;
      ASSERT_TRUE(blend_selection(background.pixels.data(), 12, 11, object.pixels.data(), 9, 8,
                                  s.xs, s.ys, from, to, options, &report));
      EXPECT_EQ(report.unknowns, 42);
      for (unsigned char v : background.pixels) {
        // Single-precision rounding may leave a value a hair below the exact one, which the
        // truncation turns into one level less.
        ASSERT_TRUE(v == background_value || v == background_value - 1)
            << "background " << background_value << " gave " << int{v};
      }
    }
  }
}

TEST(Blend, PixelsOutsideTheRegionKeepTheirBytes) {
  std::mt19937 random(11);
  for (blend_mode mode : {blend_mode::normal, blend_mode::mixed, blend_mode::paste}) {
    const bytes_image object = random_image(10, 9, random);
    const bytes_image original = random_image(13, 11, random);
    bytes_image background = original;
    // An irregular region: a rectangle with a notch.
    selection s;
    for (int y = 2; y <= 6; ++y) {
      for (int x = 2; x <= 7; ++x) {
        if (y == 4 && x >= 5) continue;
        s.xs.push_back(x);
        s.ys.push_back(y);
      }
    }
    const int from[2] = {4, 4};
    const int to[2] = {6, 5};
    blend_options options;
    options.mode = mode;
    ASSERT_TRUE(blend_selection(background.pixels.data(), 13, 11, object.pixels.data(), 10, 9, s.xs,
                                s.ys, from, to, options, nullptr));
    std::vector<bool> destination(13 * 11, false);
    for (size_t i = 0; i < s.xs.size(); ++i) destination[(s.ys[i] + 1) * 13 + s.xs[i] + 2] = true;
    int changed_inside = 0;
    for (size_t k = 0; k < original.pixels.size(); ++k) {
      if (destination[k / 3]) {
        changed_inside += background.pixels[k] != original.pixels[k];
      } else {
        ASSERT_EQ(background.pixels[k], original.pixels[k]) << "byte " << k;
      }
    }
    EXPECT_GT(changed_inside, 0);
  }
}

// Selections pasted across each edge and corner: only destinations in the background's
// interior ring become unknowns; the result there equals the blend of the selection clipped by
// hand to those destinations, and nothing else changes.
TEST(Blend, EdgePlacementMatchesSelectionClippedByHand) {
  std::mt19937 random(5);
  const int bw = 14, bh = 11;
  const bytes_image object = random_image(12, 10, random);
  const bytes_image original = random_image(bw, bh, random);
  const selection s = rectangle(3, 2, 8, 7);
  const int from[2] = {5, 4};
  const int positions[][2] = {{0, 5},  {1, 5},   {13, 5},  {7, 0},       {7, 10},     {0, 0},
                              {13, 0}, {0, 10},  {13, 10}, {-2, 5},      {7, 12},     {7, 5},
                              {-3, 5}, {-40, 3}, {100, 5}, {INT_MAX, 5}, {5, INT_MIN}};
  for (blend_mode mode : {blend_mode::normal, blend_mode::mixed}) {
    for (const auto& to : positions) {
      const std::string where = "at " + std::to_string(to[0]) + ", " + std::to_string(to[1]);
      blend_options options;
      options.mode = mode;
      selection clipped;
      for (size_t i = 0; i < s.xs.size(); ++i) {
        const long long x = static_cast<long long>(s.xs[i]) + to[0] - from[0];
        const long long y = static_cast<long long>(s.ys[i]) + to[1] - from[1];
        if (x >= 1 && x <= bw - 2 && y >= 1 && y <= bh - 2) {
          clipped.xs.push_back(s.xs[i]);
          clipped.ys.push_back(s.ys[i]);
        }
      }
      bytes_image background = original;
      blend_report report;
      const bool ok = blend_selection(background.pixels.data(), bw, bh, object.pixels.data(), 12,
                                      10, s.xs, s.ys, from, to, options, &report);
      if (clipped.xs.empty()) {
        EXPECT_FALSE(ok) << where;
        EXPECT_EQ(report.error, "the selection lands outside the background") << where;
        EXPECT_EQ(background.pixels, original.pixels) << where;
        continue;
      }
      ASSERT_TRUE(ok) << where << ": " << report.error;
      EXPECT_EQ(report.unknowns, static_cast<int>(clipped.xs.size())) << where;

      bytes_image by_hand = original;
      ASSERT_TRUE(blend_selection(by_hand.pixels.data(), bw, bh, object.pixels.data(), 12, 10,
                                  clipped.xs, clipped.ys, from, to, options, nullptr));
      EXPECT_EQ(background.pixels, by_hand.pixels) << where;
      for (int y = 0; y < bh; ++y) {
        for (int x = 0; x < bw; ++x) {
          if (x > 0 && x < bw - 1 && y > 0 && y < bh - 1) continue;
          for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(background.at(x, y, c), original.pixels[(y * bw + x) * 3 + c])
                << where << " ring pixel " << x << ", " << y;
          }
        }
      }
    }
  }
}

TEST(Blend, DestinationListsHoldEveryInnerPixel) {
  // Destinations outside the background still stand in the lists, in inner-pixel order.
  const bytes_image object = filled(5, 4, 9);
  const bytes_image background = filled(6, 5, 200);
  const selection s = rectangle(1, 1, 3, 2);
  const int from[2] = {2, 1};
  const int to[2] = {5, 3};  // columns 4, 5, 6: only column 4 is interior
  std::vector<float> blended;
  std::vector<int> tx, ty;
  blend_report report;
  ASSERT_TRUE(compute_guidance_field(blended, tx, ty, background.pixels.data(),
                                     object.pixels.data(), 6, 5, 5, 4, s.xs, s.ys, from, to,
                                     blend_options{}, &report));
  EXPECT_EQ(tx, (std::vector<int>{4, 5, 6, 4, 5, 6}));
  EXPECT_EQ(ty, (std::vector<int>{3, 3, 3, 4, 4, 4}));
  EXPECT_EQ(report.unknowns, 1);
  EXPECT_EQ(blended.size(), 6u * 5u * 3u);
}

TEST(Blend, PasteModeCopiesLikeThePreview) {
  std::mt19937 random(2);
  const bytes_image object = random_image(8, 7, random);
  const bytes_image original = random_image(9, 6, random);
  const selection s = rectangle(1, 1, 6, 5);
  const int from[2] = {3, 3};
  blend_options options;
  options.mode = blend_mode::paste;
  const int to[2] = {8, 0};
  bytes_image blended = original;
  bytes_image pasted = original;
  ASSERT_TRUE(blend_selection(blended.pixels.data(), 9, 6, object.pixels.data(), 8, 7, s.xs, s.ys,
                              from, to, options, nullptr));
  paste_pixels(pasted.pixels.data(), object.pixels.data(), 9, 6, 8, s.xs, s.ys, from, to);
  EXPECT_EQ(blended.pixels, pasted.pixels);

  const int outside[2] = {-20, 3};
  bytes_image untouched = original;
  blend_report report;
  EXPECT_FALSE(blend_selection(untouched.pixels.data(), 9, 6, object.pixels.data(), 8, 7, s.xs,
                               s.ys, from, outside, options, &report));
  EXPECT_EQ(report.error, "the selection lands outside the background");
  EXPECT_EQ(untouched.pixels, original.pixels);
}

}  // namespace

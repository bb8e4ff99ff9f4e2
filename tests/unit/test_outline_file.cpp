// Outline files and mask images of the batch command.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "outline_file.h"

namespace {

using points = std::vector<std::pair<double, double>>;

TEST(OutlineFile, AcceptsTheDocumentedSyntax) {
  struct row {
    const char* name;
    std::string text;
    points expected;
  };
  const points square = {{1, 2}, {30, 2}, {30, 40}, {1, 40}};
  const std::vector<row> table = {
      {"plain", "1 2\n30 2\n30 40\n1 40\n", square},
      {"no final newline", "1 2\n30 2\n30 40\n1 40", square},
      {"crlf", "1 2\r\n30 2\r\n30 40\r\n1 40\r\n", square},
      {"comments and blanks", "# face\n\n1 2\n   \n  # indented\n30 2\n30 40\n\t\n1 40\n\n",
       square},
      {"tabs and spaces", "\t1\t 2 \n30  2\n 30 40\t\n1 40\n", square},
      {"decimals, signs, exponents",
       "1.5 -2\n3e1 2.0\n-0.25 4E1\n1 40\n",
       {{1.5, -2}, {30, 2}, {-0.25, 40}, {1, 40}}},
      {"huge values",
       "1e400 -1e400\n1e-400 5\n0 0\n1 1\n",
       {{1.7976931348623157e308, -1.7976931348623157e308}, {0, 5}, {0, 0}, {1, 1}}},
  };
  for (const row& r : table) {
    std::vector<double> xs, ys;
    std::string error;
    ASSERT_TRUE(parse_outline(r.text, xs, ys, error)) << r.name << ": " << error;
    points got;
    for (size_t i = 0; i < xs.size(); ++i) got.push_back({xs[i], ys[i]});
    EXPECT_EQ(got, r.expected) << r.name;
  }
}

TEST(OutlineFile, RejectsMalformedLinesByNumber) {
  struct row {
    std::string text;
    std::string expected_error;
  };
  const std::string ok = "1 1\n2 2\n3 3\n";
  const std::vector<row> table = {
      {ok + "4\n", "line 4: expected a point \"x y\" (two numbers), found one value"},
      {ok + "4 x\n", "line 4: 'x' is not a number"},
      {"# c\n" + ok + "4 5 6\n", "line 5: unexpected text '6' after the point"},
      {ok + "4 5 # note\n", "line 4: unexpected text '#' after the point"},
      {ok + "4,5\n", "line 4: expected a point \"x y\" (two numbers), found one value"},
      {ok + "4 5abc\n", "line 4: '5abc' is not a number"},
      {ok + "nan 5\n", "line 4: 'nan' is not a finite number"},
      {ok + "4 -inf\n", "line 4: '-inf' is not a finite number"},
      {ok + "0x10 5\n", "line 4: '0x10' is not a number"},
      {"1 1\n\n2 2\r\r\n", "line 3: '2?' is not a number"},
      {std::string("1 1\n2\0 2\n", 9) + ok, "line 2: '2?' is not a number"},
      {ok, "the outline has 3 points; at least 4 are needed"},
      {"# nothing\n\n", "the outline has 0 points; at least 4 are needed"},
      {"", "the outline has 0 points; at least 4 are needed"},
  };
  for (const row& r : table) {
    std::vector<double> xs, ys;
    std::string error;
    EXPECT_FALSE(parse_outline(r.text, xs, ys, error)) << r.expected_error;
    EXPECT_EQ(error, r.expected_error);
  }
}

TEST(OutlineFile, PointsClampIntoTheImageBeforeTruncation) {
  const std::vector<double> xs = {-5, 0.9, 3.7, 9.99, 10, 1e300, -1e300, -0.5};
  const std::vector<double> ys = {2, -3, 7.2, 4, 1e30, 0, 5.999, 6};
  std::vector<int> px, py;
  outline_to_pixels(xs, ys, 10, 6, px, py);
  EXPECT_EQ(px, (std::vector<int>{0, 0, 3, 9, 9, 9, 0, 0}));
  EXPECT_EQ(py, (std::vector<int>{2, 0, 5, 4, 5, 0, 5, 5}));
}

rgb_image mask_from_rows(const std::vector<std::string>& rows) {
  const int width = static_cast<int>(rows[0].size());
  const int height = static_cast<int>(rows.size());
  rgb_image mask{width, height, std::vector<unsigned char>(width * height * 3, 0)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &mask.pixels[(y * width + x) * 3];
      switch (rows[y][x]) {
        case 'R':
          p[0] = 128;
          break;  // the threshold itself selects
        case 'G':
          p[1] = 255;
          break;
        case 'B':
          p[2] = 200;
          break;
        case 'd':
          p[0] = p[1] = p[2] = 127;
          break;  // just under the threshold everywhere
        default:
          break;
      }
    }
  }
  return mask;
}

TEST(MaskFile, SelectsBrightPixelsOffTheOuterRing) {
  // 7x5; the ring pixels marked G are dropped.
  const rgb_image mask = mask_from_rows({
      "G..G..G",
      ".R.d...",
      "G.BG..G",
      "...G.R.",
      "G.....G",
  });
  std::vector<int> xs = {99}, ys = {99}, box;
  std::string error;
  ASSERT_TRUE(selection_from_mask(mask, 7, 5, xs, ys, box, error)) << error;
  EXPECT_EQ(xs, (std::vector<int>{1, 2, 3, 3, 5}));
  EXPECT_EQ(ys, (std::vector<int>{1, 2, 2, 3, 3}));
  EXPECT_EQ(box, (std::vector<int>{1, 1, 5, 3, 3, 2}));

  // Written back and read again, the selection is the same.
  const rgb_image written = selection_to_mask(xs, ys, 7, 5);
  std::vector<int> xs2, ys2, box2;
  ASSERT_TRUE(selection_from_mask(written, 7, 5, xs2, ys2, box2, error)) << error;
  EXPECT_EQ(xs2, xs);
  EXPECT_EQ(ys2, ys);
  EXPECT_EQ(box2, box);
  EXPECT_EQ(written.pixels[(1 * 7 + 1) * 3 + 2], 255);
  EXPECT_EQ(written.pixels[(1 * 7 + 2) * 3 + 0], 0);
}

TEST(MaskFile, RejectsWrongSizeAndEmptySelections) {
  struct row {
    rgb_image mask;
    std::string expected_error;
  };
  const std::string nothing =
      "the mask selects no pixel (selected: red, green or blue 128 or more, off the outermost "
      "ring of pixels)";
  const std::vector<row> table = {
      {mask_from_rows({"....", ".R..", "...."}),
       "the mask is 4 x 3 pixels but the object image is 5 x 3; it must have the object's size"},
      {mask_from_rows({".....", ".d.d.", "....."}), nothing},
      {mask_from_rows({"GGGGG", "G...G", "GGGGG"}), nothing},
  };
  for (const row& r : table) {
    std::vector<int> xs, ys, box = {7};
    std::string error;
    EXPECT_FALSE(selection_from_mask(r.mask, 5, 3, xs, ys, box, error));
    EXPECT_EQ(error, r.expected_error);
    EXPECT_EQ(box, std::vector<int>{7});
  }
}

}  // namespace

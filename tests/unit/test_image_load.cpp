// Image loading against a corpus of awkward and hostile files: every readable file arrives as
// the same upright 8-bit RGB picture, every unreadable one is refused with a one-line reason.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../hostile_corpus.h"
#include "image_io.h"

namespace {

class image_load_test : public ::testing::Test {
 protected:
  // The corpus is encoded once for the suite: convert is slow to start.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/mendlark-load-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    corpus_ = hostile::build_corpus(dir_);
  }
  static void TearDownTestSuite() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    ASSERT_FALSE(corpus_.empty()) << "could not encode the corpus with /usr/bin/convert";
  }

  static inline std::string dir_;
  static inline std::vector<hostile::sample> corpus_;
};

TEST_F(image_load_test, readable_files_arrive_as_the_same_rgb_picture) {
  for (const hostile::sample& s : corpus_) {
    if (!s.readable) continue;
    SCOPED_TRACE(s.name);
    rgb_image image;
    std::string error;
    ASSERT_TRUE(load_image(s.path, image, error)) << error;
    ASSERT_EQ(image.width, s.width);
    ASSERT_EQ(image.height, s.height);
    ASSERT_EQ(image.pixels.size(), size_t(s.width) * s.height * 3);
    if (s.tolerance < 0) continue;
    const std::vector<unsigned char> expected = hostile::expected_rgb(s.grey);
    int worst = 0;
    for (size_t k = 0; k < expected.size(); ++k) {
      worst = std::max(worst, std::abs(int(image.pixels[k]) - int(expected[k])));
    }
    EXPECT_LE(worst, s.tolerance) << "largest channel difference to the 'F' picture";
  }
}

TEST_F(image_load_test, unreadable_files_are_refused_with_one_line) {
  for (const hostile::sample& s : corpus_) {
    if (s.readable) continue;
    SCOPED_TRACE(s.name);
    rgb_image image;
    std::string error;
    EXPECT_FALSE(load_image(s.path, image, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST_F(image_load_test, reasons_name_what_is_wrong) {
  const struct {
    std::string path;
    std::string reason_part;
  } cases[] = {
      {dir_ + "/huge_header.png", "too large"},
      {dir_ + "/no_such_file.png", "No such file"},
      {dir_ + "/text.jpg", "not of any known type"},
  };
  for (const auto& c : cases) {
    rgb_image image;
    std::string error;
    EXPECT_FALSE(load_image(c.path, image, error)) << c.path;
    EXPECT_NE(error.find(c.reason_part), std::string::npos) << c.path << ": " << error;
  }
}

}  // namespace

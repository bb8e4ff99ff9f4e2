// Both programs meet awkward and hostile image files: each one either works or ends with
// status 1 and one line naming the file; never a crash, never a hang.
#include <gtest/gtest.h>

#include <memory>

#include "../hostile_corpus.h"
#include "harness.h"

namespace {

const std::string samples = MENDLARK_SAMPLES_DIR;

int line_count(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

class HostileFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<gui::temp_dir>();
    corpus_ = hostile::build_corpus(dir_->path());
    // A rectangle that selects the 3 x 3 pixels inside the 6 x 5 picture (and the same pixels
    // of the bundled object photo), so the blends on the readable files really run.
    hostile::write_bytes(dir_->file("outline.txt"), "1 0\n5 0\n5 4\n1 4\n");
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(display_.ok()) << display_.error();
    ASSERT_FALSE(corpus_.empty()) << "could not encode the corpus with /usr/bin/convert";
  }

  // Runs a program to its end (bounded); returns its status and standard error.
  std::pair<int, std::string> run_to_end(const std::string& binary,
                                         const std::vector<std::string>& args) {
    gui::app_process app(display_, binary, args, dir_->path());
    const std::optional<int> status = app.wait_for_exit(60);
    EXPECT_TRUE(status.has_value()) << "did not finish: " << binary;
    return {status.value_or(-1), app.stderr_text()};
  }

  static inline std::unique_ptr<gui::temp_dir> dir_;
  static inline std::vector<hostile::sample> corpus_;
  gui::virtual_display display_;
};

TEST_F(HostileFiles, BatchCommandWorksOrNamesTheFile) {
  if (std::string(MENDLARK_BLEND_BINARY).empty()) GTEST_SKIP() << "mendlark-blend not built";
  for (const hostile::sample& s : corpus_) {
    for (const bool as_background : {true, false}) {
      SCOPED_TRACE(s.name + (as_background ? " as background" : " as object"));
      const std::string background = as_background ? s.path : samples + "/src.jpg";
      const std::string object = as_background ? samples + "/tgt.jpg" : s.path;
      const std::string output = dir_->file("out.png");
      std::remove(output.c_str());
      const auto [status, err] = run_to_end(
          MENDLARK_BLEND_BINARY, {"--outline", "outline.txt", background, object, output});
      ASSERT_TRUE(status == 0 || status == 1) << "status " << status << ": " << err;
      if (status == 1) {
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_FALSE(std::ifstream(output).good()) << "a failed run left an output file";
      }
      if (!s.readable) {
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find(s.path), std::string::npos) << err;
      }
    }
  }
}

TEST_F(HostileFiles, WindowOpensOrStopsWithOneLineNamingTheFile) {
  for (const hostile::sample& s : corpus_) {
    for (const bool as_background : {true, false}) {
      SCOPED_TRACE(s.name + (as_background ? " as background" : " as object"));
      const std::string background = as_background ? s.path : samples + "/src.jpg";
      const std::string object = as_background ? samples + "/tgt.jpg" : s.path;
      gui::app_process app(display_, MENDLARK_BINARY, {background, object}, dir_->path());
      if (s.readable) {
        ASSERT_TRUE(app.wait_for_window(30)) << app.stderr_text();
        EXPECT_TRUE(app.running());
        continue;
      }
      const std::optional<int> status = app.wait_for_exit(30);
      ASSERT_TRUE(status.has_value()) << "still running";
      EXPECT_EQ(*status, 1);
      const std::string err = app.stderr_text();
      EXPECT_EQ(line_count(err), 1) << err;
      const std::string expected = std::string("Mendlark: cannot load ") +
                                   (as_background ? "background" : "object") + " image '" + s.path +
                                   "': ";
      EXPECT_EQ(err.rfind(expected, 0), 0u) << err;
    }
  }
}

}  // namespace

// A blend that cannot get its memory fails with one line and leaves the output alone. The
// batch command runs with its address space limited (prlimit) so that the images load but the
// direct solve of a 510 x 510 selection (about 260,000 unknowns) cannot get its factors.
#include <gtest/gtest.h>

#include <fstream>

#include "../hostile_corpus.h"
#include "harness.h"

TEST(BlendMemory, BatchBlendThatRunsOutOfMemoryFailsCleanly) {
  if (std::string(MENDLARK_BLEND_BINARY).empty()) GTEST_SKIP() << "mendlark-blend not built";
  gui::virtual_display display;
  ASSERT_TRUE(display.ok()) << display.error();
  gui::temp_dir dir;
  ASSERT_TRUE(hostile::convert("-size 512x512 xc:white PNG24:" + dir.file("mask.png")));
  hostile::write_bytes(dir.file("out.png"), "the previous result");

  const std::string samples = MENDLARK_SAMPLES_DIR;
  gui::app_process app(
      display, "/usr/bin/prlimit",
      {"--as=" + std::to_string(380 << 20), MENDLARK_BLEND_BINARY, "--solver", "lu", "--mask",
       dir.file("mask.png"), samples + "/src.jpg", samples + "/tgt.jpg", dir.file("out.png")});
  const std::optional<int> status = app.wait_for_exit(120);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1) << app.stderr_text();
  EXPECT_NE(app.stderr_text().find("more memory than is available"), std::string::npos)
      << app.stderr_text();
  EXPECT_EQ(hostile::read_bytes(dir.file("out.png")), "the previous result");
}

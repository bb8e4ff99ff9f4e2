// End-to-end tests of mendlark-blend: the real binary on the bundled photos, its files and its
// exit statuses. No display is needed. The reference for every blended output is the core's
// blend of the same selection computed here in-process, so these tests check the command's
// wiring (selection, position, mode, files), not the numerics again.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compositing.h"
#include "image_io.h"
#include "multigrid.h"
#include "outline_file.h"
#include "selection.h"

extern char** environ;

namespace {

const std::string samples = MENDLARK_SAMPLES_DIR;
const std::string background_path = samples + "/src.jpg";  // 1000 x 872
const std::string object_path = samples + "/tgt.jpg";      // 512 x 512

// An octagon around the astronaut's face.
const char* face_outline =
    "# the face\n240 20\n290 40\n305 100\n290 165\n240 190\n190 165\n175 100\n190 40\n";

struct scratch_dir {
  std::string path;
  scratch_dir() {
    char name[] = "/tmp/mendlark-blend-cli-XXXXXX";
    path = mkdtemp(name);
  }
  ~scratch_dir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

struct run_result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs the binary with the arguments, standard output and error captured in files.
run_result run(const scratch_dir& dir, const std::vector<std::string>& arguments) {
  static int counter = 0;
  const std::string out_path = dir.file("stdout-" + std::to_string(counter));
  const std::string err_path = dir.file("stderr-" + std::to_string(counter++));
  std::vector<std::string> all = {MENDLARK_BLEND_BINARY};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  run_result result;
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_text(out_path);
  result.err = read_text(err_path);
  ::unlink(out_path.c_str());
  ::unlink(err_path.c_str());
  return result;
}

rgb_image load(const std::string& path) {
  rgb_image image;
  std::string error;
  EXPECT_TRUE(load_image(path, image, error)) << path << ": " << error;
  return image;
}

// The core's blend of the face outline, as the command should compute it.
rgb_image expected_blend(blend_mode mode, const int position[2]) {
  rgb_image background = load(background_path);
  const rgb_image object = load(object_path);
  std::vector<double> xs, ys;
  std::string error;
  EXPECT_TRUE(parse_outline(face_outline, xs, ys, error)) << error;
  std::vector<int> px, py, inner_x, inner_y, contour_x, contour_y, box;
  outline_to_pixels(xs, ys, object.width, object.height, px, py);
  build_selection(inner_x, inner_y, contour_x, contour_y, box, px, py, object.width, object.height);
  EXPECT_FALSE(inner_x.empty());
  const int from[2] = {box[4], box[5]};
  blend_options options;
  options.mode = mode;
  EXPECT_TRUE(blend_selection(background.pixels.data(), background.width, background.height,
                              object.pixels.data(), object.width, object.height, inner_x, inner_y,
                              from, position, options, nullptr));
  return background;
}

class BlendCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(MENDLARK_BLEND_BINARY).empty()) GTEST_SKIP() << "mendlark-blend not built";
    write_text(dir.file("face.txt"), face_outline);
  }
  scratch_dir dir;
};

TEST_F(BlendCommand, EachModeWritesTheCoreBlend) {
  struct row {
    const char* mode;
    blend_mode expected_mode;
    std::vector<std::string> position_flags;
    int position[2];
  };
  const std::vector<row> table = {
      {"normal", blend_mode::normal, {"--at", "700,300"}, {700, 300}},
      {"mixed", blend_mode::mixed, {"--at=120,800"}, {120, 800}},
      {"paste", blend_mode::paste, {}, {500, 436}},  // default: the background's centre
      // Hanging over the top-right corner: blended where it lands inside.
      {"normal", blend_mode::normal, {"--at", "990,5"}, {990, 5}},
  };
  const rgb_image original = load(background_path);
  for (const row& r : table) {
    std::vector<std::string> arguments = {"--outline", dir.file("face.txt"), "--mode", r.mode};
    arguments.insert(arguments.end(), r.position_flags.begin(), r.position_flags.end());
    arguments.insert(arguments.end(), {background_path, object_path, dir.file("out.png")});
    const run_result result = run(dir, arguments);
    ASSERT_EQ(result.status, 0) << r.mode << ": " << result.err;
    EXPECT_EQ(result.err, "") << r.mode;
    const rgb_image written = load(dir.file("out.png"));
    const rgb_image expected = expected_blend(r.expected_mode, r.position);
    EXPECT_EQ(written.width, 1000);
    EXPECT_EQ(written.height, 872);
    EXPECT_TRUE(written.pixels == expected.pixels) << r.mode << " at " << r.position[0];
    EXPECT_FALSE(written.pixels == original.pixels) << r.mode;
  }
}

TEST_F(BlendCommand, SavedSelectionUsedAsMaskGivesTheSameOutput) {
  const run_result first =
      run(dir, {"--outline", dir.file("face.txt"), "--save-selection", dir.file("face-mask.png"),
                "--at", "300,600", background_path, object_path, dir.file("from-outline.png")});
  ASSERT_EQ(first.status, 0) << first.err;
  const rgb_image mask = load(dir.file("face-mask.png"));
  EXPECT_EQ(mask.width, 512);
  EXPECT_EQ(mask.height, 512);
  size_t white = 0;
  for (size_t k = 0; k < mask.pixels.size(); k += 3) {
    const unsigned char v = mask.pixels[k];
    ASSERT_TRUE((v == 0 || v == 255) && mask.pixels[k + 1] == v && mask.pixels[k + 2] == v);
    white += v == 255;
  }
  EXPECT_GT(white, 10000u);

  const run_result second = run(dir, {"--mask", dir.file("face-mask.png"), "--at", "300,600", "-v",
                                      background_path, object_path, dir.file("from-mask.png")});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.err.find(std::to_string(white) + " unknowns"), std::string::npos) << second.err;
  // The automatic choice: the direct solve up to auto_lu_max_unknowns unknowns, multigrid above.
  const char* solver =
      white <= static_cast<size_t>(auto_lu_max_unknowns) ? "solve (sparse LU)" : "solve (multigrid";
  EXPECT_NE(second.err.find(solver), std::string::npos) << second.err;
  EXPECT_TRUE(load(dir.file("from-mask.png")).pixels == load(dir.file("from-outline.png")).pixels);
}

TEST_F(BlendCommand, WritesEveryOutputFormat) {
  for (const char* name : {"out.jpg", "out.JPEG", "out.bmp", "out.tga"}) {
    const run_result result = run(dir, {"--outline", dir.file("face.txt"), "--mode", "paste",
                                        background_path, object_path, dir.file(name)});
    ASSERT_EQ(result.status, 0) << name << ": " << result.err;
    const rgb_image written = load(dir.file(name));
    EXPECT_EQ(written.width, 1000) << name;
    EXPECT_EQ(written.height, 872) << name;
  }
}

TEST_F(BlendCommand, UsageErrorsExitTwoBeforeAnyWork) {
  const std::string out = dir.file("out.png");
  const std::string face = dir.file("face.txt");
  write_text(dir.file("junk.txt"), "240 20\n290 40 x\n305 100\n290 165\n");
  write_text(dir.file("three.txt"), "1 1\n5 5\n1 9\n");
  const std::string missing = dir.file("missing.jpg");  // never read: parsing fails first
  struct row {
    std::vector<std::string> arguments;
    std::string message;  // the first line, after "mendlark-blend: "
  };
  const std::vector<row> table = {
      {{"--outline", face, "--frobnicate", missing, missing, out}, "unknown option '--frobnicate'"},
      {{"--outline", face, missing, missing, out, "--at"}, "option --at needs a value"},
      {{"--outline", face, missing, missing, dir.file("out.gif")},
       "cannot tell the format of output '" + dir.file("out.gif") +
           "': use the extension .png, .jpg, .jpeg, .bmp or .tga"},
      {{"--outline", face, "--mask", face, missing, missing, out},
       "give only one of --outline and --mask"},
      {{missing, missing, out}, "give the selection with --outline FILE or --mask FILE"},
      {{"--outline", face, missing, out}, "expected BACKGROUND OBJECT OUTPUT, got 2 file names"},
      {{"--outline", face, "--at", "12", missing, missing, out},
       "--at expects X,Y (two integers, e.g. --at 500,436), not '12'"},
      {{"--outline", face, "--at", "1,2,3", missing, missing, out},
       "--at expects X,Y (two integers, e.g. --at 500,436), not '1,2,3'"},
      {{"--outline", face, "--at", "1.5,2", missing, missing, out},
       "--at expects X,Y (two integers, e.g. --at 500,436), not '1.5,2'"},
      {{"--outline", face, "--at", "99999999999,2", missing, missing, out},
       "--at expects X,Y (two integers, e.g. --at 500,436), not '99999999999,2'"},
      {{"--outline", face, "--mode", "soft", missing, missing, out},
       "--mode must be normal, mixed or paste, not 'soft'"},
      {{"--outline", face, "--solver", "cg", missing, missing, out},
       "--solver must be auto, lu or multigrid, not 'cg'"},
      {{"--outline", face, "--save-selection", dir.file("sel.txt"), missing, missing, out},
       "cannot tell the format of --save-selection '" + dir.file("sel.txt") +
           "': use the extension .png (lossless), .bmp, .tga, .jpg or .jpeg"},
      {{"--outline", dir.file("junk.txt"), missing, missing, out},
       "outline '" + dir.file("junk.txt") + "': line 2: unexpected text 'x' after the point"},
      {{"--outline", dir.file("three.txt"), missing, missing, out},
       "outline '" + dir.file("three.txt") + "': the outline has 3 points; at least 4 are needed"},
  };
  for (const row& r : table) {
    const run_result result = run(dir, r.arguments);
    EXPECT_EQ(result.status, 2) << r.message << "\n" << result.err;
    EXPECT_EQ(result.err,
              "mendlark-blend: " + r.message + "\nTry 'mendlark-blend -h' for usage.\n");
    EXPECT_FALSE(exists(out)) << r.message;
  }
}

TEST_F(BlendCommand, RuntimeErrorsExitOneAndLeaveTheOutputAlone) {
  const std::string out = dir.file("out.png");
  write_text(out, "an earlier result");
  write_text(dir.file("not-an-image.png"), "this is text");
  write_text(dir.file("dot.txt"), "100 100\n100 100\n100 100\n100 100\n");
  rgb_image black{512, 512, std::vector<unsigned char>(512 * 512 * 3, 0)};
  rgb_image small_mask{64, 64, std::vector<unsigned char>(64 * 64 * 3, 255)};
  std::string error;
  ASSERT_TRUE(write_image(dir.file("black.png"), black, error)) << error;
  ASSERT_TRUE(write_image(dir.file("small.png"), small_mask, error)) << error;
  ASSERT_EQ(::mkdir(dir.file("a-directory.png").c_str(), 0755), 0);
  const std::string face = dir.file("face.txt");
  const std::string bg = background_path;
  const std::string obj = object_path;
  struct row {
    std::vector<std::string> arguments;
    std::string message_start;  // the message names the file and the reason
  };
  const std::vector<row> table = {
      {{"--outline", face, dir.file("none.jpg"), obj, out},
       "cannot read background image '" + dir.file("none.jpg") + "': "},
      {{"--outline", face, bg, dir.file("not-an-image.png"), out},
       "cannot read object image '" + dir.file("not-an-image.png") + "': "},
      {{"--outline", dir.file("none.txt"), bg, obj, out},
       "cannot read outline '" + dir.file("none.txt") + "': No such file or directory"},
      {{"--outline", dir.path, bg, obj, out}, "cannot read outline '" + dir.path + "': "},
      {{"--outline", dir.file("dot.txt"), bg, obj, out},
       "outline '" + dir.file("dot.txt") + "' selects no pixel of the object"},
      {{"--mask", dir.file("none.png"), bg, obj, out},
       "cannot read mask '" + dir.file("none.png") + "': "},
      {{"--mask", dir.file("black.png"), bg, obj, out},
       "mask '" + dir.file("black.png") + "': the mask selects no pixel"},
      {{"--mask", dir.file("small.png"), bg, obj, out},
       "mask '" + dir.file("small.png") +
           "': the mask is 64 x 64 pixels but the object image "
           "is 512 x 512"},
      {{"--outline", face, "--at", "-5000,-5000", bg, obj, out},
       "blend failed: the selection lands outside the background"},
      {{"--outline", face, "--at", "0,300", "--mode", "paste", bg, obj, dir.file("x/out.png")},
       "cannot write '" + dir.file("x/out.png") + "': cannot create files in '" + dir.file("x") +
           "'"},
      {{"--outline", face, bg, obj, dir.file("a-directory.png")},
       "cannot write '" + dir.file("a-directory.png") + "': it is a directory"},
  };
  for (const row& r : table) {
    const run_result result = run(dir, r.arguments);
    EXPECT_EQ(result.status, 1) << r.message_start << "\n" << result.err;
    EXPECT_EQ(result.err.rfind("mendlark-blend: " + r.message_start, 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(read_text(out), "an earlier result") << r.message_start;
  }
  // Temporary files are hidden names beside the target; none may be left behind.
  DIR* listing_dir = opendir(dir.path.c_str());
  while (dirent* entry = readdir(listing_dir)) {
    const std::string name = entry->d_name;
    EXPECT_TRUE(name == "." || name == ".." || name[0] != '.') << name;
  }
  closedir(listing_dir);

  const run_result help = run(dir, {"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: mendlark-blend [OPTIONS] BACKGROUND OBJECT OUTPUT"),
            std::string::npos);
  const run_result version = run(dir, {"--version"});
  EXPECT_EQ(version.out, "mendlark-blend 0.1.0\n");
}

}  // namespace

// Writing images: lossless formats read back byte for byte through SOIL (which must still be
// the loader after stb's writer is linked in), and a failed write leaves nothing behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <SOIL/SOIL.h>
#include <gtest/gtest.h>

#include "image_io.h"

namespace {

// An 'F' of 6x5 pixels, red on blue: flips, transposes and channel swaps show at once.
rgb_image letter_f() {
  const char* rows[5] = {"#####.", "#.....", "####..", "#.....", "#....."};
  rgb_image image{6, 5, std::vector<unsigned char>(6 * 5 * 3)};
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      unsigned char* p = &image.pixels[(y * 6 + x) * 3];
      const bool ink = rows[y][x] == '#';
      p[0] = ink ? 220 : 10;
      p[1] = static_cast<unsigned char>(20 + x + 10 * y);  // every pixel differs
      p[2] = ink ? 30 : 240;
    }
  }
  return image;
}

struct temp_dir {
  std::string path;
  temp_dir() {
    char name[] = "/tmp/mendlark-write-XXXXXX";
    path = mkdtemp(name);
  }
  ~temp_dir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
  }
};

rgb_image load_with_soil(const std::string& path) {
  rgb_image image;
  int channels = 0;
  unsigned char* data =
      SOIL_load_image(path.c_str(), &image.width, &image.height, &channels, SOIL_LOAD_RGB);
  if (data == nullptr) return image;
  image.pixels.assign(data, data + image.width * image.height * 3);
  SOIL_free_image_data(data);
  return image;
}

TEST(ImageWrite, SupportedExtensions) {
  struct row {
    const char* path;
    bool supported;
  };
  const std::vector<row> table = {
      {"a.png", true},  {"a.PNG", true},   {"dir.x/a.jpg", true}, {"a.jpeg", true},
      {"a.JpEg", true}, {"a.bmp", true},   {"a.tga", true},       {"a.gif", false},
      {"png", false},   {"a.png.", false}, {"dir.png/a", false},  {"a.tiff", false},
      {"", false},
  };
  for (const row& r : table) EXPECT_EQ(is_supported_output(r.path), r.supported) << r.path;
}

TEST(ImageWrite, LosslessFormatsReadBackThroughSoil) {
  temp_dir dir;
  const rgb_image f = letter_f();
  for (const char* name : {"f.png", "f.bmp", "f.tga", "F.PNG"}) {
    const std::string path = dir.path + "/" + name;
    std::string error;
    ASSERT_TRUE(write_image(path, f, error)) << name << ": " << error;
    const rgb_image back = load_with_soil(path);
    EXPECT_EQ(back.width, 6) << name;
    EXPECT_EQ(back.height, 5) << name;
    EXPECT_EQ(back.pixels, f.pixels) << name;
  }
  EXPECT_EQ(dir.entries().size(), 4u) << "no temporary file is left behind";
}

TEST(ImageWrite, JpegIsCloseAtHighQuality) {
  temp_dir dir;
  // Smooth content: JPEG at quality 95 keeps it within a few levels.
  rgb_image image{32, 24, std::vector<unsigned char>(32 * 24 * 3)};
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 32; ++x) {
      unsigned char* p = &image.pixels[(y * 32 + x) * 3];
      p[0] = static_cast<unsigned char>(60 + 4 * x);
      p[1] = static_cast<unsigned char>(40 + 5 * y);
      p[2] = 128;
    }
  }
  std::string error;
  ASSERT_TRUE(write_image(dir.path + "/g.jpg", image, error)) << error;
  const rgb_image back = load_with_soil(dir.path + "/g.jpg");
  ASSERT_EQ(back.width, 32);
  ASSERT_EQ(back.height, 24);
  double total = 0;
  for (size_t k = 0; k < back.pixels.size(); ++k) {
    total += std::abs(int{back.pixels[k]} - int{image.pixels[k]});
  }
  EXPECT_LT(total / back.pixels.size(), 3.0);
}

TEST(ImageWrite, SoilStillLoadsTheBundledPhotos) {
  // The writer's stb copy is private; SOIL's own decoder must still be the one that runs.
  const rgb_image background = load_with_soil(std::string(MENDLARK_SAMPLES_DIR) + "/src.jpg");
  EXPECT_EQ(background.width, 1000);
  EXPECT_EQ(background.height, 872);
  const rgb_image object = load_with_soil(std::string(MENDLARK_SAMPLES_DIR) + "/tgt.jpg");
  EXPECT_EQ(object.width, 512);
  EXPECT_EQ(object.height, 512);
}

TEST(ImageWrite, FailuresLeaveExistingFilesAlone) {
  temp_dir dir;
  const rgb_image f = letter_f();
  const std::string existing = dir.path + "/keep.png";
  {
    std::ofstream out(existing);
    out << "previous content";
  }
  // The target is a directory: the rename fails after the whole file was written.
  const std::string blocked = dir.path + "/blocked.png";
  ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((blocked + "/inside").c_str(), 0755), 0);

  struct row {
    std::string path;
    rgb_image image;
  };
  const std::vector<row> table = {
      {blocked, f},
      {dir.path + "/missing-dir/out.png", f},
      {dir.path + "/keep.gif", f},
      {existing, rgb_image{}},
      {existing, rgb_image{6, 5, std::vector<unsigned char>(10)}},
      {dir.path + "/wide.jpg", rgb_image{70000, 1, std::vector<unsigned char>(70000 * 3)}},
  };
  for (const row& r : table) {
    std::string error;
    EXPECT_FALSE(write_image(r.path, r.image, error)) << r.path;
    EXPECT_FALSE(error.empty()) << r.path;
  }
  std::ifstream in(existing);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "previous content");
  EXPECT_EQ(dir.entries().size(), 2u) << "only keep.png and blocked.png remain";

  // A successful write replaces it.
  std::string error;
  ASSERT_TRUE(write_image(existing, f, error)) << error;
  EXPECT_EQ(load_with_soil(existing).pixels, f.pixels);
}

}  // namespace

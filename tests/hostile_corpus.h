// A corpus of awkward and hostile image files, made by the tests themselves.
//
// The readable files all show the same 6 x 5 picture, a red 'F' on blue, so a flip, transpose,
// channel swap or off-by-one shows at a glance; expected_rgb() gives it. Files in formats with
// loss or reduced colour carry a tolerance. The unreadable files (empty, text, truncated,
// absurd header) must be refused with a message. ImageMagick's convert (/usr/bin/convert,
// installed with the project's dependencies) encodes the formats that are hard to write by hand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace hostile {

constexpr int kWidth = 6;
constexpr int kHeight = 5;

struct sample {
  std::string name;
  std::string path;
  bool readable = false;
  int width = 0, height = 0;
  int tolerance = 0;  // per channel, against expected_rgb(); -1: content not compared
  bool grey = false;  // compared against the grey version of the picture
};

// 'F' in column 1 and rows 0..4, arms on rows 0 and 2: red (255, 0, 0) on blue (0, 0, 255).
inline bool is_f_pixel(int x, int y) {
  return (x == 1 && y <= 4) || (y == 0 && x >= 1 && x <= 4) || (y == 2 && x >= 1 && x <= 3);
}

inline std::vector<unsigned char> expected_rgb(bool grey) {
  std::vector<unsigned char> rgb;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool f = is_f_pixel(x, y);
      if (grey) {
        const unsigned char v = f ? 255 : 0;
        rgb.insert(rgb.end(), {v, v, v});
      } else {
        rgb.insert(rgb.end(), {static_cast<unsigned char>(f ? 255 : 0), 0,
                               static_cast<unsigned char>(f ? 0 : 255)});
      }
    }
  }
  return rgb;
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool convert(const std::string& arguments) {
  const std::string command = "/usr/bin/convert " + arguments + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

inline uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline std::string png_chunk(const std::string& type, const std::string& data) {
  return be32(uint32_t(data.size())) + type + data + be32(crc32(type + data));
}

// A well-formed PNG signature and header that claims 100,000 by 100,000 RGB pixels, followed
// by a tiny data chunk: a decoder that trusts the header would try to allocate 30 GB.
inline std::string huge_png_header() {
  const std::string ihdr = be32(100000) + be32(100000) + std::string("\x08\x02\x00\x00\x00", 5);
  const std::string idat("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9);  // zlib of one zero byte
  return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", idat) +
         png_chunk("IEND", "");
}

// Builds the corpus in `dir` (which must exist). Returns an empty list when convert failed.
inline std::vector<sample> build_corpus(const std::string& dir) {
  const std::string ppm = dir + "/f.ppm", pgm = dir + "/f_grey.pgm";
  {
    std::string header =
        "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    const std::vector<unsigned char> rgb = expected_rgb(false);
    write_bytes(ppm, header + std::string(rgb.begin(), rgb.end()));
    std::string grey = "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) grey += char(is_f_pixel(x, y) ? 255 : 0);
    write_bytes(pgm, grey);
  }
  auto at = [&](const std::string& name) { return dir + "/" + name; };
  struct recipe {
    const char* name;
    std::string options;  // convert's input and options
    const char* format;   // output format prefix, e.g. "PNG48:"
    int width, height;
    int tolerance;
    bool grey;
  };
  const std::string f = ppm + " ";
  const std::vector<recipe> recipes = {
      {"baseline.jpg", f + "-quality 100 -sampling-factor 1x1", "JPEG:", kWidth, kHeight, 60,
       false},
      {"progressive.jpg", f + "-quality 100 -sampling-factor 1x1 -interlace JPEG", "JPEG:", kWidth,
       kHeight, 60, false},
      {"plain.png", f + "-depth 8", "PNG24:", kWidth, kHeight, 0, false},
      {"deep16.png", f + "-depth 16", "PNG48:", kWidth, kHeight, 0, false},
      {"interlaced.png", f + "-depth 8 -interlace PNG", "PNG24:", kWidth, kHeight, 0, false},
      {"grey.png", pgm + " -depth 8", "PNG8:", kWidth, kHeight, 0, true},
      {"rgba.png", f + "-depth 8 -alpha set -channel A -evaluate set 50% +channel",
       "PNG32:", kWidth, kHeight, 0, false},
      {"picture.bmp", f, "BMP3:", kWidth, kHeight, 0, false},
      {"one.png", "-size 1x1 xc:red -depth 8", "PNG24:", 1, 1, -1, false},
      {"two.bmp", "-size 2x2 xc:lime", "BMP3:", 2, 2, -1, false},
  };
  std::vector<sample> corpus;
  for (const recipe& r : recipes) {
    const std::string path = at(r.name);
    if (!convert(r.options + " " + r.format + path)) return {};
    corpus.push_back(sample{r.name, path, true, r.width, r.height, r.tolerance, r.grey});
  }
  // TGA by hand: uncompressed true colour, BGR, with the top-left origin bit set, so the
  // orientation is not left to a writer's reading of the format.
  {
    std::string tga("\0\0\x02\0\0\0\0\0\0\0\0\0", 12);
    tga += {char(kWidth), 0, char(kHeight), 0, 24, 0x20};
    const std::vector<unsigned char> rgb = expected_rgb(false);
    for (size_t k = 0; k < rgb.size(); k += 3)
      tga += {char(rgb[k + 2]), char(rgb[k + 1]), char(rgb[k])};
    write_bytes(at("picture.tga"), tga);
    corpus.push_back(sample{"picture.tga", at("picture.tga"), true, kWidth, kHeight, 0, false});
  }
  const std::string jpeg = read_bytes(at("baseline.jpg"));
  const std::string png = read_bytes(at("plain.png"));
  write_bytes(at("empty.jpg"), "");
  write_bytes(at("text.jpg"), "This is not a picture.\n");
  write_bytes(at("truncated.jpg"), jpeg.substr(0, jpeg.size() / 3));
  write_bytes(at("truncated.png"), png.substr(0, png.size() / 2));
  write_bytes(at("huge_header.png"), huge_png_header());
  for (const char* name :
       {"empty.jpg", "text.jpg", "truncated.jpg", "truncated.png", "huge_header.png"}) {
    corpus.push_back(sample{name, at(name), false, 0, 0, -1, false});
  }
  return corpus;
}

}  // namespace hostile

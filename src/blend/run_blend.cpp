// The run of the batch command: read the inputs, build the selection with the same core code
// as the window, blend in memory, and only then write the files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "blend_command.h"
#include "image_io.h"
#include "outline_file.h"
#include "selection.h"

namespace {

// Larger than any outline a person or a tracing tool writes; keeps a wrong file from filling
// memory.
constexpr size_t max_outline_bytes = 64u << 20;

void say(const char* format, ...) {
  std::fprintf(stderr, "%s: ", blend_program);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool read_text_file(const std::string& path, std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    if (text.size() + static_cast<size_t>(got) > max_outline_bytes) {
      error = "the file is larger than an outline can be (64 MiB)";
      ::close(fd);
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

// Checks that a file can be created where `path` points, before the long part of the run.
bool output_place_usable(const std::string& path, std::string& error) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    error = "it is a directory";
    return false;
  }
  const size_t slash = path.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (::access(directory.c_str(), W_OK | X_OK) != 0) {
    error = "cannot create files in '" + directory + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

const char* mode_name(blend_mode mode) {
  switch (mode) {
    case blend_mode::normal:
      return "normal";
    case blend_mode::mixed:
      return "mixed";
    case blend_mode::paste:
      return "paste";
  }
  return "?";
}

}  // namespace

int run_blend(const blend_params& params) {
  // The outline is read and checked first: a malformed file is a usage error, found before any
  // image is decoded.
  std::vector<double> outline_x, outline_y;
  if (!params.outline.empty()) {
    std::string text, error;
    if (!read_text_file(params.outline, text, error)) {
      say("cannot read outline '%s': %s", params.outline.c_str(), error.c_str());
      return 1;
    }
    if (!parse_outline(text, outline_x, outline_y, error)) {
      say("outline '%s': %s", params.outline.c_str(), error.c_str());
      std::fprintf(stderr, "Try '%s -h' for usage.\n", blend_program);
      return 2;
    }
  }
  std::string error;
  if (!output_place_usable(params.output, error)) {
    say("cannot write '%s': %s", params.output.c_str(), error.c_str());
    return 1;
  }
  if (!params.save_selection.empty() && !output_place_usable(params.save_selection, error)) {
    say("cannot write selection '%s': %s", params.save_selection.c_str(), error.c_str());
    return 1;
  }

  auto start = std::chrono::steady_clock::now();
  rgb_image background, object;
  if (!load_image(params.background, background, error)) {
    say("cannot read background image '%s': %s", params.background.c_str(), error.c_str());
    return 1;
  }
  if (!load_image(params.object, object, error)) {
    say("cannot read object image '%s': %s", params.object.c_str(), error.c_str());
    return 1;
  }
  if (params.verbose) {
    say("read background %d x %d and object %d x %d in %.3f s", background.width, background.height,
        object.width, object.height, seconds_since(start));
  }

  start = std::chrono::steady_clock::now();
  std::vector<int> inner_px, inner_py, selection_box;
  if (!params.outline.empty()) {
    std::vector<int> pixel_x, pixel_y, contour_x, contour_y;
    outline_to_pixels(outline_x, outline_y, object.width, object.height, pixel_x, pixel_y);
    const std::vector<int> mask =
        build_selection(inner_px, inner_py, contour_x, contour_y, selection_box, pixel_x, pixel_y,
                        object.width, object.height);
    if (mask.empty()) {
      say("outline '%s' does not close into a contour on the %d x %d object; check its points",
          params.outline.c_str(), object.width, object.height);
      return 1;
    }
    if (inner_px.empty()) {
      say("outline '%s' selects no pixel of the object; it must enclose at least one pixel",
          params.outline.c_str());
      return 1;
    }
  } else {
    rgb_image mask;
    if (!load_image(params.mask, mask, error)) {
      say("cannot read mask '%s': %s", params.mask.c_str(), error.c_str());
      return 1;
    }
    if (!selection_from_mask(mask, object.width, object.height, inner_px, inner_py, selection_box,
                             error)) {
      say("mask '%s': %s", params.mask.c_str(), error.c_str());
      return 1;
    }
  }
  const int from[2] = {selection_box[4], selection_box[5]};
  int position[2] = {background.width / 2, background.height / 2};
  if (params.has_position) {
    position[0] = params.position[0];
    position[1] = params.position[1];
  }
  if (params.verbose) {
    say("selection of %zu pixels, centre %d,%d placed at %d,%d, in %.3f s", inner_px.size(),
        from[0], from[1], position[0], position[1], seconds_since(start));
  }

  blend_report report;
  if (!blend_selection(background.pixels.data(), background.width, background.height,
                       object.pixels.data(), object.width, object.height, inner_px, inner_py, from,
                       position, params.options, &report)) {
    say("blend failed: %s (selection centre %d,%d placed at %d,%d on the %d x %d background)",
        report.error.c_str(), from[0], from[1], position[0], position[1], background.width,
        background.height);
    return 1;
  }
  if (params.verbose) {
    if (params.options.mode == blend_mode::paste) {
      say("mode paste: copied in %.3f s", report.write_back_seconds);
    } else {
      say("mode %s: %d unknowns", mode_name(params.options.mode), report.unknowns);
      say("guidance %.3f s", report.guidance_seconds);
      if (report.used_multigrid) {
        say("solve (multigrid, %d iterations) %.3f s", report.iterations, report.solve_seconds);
      } else {
        say("solve (sparse LU) %.3f s", report.solve_seconds);
      }
      say("write-back %.3f s", report.write_back_seconds);
    }
  }

  start = std::chrono::steady_clock::now();
  if (!write_image(params.output, background, error)) {
    say("cannot write '%s': %s", params.output.c_str(), error.c_str());
    return 1;
  }
  if (!params.save_selection.empty()) {
    const rgb_image mask = selection_to_mask(inner_px, inner_py, object.width, object.height);
    if (!write_image(params.save_selection, mask, error)) {
      say("wrote '%s' but cannot write selection '%s': %s", params.output.c_str(),
          params.save_selection.c_str(), error.c_str());
      return 1;
    }
  }
  if (params.verbose) say("wrote '%s' in %.3f s", params.output.c_str(), seconds_since(start));
  return 0;
}

// Preview paste, byte/float conversion, guidance field and the blend over explicit arguments.
#include "compositing.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "check.h"
#include "multigrid.h"
#include "solver.h"

namespace {

// 1/255 rounded once to single precision; the same constant scales bytes and guidance.
constexpr float K = 1.0f / 255.0f;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Shifts are taken in 64 bits: a position far outside the background must not overflow.
long long shifted(int coordinate, const int from, const int to) {
  return static_cast<long long>(coordinate) + (static_cast<long long>(to) - from);
}

int saturate_to_int(long long v) {
  if (v < INT_MIN) return INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  return static_cast<int>(v);
}

// The object's difference towards one neighbour, or the background's when that is steeper
// (mixed gradients). Ties keep the object's.
int mixed_difference(int object_difference, int background_difference) {
  return std::abs(background_difference) > std::abs(object_difference) ? background_difference
                                                                       : object_difference;
}

// A rectangle of background pixels: left column, top row, width and height (0 when empty).
struct blend_region {
  int x = 0, y = 0, width = 0, height = 0;
};

// The bounding box of the destinations that become unknowns (those in columns 1..width-2 and
// rows 1..height-2 of the background), grown by one pixel on every side; empty when there are
// none. The grown box always lies inside the background.
blend_region unknowns_region(int background_width, int background_height,
                             const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                             const int from[2], const int paste_position[2]) {
  long long x0 = LLONG_MAX, y0 = LLONG_MAX, x1 = LLONG_MIN, y1 = LLONG_MIN;
  for (size_t i = 0; i < inner_px.size(); ++i) {
    const long long X = shifted(inner_px[i], from[0], paste_position[0]);
    const long long Y = shifted(inner_py[i], from[1], paste_position[1]);
    if (X < 1 || X > background_width - 2 || Y < 1 || Y > background_height - 2) continue;
    x0 = std::min(x0, X);
    y0 = std::min(y0, Y);
    x1 = std::max(x1, X);
    y1 = std::max(y1, Y);
  }
  if (x0 > x1) return {};
  return {static_cast<int>(x0 - 1), static_cast<int>(y0 - 1), static_cast<int>(x1 - x0 + 3),
          static_cast<int>(y1 - y0 + 3)};
}

// Copies a width x height block of RGB pixels between two images with their own row widths.
void copy_rows(unsigned char* to, int to_width, int to_x, int to_y, const unsigned char* from,
               int from_width, int from_x, int from_y, int width, int height) {
  for (int row = 0; row < height; ++row) {
    std::memcpy(to + (static_cast<size_t>(to_y + row) * to_width + to_x) * 3,
                from + (static_cast<size_t>(from_y + row) * from_width + from_x) * 3,
                static_cast<size_t>(width) * 3);
  }
}

// The blend's large buffers are made and then touched for the first time straight away, and
// on some machines a page fault costs as much as the work done on its 4 KB. Reserving a buffer
// (which leaves its pages untouched) and offering its 2 MB-aligned part for huge pages before
// it is filled saves most of those faults. Only a hint: where huge pages are not available,
// nothing changes.
template <class T>
void reserve_untouched(std::vector<T>& buffer, size_t count) {
  buffer.reserve(count);
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t huge_page = uintptr_t{2} << 20;
  const uintptr_t start = reinterpret_cast<uintptr_t>(buffer.data());
  const uintptr_t begin = (start + huge_page - 1) & ~(huge_page - 1);
  const uintptr_t end = (start + count * sizeof(T)) & ~(huge_page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

bool parse_solver_choice(const std::string& text, solver_choice& solver) {
  if (text == "auto") {
    solver = solver_choice::automatic;
  } else if (text == "lu") {
    solver = solver_choice::lu;
  } else if (text == "multigrid") {
    solver = solver_choice::multigrid;
  } else {
    return false;
  }
  return true;
}

void paste_pixels(unsigned char* destination, const unsigned char* source, int destination_width,
                  int destination_height, int source_width, const std::vector<int>& inner_px,
                  const std::vector<int>& inner_py, const int from[2], const int to[2]) {
  ML_CHECK(inner_px.size() == inner_py.size());
  for (size_t i = 0; i < inner_px.size(); ++i) {
    const long long dx = shifted(inner_px[i], from[0], to[0]);
    const long long dy = shifted(inner_py[i], from[1], to[1]);
    if (dx < 0 || dx >= destination_width || dy < 0 || dy >= destination_height) continue;
    const size_t s = (static_cast<size_t>(inner_py[i]) * source_width + inner_px[i]) * 3;
    const size_t d = (static_cast<size_t>(dy) * destination_width + dx) * 3;
    destination[d] = source[s];
    destination[d + 1] = source[s + 1];
    destination[d + 2] = source[s + 2];
  }
}

void bytes_to_floats(std::vector<float>& float_image, const unsigned char* bytes, int width,
                     int height, int channels) {
  const size_t count = static_cast<size_t>(width) * height * channels;
  for (size_t k = 0; k < count; ++k) float_image[k] = static_cast<float>(bytes[k]) * K;
}

void floats_to_bytes(unsigned char* bytes, const std::vector<float>& float_image, int width,
                     int height, int channels) {
  const size_t count = static_cast<size_t>(width) * height * channels;
  for (size_t k = 0; k < count; ++k) {
    const double v = 255.0 * static_cast<double>(float_image[k]);
    // Clamped before the conversion: an overshoot must saturate, not wrap around the 8 bits
    // (and a double outside the int range must never be converted). NaN gives 0.
    if (v >= 255.0) {
      bytes[k] = 255;
    } else if (v > 0.0) {
      bytes[k] = static_cast<unsigned char>(static_cast<int>(v));
    } else {
      bytes[k] = 0;
    }
  }
}

bool compute_guidance_field(std::vector<float>& blended_image, std::vector<int>& tgt_inner_px,
                            std::vector<int>& tgt_inner_py, const unsigned char* background,
                            const unsigned char* object, int background_width,
                            int background_height, int object_width, int object_height,
                            const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                            const int from[2], const int paste_position[2],
                            const blend_options& options, blend_report* report) {
  ML_CHECK(inner_px.size() == inner_py.size());
  blend_report local_report;
  if (report == nullptr) report = &local_report;
  const auto guidance_start = std::chrono::steady_clock::now();

  const size_t float_count = static_cast<size_t>(background_width) * background_height * 3;
  if (blended_image.size() != float_count) blended_image.resize(float_count);
  bytes_to_floats(blended_image, background, background_width, background_height, 3);
  tgt_inner_px.resize(inner_px.size());
  tgt_inner_py.resize(inner_py.size());

  // The destinations that become unknowns: those whose four neighbours are background pixels.
  // The rest keep the background's value and take no part in the system. Usually every
  // destination is one, and the destination lists serve as they are; separate lists of the
  // unknowns are made only from the first destination left out.
  bool all_unknowns = true;
  std::vector<int> unknown_x;
  std::vector<int> unknown_y;
  const int ow = object_width;
  const int bw = background_width;
  for (size_t i = 0; i < inner_px.size(); ++i) {
    const int x = inner_px[i];
    const int y = inner_py[i];
    // The Laplacian below reads the four neighbours without a bounds test.
    const bool source_inside_object_ring =
        x >= 1 && x <= object_width - 2 && y >= 1 && y <= object_height - 2;
    ML_CHECK(source_inside_object_ring);
    const long long X = shifted(x, from[0], paste_position[0]);
    const long long Y = shifted(y, from[1], paste_position[1]);
    tgt_inner_px[i] = saturate_to_int(X);
    tgt_inner_py[i] = saturate_to_int(Y);
    if (X < 1 || X > background_width - 2 || Y < 1 || Y > background_height - 2) {
      if (all_unknowns) {
        all_unknowns = false;
        unknown_x.assign(tgt_inner_px.begin(), tgt_inner_px.begin() + i);
        unknown_y.assign(tgt_inner_py.begin(), tgt_inner_py.begin() + i);
      }
      continue;
    }
    if (!all_unknowns) {
      unknown_x.push_back(static_cast<int>(X));
      unknown_y.push_back(static_cast<int>(Y));
    }

    const size_t s = static_cast<size_t>(y) * ow + x;
    const size_t d = static_cast<size_t>(Y) * bw + X;
    // Neighbours in the order centre-minus previous row, next column, next row, previous column.
    const size_t object_neighbours[4] = {s - ow, s + 1, s + ow, s - 1};
    const size_t background_neighbours[4] = {d - bw, d + 1, d + bw, d - 1};
    for (int c = 0; c < 3; ++c) {
      const int o = object[3 * s + c];
      int sum = 0;  // an integer in -1020..1020, exact; the one rounding is the product with K
      for (int n = 0; n < 4; ++n) {
        const int object_difference = o - object[3 * object_neighbours[n] + c];
        if (options.mode == blend_mode::mixed) {
          const int background_difference =
              background[3 * d + c] - background[3 * background_neighbours[n] + c];
          sum += mixed_difference(object_difference, background_difference);
        } else {
          sum += object_difference;
        }
      }
      blended_image[3 * d + c] = K * static_cast<float>(sum);
    }
  }
  report->guidance_seconds = seconds_since(guidance_start);
  if (inner_px.empty()) {
    report->error = "the selection is empty";
    return false;
  }
  const std::vector<int>& solve_x = all_unknowns ? tgt_inner_px : unknown_x;
  const std::vector<int>& solve_y = all_unknowns ? tgt_inner_py : unknown_y;
  if (solve_x.empty()) {
    report->error = "the selection lands outside the background";
    return false;
  }
  report->unknowns = static_cast<int>(solve_x.size());

  const auto solve_start = std::chrono::steady_clock::now();
  bool solved = false;
  if (options.solver == solver_choice::multigrid ||
      (options.solver == solver_choice::automatic && report->unknowns > auto_lu_max_unknowns)) {
    multigrid_stats stats;
    solved = solve_poisson_multigrid(blended_image, background_width, background_height, solve_x,
                                     solve_y, &stats);
    report->used_multigrid = true;
    report->iterations = stats.iterations;
    if (!solved) report->error = "the multigrid solver did not converge";
  } else {
    solved = solve_poisson(blended_image, background_width, background_height, solve_x, solve_y, 3);
    if (!solved) report->error = "the sparse solver could not solve the system";
  }
  report->solve_seconds = seconds_since(solve_start);
  if (solved) report->error.clear();
  return solved;
}

bool blend_selection(unsigned char* background, int background_width, int background_height,
                     const unsigned char* object, int object_width, int object_height,
                     const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                     const int from[2], const int paste_position[2], const blend_options& options,
                     blend_report* report) {
  ML_CHECK(inner_px.size() == inner_py.size());
  blend_report local_report;
  if (report == nullptr) report = &local_report;
  *report = blend_report{};

  if (options.mode == blend_mode::paste) {
    size_t landed = 0;
    for (size_t i = 0; i < inner_px.size(); ++i) {
      const long long X = shifted(inner_px[i], from[0], paste_position[0]);
      const long long Y = shifted(inner_py[i], from[1], paste_position[1]);
      if (X >= 0 && X < background_width && Y >= 0 && Y < background_height) ++landed;
    }
    if (landed == 0) {
      report->error = inner_px.empty() ? "the selection is empty"
                                       : "the selection lands outside the background";
      return false;
    }
    const auto start = std::chrono::steady_clock::now();
    paste_pixels(background, object, background_width, background_height, object_width, inner_px,
                 inner_py, from, paste_position);
    report->write_back_seconds = seconds_since(start);
    return true;
  }

  try {
    // Only the destinations that become unknowns can change, and each of them reads its four
    // neighbours, so the blend runs on the unknowns' bounding box plus a one-pixel ring, cut out
    // of the background. The system, its numbering and every byte of the result are those of
    // the whole background; what is saved is converting and writing back all of it.
    const blend_region region = unknowns_region(background_width, background_height, inner_px,
                                                inner_py, from, paste_position);
    if (region.width == 0) {
      report->error = inner_px.empty() ? "the selection is empty"
                                       : "the selection lands outside the background";
      return false;
    }
    const auto cut_start = std::chrono::steady_clock::now();
    std::vector<unsigned char> cut;
    reserve_untouched(cut, static_cast<size_t>(region.width) * region.height * 3);
    cut.resize(static_cast<size_t>(region.width) * region.height * 3);
    copy_rows(cut.data(), region.width, 0, 0, background, background_width, region.x, region.y,
              region.width, region.height);
    const int cut_position[2] = {
        static_cast<int>(paste_position[0] - static_cast<long long>(region.x)),
        static_cast<int>(paste_position[1] - static_cast<long long>(region.y))};
    const double cut_seconds = seconds_since(cut_start);

    std::vector<float> blended_image;
    std::vector<int> tgt_inner_px;
    std::vector<int> tgt_inner_py;
    reserve_untouched(blended_image, static_cast<size_t>(region.width) * region.height * 3);
    reserve_untouched(tgt_inner_px, inner_px.size());
    reserve_untouched(tgt_inner_py, inner_py.size());
    if (!compute_guidance_field(blended_image, tgt_inner_px, tgt_inner_py, cut.data(), object,
                                region.width, region.height, object_width, object_height, inner_px,
                                inner_py, from, cut_position, options, report)) {
      return false;
    }
    report->guidance_seconds += cut_seconds;
    const auto start = std::chrono::steady_clock::now();
    floats_to_bytes(cut.data(), blended_image, region.width, region.height, 3);
    copy_rows(background, background_width, region.x, region.y, cut.data(), region.width, 0, 0,
              region.width, region.height);
    report->write_back_seconds = seconds_since(start);
    return true;
  } catch (const std::bad_alloc&) {
    report->error = "the blend needed more memory than is available";
    return false;
  }
}

// Times the blend (guidance, solve, write-back) of disc- and ring-shaped selections on
// photo-sized backgrounds with both solvers, and measures the memory each blend adds.
//
// Every run happens in a forked child, so its peak resident memory is its own: the child resets
// the peak to its current size (/proc/self/clear_refs), blends, and reports VmHWM minus that
// baseline. The float image the blend allocates (12 bytes per pixel of the unknowns' bounding
// box plus a one-pixel ring) is subtracted to give the memory the solve itself needs. Children
// return their figures and the blended bytes through shared memory; the parent compares the two
// solvers' bytes.
//
// Usage: bench_blend [--quick] [--size UNKNOWNS]
//   --quick: one run per case and no 4-million case; --size: only that case (10000, 100000,
//   1000000 or 4000000).
#include <malloc.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "compositing.h"
#include "multigrid.h"
#include "solver.h"

namespace {

struct synthetic_image {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

// Smooth shading with a fine deterministic texture, so guidance and boundary are non-trivial.
synthetic_image make_image(int width, int height, double fx, double fy, unsigned salt) {
  synthetic_image image{width, height, {}};
  image.pixels.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned h = (x * 73856093u) ^ (y * 19349663u) ^ salt;
      h ^= h >> 13;
      h *= 0x5bd1e995u;
      h ^= h >> 15;
      for (int c = 0; c < 3; ++c) {
        const double v = 128 + 70 * std::sin(x / fx + c) * std::cos(y / fy - c) +
                         static_cast<int>((h >> (8 * c)) & 31) - 16;
        image.pixels[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return image;
}

struct selection {
  std::vector<int> px, py;
  int from[2] = {0, 0};
  long long box_pixels = 0;  // bounding box plus a one-pixel ring: the blend's float image
};

// A disc (inner radius 0) or a ring of the given radii centred in an object image, listed row
// by row from the top as the selection produces them.
selection make_selection(int object_size, double outer, double inner) {
  selection s;
  const int c = object_size / 2;
  for (int y = 1; y < object_size - 1; ++y) {
    for (int x = 1; x < object_size - 1; ++x) {
      const double d2 = double(x - c) * (x - c) + double(y - c) * (y - c);
      if (d2 <= outer * outer && d2 >= inner * inner) {
        s.px.push_back(x);
        s.py.push_back(y);
      }
    }
  }
  s.from[0] = c;
  s.from[1] = c;
  if (!s.px.empty()) {
    const auto [minX, maxX] = std::minmax_element(s.px.begin(), s.px.end());
    const auto [minY, maxY] = std::minmax_element(s.py.begin(), s.py.end());
    s.box_pixels = static_cast<long long>(*maxX - *minX + 3) * (*maxY - *minY + 3);
  }
  return s;
}

struct run_result {
  bool ok = false;
  int unknowns = 0, iterations = 0;
  double guidance = 0, solve = 0, write_back = 0;
  long long extra_kb = 0;  // peak resident memory added by the blend
  char error[128] = {};
};

long long status_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, n, key) == 0) return std::atoll(line.c_str() + n + 1);
  }
  return -1;
}

// Runs one blend in a child; `out_bytes` (shared, background-sized) receives the result.
// `warm`: the allocator keeps freed memory and an untimed blend runs first, so the timed one
// reuses pages instead of faulting in fresh ones, as a repeated blend in a long-lived window
// can. Fresh pages are expensive on virtual machines.
run_result run_child(const synthetic_image& background, const synthetic_image& object,
                     const selection& sel, solver_choice solver, bool warm,
                     unsigned char* out_bytes) {
  auto* shared = static_cast<run_result*>(
      mmap(nullptr, sizeof(run_result), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  *shared = run_result{};
  const pid_t pid = fork();
  if (pid == 0) {
    const int paste[2] = {background.width / 2, background.height / 2};
    blend_options options;
    options.solver = solver;
    blend_report report;
    if (warm) {
      mallopt(M_MMAP_MAX, 0);
      mallopt(M_TRIM_THRESHOLD, INT_MAX);
      std::vector<unsigned char> scratch = background.pixels;
      blend_selection(scratch.data(), background.width, background.height, object.pixels.data(),
                      object.width, object.height, sel.px, sel.py, sel.from, paste, options,
                      &report);
    }
    std::vector<unsigned char> bytes = background.pixels;  // touched before the baseline
    std::ofstream("/proc/self/clear_refs") << "5";
    const long long base = status_kb("VmRSS:");
    run_result r;
    r.ok = blend_selection(bytes.data(), background.width, background.height, object.pixels.data(),
                           object.width, object.height, sel.px, sel.py, sel.from, paste, options,
                           &report);
    r.extra_kb = status_kb("VmHWM:") - base;
    r.unknowns = report.unknowns;
    r.iterations = report.iterations;
    r.guidance = report.guidance_seconds;
    r.solve = report.solve_seconds;
    r.write_back = report.write_back_seconds;
    std::snprintf(r.error, sizeof r.error, "%s", report.error.c_str());
    std::memcpy(out_bytes, bytes.data(), bytes.size());
    *shared = r;
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run_result r = *shared;
  munmap(shared, sizeof(run_result));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::snprintf(r.error, sizeof r.error, "child died (status %d)", status);
    r.ok = false;
  }
  return r;
}

double total(const run_result& r) {
  return r.guidance + r.solve + r.write_back;
}

std::vector<run_result> by_total(std::vector<run_result> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const run_result& a, const run_result& b) { return total(a) < total(b); });
  return runs;
}

void print_row(const char* shape, const synthetic_image& bg, const selection& sel,
               const char* solver, const std::vector<run_result>& cold,
               const std::vector<run_result>& warm, const char* difference) {
  const std::vector<run_result> sorted = by_total(cold), warmSorted = by_total(warm);
  const run_result& m = sorted[sorted.size() / 2];
  const run_result& w = warmSorted[warmSorted.size() / 2];
  if (!m.ok) {
    std::printf("| %-5s | %5dx%-5d | %9d | %-9s | failed: %s\n", shape, bg.width, bg.height,
                m.unknowns, solver, m.error);
    return;
  }
  // Memory beyond the float image, which the blend always allocates.
  const double float_image_kb = 12.0 * sel.box_pixels / 1024.0;
  const double solve_kb = m.extra_kb - float_image_kb;
  std::printf(
      "| %-5s | %5dx%-5d | %9d | %-9s | %8.3f | %8.3f | %8.3f | %6.3f (%5.3f-%5.3f) | %6.3f "
      "(%5.3f) | %8.1f | %7.1f | %5d | %4s |\n",
      shape, bg.width, bg.height, m.unknowns, solver, m.guidance, m.solve, m.write_back, total(m),
      total(sorted.front()), total(sorted.back()), total(w), w.solve, solve_kb / 1024.0,
      solve_kb * 1024.0 / m.unknowns, m.iterations, difference);
}

// Whole-blend times of both solvers on discs around the crossover, in this process (memory
// warm). The blend works on the unknowns' bounding box, so the background's size does not
// enter.
void print_crossover(int repeats, const synthetic_image& background) {
  std::printf("\nBlend around the crossover, disc on %dx%d (median of %d, seconds)\n\n",
              background.width, background.height, repeats);
  std::printf("| unknowns | lu blend | lu solve | multigrid blend | multigrid solve | iters |\n");
  std::printf("|----------|----------|----------|-----------------|-----------------|-------|\n");
  const int paste[2] = {background.width / 2, background.height / 2};
  for (long n : {10L, 30L, 100L, 300L, 500L, 700L, 1000L, 3000L, 10000L, 30000L, 100000L}) {
    const double radius = std::sqrt(n / M_PI);
    const int objectSize = static_cast<int>(2 * radius) + 6;
    const synthetic_image object = make_image(objectSize, objectSize, 23.0, 31.0, 2u);
    const selection sel = make_selection(objectSize, radius, 0);
    std::vector<double> times[2], solves[2];
    int unknowns = 0, iterations = 0;
    for (int k = 0; k < repeats; ++k) {
      for (int s = 0; s < 2; ++s) {
        std::vector<unsigned char> bytes = background.pixels;
        blend_options options;
        options.solver = s ? solver_choice::multigrid : solver_choice::lu;
        blend_report report;
        blend_selection(bytes.data(), background.width, background.height, object.pixels.data(),
                        object.width, object.height, sel.px, sel.py, sel.from, paste, options,
                        &report);
        times[s].push_back(report.guidance_seconds + report.solve_seconds +
                           report.write_back_seconds);
        solves[s].push_back(report.solve_seconds);
        unknowns = report.unknowns;
        if (s) iterations = report.iterations;
      }
    }
    for (int s = 0; s < 2; ++s) {
      std::sort(times[s].begin(), times[s].end());
      std::sort(solves[s].begin(), solves[s].end());
    }
    std::printf("| %8d | %8.4f | %8.4f | %15.4f | %15.4f | %5d |\n", unknowns,
                times[0][repeats / 2], solves[0][repeats / 2], times[1][repeats / 2],
                solves[1][repeats / 2], iterations);
    std::fflush(stdout);
  }
}

int largest_difference(const unsigned char* a, const unsigned char* b, size_t n) {
  int worst = 0;
  for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  long only = 0;  // --size N: only the case of about N unknowns
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[a], "--size") == 0 && a + 1 < argc) {
      only = std::atol(argv[++a]);
    } else {
      std::fprintf(stderr, "usage: bench_blend [--quick] [--size UNKNOWNS]\n");
      return 2;
    }
  }
  const int repeats = quick ? 1 : 3;
  const long lu_limit = 300000;  // the direct solve's time and memory grow too fast beyond

  struct size_case {
    long unknowns;
    int bg_width, bg_height;
  };
  std::vector<size_case> sizes = {
      {10000, 4000, 3000}, {100000, 4000, 3000}, {1000000, 4000, 3000}, {4000000, 8000, 6000}};
  if (quick && only == 0) sizes.pop_back();
  if (only > 0) {
    sizes.erase(std::remove_if(sizes.begin(), sizes.end(),
                               [&](const size_case& c) { return c.unknowns != only; }),
                sizes.end());
  }

  std::printf(
      "Blend of disc and ring selections, times in seconds, median of %d runs.\n"
      "Stages and total: first blend of a fresh process (range of the total in brackets).\n"
      "warm: a repeated blend whose memory is reused (its solve in brackets).\n"
      "extra MB, B/unkn.: peak memory the blend adds beyond its float image (12 bytes per pixel\n"
      "of the unknowns' bounding box plus a one-pixel ring).\n"
      "diff: largest byte difference between the two solvers' results.\n\n",
      repeats);
  std::printf(
      "| shape | background  | unknowns  | solver    | guidance | solve    | write    | "
      "total (min-max)      | warm (solve)   | extra MB | B/unkn. | iters | diff |\n");
  std::printf(
      "|-------|-------------|-----------|-----------|----------|----------|----------|"
      "----------------------|----------------|----------|---------|-------|------|\n");
  std::fflush(stdout);

  synthetic_image background;
  for (const size_case& sc : sizes) {
    if (background.width != sc.bg_width) {
      background = make_image(sc.bg_width, sc.bg_height, 150.0, 110.0, 1u);
    }
    const size_t bytes = background.pixels.size();
    auto* mgBytes = static_cast<unsigned char*>(
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    auto* luBytes = static_cast<unsigned char*>(
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    for (int ring = 0; ring < 2; ++ring) {
      // A ring's inner radius is half its outer one: area = 3/4 pi R^2.
      const double outer = std::sqrt(sc.unknowns / (M_PI * (ring ? 0.75 : 1.0)));
      const int objectSize = static_cast<int>(2 * outer) + 6;
      const synthetic_image object = make_image(objectSize, objectSize, 23.0, 31.0, 2u);
      const selection sel = make_selection(objectSize, outer, ring ? outer / 2 : 0);
      const char* shape = ring ? "ring" : "disc";

      std::vector<run_result> mg, mgWarm;
      for (int k = 0; k < repeats; ++k) {
        mg.push_back(run_child(background, object, sel, solver_choice::multigrid, false, mgBytes));
        mgWarm.push_back(
            run_child(background, object, sel, solver_choice::multigrid, true, mgBytes));
      }
      std::string difference = "-";
      std::vector<run_result> lu, luWarm;
      if (static_cast<long>(sel.px.size()) <= lu_limit) {
        for (int k = 0; k < repeats; ++k) {
          lu.push_back(run_child(background, object, sel, solver_choice::lu, false, luBytes));
          luWarm.push_back(run_child(background, object, sel, solver_choice::lu, true, luBytes));
        }
        if (mgWarm.back().ok && luWarm.back().ok) {
          difference = std::to_string(largest_difference(mgBytes, luBytes, bytes));
        }
      }
      print_row(shape, background, sel, "multigrid", mg, mgWarm, difference.c_str());
      if (!lu.empty()) print_row(shape, background, sel, "lu", lu, luWarm, "");
      std::fflush(stdout);
    }
    munmap(mgBytes, bytes);
    munmap(luBytes, bytes);
  }
  print_crossover(quick ? 1 : 5, make_image(4000, 3000, 150.0, 110.0, 3u));
  std::printf("\nautomatic choice: direct solve up to %d unknowns, multigrid above\n",
              auto_lu_max_unknowns);
  return 0;
}

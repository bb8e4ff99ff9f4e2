// Both Poisson solvers against an independent dense solve, and against each other in bytes.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "compositing.h"
#include "multigrid.h"
#include "multigrid_levels.h"
#include "solver.h"

namespace {

struct scene {
  int width = 0, height = 0;
  std::vector<float> image;  // guidance at destinations, background elsewhere
  std::vector<int> px, py;
};

// Destinations from a picture: '#' is an unknown. The picture is the whole image, so its
// first and last rows and columns must stay '.'.
scene scene_from_picture(const std::vector<std::string>& rows, unsigned seed) {
  scene s;
  s.height = static_cast<int>(rows.size());
  s.width = static_cast<int>(rows[0].size());
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> background(0.0f, 1.0f), guidance(-0.5f, 0.5f);
  s.image.resize(static_cast<size_t>(s.width) * s.height * 3);
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const bool unknown = rows[y][x] == '#';
      for (int c = 0; c < 3; ++c) {
        s.image[(static_cast<size_t>(y) * s.width + x) * 3 + c] =
            unknown ? guidance(rng) : background(rng);
      }
      if (unknown) {
        s.px.push_back(x);
        s.py.push_back(y);
      }
    }
  }
  return s;
}

// A w x h picture with '#' where keep(x, y) holds, away from the image border.
template <class F>
std::vector<std::string> picture(int w, int h, F keep) {
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      if (keep(x, y)) rows[y][x] = '#';
    }
  }
  return rows;
}

// The system written out again from its definition, solved densely in double:
// 4 f_p - sum_{q unknown} f_q = g_p + sum_{q known} b_q.
Eigen::MatrixXd dense_solution(const scene& s) {
  const int n = static_cast<int>(s.px.size());
  std::vector<int> index(static_cast<size_t>(s.width) * s.height, -1);
  for (int i = 0; i < n; ++i) index[s.py[i] * s.width + s.px[i]] = i;
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n), b(n, 3);
  for (int i = 0; i < n; ++i) {
    const int p = s.py[i] * s.width + s.px[i];
    A(i, i) = 4;
    for (int c = 0; c < 3; ++c) b(i, c) = s.image[3 * p + c];
    for (int q : {p - s.width, p + s.width, p + 1, p - 1}) {
      if (index[q] >= 0) {
        A(i, index[q]) = -1;
      } else {
        for (int c = 0; c < 3; ++c) b(i, c) += s.image[3 * q + c];
      }
    }
  }
  return A.partialPivLu().solve(b);
}

bool is_destination(const scene& s, size_t pixel) {
  for (size_t i = 0; i < s.px.size(); ++i) {
    if (static_cast<size_t>(s.py[i]) * s.width + s.px[i] == pixel) return true;
  }
  return false;
}

}  // namespace

TEST(Multigrid, BothSolversMatchADenseSolveOnAwkwardMasks) {
  struct mask_case {
    const char* name;
    std::vector<std::string> rows;
  };
  std::mt19937 rng(7);
  std::bernoulli_distribution coin(0.7);
  const std::vector<mask_case> cases = {
      {"one pixel", picture(5, 4, [](int x, int y) { return x == 2 && y == 1; })},
      {"whole interior up to the ring", picture(23, 17, [](int, int) { return true; })},
      {"disc with a hole", picture(31, 27,
                                   [](int x, int y) {
                                     const int d = (x - 15) * (x - 15) + (y - 13) * (y - 13);
                                     return d <= 144 && d > 16;
                                   })},
      {"separate pieces", picture(40, 20,
                                  [](int x, int y) {
                                    return (x >= 2 && x <= 9 && y >= 3 && y <= 15) ||
                                           (x >= 14 && x <= 30 && y >= 1 && y <= 6) ||
                                           (x - 30) * (x - 30) + (y - 13) * (y - 13) <= 20;
                                  })},
      {"one-pixel strips", picture(33, 21,
                                   [](int x, int y) {
                                     return y == 3 || x == 20 || (y > 6 && x == y + 5) ||
                                            (y == 16 && x < 12);
                                   })},
      {"random speckle", picture(26, 19, [&](int, int) { return coin(rng); })},
      {"comb",
       picture(30, 24,
               [](int x, int y) { return (y >= 18 && y <= 21) || (x % 3 == 1 && y >= 2); })},
  };
  for (const mask_case& mc : cases) {
    SCOPED_TRACE(mc.name);
    const scene s = scene_from_picture(mc.rows, 11);
    ASSERT_FALSE(s.px.empty());
    const Eigen::MatrixXd expected = dense_solution(s);

    // The unknowns' numbering is the caller's: the multigrid solve must not depend on it.
    scene shuffled = s;
    std::vector<size_t> order(s.px.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t i = 0; i < order.size(); ++i) {
      shuffled.px[i] = s.px[order[i]];
      shuffled.py[i] = s.py[order[i]];
    }

    std::vector<float> mg = shuffled.image;
    multigrid_stats stats;
    ASSERT_TRUE(solve_poisson_multigrid(mg, s.width, s.height, shuffled.px, shuffled.py, &stats));
    std::vector<float> lu = s.image;
    ASSERT_TRUE(solve_poisson(lu, s.width, s.height, s.px, s.py, 3));

    double mgError = 0, luError = 0;
    for (size_t i = 0; i < s.px.size(); ++i) {
      const size_t p = static_cast<size_t>(s.py[i]) * s.width + s.px[i];
      for (int c = 0; c < 3; ++c) {
        mgError = std::max(mgError, std::abs(mg[3 * p + c] - expected(i, c)));
        luError = std::max(luError, std::abs(lu[3 * p + c] - expected(i, c)));
      }
    }
    // A relative residual of 1e-5 leaves errors far below a byte level (0.004).
    EXPECT_LT(mgError, 1e-4);
    EXPECT_LT(luError, 1e-4);
    for (int c = 0; c < 3; ++c) EXPECT_LE(stats.relative_residual[c], 1e-5);
    EXPECT_GE(stats.iterations, 1);

    // Everything that is not a destination keeps its bits.
    for (size_t p = 0; p < s.image.size() / 3; ++p) {
      if (is_destination(s, p)) continue;
      ASSERT_EQ(std::memcmp(&mg[3 * p], &s.image[3 * p], 3 * sizeof(float)), 0) << "pixel " << p;
    }
  }
}

namespace {

// A byte scene as the blend builds it: background bytes as floats, and at each destination
// the Laplacian (4 centre - neighbours) of an object picture, times 1/255.
struct byte_scene {
  int width = 0, height = 0;
  std::vector<unsigned char> background;
  std::vector<float> image;
  std::vector<int> px, py;
};

template <class F>
byte_scene make_byte_scene(int width, int height, unsigned seed, F keep) {
  byte_scene s;
  s.width = width;
  s.height = height;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-12, 12);
  const size_t n = static_cast<size_t>(width) * height * 3;
  s.background.resize(n);
  std::vector<int> object(n);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const size_t k = (static_cast<size_t>(y) * width + x) * 3 + c;
        s.background[k] = static_cast<unsigned char>(std::clamp(
            120 + int(80 * std::sin(x * 0.05 + c) * std::cos(y * 0.07)) + noise(rng), 0, 255));
        object[k] = std::clamp(60 + ((x / 7 + y / 5 + c) % 3) * 70 + noise(rng), 0, 255);
      }
    }
  }
  s.image.resize(n);
  bytes_to_floats(s.image, s.background.data(), width, height, 3);
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      if (!keep(x, y)) continue;
      s.px.push_back(x);
      s.py.push_back(y);
      for (int c = 0; c < 3; ++c) {
        const size_t k = (static_cast<size_t>(y) * width + x) * 3 + c;
        const size_t row = static_cast<size_t>(width) * 3;
        const int laplacian =
            4 * object[k] - object[k - 3] - object[k + 3] - object[k - row] - object[k + row];
        s.image[k] = laplacian * (1.0f / 255.0f);
      }
    }
  }
  return s;
}

}  // namespace

TEST(Multigrid, BytesAgreeWithTheDirectSolveWithinOneLevel) {
  struct byte_case {
    const char* name;
    byte_scene s;
  };
  std::vector<byte_case> cases;
  cases.push_back({"disc of ~2800", make_byte_scene(71, 67, 3, [](int x, int y) {
                     return (x - 35) * (x - 35) + (y - 33) * (y - 33) <= 900;
                   })});
  cases.push_back({"ring with a bar, ~3000", make_byte_scene(90, 64, 4, [](int x, int y) {
                     const int d = (x - 40) * (x - 40) + (y - 31) * (y - 31);
                     return (d <= 900 && d >= 225) || (y >= 29 && y <= 33 && x > 20 && x < 88);
                   })});
  // Few unknowns in a wide box: the solver's grid vectors are large enough to be mapped as
  // whole 2 MB pages, and most of each stays untouched.
  cases.push_back({"frame of a 700x690 box, ~8300", make_byte_scene(704, 694, 5, [](int x, int y) {
                     const bool inside = x >= 2 && x <= 701 && y >= 2 && y <= 691;
                     const bool core = x >= 5 && x <= 698 && y >= 5 && y <= 688;
                     return inside && !core;
                   })});
  for (byte_case& bc : cases) {
    SCOPED_TRACE(bc.name);
    const byte_scene& s = bc.s;
    ASSERT_GT(s.px.size(), 2000u);
    std::vector<float> mg = s.image, lu = s.image;
    ASSERT_TRUE(solve_poisson_multigrid(mg, s.width, s.height, s.px, s.py, nullptr));
    ASSERT_TRUE(solve_poisson(lu, s.width, s.height, s.px, s.py, 3));
    std::vector<unsigned char> mgBytes(s.background.size()), luBytes(s.background.size());
    floats_to_bytes(mgBytes.data(), mg, s.width, s.height, 3);
    floats_to_bytes(luBytes.data(), lu, s.width, s.height, 3);
    int worst = 0, changed = 0;
    for (size_t k = 0; k < mgBytes.size(); ++k) {
      worst = std::max(worst, std::abs(mgBytes[k] - luBytes[k]));
      changed += mgBytes[k] != s.background[k];
    }
    EXPECT_LE(worst, 1);
    EXPECT_GT(changed, 1000);  // the blend did something to compare
  }
}

TEST(Multigrid, ReportsFailureAndLeavesTheImageAloneWhenItCannotConverge) {
  const scene disc = scene_from_picture(
      picture(41, 37,
              [](int x, int y) { return (x - 20) * (x - 20) + (y - 18) * (y - 18) <= 200; }),
      5);
  const size_t centre = (18 * 41 + 20) * 3, edge = (18 * 41 + 5) * 3;  // edge: known, beside
  struct failure_case {
    const char* name;
    size_t poisoned;  // element set to `value`, or SIZE_MAX for none
    float value;
    int max_iterations;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const failure_case cases[] = {
      {"NaN guidance", centre + 1, nan, 100},
      {"infinite background next to the region", edge + 2, inf, 100},
      {"iteration cap below what the system needs", SIZE_MAX, 0, 1},
      {"no iterations allowed", SIZE_MAX, 0, 0},
  };
  for (const failure_case& fc : cases) {
    SCOPED_TRACE(fc.name);
    std::vector<float> image = disc.image;
    if (fc.poisoned != SIZE_MAX) image[fc.poisoned] = fc.value;
    const std::vector<float> before = image;
    multigrid_options options;
    options.max_iterations = fc.max_iterations;
    EXPECT_FALSE(solve_poisson_multigrid(image, disc.width, disc.height, disc.px, disc.py, nullptr,
                                         options));
    EXPECT_EQ(std::memcmp(image.data(), before.data(), image.size() * sizeof(float)), 0);
  }
  // The same system converges with the default cap, so the cap above is what failed.
  std::vector<float> image = disc.image;
  EXPECT_TRUE(solve_poisson_multigrid(image, disc.width, disc.height, disc.px, disc.py, nullptr));
}

TEST(Multigrid, TrivialSystems) {
  // No destinations: nothing to do, nothing changes.
  const scene one =
      scene_from_picture(picture(5, 4, [](int x, int y) { return x == 2 && y == 1; }), 3);
  std::vector<float> image = one.image;
  multigrid_stats stats;
  EXPECT_TRUE(solve_poisson_multigrid(image, 5, 4, {}, {}, &stats));
  EXPECT_EQ(image, one.image);
  EXPECT_EQ(stats.iterations, 0);

  // A black background and zero guidance: b = 0, so x = 0 with no iteration at all.
  std::vector<float> black(one.image.size(), 0.0f);
  EXPECT_TRUE(solve_poisson_multigrid(black, 5, 4, one.px, one.py, &stats));
  EXPECT_EQ(black, std::vector<float>(one.image.size(), 0.0f));
  EXPECT_EQ(stats.iterations, 0);

  // One unknown: (g + b1 + b2 + b3 + b4) / 4 per channel.
  EXPECT_TRUE(solve_poisson_multigrid(image, 5, 4, one.px, one.py, &stats));
  for (int c = 0; c < 3; ++c) {
    const auto at = [&](int x, int y) { return one.image[(y * 5 + x) * 3 + c]; };
    const float expected = (at(2, 1) + at(2, 0) + at(2, 2) + at(1, 1) + at(3, 1)) / 4;
    EXPECT_NEAR(image[(1 * 5 + 2) * 3 + c], expected, 1e-6f);
  }
}

#if defined(_OPENMP)
#include <omp.h>

TEST(Multigrid, SameBytesWhateverTheThreadCount) {
  // Large enough for the passes to run threaded (the box exceeds 32768 cells).
  const byte_scene s = make_byte_scene(260, 240, 9, [](int x, int y) {
    const int d = (x - 130) * (x - 130) + (y - 120) * (y - 120);
    return d <= 110 * 110 && d >= 20 * 20;
  });
  const int previous = omp_get_max_threads();
  std::vector<float> results[2];
  for (int t = 0; t < 2; ++t) {
    omp_set_num_threads(t + 1);
    results[t] = s.image;
    ASSERT_TRUE(solve_poisson_multigrid(results[t], s.width, s.height, s.px, s.py, nullptr));
  }
  omp_set_num_threads(previous);
  EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(float)),
            0);
}

// The V-cycle alone, where the thread count is exactly the one asked for (the solve may pick
// fewer on a busy machine). Three threads split the rows unevenly, so block edges fall on rows
// of either colour.
TEST(Multigrid, VcycleSameBytesWhateverTheThreadCount) {
  const int width = 263, height = 241;
  std::vector<unsigned char> unknown(static_cast<size_t>(width) * height, 0);
  for (int j = 1; j < height - 1; ++j) {
    for (int i = 1; i < width - 1; ++i) {
      const int d = (i - 131) * (i - 131) + (j - 120) * (j - 120);
      unknown[static_cast<size_t>(j) * width + i] = d <= 115 * 115 && d >= 20 * 20;
    }
  }
  mg_hierarchy mg;
  build_hierarchy(mg, width, height, unknown);
  ASSERT_GE(mg.levels.size(), 3u);
  const mg_level& fine = mg.levels[0];
  const zeroed_floats f = make_zeroed_floats(3 * fine.plane);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (size_t k = 0; k < fine.plane; ++k) {
    for (int c = 0; c < 3; ++c) f[c * fine.plane + k] = fine.unknown[k] ? value(rng) : 0.0f;
  }
  const bool active[3] = {true, true, true};
  const int previous = omp_get_max_threads();
  std::vector<float> results[3];
  for (int t = 0; t < 3; ++t) {
    omp_set_num_threads(t + 1);
    const zeroed_floats z = make_zeroed_floats(3 * fine.plane);
    apply_vcycle(mg, z.get(), f.get(), active);
    results[t].assign(z.get(), z.get() + 3 * fine.plane);
  }
  omp_set_num_threads(previous);
  for (int t = 1; t < 3; ++t) {
    SCOPED_TRACE(t + 1);
    EXPECT_EQ(std::memcmp(results[0].data(), results[t].data(), results[0].size() * sizeof(float)),
              0);
  }
}
#endif

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

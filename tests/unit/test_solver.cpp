// The Poisson system and its direct solve, checked against hand-computed values and against a
// dense double-precision solve of the same equations written out here.
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "solver.h"

namespace {

struct grid {
  int width = 0;
  int height = 0;
  std::vector<float> image;  // 3 floats per pixel
  float& at(int x, int y, int c) { return image[(static_cast<size_t>(y) * width + x) * 3 + c]; }
};

grid random_grid(int width, int height, std::mt19937& random) {
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  grid g{width, height, std::vector<float>(static_cast<size_t>(width) * height * 3)};
  for (float& v : g.image) v = value(random);
  return g;
}

// The reference: every destination's equation 4 f_p - sum_unknown f_q = g_p + sum_known b_q
// assembled densely in double and solved by pivoted LU.
std::vector<double> dense_solution(const grid& g, const std::vector<int>& xs,
                                   const std::vector<int>& ys, int channel) {
  const int n = static_cast<int>(xs.size());
  auto unknown_at = [&](int x, int y) {
    for (int j = 0; j < n; ++j) {
      if (xs[j] == x && ys[j] == y) return j;
    }
    return -1;
  };
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
  Eigen::VectorXd b(n);
  for (int i = 0; i < n; ++i) {
    a(i, i) = 4.0;
    b(i) = g.image[(static_cast<size_t>(ys[i]) * g.width + xs[i]) * 3 + channel];
    const int neighbours[4][2] = {{0, -1}, {0, 1}, {1, 0}, {-1, 0}};
    for (const auto& d : neighbours) {
      const int qx = xs[i] + d[0];
      const int qy = ys[i] + d[1];
      const int j = unknown_at(qx, qy);
      if (j >= 0) {
        a(i, j) -= 1.0;
      } else {
        b(i) += g.image[(static_cast<size_t>(qy) * g.width + qx) * 3 + channel];
      }
    }
  }
  const Eigen::VectorXd f = a.partialPivLu().solve(b);
  return std::vector<double>(f.data(), f.data() + n);
}

TEST(Solver, SingleUnknownIsMeanOfGuidanceAndNeighbours) {
  // Pixel (1, 1) of a 3x3 image; b1..b4 chosen distinct per channel so a wrong neighbour shows.
  grid g{3, 3, std::vector<float>(27, 0.0f)};
  const float guidance[3] = {0.4f, -1.0f, 0.0f};
  const float up[3] = {0.1f, 0.2f, 0.3f}, down[3] = {0.5f, 0.6f, 0.7f};
  const float right[3] = {0.9f, 0.05f, 0.15f}, left[3] = {0.25f, 0.35f, 0.45f};
  for (int c = 0; c < 3; ++c) {
    g.at(1, 1, c) = guidance[c];
    g.at(1, 0, c) = up[c];
    g.at(1, 2, c) = down[c];
    g.at(2, 1, c) = right[c];
    g.at(0, 1, c) = left[c];
  }
  ASSERT_TRUE(solve_poisson(g.image, 3, 3, {1}, {1}, 3));
  for (int c = 0; c < 3; ++c) {
    const double expected = (double{guidance[c]} + up[c] + down[c] + right[c] + left[c]) / 4.0;
    EXPECT_NEAR(g.at(1, 1, c), expected, 1e-6) << "channel " << c;
  }
}

TEST(Solver, TripletsFollowStencilOrderThenDiagonal) {
  using triplet = std::tuple<int, int, float>;
  struct row {
    const char* name;
    std::vector<int> xs, ys;
    std::vector<triplet> expected;
  };
  const std::vector<row> table = {
      {"horizontal pair", {2, 3}, {2, 2}, {{0, 1, -1}, {0, 0, 4}, {1, 0, -1}, {1, 1, 4}}},
      {"vertical pair", {2, 2}, {2, 3}, {{0, 1, -1}, {0, 0, 4}, {1, 0, -1}, {1, 1, 4}}},
      // Unknown 2 at (2, 2) has unknown 0 above it and unknown 1 to its left:
      // previous row comes before previous column.
      {"corner of three",
       {2, 1, 2},
       {1, 2, 2},
       {{0, 2, -1}, {0, 0, 4}, {1, 2, -1}, {1, 1, 4}, {2, 0, -1}, {2, 1, -1}, {2, 2, 4}}},
  };
  for (const row& r : table) {
    std::vector<int> mask(5 * 5, -1);
    index_unknowns(mask, 5, 5, r.xs, r.ys);
    std::vector<float> image(5 * 5 * 3, 0.5f);
    std::vector<Eigen::Triplet<float>> triplets;
    Eigen::MatrixXf rhs;
    build_poisson_system(triplets, rhs, mask, image, 5, r.xs, r.ys, 3);
    std::vector<triplet> got;
    for (const auto& t : triplets) got.emplace_back(t.row(), t.col(), t.value());
    EXPECT_EQ(got, r.expected) << r.name;
    EXPECT_EQ(rhs.rows(), static_cast<Eigen::Index>(r.xs.size())) << r.name;
  }
}

TEST(Solver, MatchesDenseSolveOnRandomMasks) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 12; ++trial) {
    const int width = 5 + trial % 4;
    const int height = 4 + trial % 3;
    grid g = random_grid(width, height, random);
    // Guidance values span the range the guidance field produces.
    std::uniform_real_distribution<float> guidance(-4.0f, 4.0f);
    std::bernoulli_distribution chosen(trial < 6 ? 0.5 : 0.9);
    std::vector<int> xs, ys;
    for (int y = 1; y <= height - 2; ++y) {
      for (int x = 1; x <= width - 2; ++x) {
        if (!chosen(random)) continue;
        xs.push_back(x);
        ys.push_back(y);
        for (int c = 0; c < 3; ++c) g.at(x, y, c) = guidance(random);
      }
    }
    if (xs.empty()) continue;
    const grid before = g;
    ASSERT_TRUE(solve_poisson(g.image, width, height, xs, ys, 3)) << "trial " << trial;
    for (int c = 0; c < 3; ++c) {
      const std::vector<double> expected = dense_solution(before, xs, ys, c);
      for (size_t i = 0; i < xs.size(); ++i) {
        EXPECT_NEAR(g.at(xs[i], ys[i], c), expected[i], 1e-4)
            << "trial " << trial << " unknown " << i << " channel " << c;
      }
    }
    // Everything that is not a destination is left bit for bit.
    std::vector<int> mask(static_cast<size_t>(width) * height, -1);
    index_unknowns(mask, width, height, xs, ys);
    for (size_t k = 0; k < g.image.size(); ++k) {
      if (mask[k / 3] != -1) continue;
      ASSERT_EQ(g.image[k], before.image[k]) << "element " << k;
    }
  }
}

TEST(Solver, FailedSolveLeavesImageUntouched) {
  std::mt19937 random(3);
  grid g = random_grid(6, 5, random);
  // A non-finite guidance value cannot give a usable solution; it must not be written back.
  g.at(2, 2, 1) = std::nanf("");
  const grid before = g;
  EXPECT_FALSE(solve_poisson(g.image, 6, 5, {2, 3, 2}, {2, 2, 3}, 3));
  for (size_t k = 0; k < g.image.size(); ++k) {
    if (std::isnan(before.image[k])) continue;
    ASSERT_EQ(g.image[k], before.image[k]) << "element " << k;
  }
}

}  // namespace

// Conjugate gradients on the Poisson system of solve_poisson, preconditioned by one multigrid
// V-cycle per iteration. For unknown p, per channel:
//   4 f_p - sum_{q unknown} f_q = g_p + sum_{q known} b_q                          (1)
// The unknowns live on a grid covering their bounding box plus a one-pixel ring, so every
// stencil neighbour is a grid cell; the hierarchy and its kernels are in multigrid_levels.cpp.
#include "multigrid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "check.h"
#include "multigrid_levels.h"

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace {

// Where the grid sits in the image and which image pixel each cell is.
struct grid_frame {
  int image_width = 0;
  int left = 0, top = 0;  // image pixel of cell (0, 0)
  size_t pixel(int i, int j) const {
    return static_cast<size_t>(top + j) * image_width + (left + i);
  }
};

// Right-hand side of (1) at every unknown cell, summed in single precision in the order of
// solve_poisson (guidance, then the known neighbours above, below, right, left) so both
// solvers start from the same numbers. Zero at known cells.
void build_rhs(const mg_level& fine, const grid_frame& frame, const std::vector<float>& image,
               float* b) {
  const int W = fine.width;
  const int step[4] = {-W, W, 1, -1};
  const int di[4] = {0, 0, 1, -1}, dj[4] = {-1, 1, 0, 0};
  [[maybe_unused]] const bool big = fine.plane >= parallel_cells;
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < fine.height - 1; ++j) {
    for (int i = fine.row_first[j]; i <= fine.row_last[j]; ++i) {
      const size_t k = static_cast<size_t>(j) * W + i;
      if (!fine.unknown[k]) continue;
      const size_t p = frame.pixel(i, j);
      for (int c = 0; c < 3; ++c) {
        float sum = image[3 * p + c];
        for (int s = 0; s < 4; ++s) {
          if (!fine.unknown[k + step[s]]) sum += image[3 * frame.pixel(i + di[s], j + dj[s]) + c];
        }
        b[c * fine.plane + k] = sum;
      }
    }
  }
}

// ||b - A x||^2 per channel in double from a freshly built b; optionally stores the residual.
void true_residual(const mg_level& fine, const grid_frame& frame, const std::vector<float>& image,
                   const float* x, float* b_scratch, float* r_out, double out[3]) {
  build_rhs(fine, frame, image, b_scratch);
  const int W = fine.width;
  // Per-row sums added in row order: the same result whatever the number of threads.
  std::vector<double> sums(fine.height, 0.0);
  [[maybe_unused]] const bool big = fine.plane >= parallel_cells;
  for (int c = 0; c < 3; ++c) {
    const float* xc = x + c * fine.plane;
    const float* bc = b_scratch + c * fine.plane;
    float* rc = r_out ? r_out + c * fine.plane : nullptr;
    ML_OMP("omp parallel for schedule(static) if(big)")
    for (int j = 1; j < fine.height - 1; ++j) {
      double rowSum = 0;
      for (int i = fine.row_first[j]; i <= fine.row_last[j]; ++i) {
        const size_t k = static_cast<size_t>(j) * W + i;
        if (!fine.unknown[k]) continue;
        const double ax =
            4.0 * xc[k] - static_cast<double>(xc[k - 1]) - xc[k + 1] - xc[k - W] - xc[k + W];
        const double r = bc[k] - ax;
        rowSum += r * r;
        if (rc) rc[k] = static_cast<float>(r);
      }
      sums[j] = rowSum;
    }
    out[c] = 0;
    for (double v : sums) out[c] += v;
  }
}

// Threads for the length of one solve: every processor when the machine is otherwise idle,
// fewer when other work is running. A team larger than the idle processors spends its time
// at the barriers between passes, several times slower than one thread. Other work is read
// as the tasks runnable at this moment besides this one (the kernel's count in /proc/loadavg);
// the load averages lag by a minute and count the process's own recent work as someone else's.
struct solve_threads {
#if defined(_OPENMP)
  int previous = omp_get_max_threads();
  solve_threads() {
    const int available = std::min(previous, omp_get_num_procs());
    omp_set_num_threads(std::clamp(available - other_runnable_tasks(), 1, std::max(available, 1)));
  }
  ~solve_threads() {
    omp_set_num_threads(previous);
  }

  static int other_runnable_tasks() {
    int runnable = 0;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
      if (std::fscanf(file, "%*f %*f %*f %d/", &runnable) != 1) runnable = 0;
      std::fclose(file);
    } else {
      double load = 0;
      if (getloadavg(&load, 1) == 1) runnable = static_cast<int>(load + 0.5);
    }
    return std::max(0, runnable - 1);
  }
#endif
};

bool finite3(const double v[3]) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// The Krylov loop. x, r, p, zq are fine-level vectors (3 planes, zero at known cells); r holds
// b on entry. zq holds A p, then the preconditioned residual, which are never needed together.
bool run_pcg(mg_hierarchy& mg, const grid_frame& frame, const std::vector<float>& image, float* x,
             float* r, float* p, float* zq, const multigrid_options& options,
             multigrid_stats& stats) {
  const mg_level& fine = mg.levels[0];
  double bb[3];
  dot3(fine, r, r, bb);
  if (!finite3(bb)) return false;
  const double tol2 = options.tolerance * options.tolerance;

  bool active[3];
  for (int c = 0; c < 3; ++c) active[c] = bb[c] > 0;  // b = 0 has the solution x = 0
  int iterations = 0;
  while (active[0] || active[1] || active[2]) {
    // (Re)start from the current residual: p = z = M r.
    apply_vcycle(mg, zq, r, active);
    double rz[3];
    dot3(fine, r, zq, rz);
    copy3(fine, zq, p, active);
    while (active[0] || active[1] || active[2]) {
      if (iterations >= options.max_iterations) return false;
      stats.iterations = ++iterations;
      double pq[3];
      apply_operator(fine, p, zq, pq, active);
      float alpha[3] = {};
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        // A and the V-cycle are positive definite, so anything else is a breakdown.
        if (!(pq[c] > 0) || !(rz[c] > 0) || !std::isfinite(pq[c])) return false;
        alpha[c] = static_cast<float>(rz[c] / pq[c]);
      }
      double rr[3];
      update_solution(fine, x, r, p, zq, alpha, rr, active);
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        if (!std::isfinite(rr[c])) return false;
        if (rr[c] <= tol2 * bb[c]) active[c] = false;
      }
      if (!active[0] && !active[1] && !active[2]) break;
      apply_vcycle(mg, zq, r, active);
      double rzNew[3];
      dot3(fine, r, zq, rzNew);
      float beta[3] = {};
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        if (!std::isfinite(rzNew[c])) return false;
        beta[c] = static_cast<float>(rzNew[c] / rz[c]);
        rz[c] = rzNew[c];
      }
      update_direction(fine, p, zq, beta, active);
    }
    // The updated residual drifts from b - A x in single precision: confirm with a fresh one
    // and restart the channels that fall short.
    double trueRr[3];
    true_residual(fine, frame, image, x, zq, r, trueRr);
    if (!finite3(trueRr)) return false;
    for (int c = 0; c < 3; ++c) {
      stats.relative_residual[c] = bb[c] > 0 ? std::sqrt(trueRr[c] / bb[c]) : 0.0;
      active[c] = trueRr[c] > tol2 * bb[c];
    }
  }
  return true;
}

}  // namespace

bool solve_poisson_multigrid(std::vector<float>& blended_image, int width, int height,
                             const std::vector<int>& tgt_inner_px,
                             const std::vector<int>& tgt_inner_py, multigrid_stats* stats,
                             const multigrid_options& options) {
  ML_CHECK(tgt_inner_px.size() == tgt_inner_py.size());
  ML_CHECK(width >= 3 && height >= 3);
  ML_CHECK(blended_image.size() == static_cast<size_t>(width) * height * 3);
  multigrid_stats local;
  multigrid_stats& out = stats ? *stats : local;
  out = multigrid_stats{};
  if (tgt_inner_px.empty()) return true;

  const auto [minX, maxX] = std::minmax_element(tgt_inner_px.begin(), tgt_inner_px.end());
  const auto [minY, maxY] = std::minmax_element(tgt_inner_py.begin(), tgt_inner_py.end());
  ML_CHECK(*minX >= 1 && *maxX <= width - 2 && *minY >= 1 && *maxY <= height - 2);

  try {
    [[maybe_unused]] const solve_threads threads;
    grid_frame frame;
    frame.image_width = width;
    frame.left = *minX - 1;
    frame.top = *minY - 1;
    mg_hierarchy mg;
    std::vector<unsigned char> unknown;
    const int W = *maxX - *minX + 3, H = *maxY - *minY + 3;
    unknown.assign(static_cast<size_t>(W) * H, 0);
    for (size_t n = 0; n < tgt_inner_px.size(); ++n) {
      unsigned char& cell = unknown[static_cast<size_t>(tgt_inner_py[n] - frame.top) * W +
                                    (tgt_inner_px[n] - frame.left)];
      ML_CHECK(cell == 0);  // destinations are distinct
      cell = 1;
    }
    build_hierarchy(mg, W, H, std::move(unknown));

    const mg_level& fine = mg.levels[0];
    const size_t n3 = 3 * fine.plane;
    const zeroed_floats x = make_zeroed_floats(n3), r = make_zeroed_floats(n3),
                        p = make_zeroed_floats(n3), zq = make_zeroed_floats(n3);
    build_rhs(fine, frame, blended_image, r.get());
    if (!run_pcg(mg, frame, blended_image, x.get(), r.get(), p.get(), zq.get(), options, out)) {
      return false;
    }

    for (size_t n = 0; n < tgt_inner_px.size(); ++n) {
      const int i = tgt_inner_px[n] - frame.left, j = tgt_inner_py[n] - frame.top;
      const size_t k = static_cast<size_t>(j) * W + i;
      const size_t px = frame.pixel(i, j);
      for (int c = 0; c < 3; ++c) blended_image[3 * px + c] = x[c * fine.plane + k];
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

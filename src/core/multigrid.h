// Same system as solve_poisson (same float image layout, destinations, numbering and
// preconditions), solved by conjugate gradients preconditioned with a geometric multigrid
// V-cycle over the masked grid. Meant for selections too large for the direct solve.
#pragma once

#include <vector>

struct multigrid_stats {
  int iterations = 0;                // Krylov iterations of the slowest channel
  double relative_residual[3] = {};  // final ||b - A x|| / ||b|| per channel
};

// Returns false, leaving the float image untouched, when it does not converge.
bool solve_poisson_multigrid(std::vector<float>& blended_image, int width, int height,
                             const std::vector<int>& tgt_inner_px,
                             const std::vector<int>& tgt_inner_py, multigrid_stats* stats);

// Largest number of unknowns that the automatic choice hands to the direct solve.
constexpr int auto_lu_max_unknowns = 100000;

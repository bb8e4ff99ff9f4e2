// Same system as solve_poisson (same float image layout, destinations, numbering and
// preconditions), solved by conjugate gradients preconditioned with a geometric multigrid
// V-cycle over the masked grid. Meant for selections too large for the direct solve.
//
// - Works on the bounding box of the destinations plus a one-pixel ring, not on the whole
//   image: memory grows with that box (about 60 bytes per box pixel), time with the unknowns.
// - Known pixels are Dirichlet boundary at every level of the hierarchy.
// - The three channels run through one loop, each with its own step sizes and its own stop
//   test: ||b - A x|| <= tolerance * ||b||, checked against a freshly computed residual
//   (double accumulation) before success is reported.
// - Single-precision vectors; dot products and norms accumulate in double.
// - Destinations must be distinct pixels in columns 1..width-2 and rows 1..height-2; a broken
//   precondition stops the process (ML_CHECK), as in solve_poisson.
#pragma once

#include <vector>

struct multigrid_stats {
  int iterations = 0;                // Krylov iterations of the slowest channel, also on failure
  double relative_residual[3] = {};  // final ||b - A x|| / ||b|| per channel
};

struct multigrid_options {
  int max_iterations = 100;  // a solve still above tolerance after this many reports failure
  double tolerance = 1e-5;   // relative residual each channel must reach
};

// Returns false, leaving the float image untouched, when it does not converge (iteration cap,
// a non-finite value in the input or along the way, a breakdown of the Krylov loop) or when
// memory runs out. On success only destination pixels change. `stats` may be null.
bool solve_poisson_multigrid(std::vector<float>& blended_image, int width, int height,
                             const std::vector<int>& tgt_inner_px,
                             const std::vector<int>& tgt_inner_py, multigrid_stats* stats,
                             const multigrid_options& options = {});

// Largest number of unknowns that the automatic choice hands to the direct solve. Measured
// with bench_blend on whole blends, which work on the unknowns' bounding box, so the size of
// the background does not enter: both solvers take about half a millisecond at 300 unknowns,
// the direct solve is faster below and multigrid ever faster above (0.8 against 1.0 ms at
// 500 unknowns, 3 against 26 ms at 10,000).
constexpr int auto_lu_max_unknowns = 300;

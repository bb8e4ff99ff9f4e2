// Poisson system over the pasted region, solved by sparse LU.
//
// The float image is row-major with 3 floats per pixel: pixel (x, y), channel c at element
// (y * width + x) * 3 + c. On entry it holds the guidance value at every destination and the
// background colour elsewhere; on success each destination holds the solution of
//   4 f_p - sum_{q unknown} f_q = g_p + sum_{q known} b_q
// over the 4-neighbourhood, and every other element is unchanged bit for bit.
// Destinations are numbered by their position in tgt_inner_px/tgt_inner_py; they must be
// distinct pixels in columns 1..width-2 and rows 1..height-2, so every neighbour exists.
#pragma once

#include <vector>

#include <Eigen/Core>
#include <Eigen/SparseCore>

// Writes i into mask[tgt_inner_py[i] * width + tgt_inner_px[i]] for every i (no bounds test).
void index_unknowns(std::vector<int>& mask, int width, int height,
                    const std::vector<int>& tgt_inner_px, const std::vector<int>& tgt_inner_py);

// The system over a mask filled by index_unknowns: for each unknown i, the triplets of its
// neighbours that are unknowns in stencil order (previous row, next row, next column, previous
// column), value -1, then its diagonal 4; row i of rhs (sized here to unknowns x channels) is the
// guidance at its pixel plus its known neighbours, added in that same order in single precision.
void build_poisson_system(std::vector<Eigen::Triplet<float>>& lhsTriplets, Eigen::MatrixXf& rhs,
                          const std::vector<int>& mask, const std::vector<float>& blended_image,
                          int width, const std::vector<int>& tgt_inner_px,
                          const std::vector<int>& tgt_inner_py, int channels);

// Builds the system, factorises it once and solves the channels. Returns false, leaving the
// float image untouched, when factorisation or a solve fails.
bool solve_poisson(std::vector<float>& blended_image, int width, int height,
                   const std::vector<int>& tgt_inner_px, const std::vector<int>& tgt_inner_py,
                   int channels);

// The grid hierarchy behind solve_poisson_multigrid and the passes over it.
//
// - A level is a width x height grid of cells, row-major (cell (i, j) at j * width + i). Its
//   first and last rows and columns are always known cells, so every stencil neighbour of an
//   unknown cell exists.
// - Vectors over a level hold three planes of width * height floats, channel c at
//   c * plane + cell, and are zero at every known cell: each pass writes only within the row
//   spans of unknowns, and there multiplies by the unknown flag.
// - Every level solves the unscaled five-point system 4 u - sum of neighbours = f with known
//   cells as zero Dirichlet values (the hierarchy only ever carries corrections).
// - Cell (I, J) of a coarser level covers cells 2I..2I+1 x 2J..2J+1 of the finer one and is an
//   unknown only when all four are: thin parts drop out of the coarse levels, where their
//   equations are strongly diagonally dominant and the smoother alone handles them.
// - `active` selects the channels a pass works on; the others are left as they are.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#if defined(_OPENMP)
#define ML_OMP(directive) _Pragma(directive)
#else
#define ML_OMP(directive)
#endif

// Zero-filled floats that no pass has to clear. Small blocks come from calloc. Blocks of a
// few megabytes or more are mapped directly and offered to the kernel for 2 MB pages: on a
// virtual machine each fresh 4 KB page costs a fault of about 10 microseconds, which would
// otherwise rival the solve itself. A 2 MB page is committed whole on its first touch, so the
// unvisited corners of a bounding box now cost memory too (the box is at most about 1.7
// times the unknowns for the shapes a user outlines).
struct zeroed_deleter {
  size_t mapped_bytes = 0;  // length of the mapping; 0 for a block from calloc
  void operator()(float* p) const;
};
using zeroed_floats = std::unique_ptr<float[], zeroed_deleter>;
zeroed_floats make_zeroed_floats(size_t count);  // throws std::bad_alloc

// Levels smaller than this run their passes on one thread: waking a team costs more than
// the pass.
constexpr size_t parallel_cells = 32768;

// Shorter runs of known cells stay inside a span: a pass runs through them faster than it
// starts another span.
constexpr int span_gap = 32;

struct mg_level {
  int width = 0, height = 0;
  size_t plane = 0;                    // width * height
  std::vector<unsigned char> unknown;  // 1 at unknown cells
  std::vector<int> row_first;          // per row, first unknown column (width when none)
  std::vector<int> row_last;           // per row, last unknown column (-1 when none)
  // The unknowns of row j split into spans span_first[k]..span_last[k] for k in
  // row_span[j] .. row_span[j + 1] - 1, left to right, broken only at runs of at least
  // span_gap known cells (a ring's hole, say): passes without a sum over the row skip those
  // runs, whose cells they would only set to zero.
  std::vector<int> row_span, span_first, span_last;
  long long unknowns = 0;
  zeroed_floats x, rhs;  // correction and right-hand side; null on the finest level
};

struct mg_hierarchy {
  std::vector<mg_level> levels;  // finest first
  int smoothing_sweeps = 2;      // red-black sweeps before and after the coarse correction
  int coarsest_sweeps = 31;      // odd, so the coarsest pass stays symmetric
};

// Builds level 0 from the unknown flags of a width x height grid and coarsens while the
// coarser level keeps unknowns.
void build_hierarchy(mg_hierarchy& mg, int width, int height, std::vector<unsigned char> unknown);

// z = M f: one V-cycle from a zero guess. Red-black Gauss-Seidel sweeps mirrored around the
// coarse correction and restriction equal to the transposed prolongation keep M symmetric, as
// conjugate gradients requires.
void apply_vcycle(mg_hierarchy& mg, float* z, const float* f, const bool active[3]);

// q = A p and p.q per channel.
void apply_operator(const mg_level& level, const float* p, float* q, double pq[3],
                    const bool active[3]);
// x += alpha p, r -= alpha q, and r.r per channel.
void update_solution(const mg_level& level, float* x, float* r, const float* p, const float* q,
                     const float alpha[3], double rr[3], const bool active[3]);
// p = z + beta p.
void update_direction(const mg_level& level, float* p, const float* z, const float beta[3],
                      const bool active[3]);
// a.b per channel over the whole level (all channels).
void dot3(const mg_level& level, const float* a, const float* b, double out[3]);
// to = from on the active channels.
void copy3(const mg_level& level, const float* from, float* to, const bool active[3]);

// ---- row passes (multigrid_rows.cpp) ----
// Each works on cells lo..hi of one row; pointers are to the row's first cell, so i - W and
// i + W reach the rows above and below. m holds the unknown flags; parity selects the cells
// with i % 2 == parity of a red-black half sweep.
void smooth_first_row(float* x, const float* f, const unsigned char* m, int lo, int hi, int parity);
void smooth_row(float* x, const float* f, const unsigned char* m, int lo, int hi, int W,
                int parity);
void residual_row(float* res, const float* x, const float* f, const unsigned char* m, int lo,
                  int hi, int W);
// Coarse cells lo..hi of a fine row: res[2I-1] + 3 res[2I] + 3 res[2I+1] + res[2I+2].
void restrict_along_row(float* h, const float* res, int lo, int hi);
// Combines four such rows with weights 1 3 3 1 and divides by 16.
void restrict_across_rows(float* out, const float* h0, const float* h1, const float* h2,
                          const float* h3, const unsigned char* m, int lo, int hi);
// Adds the bilinear interpolation of the coarse rows c0 (the cell's own) and c1 (the other).
void prolong_row(float* x, const float* c0, const float* c1, const unsigned char* m, int lo,
                 int hi);
double operator_row(float* q, const float* p, const unsigned char* m, int lo, int hi, int W);
double update_row(float* x, float* r, const float* p, const float* q, float alpha, int lo, int hi);
void direction_row(float* p, const float* z, float beta, int lo, int hi);
double dot_row(const float* a, const float* b, int lo, int hi);

// Grid hierarchy, smoothing, transfers and the vector passes of the multigrid solver.
// The grids are cell-centred: coarse cell (I, J) sits at the centre of fine cells
// 2I..2I+1 x 2J..2J+1. Prolongation is bilinear between cell centres, which gives a fine cell
// 9/16 of its own coarse cell, 3/16 of each of the two coarse cells beside it on its side and
// 1/16 of the diagonal one; restriction is its transpose divided by 4, rescaled by the 4 that
// the doubled spacing brings to the unscaled five-point operator.
#include "multigrid_levels.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(_OPENMP)
#include <omp.h>
#endif

#include "check.h"

namespace {

void init_level(mg_level& level, int width, int height, std::vector<unsigned char> unknown) {
  level.width = width;
  level.height = height;
  level.plane = static_cast<size_t>(width) * height;
  level.unknown = std::move(unknown);
  level.row_first.assign(height, width);
  level.row_last.assign(height, -1);
  level.unknowns = 0;
  for (int j = 0; j < height; ++j) {
    const unsigned char* m = level.unknown.data() + static_cast<size_t>(j) * width;
    for (int i = 0; i < width; ++i) {
      if (!m[i]) continue;
      level.row_first[j] = std::min(level.row_first[j], i);
      level.row_last[j] = i;
      ++level.unknowns;
    }
  }
  level.row_span.assign(static_cast<size_t>(height) + 1, 0);
  level.span_first.clear();
  level.span_last.clear();
  for (int j = 0; j < height; ++j) {
    level.row_span[j] = static_cast<int>(level.span_first.size());
    const unsigned char* m = level.unknown.data() + static_cast<size_t>(j) * width;
    for (int i = level.row_first[j]; i <= level.row_last[j]; ++i) {
      if (!m[i]) continue;
      if (level.span_first.size() > static_cast<size_t>(level.row_span[j]) &&
          i - level.span_last.back() <= span_gap) {
        level.span_last.back() = i;
      } else {
        level.span_first.push_back(i);
        level.span_last.push_back(i);
      }
    }
  }
  level.row_span[height] = static_cast<int>(level.span_first.size());
  // The border stays known, so no pass ever reads outside the grid.
  ML_CHECK(level.row_last[0] < 0 && level.row_last[height - 1] < 0);
  for (int j = 0; j < height; ++j) {
    ML_CHECK(level.row_last[j] < 0 || (level.row_first[j] >= 1 && level.row_last[j] <= width - 2));
  }
}

// One red-black Gauss-Seidel half sweep over the cells of row j with (i + j) % 2 == color.
// With `first` the guess is zero, so the colour gets f / 4 and the other colour is cleared.
void smooth_half_row(const mg_level& level, float* x, const float* f, int j, int color, bool first,
                     const bool active[3]) {
  const int W = level.width;
  const size_t row = static_cast<size_t>(j) * W;
  const unsigned char* m = level.unknown.data() + row;
  const int parity = (j + color) & 1;
  for (int k = level.row_span[j]; k < level.row_span[j + 1]; ++k) {
    const int lo = level.span_first[k], hi = level.span_last[k];
    for (int c = 0; c < 3; ++c) {
      if (!active[c]) continue;
      float* xr = x + c * level.plane + row;
      const float* fr = f + c * level.plane + row;
      if (first) {
        smooth_first_row(xr, fr, m, lo, hi, parity);
      } else {
        smooth_row(xr, fr, m, lo, hi, W, parity);
      }
    }
  }
}

// `stages` half sweeps of alternating colours, starting with `color` (with `first` on the
// first), in one pass over the rows, with the same result to the bit as one full pass per half
// sweep. Half sweep h of row r reads only the other colour in rows r - 1 .. r + 1, as half
// sweep h - 1 left it, and half sweep h + 1 overwrites those cells; so h may follow one row
// behind h - 1, while the rows are still in cache. Each thread takes a block of rows a..b and
// runs half sweep h on rows a + h .. b - h, which read nothing another thread writes before
// the barrier; the rows left near the block edges follow after it, one half sweep at a time.
void smooth_stages(const mg_level& level, float* x, const float* f, int color, int stages,
                   bool first, const bool active[3]) {
  const int rows = level.height - 2;  // rows 1 .. height - 2 hold the unknowns
  [[maybe_unused]] const bool big = level.plane >= parallel_cells;
  ML_OMP("omp parallel if(big)") {
    int thread = 0, threads = 1;
#if defined(_OPENMP)
    thread = omp_get_thread_num();
    threads = omp_get_num_threads();
#endif
    const int a = 1 + static_cast<int>(static_cast<long long>(rows) * thread / threads);
    const int b = static_cast<int>(static_cast<long long>(rows) * (thread + 1) / threads);
    for (int j = a; j <= b; ++j) {
      for (int h = 0; h < stages && j - h >= a + h; ++h) {
        smooth_half_row(level, x, f, j - h, (color + h) & 1, first && h == 0, active);
      }
    }
    for (int h = 1; h < stages; ++h) {
      ML_OMP("omp barrier")
      for (int r = a; r <= b; ++r) {
        if (r < a + h || r > b - h) smooth_half_row(level, x, f, r, (color + h) & 1, false, active);
      }
    }
  }
}

// Coarse right-hand side = restricted residual f - A x of the finer level. Each coarse row
// gathers from four fine rows; the residual of a fine row is computed into a per-thread row
// and first restricted along the row.
void restrict_residual(const mg_level& fine, const float* x, const float* f, mg_level& coarse,
                       const bool active[3]) {
  const int W = fine.width, Wc = coarse.width;
  [[maybe_unused]] const bool big = fine.plane >= parallel_cells;
  ML_OMP("omp parallel if(big)") {
    std::vector<float> res(W, 0.0f), h(4 * static_cast<size_t>(Wc), 0.0f);
    ML_OMP("omp for schedule(static)")
    for (int J = 1; J < coarse.height - 1; ++J) {
      for (int k = coarse.row_span[J]; k < coarse.row_span[J + 1]; ++k) {
        const int lo = coarse.span_first[k], hi = coarse.span_last[k];
        const unsigned char* mc = coarse.unknown.data() + static_cast<size_t>(J) * Wc;
        for (int c = 0; c < 3; ++c) {
          if (!active[c]) continue;
          for (int b = 0; b < 4; ++b) {
            float* hb = h.data() + static_cast<size_t>(b) * Wc;
            const int j = 2 * J - 1 + b;
            if (j > fine.height - 2) {  // the known border row
              std::fill(hb + lo, hb + hi + 1, 0.0f);
              continue;
            }
            const size_t row = static_cast<size_t>(j) * W;
            const unsigned char* m = fine.unknown.data() + row;
            const float* xr = x + c * fine.plane + row;
            const float* fr = f + c * fine.plane + row;
            const int iLo = 2 * lo - 1, iHi = std::min(2 * hi + 2, W - 2);
            res[W - 1] = 0.0f;
            residual_row(res.data(), xr, fr, m, iLo, iHi, W);
            restrict_along_row(hb, res.data(), lo, hi);
          }
          float* out = coarse.rhs.get() + c * coarse.plane + static_cast<size_t>(J) * Wc;
          const float* h0 = h.data();
          const float* h1 = h0 + Wc;
          const float* h2 = h1 + Wc;
          const float* h3 = h2 + Wc;
          restrict_across_rows(out, h0, h1, h2, h3, mc, lo, hi);
        }
      }
    }
  }
}

// x += P xc over the unknown cells of the finer level.
void prolong_add(const mg_level& coarse, const float* xc, const mg_level& fine, float* x,
                 const bool active[3]) {
  const int W = fine.width, Wc = coarse.width;
  [[maybe_unused]] const bool big = fine.plane >= parallel_cells;
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < fine.height - 1; ++j) {
    const size_t row = static_cast<size_t>(j) * W;
    const unsigned char* m = fine.unknown.data() + row;
    const int J = j >> 1, J2 = (j & 1) ? J + 1 : J - 1;
    for (int k = fine.row_span[j]; k < fine.row_span[j + 1]; ++k) {
      const int lo = fine.span_first[k], hi = fine.span_last[k];
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        float* xr = x + c * fine.plane + row;
        const float* c0 = xc + c * coarse.plane + static_cast<size_t>(J) * Wc;
        const float* c1 = xc + c * coarse.plane + static_cast<size_t>(J2) * Wc;
        prolong_row(xr, c0, c1, m, lo, hi);
      }
    }
  }
}

void vcycle(mg_hierarchy& mg, size_t l, float* x, const float* f, const bool active[3]) {
  const mg_level& level = mg.levels[l];
  if (l + 1 == mg.levels.size()) {
    smooth_stages(level, x, f, 0, mg.coarsest_sweeps, true, active);
    return;
  }
  smooth_stages(level, x, f, 0, 2 * mg.smoothing_sweeps, true, active);
  mg_level& coarse = mg.levels[l + 1];
  restrict_residual(level, x, f, coarse, active);
  vcycle(mg, l + 1, coarse.x.get(), coarse.rhs.get(), active);
  prolong_add(coarse, coarse.x.get(), level, x, active);
  smooth_stages(level, x, f, 1, 2 * mg.smoothing_sweeps, false, active);
}

}  // namespace

namespace {

// Blocks of at least one huge page are mapped on 2 MB boundaries and rounded up to whole
// 2 MB pages: the rounding costs less than 2 MB per block, at most as much as the block.
constexpr size_t huge_page_bytes = size_t(2) << 20;
constexpr size_t mapped_min_bytes = huge_page_bytes;

}  // namespace

void zeroed_deleter::operator()(float* p) const {
#if defined(__linux__)
  if (mapped_bytes) {
    munmap(p, mapped_bytes);
    return;
  }
#endif
  std::free(p);
}

zeroed_floats make_zeroed_floats(size_t count) {
  if (count > SIZE_MAX / sizeof(float) - huge_page_bytes) throw std::bad_alloc();
  const size_t bytes = count * sizeof(float);
#if defined(__linux__)
  if (bytes >= mapped_min_bytes) {
    // Over-map by one huge page, then cut back to a block that starts on a 2 MB boundary and
    // spans whole 2 MB pages, so the kernel can back all of it with huge pages.
    const size_t length = (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
    void* raw = mmap(nullptr, length + huge_page_bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + huge_page_bytes - 1) & ~(huge_page_bytes - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t tail = aligned + length, end = start + length + huge_page_bytes;
    if (end > tail) munmap(reinterpret_cast<void*>(tail), end - tail);
    // Only advice: where huge pages are off, the block stays an ordinary zeroed mapping.
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return zeroed_floats(reinterpret_cast<float*>(aligned), zeroed_deleter{length});
  }
#endif
  auto* p = static_cast<float*>(std::calloc(count, sizeof(float)));
  if (!p) throw std::bad_alloc();
  return zeroed_floats(p);
}

void build_hierarchy(mg_hierarchy& mg, int width, int height, std::vector<unsigned char> unknown) {
  mg.levels.clear();
  mg.levels.emplace_back();
  init_level(mg.levels.back(), width, height, std::move(unknown));
  for (;;) {
    const mg_level& fine = mg.levels.back();
    if (fine.width < 4 || fine.height < 4) break;
    const int Wc = (fine.width + 1) / 2, Hc = (fine.height + 1) / 2;
    std::vector<unsigned char> coarseUnknown(static_cast<size_t>(Wc) * Hc, 0);
    long long count = 0;
    for (int J = 0; J < Hc; ++J) {
      for (int I = 0; I < Wc; ++I) {
        // All four children unknown; a child beyond the grid counts as known.
        if (2 * I + 1 >= fine.width || 2 * J + 1 >= fine.height) continue;
        const size_t k = static_cast<size_t>(2 * J) * fine.width + 2 * I;
        const unsigned char* m = fine.unknown.data();
        if (m[k] && m[k + 1] && m[k + fine.width] && m[k + fine.width + 1]) {
          coarseUnknown[static_cast<size_t>(J) * Wc + I] = 1;
          ++count;
        }
      }
    }
    if (count == 0) break;
    mg_level next;
    init_level(next, Wc, Hc, std::move(coarseUnknown));
    next.x = make_zeroed_floats(3 * next.plane);
    next.rhs = make_zeroed_floats(3 * next.plane);
    mg.levels.push_back(std::move(next));
  }
}

void apply_vcycle(mg_hierarchy& mg, float* z, const float* f, const bool active[3]) {
  vcycle(mg, 0, z, f, active);
}

namespace {

// Sums per-row partial sums in row order, so a result does not depend on how many threads
// computed the rows: the same input gives the same bytes on a busy or an idle machine.
void add_rows(const std::vector<double>& sums, double out[3]) {
  out[0] = out[1] = out[2] = 0;
  for (size_t k = 0; k < sums.size(); k += 3) {
    out[0] += sums[k];
    out[1] += sums[k + 1];
    out[2] += sums[k + 2];
  }
}

}  // namespace

void apply_operator(const mg_level& level, const float* p, float* q, double pq[3],
                    const bool active[3]) {
  const int W = level.width;
  [[maybe_unused]] const bool big = level.plane >= parallel_cells;
  std::vector<double> sums(3 * static_cast<size_t>(level.height), 0.0);
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < level.height - 1; ++j) {
    const int lo = level.row_first[j], hi = level.row_last[j];
    if (lo > hi) continue;
    const size_t row = static_cast<size_t>(j) * W;
    const unsigned char* m = level.unknown.data() + row;
    double* acc = &sums[3 * static_cast<size_t>(j)];
    for (int c = 0; c < 3; ++c) {
      if (!active[c]) continue;
      const float* pr = p + c * level.plane + row;
      float* qr = q + c * level.plane + row;
      acc[c] = operator_row(qr, pr, m, lo, hi, W);
    }
  }
  add_rows(sums, pq);
}

void update_solution(const mg_level& level, float* x, float* r, const float* p, const float* q,
                     const float alpha[3], double rr[3], const bool active[3]) {
  const int W = level.width;
  [[maybe_unused]] const bool big = level.plane >= parallel_cells;
  std::vector<double> sums(3 * static_cast<size_t>(level.height), 0.0);
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < level.height - 1; ++j) {
    const int lo = level.row_first[j], hi = level.row_last[j];
    if (lo > hi) continue;
    const size_t row = static_cast<size_t>(j) * W;
    double* acc = &sums[3 * static_cast<size_t>(j)];
    for (int c = 0; c < 3; ++c) {
      if (!active[c]) continue;
      const size_t o = c * level.plane + row;
      acc[c] = update_row(x + o, r + o, p + o, q + o, alpha[c], lo, hi);
    }
  }
  add_rows(sums, rr);
}

void update_direction(const mg_level& level, float* p, const float* z, const float beta[3],
                      const bool active[3]) {
  const int W = level.width;
  [[maybe_unused]] const bool big = level.plane >= parallel_cells;
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < level.height - 1; ++j) {
    const size_t row = static_cast<size_t>(j) * W;
    for (int k = level.row_span[j]; k < level.row_span[j + 1]; ++k) {
      const int lo = level.span_first[k], hi = level.span_last[k];
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        const size_t o = c * level.plane + row;
        direction_row(p + o, z + o, beta[c], lo, hi);
      }
    }
  }
}

void dot3(const mg_level& level, const float* a, const float* b, double out[3]) {
  const int W = level.width;
  [[maybe_unused]] const bool big = level.plane >= parallel_cells;
  std::vector<double> sums(3 * static_cast<size_t>(level.height), 0.0);
  ML_OMP("omp parallel for schedule(static) if(big)")
  for (int j = 1; j < level.height - 1; ++j) {
    const int lo = level.row_first[j], hi = level.row_last[j];
    const size_t row = static_cast<size_t>(j) * W;
    double* acc = &sums[3 * static_cast<size_t>(j)];
    for (int c = 0; c < 3; ++c) {
      const size_t o = c * level.plane + row;
      acc[c] = dot_row(a + o, b + o, lo, hi);
    }
  }
  add_rows(sums, out);
}

void copy3(const mg_level& level, const float* from, float* to, const bool active[3]) {
  const int W = level.width;
  for (int j = 1; j < level.height - 1; ++j) {
    const size_t row = static_cast<size_t>(j) * W;
    for (int k = level.row_span[j]; k < level.row_span[j + 1]; ++k) {
      const int lo = level.span_first[k], hi = level.span_last[k];
      for (int c = 0; c < 3; ++c) {
        if (!active[c]) continue;
        const size_t o = c * level.plane + row;
        std::copy(from + o + lo, from + o + hi + 1, to + o + lo);
      }
    }
  }
}

// The innermost loops of the multigrid solver, one grid row at a time. They carry no OpenMP
// threading of their own, so each can be compiled twice: for the baseline instruction set
// and for AVX2, picked at load time by the CPU (wider vectors, same operations per element).
// Only the summation order of the dot products differs between the two.
#include "multigrid_levels.h"

#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__clang__)
#define ML_WIDE __attribute__((target_clones("avx2", "default")))
#else
#define ML_WIDE
#endif

ML_WIDE void smooth_first_row(float* x, const float* f, const unsigned char* m, int lo, int hi,
                              int parity) {
  ML_OMP("omp simd")
  for (int i = lo; i <= hi; ++i) x[i] = static_cast<float>(m[i] & ~(i ^ parity) & 1) * 0.25f * f[i];
}

ML_WIDE void smooth_row(float* x, const float* f, const unsigned char* m, int lo, int hi, int W,
                        int parity) {
  // Cells of one colour read only cells of the other, so the lanes are independent.
  ML_OMP("omp simd")
  for (int i = lo + ((lo ^ parity) & 1); i <= hi; i += 2) {
    x[i] = m[i] * 0.25f * (f[i] + x[i - 1] + x[i + 1] + x[i - W] + x[i + W]);
  }
}

ML_WIDE void residual_row(float* res, const float* x, const float* f, const unsigned char* m,
                          int lo, int hi, int W) {
  ML_OMP("omp simd")
  for (int i = lo; i <= hi; ++i) {
    res[i] = m[i] * (f[i] - 4.0f * x[i] + x[i - 1] + x[i + 1] + x[i - W] + x[i + W]);
  }
}

ML_WIDE void restrict_along_row(float* h, const float* res, int lo, int hi) {
  ML_OMP("omp simd")
  for (int I = lo; I <= hi; ++I) {
    h[I] = res[2 * I - 1] + 3.0f * (res[2 * I] + res[2 * I + 1]) + res[2 * I + 2];
  }
}

ML_WIDE void restrict_across_rows(float* out, const float* h0, const float* h1, const float* h2,
                                  const float* h3, const unsigned char* m, int lo, int hi) {
  ML_OMP("omp simd")
  for (int I = lo; I <= hi; ++I) {
    out[I] = m[I] * (h0[I] + 3.0f * (h1[I] + h2[I]) + h3[I]) * (1.0f / 16.0f);
  }
}

namespace {

// Fine cell i of coarse cell I = i / 2; its other coarse neighbour along the row is I2.
inline void prolong_cell(float* x, const float* c0, const float* c1, const unsigned char* m, int i,
                         int I, int I2) {
  x[i] += m[i] * (9.0f * c0[I] + 3.0f * (c0[I2] + c1[I]) + c1[I2]) * (1.0f / 16.0f);
}

}  // namespace

ML_WIDE void prolong_row(float* x, const float* c0, const float* c1, const unsigned char* m, int lo,
                         int hi) {
  // Cells go in pairs 2I, 2I + 1 that share coarse cell I and take their second one from the
  // left and the right: contiguous coarse loads instead of a gather per cell.
  if (lo & 1) prolong_cell(x, c0, c1, m, lo, lo >> 1, (lo >> 1) + 1);
  if (!(hi & 1)) prolong_cell(x, c0, c1, m, hi, hi >> 1, (hi >> 1) - 1);
  const int first = (lo + 1) >> 1, last = (hi - 1) >> 1;
  ML_OMP("omp simd")
  for (int I = first; I <= last; ++I) {
    prolong_cell(x, c0, c1, m, 2 * I, I, I - 1);
    prolong_cell(x, c0, c1, m, 2 * I + 1, I, I + 1);
  }
}

ML_WIDE double operator_row(float* q, const float* p, const unsigned char* m, int lo, int hi,
                            int W) {
  double pq = 0;
  ML_OMP("omp simd reduction(+ : pq)")
  for (int i = lo; i <= hi; ++i) {
    q[i] = m[i] * (4.0f * p[i] - p[i - 1] - p[i + 1] - p[i - W] - p[i + W]);
    pq += static_cast<double>(p[i]) * q[i];
  }
  return pq;
}

ML_WIDE double update_row(float* x, float* r, const float* p, const float* q, float alpha, int lo,
                          int hi) {
  double rr = 0;
  ML_OMP("omp simd reduction(+ : rr)")
  for (int i = lo; i <= hi; ++i) {
    x[i] += alpha * p[i];
    r[i] -= alpha * q[i];
    rr += static_cast<double>(r[i]) * r[i];
  }
  return rr;
}

ML_WIDE void direction_row(float* p, const float* z, float beta, int lo, int hi) {
  ML_OMP("omp simd")
  for (int i = lo; i <= hi; ++i) p[i] = z[i] + beta * p[i];
}

ML_WIDE double dot_row(const float* a, const float* b, int lo, int hi) {
  double sum = 0;
  ML_OMP("omp simd reduction(+ : sum)")
  for (int i = lo; i <= hi; ++i) sum += static_cast<double>(a[i]) * b[i];
  return sum;
}

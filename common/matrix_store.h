// The process-wide store of dense matrices and vectors.
//
// Every matrix and vector of the clustering programs is taken from here and
// given back by its owner. A returned object is kept on a free list and handed
// out again for the next request of exactly the same shape, so the density
// and update code, which takes and returns temporaries on every call, runs
// without touching the system allocator once the shapes it needs have been
// seen. Returning an object twice, or returning something the store never
// handed out, is a fatal internal error.
//
// Headers live in two arenas (one for matrices, one for vectors): lists of
// blocks, newest first, each with a bump position and a circular free list
// ordered by address whose first unit is a sentinel. Blocks double in size
// when full; freed space is never split or merged.
#pragma once

#include <cstdint>

namespace veska {

// rows x cols doubles, row-major in one block owned by the matrix.
struct Matrix {
  int32_t rows;
  int32_t cols;
  double* data;
  int32_t free_next;  // store bookkeeping: free-list link (unit index)

  double* operator[](int i) { return data + static_cast<int64_t>(i) * cols; }
  const double* operator[](int i) const { return data + static_cast<int64_t>(i) * cols; }
};

// n doubles; a vector from the store keeps them inline behind its header.
struct Vector {
  int32_t n;
  int32_t free_next;  // store bookkeeping: free-list link (unit index)
  double* data;

  double& operator[](int i) { return data[i]; }
  const double& operator[](int i) const { return data[i]; }
};

// ---- life cycle ---------------------------------------------------------

// First blocks: 3 MiB of matrix headers, 2 MiB of vector units (8 bytes).
constexpr int64_t kFirstMatrixUnits = 131072;
constexpr int64_t kFirstVectorUnits = 262144;

// Creates the first block of each arena. Called by the run at start-up; the
// first request does it too when nobody has. Smaller first blocks are for
// tests of growth. Releases an existing store first.
void store_init(int64_t matrix_units = kFirstMatrixUnits,
                int64_t vector_units = kFirstVectorUnits);
// Releases every block and every matrix's data. Handles become invalid.
void store_shutdown();

// ---- taking and returning -------------------------------------------------

// Contents are not cleared: a recycled object keeps its old values.
Matrix* new_matrix(int rows, int cols);
Vector* new_vector(int n);
// A null handle is ignored.
void free_matrix(Matrix* m);
void free_vector(Vector* v);

Matrix* new_zero_matrix(int rows, int cols);
Vector* new_zero_vector(int n);
void zero_matrix(Matrix* m);
void zero_vector(Vector* v);

// Copy into an object of the same shape.
void copy_matrix(Matrix* dst, const Matrix* src);
void copy_vector(Vector* dst, const Vector* src);
// New object of the source's shape and contents.
Matrix* dup_matrix(const Matrix* src);
Vector* dup_vector(const Vector* src);
// New objects filled from plain arrays (row pointers, or n values).
Matrix* new_matrix_from(int rows, int cols, const double* const* row_values);
Vector* new_vector_from(int n, const double* values);

// New a.n x b.n matrix M[i][j] = a[i] * b[j].
Matrix* new_outer_product(const Vector* a, const Vector* b);

// New object made of the entries with a nonzero mask, in index order. A
// negative count is found by counting the mask.
Vector* new_sub_vector(const Vector* v, const int* mask, int count = -1);
Matrix* new_sub_matrix(const Matrix* m, const int* row_mask, const int* col_mask,
                       int n_rows = -1, int n_cols = -1);

// ---- accounting ---------------------------------------------------------

struct StoreStats {
  int64_t system_allocations;  // blocks, block records and matrix data taken
                               // from the system since the store was created
  int matrix_blocks;
  int vector_blocks;
  int64_t newest_matrix_capacity;  // units of the newest block
  int64_t newest_vector_capacity;
};
StoreStats store_stats();

}  // namespace veska

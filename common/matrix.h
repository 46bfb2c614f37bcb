// Dense linear algebra on the store's matrices and vectors.
//
// Sizes are those of one Gaussian block, so determinants and inverses use
// closed forms up to 3 x 3 and factorisations above (Cholesky for symmetric
// positive-definite matrices, LU with scaled partial pivoting otherwise).
// Results go into objects the caller provides. Operand shapes are checked:
// a mismatch is a fatal internal error naming the operation. Nothing here
// takes memory from the system once the store has seen the shapes involved.
#pragma once

#include <cstdio>

#include "common/matrix_store.h"

namespace veska {

// ---- element-wise and structural ----------------------------------------

void add_matrix(Matrix* d, const Matrix* a, const Matrix* b);  // D = A + B
void add_matrix(Matrix* a, const Matrix* b);                   // A += B
void add_vector(Vector* d, const Vector* a, const Vector* b);
void add_vector(Vector* a, const Vector* b);
void subtract_matrix(Matrix* d, const Matrix* a, const Matrix* b);  // D = A - B
void subtract_matrix(Matrix* a, const Matrix* b);                   // A -= B
void subtract_vector(Vector* d, const Vector* a, const Vector* b);
void subtract_vector(Vector* a, const Vector* b);

// D = A B; D must be neither A nor B.
void multiply_matrix(Matrix* d, const Matrix* a, const Matrix* b);
// y = A x; y must not be x.
void multiply_matrix_vector(Vector* y, const Matrix* a, const Vector* x);

double dot_product(const Vector* x, const Vector* y);
// x' A x for a symmetric A, reading only its upper triangle.
double quadratic_form(const Matrix* a, const Vector* x);
// (x - mu)' A (x - mu) over a's order, without storing the difference: the
// bits of quadratic_form of the subtracted vector.
double quadratic_form_of_difference(const Matrix* a, const double* x, const double* mu);
double trace(const Matrix* a);

void set_diagonal(Matrix* a, double s);
void set_scaled_identity(Matrix* a, double s);  // A = s I
void scale_matrix(Matrix* a, double s);
void divide_matrix(Matrix* a, double s);
void scale_vector(Vector* v, double s);
void divide_vector(Vector* v, double s);

// B = A'; B must not be A.
void transpose_matrix(Matrix* b, const Matrix* a);
// Copies the upper triangle into the lower one.
void symmetrise(Matrix* a);

// Masks are int flags: nonzero selects the entry (an observed component).
int count_mask(const int* mask, int n);
// The selected entries, in index order, into an object of the selected size.
void extract_sub_vector(Vector* dst, const Vector* v, const int* mask);
void extract_sub_matrix(Matrix* dst, const Matrix* m, const int* row_mask, const int* col_mask);

// A 1 x n or n x 1 matrix into a vector of length n.
void matrix2vector(Vector* v, const Matrix* m);

bool has_non_finite(const Matrix* m);
bool has_non_finite(const Vector* v);

// Diagnostics, with the message precision: "[x; y   ]" for a vector, rows of
// "\t"-separated elements joined by ";" for a matrix. The permuted form
// prints rows perm[0], perm[1], ... (a factor addressed through its row
// permutation) in the "g" style.
void print_vector(FILE* out, const Vector* v);
void print_matrix(FILE* out, const Matrix* m);
void print_permuted_matrix(FILE* out, const Matrix* m, const int* perm);

// ---- determinants and inverses ------------------------------------------
//
// Every form returns det A with a verdict for every size: ok is false when
// A is singular (a failed factorisation or a zero determinant), when det A
// is not finite (every caller takes its logarithm), or, for the symmetric
// forms, when A is not positive definite. The
// inverses write A^-1 into `inv` (which may be A itself); when ok is false
// `inv` holds nothing usable.

struct DetResult {
  double det = 0.0;
  bool ok = false;
};

DetResult det_general(const Matrix* a);
DetResult det_spd(const Matrix* a);
DetResult inverse_general(Matrix* inv, const Matrix* a);
DetResult inverse_spd(Matrix* inv, const Matrix* a);

}  // namespace veska

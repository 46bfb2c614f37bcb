#include "common/matrix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/misc.h"

namespace veska {

namespace {

// Below this a row scale or an LU pivot counts as zero.
constexpr double kTiny = 1e-60;

size_t element_count(const Matrix* m) { return static_cast<size_t>(m->rows) * m->cols; }

bool same_shape(const Matrix* a, const Matrix* b) {
  return a->rows == b->rows && a->cols == b->cols;
}

void require_square(const Matrix* a, const char* function) {
  if (a->rows != a->cols) die_bad_dimension(function);
}

// Element-wise d[i] = f(a[i], b[i]) over n doubles.
template <class Op>
void combine(double* d, const double* a, const double* b, size_t n, Op op) {
  for (size_t i = 0; i < n; ++i) d[i] = op(a[i], b[i]);
}

// ---- closed forms up to 3 x 3 ----

double det_closed(const Matrix& a) {
  switch (a.rows) {
    case 1:
      return a[0][0];
    case 2:
      return a[0][0] * a[1][1] - a[0][1] * a[1][0];
    default:  // rule of Sarrus
      return a[0][0] * a[1][1] * a[2][2] + a[0][1] * a[1][2] * a[2][0] +
             a[0][2] * a[1][0] * a[2][1] - a[0][2] * a[1][1] * a[2][0] -
             a[0][1] * a[1][0] * a[2][2] - a[0][0] * a[1][2] * a[2][1];
  }
}

// Adjugate over determinant; reads all of A before writing, so inv may be A.
double inverse_closed(Matrix& inv, const Matrix& a) {
  double d = det_closed(a);
  if (a.rows == 1) {
    inv[0][0] = 1.0 / d;
    return d;
  }
  if (a.rows == 2) {
    double a00 = a[0][0], a01 = a[0][1], a10 = a[1][0], a11 = a[1][1];
    inv[0][0] = a11 / d;
    inv[0][1] = -a01 / d;
    inv[1][0] = -a10 / d;
    inv[1][1] = a00 / d;
    return d;
  }
  // c[i][j]: cofactor of a[i][j]; inv[i][j] = c[j][i] / d.
  double c[3][3];
  for (int i = 0; i < 3; ++i) {
    int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
    for (int j = 0; j < 3; ++j) {
      int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      // Cyclic index order makes the sign of the cofactor come out right.
      c[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) inv[i][j] = c[j][i] / d;
  }
  return d;
}

// ---- Cholesky ----

// A = L L' with L lower triangular (only the lower triangle of L is written).
// False when a pivot d is negative: A is not positive definite. A zero pivot
// passes and leads to non-finite values.
bool cholesky(Matrix& l, const Matrix& a) {
  int n = a.rows;
  for (int i = 0; i < n; ++i) {
    const double* li = l[i];
    double d = a[i][i];
    for (int k = 0; k < i; ++k) d -= li[k] * li[k];
    if (d < 0) return false;
    double diag = std::sqrt(d);
    l[i][i] = diag;
    for (int r = i + 1; r < n; ++r) {
      double* lr = l[r];
      double s = a[r][i];
      for (int k = 0; k < i; ++k) s -= lr[k] * li[k];
      lr[i] = s / diag;
    }
  }
  return true;
}

// (product of the L[i][i])^2
double cholesky_det(const Matrix& l) {
  double p = 1.0;
  for (int i = 0; i < l.rows; ++i) p *= l[i][i];
  return p * p;
}

// ---- LU ----

// Row scales and row permutation of one factorisation: on the stack up to 256
// rows, on the heap above.
class LuWork {
 public:
  explicit LuWork(int n) {
    if (n <= kLocalRows) {
      scale = local_scale_;
      perm = local_perm_;
    } else {
      heap_scale_.resize(n);
      heap_perm_.resize(n);
      scale = heap_scale_.data();
      perm = heap_perm_.data();
    }
  }
  double* scale;
  int* perm;

 private:
  static constexpr int kLocalRows = 256;
  double local_scale_[kLocalRows];
  int local_perm_[kLocalRows];
  std::vector<double> heap_scale_;
  std::vector<int> heap_perm_;
};

// P A = L U in place in w (a copy of A), rows addressed through perm: for
// position k with row r = perm[k], w[r][q] (q >= k) is U[k][q] and w[r][j]
// (j < k) is the unit lower factor L[k][j]. The pivot of each column is the
// largest partially eliminated entry relative to its row's scale (first
// maximum wins); choosing it from the eliminated column rather than from A's
// own column keeps a nonsingular matrix from meeting a zero pivot. *sign is
// the permutation's sign. False when a row or a pivot is below kTiny.
bool lu_factor(Matrix& w, LuWork& work, double* sign) {
  int n = w.rows;
  double* s = work.scale;
  int* p = work.perm;
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) big = std::max(big, std::fabs(w[i][j]));
    if (big < kTiny) return false;
    s[i] = big;
    p[i] = i;
  }
  *sign = 1.0;
  for (int k = 0; k < n; ++k) {
    // Eliminate column k in the rows not yet pivoted and pick the pivot.
    int best = k;
    double best_ratio = 0.0;
    for (int q = k; q < n; ++q) {
      double* wr = w[p[q]];
      double v = wr[k];
      for (int j = 0; j < k; ++j) v -= wr[j] * w[p[j]][k];
      wr[k] = v;
      double ratio = std::fabs(v) / s[p[q]];
      if (ratio > best_ratio) {
        best_ratio = ratio;
        best = q;
      }
    }
    if (best != k) {
      std::swap(p[best], p[k]);
      *sign = -*sign;
    }
    double* wk = w[p[k]];
    double pivot = wk[k];
    if (std::fabs(pivot) < kTiny) return false;
    for (int q = k + 1; q < n; ++q) {
      double u = wk[q];
      for (int j = 0; j < k; ++j) u -= wk[j] * w[p[j]][q];
      wk[q] = u;
      w[p[q]][k] /= pivot;
    }
  }
  return true;
}

double lu_det(const Matrix& w, const int* p, double sign) {
  double d = sign;
  for (int k = 0; k < w.rows; ++k) d *= w[p[k]][k];
  return d;
}

// ---- printing ----

// Rows of m in the order given by perm (identity when null), each element
// printed with element_format (a message template), rows joined by ";".
void print_rows(FILE* out, const Matrix* m, const int* perm, const char* element_template) {
  char element[32];
  std::snprintf(element, sizeof element, "%s", conv_msg(element_template));
  std::fputs("[", out);
  for (int i = 0; i < m->rows; ++i) {
    if (i > 0) std::fputs(conv_msg(";\n"), out);
    const double* row = (*m)[perm != nullptr ? perm[i] : i];
    for (int j = 0; j < m->cols; ++j) std::fprintf(out, element, row[j]);
  }
  std::fputs(conv_msg("   ]\n"), out);
}

}  // namespace

// ---- element-wise and structural ------------------------------------------

void add_matrix(Matrix* d, const Matrix* a, const Matrix* b) {
  if (!same_shape(d, a) || !same_shape(a, b)) die_bad_dimension("add_matrix");
  combine(d->data, a->data, b->data, element_count(d), [](double x, double y) { return x + y; });
}

void add_matrix(Matrix* a, const Matrix* b) { add_matrix(a, a, b); }

void add_vector(Vector* d, const Vector* a, const Vector* b) {
  if (d->n != a->n || a->n != b->n) die_bad_dimension("add_vector");
  combine(d->data, a->data, b->data, d->n, [](double x, double y) { return x + y; });
}

void add_vector(Vector* a, const Vector* b) { add_vector(a, a, b); }

void subtract_matrix(Matrix* d, const Matrix* a, const Matrix* b) {
  if (!same_shape(d, a) || !same_shape(a, b)) die_bad_dimension("subtract_matrix");
  combine(d->data, a->data, b->data, element_count(d), [](double x, double y) { return x - y; });
}

void subtract_matrix(Matrix* a, const Matrix* b) { subtract_matrix(a, a, b); }

void subtract_vector(Vector* d, const Vector* a, const Vector* b) {
  if (d->n != a->n || a->n != b->n) die_bad_dimension("subtract_vector");
  combine(d->data, a->data, b->data, d->n, [](double x, double y) { return x - y; });
}

void subtract_vector(Vector* a, const Vector* b) { subtract_vector(a, a, b); }

void multiply_matrix(Matrix* d, const Matrix* a, const Matrix* b) {
  if (a->cols != b->rows || d->rows != a->rows || d->cols != b->cols) {
    die_bad_dimension("multiply_matrix");
  }
  zero_matrix(d);
  for (int i = 0; i < a->rows; ++i) {
    double* di = (*d)[i];
    const double* ai = (*a)[i];
    for (int k = 0; k < a->cols; ++k) {
      const double* bk = (*b)[k];
      for (int j = 0; j < b->cols; ++j) di[j] += ai[k] * bk[j];
    }
  }
}

void multiply_matrix_vector(Vector* y, const Matrix* a, const Vector* x) {
  if (a->cols != x->n || y->n != a->rows) die_bad_dimension("multiply_matrix_vector");
  zero_vector(y);
  for (int i = 0; i < a->rows; ++i) {
    const double* ai = (*a)[i];
    double s = 0.0;
    for (int j = 0; j < a->cols; ++j) s += ai[j] * x->data[j];
    y->data[i] = s;
  }
}

double dot_product(const Vector* x, const Vector* y) {
  if (x->n != y->n) die_bad_dimension("dot_product");
  double s = 0.0;
  for (int i = 0; i < x->n; ++i) s += x->data[i] * y->data[i];
  return s;
}

namespace {

// The upper triangle once: the diagonal terms, then twice the others.
template <typename Value>
double upper_quadratic_form(const Matrix* a, int n, Value v) {
  double diagonal = 0.0, off = 0.0;
  for (int i = 0; i < n; ++i) {
    const double* ai = (*a)[i];
    const double vi = v(i);
    diagonal += ai[i] * vi * vi;
    double row = 0.0;
    for (int j = i + 1; j < n; ++j) row += ai[j] * v(j);
    off += vi * row;
  }
  return diagonal + 2.0 * off;
}

}  // namespace

double quadratic_form(const Matrix* a, const Vector* x) {
  if (a->rows != a->cols || a->rows != x->n) die_bad_dimension("quadratic_form");
  const double* v = x->data;
  return upper_quadratic_form(a, x->n, [v](int i) { return v[i]; });
}

double quadratic_form_of_difference(const Matrix* a, const double* x, const double* mu) {
  if (a->rows != a->cols) die_bad_dimension("quadratic_form_of_difference");
  return upper_quadratic_form(a, a->rows, [x, mu](int i) { return x[i] - mu[i]; });
}

double trace(const Matrix* a) {
  require_square(a, "trace");
  double s = 0.0;
  for (int i = 0; i < a->rows; ++i) s += (*a)[i][i];
  return s;
}

void set_diagonal(Matrix* a, double s) {
  require_square(a, "set_diagonal");
  for (int i = 0; i < a->rows; ++i) (*a)[i][i] = s;
}

void set_scaled_identity(Matrix* a, double s) {
  require_square(a, "set_scaled_identity");
  zero_matrix(a);
  set_diagonal(a, s);
}

void scale_matrix(Matrix* a, double s) {
  for (size_t i = 0; i < element_count(a); ++i) a->data[i] *= s;
}

void divide_matrix(Matrix* a, double s) {
  for (size_t i = 0; i < element_count(a); ++i) a->data[i] /= s;
}

void scale_vector(Vector* v, double s) {
  for (int i = 0; i < v->n; ++i) v->data[i] *= s;
}

void divide_vector(Vector* v, double s) {
  for (int i = 0; i < v->n; ++i) v->data[i] /= s;
}

void transpose_matrix(Matrix* b, const Matrix* a) {
  if (b->rows != a->cols || b->cols != a->rows) die_bad_dimension("transpose_matrix");
  for (int i = 0; i < a->rows; ++i) {
    for (int j = 0; j < a->cols; ++j) (*b)[j][i] = (*a)[i][j];
  }
}

void symmetrise(Matrix* a) {
  require_square(a, "symmetrise");
  for (int i = 1; i < a->rows; ++i) {
    for (int j = 0; j < i; ++j) (*a)[i][j] = (*a)[j][i];
  }
}

int count_mask(const int* mask, int n) {
  int count = 0;
  for (int i = 0; i < n; ++i) count += mask[i] != 0;
  return count;
}

void extract_sub_vector(Vector* dst, const Vector* v, const int* mask) {
  if (count_mask(mask, v->n) != dst->n) die_bad_dimension("extract_sub_vector");
  int k = 0;
  for (int i = 0; i < v->n; ++i) {
    if (mask[i] != 0) dst->data[k++] = v->data[i];
  }
}

void extract_sub_matrix(Matrix* dst, const Matrix* m, const int* row_mask, const int* col_mask) {
  if (count_mask(row_mask, m->rows) != dst->rows || count_mask(col_mask, m->cols) != dst->cols) {
    die_bad_dimension("extract_sub_matrix");
  }
  int r = 0;
  for (int i = 0; i < m->rows; ++i) {
    if (row_mask[i] == 0) continue;
    const double* from = (*m)[i];
    double* to = (*dst)[r++];
    int c = 0;
    for (int j = 0; j < m->cols; ++j) {
      if (col_mask[j] != 0) to[c++] = from[j];
    }
  }
}

void matrix2vector(Vector* v, const Matrix* m) {
  bool row_or_column = m->rows == 1 || m->cols == 1;
  if (!row_or_column || static_cast<size_t>(v->n) != element_count(m)) {
    die_bad_dimension("matrix2vector");
  }
  std::copy_n(m->data, v->n, v->data);
}

bool has_non_finite(const Matrix* m) {
  for (size_t i = 0; i < element_count(m); ++i) {
    if (!std::isfinite(m->data[i])) return true;
  }
  return false;
}

bool has_non_finite(const Vector* v) {
  for (int i = 0; i < v->n; ++i) {
    if (!std::isfinite(v->data[i])) return true;
  }
  return false;
}

void print_vector(FILE* out, const Vector* v) {
  char element[32];
  std::snprintf(element, sizeof element, "%s", conv_msg("%.Nf"));
  std::fputs("[", out);
  for (int i = 0; i < v->n; ++i) {
    if (i > 0) std::fputs("; ", out);
    std::fprintf(out, element, v->data[i]);
  }
  std::fputs(conv_msg("   ]\n"), out);
}

void print_matrix(FILE* out, const Matrix* m) { print_rows(out, m, nullptr, "\t%.Nf"); }

void print_permuted_matrix(FILE* out, const Matrix* m, const int* perm) {
  print_rows(out, m, perm, "\t%.Ng");
}

// ---- determinants and inverses --------------------------------------------

namespace {

// A general result stands when its determinant is finite and not zero.
DetResult general_result(double det) { return {det, std::isfinite(det) && det != 0.0}; }

// The closed forms make no factorisation, so a symmetric input is tested
// by its leading minors: positive definite when every one is positive.
bool leading_minors_positive(const Matrix& a) {
  if (!(a[0][0] > 0.0)) return false;
  if (a.rows < 3) return true;
  return a[0][0] * a[1][1] - a[0][1] * a[1][0] > 0.0;
}

DetResult spd_closed_result(const Matrix& a, double det) {
  return {det, leading_minors_positive(a) && std::isfinite(det) && det > 0.0};
}

}  // namespace

DetResult det_general(const Matrix* a) {
  require_square(a, "det_general");
  if (a->rows <= 3) return general_result(det_closed(*a));
  Matrix* w = dup_matrix(a);
  LuWork work(a->rows);
  double sign;
  DetResult r;
  if (lu_factor(*w, work, &sign)) r = general_result(lu_det(*w, work.perm, sign));
  free_matrix(w);
  return r;
}

DetResult det_spd(const Matrix* a) {
  require_square(a, "det_spd");
  if (a->rows <= 3) return spd_closed_result(*a, det_closed(*a));
  Matrix* l = new_matrix(a->rows, a->rows);
  DetResult r;
  if (cholesky(*l, *a)) {
    const double d = cholesky_det(*l);
    r = {d, std::isfinite(d) && d > 0.0};
  }
  free_matrix(l);
  return r;
}

DetResult inverse_general(Matrix* inv, const Matrix* a) {
  require_square(a, "inverse_general");
  if (!same_shape(inv, a)) die_bad_dimension("inverse_general");
  if (a->rows <= 3) return general_result(inverse_closed(*inv, *a));
  int n = a->rows;
  Matrix* w = dup_matrix(a);
  LuWork work(n);
  double sign;
  if (!lu_factor(*w, work, &sign)) {
    free_matrix(w);
    return {};
  }
  const int* p = work.perm;
  // Column j of A^-1 solves L U x = P e_j: forward, then back substitution.
  Vector* x = new_vector(n);
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) {
      const double* wk = (*w)[p[k]];
      double y = p[k] == j ? 1.0 : 0.0;
      for (int m = 0; m < k; ++m) y -= wk[m] * x->data[m];
      x->data[k] = y;
    }
    for (int k = n - 1; k >= 0; --k) {
      const double* wk = (*w)[p[k]];
      double y = x->data[k];
      for (int m = k + 1; m < n; ++m) y -= wk[m] * x->data[m];
      x->data[k] = y / wk[k];
    }
    for (int i = 0; i < n; ++i) (*inv)[i][j] = x->data[i];
  }
  double d = lu_det(*w, p, sign);
  free_vector(x);
  free_matrix(w);
  return general_result(d);
}

DetResult inverse_spd(Matrix* inv, const Matrix* a) {
  require_square(a, "inverse_spd");
  if (!same_shape(inv, a)) die_bad_dimension("inverse_spd");
  if (a->rows <= 3) {
    // The test reads A before the inverse may overwrite it.
    const bool definite = leading_minors_positive(*a);
    const double d = inverse_closed(*inv, *a);
    return {d, definite && std::isfinite(d) && d > 0.0};
  }
  int n = a->rows;
  Matrix* l = new_matrix(n, n);
  if (!cholesky(*l, *a)) {
    free_matrix(l);
    return {};
  }
  // R = L^-1 row by row (lower triangular), then A^-1 = R' R. Dividing by
  // L[k][k] is multiplying by R[k][k], found in an earlier row.
  Matrix* r = new_matrix(n, n);
  for (int i = 0; i < n; ++i) {
    double* ri = (*r)[i];
    ri[i] = 1.0 / (*l)[i][i];
    for (int k = i - 1; k >= 0; --k) {
      double s = 0.0;
      for (int m = k + 1; m <= i; ++m) s += (*l)[m][k] * ri[m];
      ri[k] = -s * (*r)[k][k];
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double s = 0.0;
      for (int k = j; k < n; ++k) s += (*r)[k][i] * (*r)[k][j];
      (*inv)[i][j] = s;
      (*inv)[j][i] = s;
    }
  }
  double d = cholesky_det(*l);
  free_matrix(r);
  free_matrix(l);
  return {d, std::isfinite(d) && d > 0.0};
}

}  // namespace veska

#include "common/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/misc.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

Matrix* matrix_of(int rows, int cols, std::vector<double> values) {
  Matrix* m = new_matrix(rows, cols);
  for (int i = 0; i < rows * cols; ++i) m->data[i] = values[i];
  return m;
}

Vector* vector_of(std::vector<double> values) {
  return new_vector_from(static_cast<int>(values.size()), values.data());
}

// B B' + n I for a random B: symmetric positive definite and well conditioned.
Matrix* random_spd(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix* b = new_matrix(n, n);
  for (int i = 0; i < n * n; ++i) b->data[i] = u(rng);
  Matrix* bt = new_matrix(n, n);
  transpose_matrix(bt, b);
  Matrix* a = new_matrix(n, n);
  multiply_matrix(a, b, bt);
  for (int i = 0; i < n; ++i) (*a)[i][i] += n;
  free_matrix(bt);
  free_matrix(b);
  return a;
}

// Largest |(A A^-1 - I)[i][j]|.
double identity_error(const Matrix* a, const Matrix* inv) {
  Matrix* p = new_matrix(a->rows, a->cols);
  multiply_matrix(p, a, inv);
  double worst = 0.0;
  for (int i = 0; i < a->rows; ++i) {
    for (int j = 0; j < a->cols; ++j) {
      worst = std::max(worst, std::fabs((*p)[i][j] - (i == j ? 1.0 : 0.0)));
    }
  }
  free_matrix(p);
  return worst;
}

std::string printed(void (*print)(FILE*, const Matrix*), const Matrix* m) {
  FILE* f = std::tmpfile();
  print(f, m);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

TEST(MatrixAlgebra, ElementWiseAndProducts) {
  Matrix* a = matrix_of(2, 3, {1, 2, 3, 4, 5, 6});
  Matrix* b = matrix_of(2, 3, {6, 5, 4, 3, 2, 1});
  Matrix* d = new_matrix(2, 3);
  add_matrix(d, a, b);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d->data[i], 7.0);
  subtract_matrix(d, a, b);
  EXPECT_EQ((*d)[1][2], 5.0);
  add_matrix(d, b);  // in place: back to a
  EXPECT_EQ((*d)[0][1], 2.0);
  subtract_matrix(d, a);
  EXPECT_EQ((*d)[1][0], 0.0);

  Matrix* bt = new_matrix(3, 2);
  transpose_matrix(bt, b);
  EXPECT_EQ((*bt)[2][1], 1.0);
  EXPECT_EQ((*bt)[0][1], 3.0);
  Matrix* p = matrix_of(2, 2, {-1, -1, -1, -1});  // cleared by the product
  multiply_matrix(p, a, bt);
  EXPECT_EQ((*p)[0][0], 6 + 10 + 12.0);
  EXPECT_EQ((*p)[0][1], 3 + 4 + 3.0);
  EXPECT_EQ((*p)[1][0], 24 + 25 + 24.0);
  EXPECT_EQ((*p)[1][1], 12 + 10 + 6.0);

  Vector* x = vector_of({1, 0, -1});
  Vector* y = vector_of({9, 9});
  multiply_matrix_vector(y, a, x);
  EXPECT_EQ((*y)[0], -2.0);
  EXPECT_EQ((*y)[1], -2.0);
  Vector* z = vector_of({2, 2, 2});
  EXPECT_EQ(dot_product(x, z), 0.0);
  Vector* s = new_vector(3);
  add_vector(s, x, z);
  EXPECT_EQ((*s)[2], 1.0);
  subtract_vector(s, z);
  EXPECT_EQ((*s)[0], 1.0);
  scale_vector(s, 4);
  divide_vector(s, 2);
  EXPECT_EQ((*s)[2], -2.0);
  scale_matrix(a, 2);
  divide_matrix(a, 4);
  EXPECT_EQ((*a)[1][1], 2.5);

  for (Matrix* m : {a, b, d, bt, p}) free_matrix(m);
  for (Vector* v : {x, y, z, s}) free_vector(v);
}

TEST(MatrixAlgebra, QuadraticFormReadsTheUpperTriangleOnly) {
  Matrix* a = matrix_of(3, 3, {2, 1, 0, 99, 3, -1, 99, 99, 4});
  Vector* x = vector_of({1, 2, 3});
  // 2 + 12 + 36 + 2 (1*1*2) + 2 (-1*2*3)
  EXPECT_EQ(quadratic_form(a, x), 2 + 12 + 36 + 4 - 12.0);
  symmetrise(a);
  EXPECT_EQ((*a)[1][0], 1.0);
  EXPECT_EQ((*a)[2][0], 0.0);
  EXPECT_EQ((*a)[2][1], -1.0);
  EXPECT_EQ(trace(a), 9.0);
  set_diagonal(a, 5);
  EXPECT_EQ(trace(a), 15.0);
  set_scaled_identity(a, 0.5);
  EXPECT_EQ((*a)[0][1], 0.0);
  EXPECT_EQ((*a)[2][2], 0.5);
  free_matrix(a);
  free_vector(x);
}

TEST(MatrixAlgebra, MasksRowsAndFiniteness) {
  Matrix* a = matrix_of(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  int rows[] = {0, 1, 1}, cols[] = {1, 0, 1};
  EXPECT_EQ(count_mask(rows, 3), 2);
  Matrix* sub = new_matrix(2, 2);
  extract_sub_matrix(sub, a, rows, cols);
  EXPECT_EQ((*sub)[0][0], 4.0);
  EXPECT_EQ((*sub)[0][1], 6.0);
  EXPECT_EQ((*sub)[1][1], 9.0);
  Vector* v = vector_of({1, 2, 3});
  Vector* sv = new_vector(2);
  extract_sub_vector(sv, v, cols);
  EXPECT_EQ((*sv)[1], 3.0);

  Matrix* row = matrix_of(1, 3, {4, 5, 6});
  Matrix* col = matrix_of(3, 1, {7, 8, 9});
  matrix2vector(v, row);
  EXPECT_EQ((*v)[2], 6.0);
  matrix2vector(v, col);
  EXPECT_EQ((*v)[0], 7.0);
  auto r = run_capturing([&] { matrix2vector(v, a); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error: matrix2vector() -- illegal dimension(s)\n");
  EXPECT_EQ(run_capturing([&] { matrix2vector(sv, row); }).msg,
            "Internal error: matrix2vector() -- illegal dimension(s)\n");

  EXPECT_FALSE(has_non_finite(a));
  EXPECT_FALSE(has_non_finite(v));
  (*a)[2][1] = std::numeric_limits<double>::infinity();
  (*v)[1] = std::nan("");
  EXPECT_TRUE(has_non_finite(a));
  EXPECT_TRUE(has_non_finite(v));
  for (Matrix* m : {a, sub, row, col}) free_matrix(m);
  free_vector(v);
  free_vector(sv);
}

TEST(MatrixAlgebra, ShapeMismatchesAreInternalErrors) {
  Matrix* a = new_matrix(2, 3);
  Matrix* b = new_matrix(3, 2);
  Matrix* sq = new_matrix(2, 2);
  Vector* v2 = new_vector(2);
  Vector* v3 = new_vector(3);
  auto message = [](const char* f) {
    return std::string("Internal error: ") + f + "() -- illegal dimension(s)\n";
  };
  EXPECT_EQ(run_capturing([&] { add_matrix(sq, a, a); }).msg, message("add_matrix"));
  EXPECT_EQ(run_capturing([&] { subtract_matrix(a, b); }).msg, message("subtract_matrix"));
  EXPECT_EQ(run_capturing([&] { add_vector(v2, v3); }).msg, message("add_vector"));
  EXPECT_EQ(run_capturing([&] { multiply_matrix(a, a, b); }).msg, message("multiply_matrix"));
  EXPECT_EQ(run_capturing([&] { multiply_matrix_vector(v3, a, v3); }).msg,
            message("multiply_matrix_vector"));
  EXPECT_EQ(run_capturing([&] { dot_product(v2, v3); }).msg, message("dot_product"));
  EXPECT_EQ(run_capturing([&] { quadratic_form(sq, v3); }).msg, message("quadratic_form"));
  EXPECT_EQ(run_capturing([&] { transpose_matrix(a, a); }).msg, message("transpose_matrix"));
  EXPECT_EQ(run_capturing([&] { trace(a); }).msg, message("trace"));
  EXPECT_EQ(run_capturing([&] { inverse_spd(sq, b); }).msg, message("inverse_spd"));
  EXPECT_EQ(run_capturing([&] { det_general(a); }).msg, message("det_general"));
  int mask[] = {1, 1, 1};
  EXPECT_EQ(run_capturing([&] { extract_sub_vector(v2, v3, mask); }).msg,
            message("extract_sub_vector"));
  for (Matrix* m : {a, b, sq}) free_matrix(m);
  free_vector(v2);
  free_vector(v3);
}

TEST(MatrixAlgebra, IdentityHasDeterminantOneAndIsItsOwnInverse) {
  Matrix* id = new_matrix(4, 4);
  set_scaled_identity(id, 1.0);
  Matrix* inv = new_matrix(4, 4);
  EXPECT_EQ(det_general(id).det, 1.0);
  EXPECT_EQ(det_spd(id).det, 1.0);
  EXPECT_EQ(inverse_spd(inv, id).det, 1.0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(inv->data[i], id->data[i]);
  EXPECT_EQ(inverse_general(inv, id).det, 1.0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(inv->data[i], id->data[i]);
  free_matrix(id);
  free_matrix(inv);
}

TEST(MatrixAlgebra, InversesOfRandomSpdMatricesSizeOneToEight) {
  std::mt19937 rng(2024);
  for (int n = 1; n <= 8; ++n) {
    for (int trial = 0; trial < 5; ++trial) {
      Matrix* a = random_spd(n, rng);
      Matrix* inv = new_matrix(n, n);
      const DetResult spd = inverse_spd(inv, a);
      EXPECT_TRUE(spd.ok) << n;
      EXPECT_LT(identity_error(a, inv), 1e-12) << "spd n=" << n;
      const DetResult general = inverse_general(inv, a);
      EXPECT_TRUE(general.ok) << n;
      const double det_g = general.det;
      EXPECT_LT(identity_error(a, inv), 1e-12) << "general n=" << n;
      EXPECT_NEAR(spd.det, det_g, 1e-12 * std::fabs(det_g)) << n;
      EXPECT_NEAR(det_spd(a).det, det_g, 1e-12 * std::fabs(det_g)) << n;
      EXPECT_NEAR(det_general(a).det, det_g, 1e-12 * std::fabs(det_g)) << n;
      // In place.
      Matrix* copy = dup_matrix(a);
      EXPECT_TRUE(inverse_spd(copy, copy).ok) << n;
      EXPECT_LT(identity_error(a, copy), 1e-12) << "in place n=" << n;
      free_matrix(copy);
      free_matrix(inv);
      free_matrix(a);
    }
  }
}

TEST(MatrixAlgebra, DeterminantOfAKnownFactorisation) {
  // A = L L' with diag(L) = 1..n has det (n!)^2 at every size.
  for (int n = 1; n <= 7; ++n) {
    Matrix* l = new_zero_matrix(n, n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < i; ++j) (*l)[i][j] = 0.25 * (i - 2 * j);
      (*l)[i][i] = i + 1;
    }
    Matrix* lt = new_matrix(n, n);
    transpose_matrix(lt, l);
    Matrix* a = new_matrix(n, n);
    multiply_matrix(a, l, lt);
    double expected = std::pow(std::tgamma(n + 1.0), 2);
    EXPECT_NEAR(det_spd(a).det, expected, 1e-12 * expected) << n;
    EXPECT_NEAR(det_general(a).det, expected, 1e-12 * expected) << n;
    for (Matrix* m : {l, lt, a}) free_matrix(m);
  }
}

TEST(MatrixAlgebra, GeneralPathsPivotOnTheEliminatedColumn) {
  // Nonsingular (det 1/2), but the first scaled maximum of A's own second
  // column is the row whose eliminated entry is zero.
  Matrix* a = matrix_of(4, 4, {1, 1, 0, 0, 1, 1, 0, 1, 0, 0.5, 1, 0, 0, 0, 1, 1});
  Matrix* inv = new_matrix(4, 4);
  EXPECT_NEAR(det_general(a).det, 0.5, 1e-15);
  EXPECT_TRUE(det_general(a).ok);
  const DetResult r = inverse_general(inv, a);
  EXPECT_NEAR(r.det, 0.5, 1e-15);
  EXPECT_TRUE(r.ok);
  EXPECT_LT(identity_error(a, inv), 1e-14);

  // A row permutation (a 4-cycle, so odd): det -1, inverse = transpose.
  Matrix* p = matrix_of(4, 4, {0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0});
  inverse_general(inv, p);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_EQ((*inv)[i][j], (*p)[j][i]);
  }
  EXPECT_EQ(det_general(p).det, -1.0);
  EXPECT_TRUE(det_general(p).ok);
  for (Matrix* m : {a, p, inv}) free_matrix(m);
}

// Every size gives a verdict, whether it takes a closed form (up to 3 x 3)
// or a factorisation, and a failure never depends on an earlier call.
TEST(MatrixAlgebra, SingularAndIndefiniteInputsFailAtEverySize) {
  struct Case {
    std::vector<double> values;
    bool spd_ok;      // positive definite
    bool general_ok;  // nonsingular
  };
  const Case cases[] = {
      {{-2}, false, true},
      {{0}, false, false},
      {{1, 2, 2, 4}, false, false},             // singular
      {{-1, 0, 0, -1}, false, true},            // det > 0, negative definite
      {{-1, 0, 0, 0, -1, 0, 0, 0, 1}, false, true},  // det > 0, two negative pivots
      {{1, 2, 0, 2, 1, 0, 0, 0, -1}, false, true},   // det > 0, indefinite
      {{1, 0, 0, 0, 1, 0, 0, 0, 0}, false, false},
      {{1, 2, 0, 0, 2, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, false, true},
      {{1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 1, 0, 1, 0}, false, false},  // rank 3
      {{1, 2, 3, 4, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0}, false, false},  // zero row
      {{2, 0, 0, 2}, true, true},
  };
  Matrix* id4 = new_matrix(4, 4);
  set_scaled_identity(id4, 4.0);
  for (const Case& c : cases) {
    const int n = static_cast<int>(std::lround(std::sqrt(c.values.size())));
    Matrix* a = matrix_of(n, n, c.values);
    Matrix* inv = new_matrix(n, n);
    EXPECT_EQ(inverse_spd(inv, a).ok, c.spd_ok) << n << " " << c.values[0];
    EXPECT_EQ(det_spd(a).ok, c.spd_ok) << n;
    EXPECT_EQ(inverse_general(inv, a).ok, c.general_ok) << n << " " << c.values[0];
    EXPECT_EQ(det_general(a).ok, c.general_ok) << n;
    // A failure leaves nothing behind for the next call.
    Matrix* inv4 = new_matrix(4, 4);
    const DetResult after = inverse_spd(inv4, id4);
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(after.det, 256.0);
    for (Matrix* m : {a, inv, inv4}) free_matrix(m);
  }
  free_matrix(id4);
}

TEST(MatrixAlgebra, LargeGeneralInverse) {
  // Above 256 rows the LU path keeps its row scales on the heap.
  const int n = 300;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix* a = new_matrix(n, n);
  // Scaled so that det A stays representable: an overflowing determinant
  // counts as a failure, since the callers take its logarithm.
  for (int i = 0; i < n * n; ++i) a->data[i] = u(rng) / n;
  for (int i = 0; i < n; ++i) (*a)[i][i] += 1.0;
  Matrix* inv = new_matrix(n, n);
  EXPECT_TRUE(inverse_general(inv, a).ok);
  EXPECT_LT(identity_error(a, inv), 1e-12);
  free_matrix(a);
  free_matrix(inv);
}

TEST(MatrixAlgebra, FactorisationsTakeNothingFromTheSystemOnceWarm) {
  std::mt19937 rng(3);
  Matrix* a = random_spd(8, rng);
  Matrix* inv = new_matrix(8, 8);
  inverse_spd(inv, a);
  inverse_general(inv, a);
  det_spd(a);
  det_general(a);
  auto before = store_stats().system_allocations;
  for (int i = 0; i < 100; ++i) {
    inverse_spd(inv, a);
    inverse_general(inv, a);
    det_spd(a);
    det_general(a);
  }
  EXPECT_EQ(store_stats().system_allocations, before);
  free_matrix(a);
  free_matrix(inv);
}

TEST(MatrixAlgebra, DiagnosticPrinting) {
  set_conv_precision(3, 12);
  Matrix* m = matrix_of(2, 2, {1, 2.5, -3, 4});
  EXPECT_EQ(printed(print_matrix, m), "[\t1.000\t2.500;\r\n\t-3.000\t4.000   ]\r\n");
  int perm[] = {1, 0};
  FILE* f = std::tmpfile();
  print_permuted_matrix(f, m, perm);
  Vector* v = vector_of({0.5, -1});
  print_vector(f, v);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  EXPECT_EQ(text, "[\t-3\t4;\r\n\t1\t2.5   ]\r\n[0.500; -1.000   ]\r\n");
  set_conv_precision(6, 12);
  free_matrix(m);
  free_vector(v);
}

}  // namespace
}  // namespace veska

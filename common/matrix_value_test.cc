#include "common/matrix_value.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/matrix.h"

namespace veska {
namespace {

MatrixValue spd_2x2(double a, double b, double d) {
  MatrixValue m(2, 2);
  (*m)[0][0] = a;
  (*m)[0][1] = (*m)[1][0] = b;
  (*m)[1][1] = d;
  return m;
}

// Copies, moves and assignments each leave every header pointing at its own
// numbers, so writing through one never shows in another.
TEST(MatrixValue, CopiesAndMovesNeverShareNumbers) {
  MatrixValue a = spd_2x2(4, 1, 3);
  MatrixValue copy = a;
  EXPECT_NE(copy->data, a->data);
  (*copy)[0][1] = 7;
  EXPECT_EQ((*a)[0][1], 1);
  EXPECT_FALSE(copy == a);

  std::vector<MatrixValue> grown;
  for (int i = 0; i < 20; ++i) grown.push_back(spd_2x2(i + 1, 0, 1));  // reallocations move
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(grown[static_cast<size_t>(i)]->data, grown[static_cast<size_t>(i)].values().data());
    EXPECT_EQ((*grown[static_cast<size_t>(i)])[0][0], i + 1);
  }

  MatrixValue target(2, 2);
  const double* storage = target->data;
  target = a;  // same shape: assigned in place
  EXPECT_EQ(target->data, storage);
  EXPECT_TRUE(target == a);
  MatrixValue moved = std::move(copy);
  EXPECT_EQ(moved->data, moved.values().data());
  EXPECT_EQ((*moved)[0][1], 7);
  EXPECT_EQ(copy->data, nullptr);  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(copy->rows, 0);

  VectorValue v(3);
  (*v)[2] = 5;
  VectorValue w = v;
  (*w)[2] = 6;
  EXPECT_EQ((*v)[2], 5);
  EXPECT_FALSE(v == w);
  EXPECT_FALSE(VectorValue(2) == VectorValue(3));
  EXPECT_FALSE(MatrixValue(2, 3) == MatrixValue(3, 2));
}

// The algebra reads and writes them as it does store objects.
TEST(MatrixValue, TheAlgebraWorksThroughTheHeader) {
  const MatrixValue a = spd_2x2(4, 1, 3);
  MatrixValue inv(2, 2);
  const DetResult r = inverse_spd(inv, a);
  ASSERT_TRUE(r.ok);
  EXPECT_DOUBLE_EQ(r.det, 11.0);
  MatrixValue product(2, 2);
  multiply_matrix(product, a, inv);
  EXPECT_NEAR((*product)[0][0], 1.0, 1e-15);
  EXPECT_NEAR((*product)[0][1], 0.0, 1e-15);
  EXPECT_NEAR((*product)[1][1], 1.0, 1e-15);
}

}  // namespace
}  // namespace veska

#include "common/matrix_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

std::string address_text(const void* p) {
  char text[64];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// Gives the test a small store of its own and the default one back after.
class SmallStore : public ::testing::Test {
 protected:
  void SetUp() override { store_init(8, 64); }
  void TearDown() override { store_init(); }
};

TEST(MatrixStore, ReturnedObjectIsReusedForTheSameShapeOnly) {
  Matrix* m = new_matrix(3, 4);
  EXPECT_EQ(m->rows, 3);
  EXPECT_EQ(m->cols, 4);
  for (int i = 0; i < 12; ++i) m->data[i] = i;
  free_matrix(m);
  Matrix* other = new_matrix(4, 3);
  EXPECT_NE(other, m);
  Matrix* again = new_matrix(3, 4);
  EXPECT_EQ(again, m);
  EXPECT_EQ((*again)[2][3], 11.0);  // old contents kept
  free_matrix(again);
  free_matrix(other);

  Vector* v = new_vector(5);
  v->data[4] = 7.5;
  free_vector(v);
  Vector* w = new_vector(6);
  EXPECT_NE(w, v);
  Vector* same = new_vector(5);
  EXPECT_EQ(same, v);
  EXPECT_EQ(same->n, 5);
  EXPECT_EQ((*same)[4], 7.5);
  free_vector(same);
  free_vector(w);

  free_matrix(nullptr);  // ignored
  free_vector(nullptr);
}

TEST(MatrixStore, ObjectsFreedInAnyOrderComeBackOnceEach) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3; ++round) {
    std::vector<Vector*> vectors;
    std::vector<Matrix*> matrices;
    for (int i = 0; i < 50; ++i) {
      vectors.push_back(new_vector(3 + i % 3));
      matrices.push_back(new_matrix(2, 1 + i % 4));
    }
    std::shuffle(vectors.begin(), vectors.end(), rng);
    std::shuffle(matrices.begin(), matrices.end(), rng);
    for (Vector* v : vectors) free_vector(v);
    for (Matrix* m : matrices) free_matrix(m);
    // Every request of a seen shape is served from the free lists, each
    // object once.
    long before = store_stats().system_allocations;
    std::set<Vector*> seen_vectors(vectors.begin(), vectors.end());
    std::set<Matrix*> seen_matrices(matrices.begin(), matrices.end());
    std::set<Vector*> got_vectors;
    std::set<Matrix*> got_matrices;
    for (int i = 0; i < 50; ++i) {
      Vector* v = new_vector(3 + i % 3);
      EXPECT_TRUE(seen_vectors.count(v));
      got_vectors.insert(v);
      Matrix* m = new_matrix(2, 1 + i % 4);
      EXPECT_TRUE(seen_matrices.count(m));
      got_matrices.insert(m);
    }
    EXPECT_EQ(got_vectors.size(), 50u);
    EXPECT_EQ(got_matrices.size(), 50u);
    EXPECT_EQ(store_stats().system_allocations, before);
    for (Vector* v : got_vectors) free_vector(v);
    for (Matrix* m : got_matrices) free_matrix(m);
  }
}

TEST(MatrixStore, DoubleFreeIsFatalAndNamesTheAddress) {
  Matrix* a = new_matrix(2, 2);
  Matrix* b = new_matrix(2, 2);
  Matrix* c = new_matrix(2, 2);
  free_matrix(a);
  free_matrix(c);
  auto r = run_capturing([&] { free_matrix(a); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.msg, "Internal error: double-freed a matrix (" + address_text(a) + ")\n");
  r = run_capturing([&] { free_matrix(c); });
  EXPECT_EQ(r.msg, "Internal error: double-freed a matrix (" + address_text(c) + ")\n");
  free_matrix(b);  // the failed returns left the list intact
  EXPECT_EQ(run_capturing([&] { free_matrix(b); }).msg,
            "Internal error: double-freed a matrix (" + address_text(b) + ")\n");

  Vector* v = new_vector(3);
  Vector* w = new_vector(4);
  free_vector(v);
  r = run_capturing([&] { free_vector(v); });
  EXPECT_EQ(r.msg, "Internal error: double-freed a vector (" + address_text(v) + ")\n");
  free_vector(w);
}

TEST(MatrixStore, ForeignPointerIsFatal) {
  double values[4] = {1, 2, 3, 4};
  Matrix on_stack{2, 2, values, 0};
  auto r = run_capturing([&] { free_matrix(&on_stack); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error: Illegal address of a matrix to be freed\n");
  // Inside a block but not at a header.
  Matrix* m = new_matrix(1, 1);
  auto* inside = reinterpret_cast<Matrix*>(reinterpret_cast<char*>(m) + 4);
  r = run_capturing([&] { free_matrix(inside); });
  EXPECT_EQ(r.msg, "Internal error: Illegal address of a matrix to be freed\n");
  // A matrix handle is not a vector.
  r = run_capturing([&] { free_vector(reinterpret_cast<Vector*>(m)); });
  EXPECT_EQ(r.msg, "Internal error: Illegal address of a vector to be freed\n");
  free_matrix(m);

  Vector on_stack_vector{4, 0, values};
  r = run_capturing([&] { free_vector(&on_stack_vector); });
  EXPECT_EQ(r.msg, "Internal error: Illegal address of a vector to be freed\n");
}

TEST(MatrixStore, NegativeShapeIsAnInternalError) {
  EXPECT_EQ(run_capturing([] { new_matrix(-1, 2); }).msg,
            "Internal error: new_matrix() -- illegal dimension(s)\n");
  EXPECT_EQ(run_capturing([] { new_vector(-3); }).msg,
            "Internal error: new_vector() -- illegal dimension(s)\n");
}

TEST_F(SmallStore, FullBlockIsFollowedByOneOfTwiceTheCapacity) {
  // 8 units hold 6 matrix headers besides the sentinel (the bump test is strict).
  std::vector<Matrix*> held;
  for (int i = 0; i < 6; ++i) held.push_back(new_matrix(1, 2));
  EXPECT_EQ(store_stats().matrix_blocks, 1);
  held.push_back(new_matrix(1, 2));
  EXPECT_EQ(store_stats().matrix_blocks, 2);
  EXPECT_EQ(store_stats().newest_matrix_capacity, 16);

  // A vector longer than the block makes one twice its own size.
  Vector* big = new_vector(100);
  EXPECT_EQ(store_stats().vector_blocks, 2);
  EXPECT_EQ(store_stats().newest_vector_capacity, 2 * (100 + 2));
  // A small one needs no further block.
  Vector* small = new_vector(3);
  EXPECT_EQ(store_stats().vector_blocks, 2);

  // Objects of an older block are returned and recycled there.
  free_matrix(held[0]);
  EXPECT_EQ(new_matrix(1, 2), held[0]);
  for (Matrix* m : held) free_matrix(m);
  EXPECT_EQ(run_capturing([&] { free_matrix(held[3]); }).msg,
            "Internal error: double-freed a matrix (" + address_text(held[3]) + ")\n");
  free_vector(big);
  free_vector(small);
  EXPECT_EQ(new_vector(100), big);
  free_vector(big);
}

TEST_F(SmallStore, ShutdownReleasesEverythingAndStartsAfresh) {
  for (int i = 0; i < 40; ++i) new_matrix(i % 5, 3);  // left in use on purpose
  new_vector(10);
  store_shutdown();
  Matrix* m = new_matrix(2, 2);  // the store starts again by itself
  EXPECT_EQ(store_stats().matrix_blocks, 1);
  EXPECT_EQ(store_stats().newest_matrix_capacity, kFirstMatrixUnits);
  free_matrix(m);
}

TEST(MatrixStore, ZeroAndCopyForms) {
  Matrix* z = new_zero_matrix(2, 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(z->data[i], 0.0);
  Vector* zv = new_zero_vector(4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(zv->data[i], 0.0);
  free_vector(zv);

  double r0[] = {1, 2, 3}, r1[] = {4, 5, 6};
  const double* rows[] = {r0, r1};
  Matrix* a = new_matrix_from(2, 3, rows);
  EXPECT_EQ((*a)[1][2], 6.0);
  Matrix* d = dup_matrix(a);
  EXPECT_NE(d, a);
  EXPECT_EQ((*d)[1][0], 4.0);
  copy_matrix(z, a);
  EXPECT_EQ((*z)[0][1], 2.0);
  zero_matrix(z);
  EXPECT_EQ((*z)[0][1], 0.0);

  double values[] = {1, -2, 3};
  Vector* v = new_vector_from(3, values);
  Vector* dv = dup_vector(v);
  EXPECT_EQ((*dv)[1], -2.0);
  Vector* w = new_vector(2);
  double two[] = {0.5, 4};
  Vector* u = new_vector_from(2, two);
  Matrix* outer = new_outer_product(v, u);
  EXPECT_EQ(outer->rows, 3);
  EXPECT_EQ(outer->cols, 2);
  EXPECT_EQ((*outer)[1][1], -8.0);
  EXPECT_EQ((*outer)[2][0], 1.5);

  EXPECT_EQ(run_capturing([&] { copy_matrix(d, outer); }).msg,
            "Internal error: copy_matrix() -- illegal dimension(s)\n");
  EXPECT_EQ(run_capturing([&] { copy_vector(w, v); }).msg,
            "Internal error: copy_vector() -- illegal dimension(s)\n");
  for (Matrix* m : {z, a, d, outer}) free_matrix(m);
  for (Vector* x : {v, dv, w, u}) free_vector(x);
}

TEST(MatrixStore, SubObjectsByMask) {
  double r0[] = {1, 2, 3}, r1[] = {4, 5, 6}, r2[] = {7, 8, 9};
  const double* rows[] = {r0, r1, r2};
  Matrix* a = new_matrix_from(3, 3, rows);
  int mask[] = {1, 0, 5};
  Matrix* sub = new_sub_matrix(a, mask, mask);
  ASSERT_EQ(sub->rows, 2);
  ASSERT_EQ(sub->cols, 2);
  EXPECT_EQ((*sub)[0][0], 1.0);
  EXPECT_EQ((*sub)[0][1], 3.0);
  EXPECT_EQ((*sub)[1][0], 7.0);
  EXPECT_EQ((*sub)[1][1], 9.0);
  int all[] = {1, 1, 1}, middle[] = {0, 1, 0};
  Matrix* row = new_sub_matrix(a, middle, all, 1, 3);
  EXPECT_EQ((*row)[0][2], 6.0);

  Vector* v = new_vector_from(3, r1);
  Vector* sv = new_sub_vector(v, mask);
  ASSERT_EQ(sv->n, 2);
  EXPECT_EQ((*sv)[1], 6.0);
  // A count that disagrees with the mask is caught, not overrun.
  EXPECT_TRUE(run_capturing([&] { new_sub_vector(v, mask, 3); }).exited);
  for (Matrix* m : {a, sub, row}) free_matrix(m);
  free_vector(v);
  free_vector(sv);
}

}  // namespace
}  // namespace veska

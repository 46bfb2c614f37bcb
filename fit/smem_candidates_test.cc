#include "fit/smem_candidates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace veska {
namespace {

TEST(SmemCandidates, ByMergeCriterionThenSplitCriterion) {
  const int K = 4;
  std::vector<double> jmerge(16, 0.0);
  jmerge[0 * 4 + 1] = 0.1;
  jmerge[0 * 4 + 2] = 0.5;
  jmerge[0 * 4 + 3] = 0.1;  // ties (0,1): the smaller pair first
  jmerge[1 * 4 + 2] = 0.3;
  jmerge[1 * 4 + 3] = NAN;  // not a number: last
  jmerge[2 * 4 + 3] = 0.2;
  const std::vector<double> jsplit = {1.0, 3.0, 2.0, 3.0};  // ties (1, 3): the smaller class first
  const SmemCandidates list(K, jmerge, jsplit);
  ASSERT_EQ(list.size(), 12);
  std::string order;
  for (long long p = 0; p < list.size(); ++p) {
    const SmemCandidate c = list.at(p);
    order += std::to_string(c.i) + std::to_string(c.j) + std::to_string(c.k) + " ";
  }
  EXPECT_EQ(order, "021 023 123 120 231 230 013 012 031 032 132 130 ");
  EXPECT_EQ(SmemCandidates(3, std::vector<double>(9, 0.0), {0, 0, 0}).size(), 3);
}

}  // namespace
}  // namespace veska

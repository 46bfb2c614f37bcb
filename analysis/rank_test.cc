#include "analysis/rank.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis_fixture.h"

namespace veska {
namespace {

using testing::AnalysisFixture;
using testing::run_capturing;

TEST(RankOrder, DecreasingWithEqualValuesInIndexOrder) {
  const double p[] = {0.2, 0.5, 0.2, 0.9, 0.5};
  EXPECT_EQ(rank_order(5, p), (std::vector<int>{3, 1, 4, 0, 2}));
  // A column of a row-major table.
  const double table[] = {0.1, 0.9, 0.6, 0.4, 0.3, 0.7};
  EXPECT_EQ(rank_order(3, table + 1, 2), (std::vector<int>{0, 2, 1}));
  EXPECT_TRUE(rank_order(0, p).empty());
}

TEST(RankLimits, CountsThresholdsAndTheOneOverKCut) {
  Settings s;
  s.rank_count = 3;
  EXPECT_EQ(rank_limit(s, 5), 3);
  EXPECT_EQ(rank_limit(s, 2), 2);  // fewer items than the count: all of them
  s.rank_count = 0;
  EXPECT_EQ(rank_limit(s, 5), 5);
  s.rank_count = 3;
  s.rank_threshold_given = true;
  s.rank_threshold = 0.9;
  EXPECT_EQ(rank_limit(s, 5), 5);  // a threshold lists everything that reaches it

  // Threshold 0.9: a best item of 0.85 lists nothing; 0.9 itself is listed.
  EXPECT_EQ(rank_length(s, 2, {0.85, 0.15}, 2), 0);
  EXPECT_EQ(rank_length(s, 2, {0.95, 0.9, 0.1}, 3), 2);

  // --hide-rank with K = 4 stops at the first item below 0.25.
  Settings h;
  h.rank_count = 10;
  h.hide_rank = true;
  EXPECT_EQ(rank_length(h, 4, {0.5, 0.3, 0.25, 0.2, 0.1}, 5), 3);
  EXPECT_EQ(rank_length(h, 4, {0.5, 0.3, 0.25, 0.2, 0.1}, 2), 2);  // the count cuts first
  h.hide_rank = false;
  EXPECT_EQ(rank_length(h, 4, {0.5, 0.3, 0.25, 0.2, 0.1}, 5), 5);
  // Both cuts: whichever comes first.
  h.hide_rank = true;
  h.rank_threshold_given = true;
  h.rank_threshold = 0.4;
  EXPECT_EQ(rank_length(h, 4, {0.5, 0.3, 0.25}, 3), 1);
  h.rank_threshold = 0.1;
  EXPECT_EQ(rank_length(h, 4, {0.5, 0.3, 0.2}, 3), 2);
}

class Ranking : public AnalysisFixture {
 protected:
  void SetUp() override {
    AnalysisFixture::SetUp();
    s_.rank_given = true;
    read_two_classes();
  }
  testing::FatalResult run() {
    return run_capturing([&] { rank_relevant(input()); });
  }
};

TEST_F(Ranking, CountPerClassWithClassesByProbability) {
  s_.rank_count = 2;
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg, "Ranking relevant cases/attvals...done\r\n");
  EXPECT_EQ(file(s_.files.rank),
            "#### ID:RANK-CASE\r\n"
            "#### Class k, Answer class, Case ID, Attr. values x1, x2, ..., xJ, "
            "Class prob. P(k), Membership prob. P(k|x)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n"
            "1,no,1,b,?,0.7,0.9\r\n"
            "1,no,2,a,2.5,0.7,0.5\r\n"
            "0,yes,0,a,1.5,0.3,0.8\r\n"
            "0,no,2,a,2.5,0.3,0.5\r\n"
            "#### ID:RANK-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, Class prob. P(k), "
            "Membership prob. P(k|x0)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n"
            "0,X0,1,b,0.7,0.8\r\n"
            "0,X0,1,a,0.7,0.4\r\n"
            "0,X0,0,a,0.3,0.6\r\n"
            "0,X0,0,b,0.3,0.2\r\n"
            "#### ID:RANK-GAUSS0\r\n"
            "#### Gauss ID, Class k, Case ID, Attr. x1, Class prob. P(k), "
            "Membership prob. P(k|Gauss0)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n"
            "0,1,1,?,0.7,0.7\r\n"
            "0,1,2,2.5,0.7,0.45\r\n"
            "0,0,0,1.5,0.3,0.7\r\n"
            "0,0,2,2.5,0.3,0.55\r\n");
}

TEST_F(Ranking, ThresholdWithHiddenValues) {
  s_.rank_threshold_given = true;
  s_.rank_threshold = 0.75;
  s_.hide_attr = true;
  s_.eval_given = false;
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(file(s_.files.rank),
            "#### ID:RANK-CASE\r\n"
            "#### Class k, Case ID, Class prob. P(k), Membership prob. P(k|x)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n"
            "1,1,0.7,0.9\r\n"
            "0,0,0.3,0.8\r\n"
            "#### ID:RANK-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, Class prob. P(k), "
            "Membership prob. P(k|x0)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n"
            "0,X0,1,b,0.7,0.8\r\n"
            "#### ID:RANK-GAUSS0\r\n"
            "#### Gauss ID, Class k, Case ID, Class prob. P(k), Membership prob. P(k|Gauss0)\r\n"
            "#### -- in the decending order of the class probs. and the membership probs.\r\n"
            "####\r\n");
}

TEST_F(Ranking, FatalPaths) {
  s_.files.rank = dir_.file("missing/d_rank.csv");
  auto res = run();
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Ranking relevant cases/attvals...Couldn't open " + s_.files.rank + "\n");

  s_.rank_measure = "OTHER";
  res = run();
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.msg,
            "Internal error: Unexpected relevance measure between classes and attribute values\n");
}

}  // namespace
}  // namespace veska

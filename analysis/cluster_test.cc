#include "analysis/cluster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "analysis/analysis_fixture.h"

namespace veska {
namespace {

using testing::AnalysisFixture;
using testing::Roles;
using testing::run_capturing;

TEST(AssignCluster, StrictlyGreaterWinsSoTiesGoToTheLowestClass) {
  const double tie[] = {0.2, 0.4, 0.4};
  EXPECT_EQ(assign_cluster(tie, 3), 1);
  const double all_equal[] = {0.25, 0.25, 0.25, 0.25};
  EXPECT_EQ(assign_cluster(all_equal, 4), 0);
  const double last[] = {0.1, 0.2, 0.7};
  EXPECT_EQ(assign_cluster(last, 3), 2);
  const double zeros[] = {0.0, 0.0};
  EXPECT_EQ(assign_cluster(zeros, 2), 0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double with_nan[] = {nan, 0.3, nan};
  EXPECT_EQ(assign_cluster(with_nan, 3), 1);
  const double all_nan[] = {nan, nan};
  EXPECT_EQ(assign_cluster(all_nan, 2), 0);
  // A column of a row-major table: every second value.
  const double column[] = {0.1, 9.0, 0.6, 9.0, 0.3, 9.0};
  EXPECT_EQ(assign_cluster(column, 3, 2), 1);
}

class Clusters : public AnalysisFixture {
 protected:
  // Two discrete attributes, a one-attribute block and the answer class;
  // three classes of which class 1 receives no case.
  void read_mixed() {
    K_ = 3;
    read("b,x,1.5,yes\n"
         "a,y,?,no\n"
         "b,y,2.5,yes\n",
         Roles(4).eval(3).group({2}));
    set_case_probs({{0.6, 0.2, 0.2}, {0.4, 0.4, 0.2}, {0.1, 0.2, 0.7}});
    // Attribute 0: b (code 0), a (code 1); attribute 1: x, y.
    mem_.values[0].p_class_given_value = {0.1, 0.8, 0.1, 0.5, 0.25, 0.25};
    mem_.values[1].p_class_given_value = {0.3, 0.3, 0.4, 0.9, 0.05, 0.05};
    mem_.blocks[0].p_class_given_block = {0.2, 0.7, 0.1, 1.0 / 3, 1.0 / 3, 1.0 / 3,
                                          0.25, 0.25, 0.5};
  }
  testing::FatalResult run() {
    return run_capturing([&] { cluster_cases(input()); });
  }
};

TEST_F(Clusters, SizesGoToTheLogAndClustersToTheClusterFile) {
  read_mixed();
  s_.show_attr_cluster = true;
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg,
            "Clustering cases and attribute values...done\r\nEvaluating clusters...done\r\n");
  EXPECT_EQ(res.log,
            "#### ID:CLUSTER-FREQ-CASE\r\n"
            "#### Cluster for cases, Cluster size\r\n"
            "####\r\n"
            "0,2\r\n"
            "1,0\r\n"
            "2,1\r\n"
            "#### ID:CLUSTER-FREQ-CAT0\r\n"
            "#### Attr. ID, Attr. name, Cluster for attr. 0, Cluster size\r\n"
            "####\r\n"
            "0,X0,0,1\r\n"
            "0,X0,1,1\r\n"
            "0,X0,2,0\r\n"
            "#### ID:CLUSTER-FREQ-CAT1\r\n"
            "#### Attr. ID, Attr. name, Cluster for attr. 1, Cluster size\r\n"
            "####\r\n"
            "1,X1,0,1\r\n"
            "1,X1,1,0\r\n"
            "1,X1,2,1\r\n"
            "#### ID:CLUSTER-FREQ-GAUSS0\r\n"
            "#### Gauss ID, Cluster for Gauss0, Cluster size\r\n"
            "####\r\n"
            "0,0,1\r\n"
            "0,1,1\r\n"
            "0,2,1\r\n");
  EXPECT_EQ(file(s_.files.cluster),
            "#### ID:CLUSTER-CASE-BY-CASE\r\n"
            "#### Case ID, Answer class, Cluster k, Attr. values x1, x2, ..., xJ, "
            "Membership prob. P(k|x)\r\n"
            "####\r\n"
            "0,yes,0,b,x,1.5,0.6\r\n"
            "1,no,0,a,y,?,0.4\r\n"
            "2,yes,2,b,y,2.5,0.7\r\n"
            "#### ID:CLUSTER-CASE-BY-CLUSTER\r\n"
            "#### Cluster k, Answer class, Case ID, Attr. values x1, x2, ..., xJ, "
            "Membership prob. P(k|x)\r\n"
            "####\r\n"
            "0,yes,0,b,x,1.5,0.6\r\n"
            "0,no,1,a,y,?,0.4\r\n"
            "2,yes,2,b,y,2.5,0.7\r\n"
            "#### ID:CLUSTER-CAT0-BY-ATT\r\n"
            "#### Attr. ID, Attr. name, Attr. x0, Cluster k, Membership prob. P(k|x0)\r\n"
            "####\r\n"
            "0,X0,a,0,0.5\r\n"
            "0,X0,b,1,0.8\r\n"
            "#### ID:CLUSTER-CAT0-BY-CLUSTER\r\n"
            "#### Attr. ID, Attr. name, Cluster k, Attr. x0, Membership prob. P(k|x0)\r\n"
            "####\r\n"
            "0,X0,0,a,0.5\r\n"
            "0,X0,1,b,0.8\r\n"
            "#### ID:CLUSTER-CAT1-BY-ATT\r\n"
            "#### Attr. ID, Attr. name, Attr. x1, Cluster k, Membership prob. P(k|x1)\r\n"
            "####\r\n"
            "1,X1,x,2,0.4\r\n"
            "1,X1,y,0,0.9\r\n"
            "#### ID:CLUSTER-CAT1-BY-CLUSTER\r\n"
            "#### Attr. ID, Attr. name, Cluster k, Attr. x1, Membership prob. P(k|x1)\r\n"
            "####\r\n"
            "1,X1,0,y,0.9\r\n"
            "1,X1,2,x,0.4\r\n"
            "#### ID:CLUSTER-GAUSS0-BY-ATT\r\n"
            "#### Gauss ID, Case ID, Attr. x2, Cluster k, Membership prob. P(k|Gauss0)\r\n"
            "####\r\n"
            "0,0,1.5,1,0.7\r\n"
            "0,1,?,0,0.333333\r\n"
            "0,2,2.5,2,0.5\r\n"
            "#### ID:CLUSTER-GAUSS0-BY-CLUSTER\r\n"
            "#### Gauss ID, Cluster k, Case ID, Attr. x2, Membership prob. P(k|Gauss0)\r\n"
            "####\r\n"
            "0,0,1,?,0.333333\r\n"
            "0,1,0,1.5,0.7\r\n"
            "0,2,2,2.5,0.5\r\n");
}

TEST_F(Clusters, HiddenValuesAndNoAttributeClusters) {
  read_mixed();
  s_.hide_attr = true;
  s_.eval_given = false;  // no answer column either
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg, "Clustering cases...done\r\n");
  EXPECT_EQ(file(s_.files.cluster),
            "#### ID:CLUSTER-CASE-BY-CASE\r\n"
            "#### Case ID, Cluster k, Membership prob. P(k|x)\r\n"
            "####\r\n"
            "0,0,0.6\r\n"
            "1,0,0.4\r\n"
            "2,2,0.7\r\n"
            "#### ID:CLUSTER-CASE-BY-CLUSTER\r\n"
            "#### Cluster k, Case ID, Membership prob. P(k|x)\r\n"
            "####\r\n"
            "0,0,0.6\r\n"
            "0,1,0.4\r\n"
            "2,2,0.7\r\n");

  s_.show_attr_cluster = true;
  res = run();
  ASSERT_FALSE(res.exited) << res.log;
  const std::string text = file(s_.files.cluster);
  EXPECT_NE(text.find("#### ID:CLUSTER-GAUSS0-BY-CLUSTER\r\n"
                      "#### Gauss ID, Cluster k, Case ID, Membership prob. P(k|Gauss0)\r\n"
                      "####\r\n"
                      "0,0,1,0.333333\r\n"),
            std::string::npos)
      << text;
}

TEST_F(Clusters, ValueListsFollowNamesOrFirstAppearance) {
  K_ = 2;
  const char* text = "c\na\nb\nc,3\nd\n";
  read(text, Roles(1));
  // c, a, b go to class 0, d to class 1.
  mem_.values[0].p_class_given_value = {0.9, 0.1, 0.8, 0.2, 0.7, 0.3, 0.1, 0.9};
  Clustering c = compute_clusters(input());
  EXPECT_EQ(c.values[0].members[0], (std::vector<int>{1, 2, 0}));  // a, b, c
  EXPECT_EQ(c.values[0].members[1], (std::vector<int>{3}));

  s_.lex_order = false;
  read(text, Roles(1));
  mem_.values[0].p_class_given_value = {0.9, 0.1, 0.8, 0.2, 0.7, 0.3, 0.1, 0.9};
  c = compute_clusters(input());
  EXPECT_EQ(c.values[0].members[0], (std::vector<int>{0, 1, 2}));  // c, a, b
}

TEST_F(Clusters, CompressedEntriesCountOnceInTheSizes) {
  read("a\na\na,5\nb\n", Roles(1));
  ASSERT_EQ(cases_.n_entries, 2);
  set_case_probs({{0.9, 0.1}, {0.2, 0.8}});
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_NE(res.log.find("####\r\n0,1\r\n1,1\r\n#### ID:CLUSTER-FREQ-CAT0"), std::string::npos)
      << res.log;
}

TEST_F(Clusters, EvaluationFollowsWithAnAnswerClass) {
  read_mixed();
  auto res = run();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg, "Clustering cases...done\r\nEvaluating clusters...done\r\n");
  EXPECT_NE(file(s_.files.eval).find("#### ID:CLUSTER-MATCH-BY-ANSWER"), std::string::npos);
}

TEST_F(Clusters, FatalPaths) {
  read_mixed();
  s_.files.cluster = dir_.file("missing/d_cluster.csv");
  auto res = run();
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Clustering cases...Couldn't open " + s_.files.cluster + "\n");

  s_.cluster_criterion = "OTHER";
  res = run();
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.msg, "Internal error: Unsupported clustering method\n");
}

}  // namespace
}  // namespace veska

#include "output/print_fit_tables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/misc.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

std::string written(const std::function<void(FILE*)>& write) {
  set_conv_precision(6, 12);
  set_output_delimiter(',');
  section_writer_init();
  return testing::written_by(write);
}

// The curve prints the first `rows` values of every column and nothing
// beyond them (histories are longer than the run).
TEST(FitTables, LearningCurveTakesItsColumnsAndRowCount) {
  const std::vector<double> o = {-3.5, -2.25, -2.0, 99.0}, beta = {0.5, 0.75, 1.0, 99.0};
  const TitledColumn columns[] = {{"Objective", o}, {"Inverse temperature", beta}};
  EXPECT_EQ(written([&](FILE* f) { print_learning_curve(f, "CURVE-K%d", 4, columns, 3); }),
            "#### ID:CURVE-K4\r\n"
            "#### Num. of classes, Num. of updates, Objective, Inverse temperature\r\n####\r\n"
            "4,0,-3.5,0.5\r\n4,1,-2.25,0.75\r\n4,2,-2,1\r\n");
  EXPECT_EQ(written([&](FILE* f) {
              print_learning_curve(f, "CURVE-K%d", 2, std::span(columns, 1), 0);
            }),
            "#### ID:CURVE-K2\r\n#### Num. of classes, Num. of updates, Objective\r\n####\r\n");
}

// A score missing for a class count shows "N/A" in its column only; the
// criterion note comes before the chosen K and only when named.
TEST(FitTables, ScoreColumnsNotesAndMissingScores) {
  const std::vector<int> ks = {2, 3, 4};
  const ScoreColumn two[] = {{"A", {-1.5, -1.25, -2.0}, {}},
                             {"B", {-7.0, 0.0, -6.5}, {true, false, true}}};
  EXPECT_EQ(written([&](FILE* f) { print_score_table(f, ks, two, "B", 4); }),
            "#### ID:SCORE\r\n#### Num. of classes, A, B\r\n"
            "#### -- Selected criterion = B\r\n#### -- Optimal num. of classes = 4\r\n####\r\n"
            "2,-1.5,-7\r\n3,-1.25,N/A\r\n4,-2,-6.5\r\n");
  EXPECT_EQ(written([&](FILE* f) { print_score_table(f, ks, std::span(two, 1), nullptr, 3); }),
            "#### ID:SCORE\r\n#### Num. of classes, A\r\n"
            "#### -- Optimal num. of classes = 3\r\n####\r\n"
            "2,-1.5\r\n3,-1.25\r\n4,-2\r\n");
}

}  // namespace
}  // namespace veska

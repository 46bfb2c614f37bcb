#include "analysis/post_analysis.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "analysis/analysis_fixture.h"

namespace veska {
namespace {

using testing::AnalysisFixture;
using testing::run_capturing;

class PostAnalysis : public AnalysisFixture {
 protected:
  void SetUp() override {
    AnalysisFixture::SetUp();
    read_two_classes();
  }
  bool exists(const std::string& path) const { return std::filesystem::exists(path); }
};

// The engine's step sees the membership file written and nothing of the
// clustering yet; the ranking comes last, and each file only when asked.
TEST_F(PostAnalysis, FilesComeInOrderAroundTheEnginesStep) {
  s_.mem_prob = true;
  s_.rank_given = true;
  s_.rank_count = 1;
  bool ran = false;
  PostAnalysisSteps steps;
  steps.done_after_membership_file = true;
  steps.between = [&] {
    ran = true;
    EXPECT_TRUE(exists(s_.files.memp));
    EXPECT_FALSE(exists(s_.files.cluster));
    EXPECT_FALSE(exists(s_.files.rank));
  };
  auto res = run_capturing([&] { analyse_memberships(input(), steps); });
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_TRUE(ran);
  EXPECT_TRUE(exists(s_.files.cluster));
  EXPECT_TRUE(exists(s_.files.rank));
  EXPECT_EQ(res.msg.rfind("done\r\n", 0), 0u) << res.msg;  // ends the caller's line first

  s_.mem_prob = false;
  s_.rank_given = false;
  std::filesystem::remove(s_.files.memp);
  std::filesystem::remove(s_.files.rank);
  res = run_capturing([&] { analyse_memberships(input()); });
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_FALSE(exists(s_.files.memp));
  EXPECT_FALSE(exists(s_.files.rank));
  EXPECT_NE(res.msg.rfind("done", 0), 0u) << res.msg;  // no line to end
}

}  // namespace
}  // namespace veska

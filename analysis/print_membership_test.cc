#include "analysis/print_membership.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis_fixture.h"

namespace veska {
namespace {

using testing::AnalysisFixture;
using testing::Roles;
using testing::run_capturing;

class MembershipFile : public AnalysisFixture {
 protected:
  void SetUp() override {
    AnalysisFixture::SetUp();
    read("a,1.5,yes\n"
         "b,?,no\n",
         Roles(3).eval(2).group({1}));
    mem_.p_class = {0.25, 0.75};
    mem_.p_component = {0.1, 0.2, 0.3, 0.4};
    mem_.p_marginal = {0.175, 0.375};
    mem_.p_case = {1.0 / 7, 6.0 / 7, 0.2, 0.8};
    ValueMemberships& v = mem_.values[0];  // a, b
    v.p_value_given_class = {0.9, 0.1, 0.5, 0.5};
    v.p_value = {0.6, 0.4};
    v.p_class_given_value = {0.375, 0.625, 0.0625, 0.9375};
    BlockMemberships& b = mem_.blocks[0];
    b.p_block_given_class = {2.0, 1.0, 1.0, 1.0};
    b.p_block = {1.25, 1.0};
    b.p_class_given_block = {0.4, 0.6, 0.25, 0.75};
  }
  testing::FatalResult write() {
    return run_capturing([&] { write_membership_file(input()); });
  }
};

const char kMemberCase[] =
    "#### ID:MEMBER-CASE\r\n"
    "#### Case ID, Answer class, Attr. values x1, x2, ..., xJ, Class k, Class prob. P(k), "
    "Component prob. P(x|k), Marginal prob. P(x), Membership prob. P(k|x)\r\n"
    "####\r\n"
    "0,yes,a,1.5,0,0.25,0.1,0.175,0.142857\r\n"
    "0,yes,a,1.5,1,0.75,0.2,0.175,0.857143\r\n"
    "1,no,b,?,0,0.25,0.3,0.375,0.2\r\n"
    "1,no,b,?,1,0.75,0.4,0.375,0.8\r\n";

TEST_F(MembershipFile, CasesOnlyByDefault) {
  auto res = write();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(file(s_.files.memp), kMemberCase);
}

TEST_F(MembershipFile, AttributeMembershipsOnRequest) {
  s_.show_attr_memp = true;
  auto res = write();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(file(s_.files.memp),
            std::string(kMemberCase) +
                "#### ID:MEMBER-CAT0\r\n"
                "#### Attr. ID, Attr. name, Attr. value x0, Class k, Class prob. P(k), "
                "Component prob. P(x0|k), Marginal prob. P(x0), Membership prob. P(k|x0)\r\n"
                "####\r\n"
                "0,X0,a,0,0.25,0.9,0.6,0.375\r\n"
                "0,X0,a,1,0.75,0.5,0.6,0.625\r\n"
                "0,X0,b,0,0.25,0.1,0.4,0.0625\r\n"
                "0,X0,b,1,0.75,0.5,0.4,0.9375\r\n"
                "#### ID:MEMBER-GAUSS0\r\n"
                "#### Gauss ID, Case ID, Attr. x1, Class k, Class prob. P(k), "
                "Component prob. P(Gauss0|k), Marginal prob. P(Gauss0), "
                "Membership prob. P(k|Gauss0)\r\n"
                "####\r\n"
                "0,0,1.5,0,0.25,2,1.25,0.4\r\n"
                "0,0,1.5,1,0.75,1,1.25,0.6\r\n"
                "0,1,?,0,0.25,1,1,0.25\r\n"
                "0,1,?,1,0.75,1,1,0.75\r\n");
}

TEST_F(MembershipFile, HiddenValuesVanishWithTheirColumns) {
  s_.show_attr_memp = true;
  s_.hide_attr = true;
  s_.output_format = Format::kTxt;
  set_output_delimiter('\t');
  auto res = write();
  set_output_delimiter(',');
  ASSERT_FALSE(res.exited) << res.log;
  const std::string text = file(s_.files.memp);
  EXPECT_EQ(text.substr(0, text.find("#### ID:MEMBER-CAT0")),
            "#### ID:MEMBER-CASE\r\n"
            "#### Case ID, Answer class, Class k, Class prob. P(k), Component prob. P(x|k), "
            "Marginal prob. P(x), Membership prob. P(k|x)\r\n"
            "####\r\n"
            "0\tyes\t0\t0.25\t0.1\t0.175\t0.142857\r\n"
            "0\tyes\t1\t0.75\t0.2\t0.175\t0.857143\r\n"
            "1\tno\t0\t0.25\t0.3\t0.375\t0.2\r\n"
            "1\tno\t1\t0.75\t0.4\t0.375\t0.8\r\n");
  EXPECT_NE(text.find("#### Gauss ID, Case ID, Class k, Class prob. P(k), "
                      "Component prob. P(Gauss0|k), Marginal prob. P(Gauss0), "
                      "Membership prob. P(k|Gauss0)\r\n####\r\n0\t0\t0\t0.25\t2\t1.25\t0.4\r\n"),
            std::string::npos)
      << text;
}

TEST_F(MembershipFile, ClassParametersInTheirDisplayOrder) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
  print_class_parameters(f.get(), model_, mem_);
  EXPECT_EQ(testing::read_stream(f.get()),
            "#### ID:PARAM-CLASS\r\n"
            "#### Class k, Class parameter P(k)\r\n"
            "####\r\n"
            "0,0.25\r\n"
            "1,0.75\r\n"
            "#### ID:PARAM-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, Attr. parameter P(x0|k)\r\n"
            "####\r\n"
            "0,X0,0,a,0.9\r\n"
            "0,X0,0,b,0.1\r\n"
            "0,X0,1,a,0.5\r\n"
            "0,X0,1,b,0.5\r\n");
}

TEST_F(MembershipFile, AFileThatCannotBeCreatedIsFatal) {
  s_.files.memp = dir_.file("missing/d_memp.csv");
  auto res = write();
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Couldn't open " + s_.files.memp + "\n");
}

}  // namespace
}  // namespace veska

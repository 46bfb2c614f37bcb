// The parameter file through the shared model-file reader: the parameter
// words, probabilities held to [0, 1], the upper triangle only, no prior
// matrices.
#include "data/read_param.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

using testing::mixed_roles;

const char kModel[] =
    "#### ID:PARAM-CLASS\r\n####\r\n0,0.75\r\n1,0.25\r\n"
    "#### ID:PARAM-CAT0\r\n####\r\n"
    "0,X0,0,b,0.5\r\n0,X0,0,a,0.5\r\n0,X0,1,b,0.125\r\n0,X0,1,a,0.875\r\n"
    "#### ID:PARAM-CAT3\r\n####\r\n3,X3,0,y,1\r\n3,X3,1,y,1\r\n"
    "#### ID:PARAM-GAUSS-MEAN0\r\n####\r\n"
    "0,0,1,X1,1.5\r\n0,0,2,X2,-2\r\n0,1,1,X1,3\r\n0,1,2,X2,4\r\n"
    "#### ID:PARAM-GAUSS-COVAR0\r\n####\r\n"
    "0,0,1,1,X1,X1,2\r\n0,0,1,2,X1,X2,0.5\r\n0,0,2,1,X2,X1,99\r\n0,0,2,2,X2,X2,1\r\n"
    "0,1,1,1,X1,X1,3\r\n0,1,1,2,X1,X2,-1\r\n0,1,2,2,X2,X2,2\r\n"
    "#### ID:PARAM-GAUSS-MEAN1\r\n####\r\n1,0,4,X4,10\r\n1,1,4,X4,20\r\n"
    "#### ID:PARAM-GAUSS-COVAR1\r\n####\r\n1,0,4,4,X4,X4,5\r\n1,1,4,4,X4,X4,6\r\n";

class ParamFile : public ::testing::Test {
 protected:
  testing::FatalResult read(const std::string& text) {
    model_ = make_model(mixed_roles());
    write_file(path_, text);
    return run_capturing([&] { p_ = read_param(settings_, model_); });
  }
  std::string with(std::string text, const std::string& old, const std::string& now) {
    const size_t at = text.find(old);
    EXPECT_NE(at, std::string::npos) << old;
    return at == std::string::npos ? text : text.replace(at, old.size(), now);
  }

  TempDir dir_;
  std::string path_ = dir_.file("d_param.csv");
  Settings settings_ = [this] {
    Settings s = make_settings("");
    s.files.param = path_;
    return s;
  }();
  AttrModel model_;
  StoredParams p_;
};

TEST_F(ParamFile, ReadsTheModelWithTheUpperTriangleOnly) {
  auto res = read(kModel);
  ASSERT_FALSE(res.exited) << res.log << res.msg;
  EXPECT_EQ(res.msg, "Reading parameters from " + path_ + "...done\r\n");
  ASSERT_EQ(p_.K, 2);
  EXPECT_EQ(p_.pi, (std::vector<double>{0.75, 0.25}));
  EXPECT_EQ(model_.values[0].names, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(model_.values[0].order, (std::vector<int>{1, 0}));  // by name
  EXPECT_EQ(p_.theta[0], (std::vector<double>{0.5, 0.5, 0.125, 0.875}));
  EXPECT_EQ(p_.mean[1 * 2 + 0], (std::vector<double>{3, 4}));
  // The row below the diagonal (99) is not read.
  EXPECT_EQ(p_.covar[0], (std::vector<double>{2, 0.5, 0.5, 1}));
  EXPECT_EQ(p_.covar[1 * 2 + 1], (std::vector<double>{6}));

  settings_.lex_order = false;
  ASSERT_FALSE(read(kModel).exited);
  EXPECT_EQ(model_.values[0].order, (std::vector<int>{0, 1}));
}

TEST_F(ParamFile, FaultsEndWithTheParameterFilesWords) {
  const std::string prec6 = "(class=0, attribute=0)\n";
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {with(kModel, "0,X0,0,a,0.5", "0,X0,0,a,1.25"), "Unexpected attribute parameter: 1.250000 " + prec6},
      {with(kModel, "0,X0,0,a,0.5", "0,X0,0,a,-0.5"), "Unexpected attribute parameter: -0.500000 " + prec6},
      {with(kModel, "1,0.25", "1,1.5"), "Unexpected class parameter: 1.500000 (class=1)\n"},
      {with(kModel, "1,0.25", "1,0.25,7"), "Unexpected number of fields for class probs"},
      {with(kModel, "0,0,1,X1,1.5", "0,0,1,X1"), "Unexpected number of fields for means of continuous attributes"},
      {std::string(kModel) + "#### ID:HPARAM-GAUSS-TAU\r\n####\r\n0,1\r\n",
       "Too many attribute parameter fields in " + path_ + "\n"},
      {with(kModel, "0,0,2,2,X2,X2,1\r\n", ""),
       "Incomplete parameters in " + path_ + ": no covariance of attributes 2 and 2 in class 0\n"},
  };
  for (const Case& c : cases) {
    auto res = read(c.text);
    EXPECT_TRUE(res.exited) << c.message;
    EXPECT_NE((res.msg + res.log).find(c.message), std::string::npos) << res.msg;
  }
}

}  // namespace
}  // namespace veska

#include "data/read_hparam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/split.h"
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

// The model in the layout a fitting run writes (ten data matrices).
const char kModel[] =
    "#### ID:HPARAM-CLASS\r\n#### Class k, Class pseudo count delta(k)\r\n####\r\n"
    "0,3.5\r\n1,2.5\r\n"
    "#### ID:HPARAM-CAT0\r\n####\r\n"
    "0,X0,0,b,1.5\r\n0,X0,0,a,2\r\n0,X0,1,b,0.5\r\n0,X0,1,a,3\r\n"
    "#### ID:HPARAM-CAT3\r\n####\r\n"
    "3,X3,0,y,1\r\n3,X3,1,y,2\r\n"
    "#### ID:HPARAM-GAUSS-MEAN0\r\n####\r\n"
    "0,0,1,X1,1.5\r\n0,0,2,X2,-2\r\n0,1,1,X1,3\r\n0,1,2,X2,4\r\n"
    "#### ID:HPARAM-GAUSS-COVAR0\r\n####\r\n"
    "0,0,1,1,X1,X1,2\r\n0,0,1,2,X1,X2,0.5\r\n0,0,2,2,X2,X2,1\r\n"
    "0,1,1,1,X1,X1,3\r\n0,1,1,2,X1,X2,-1\r\n0,1,2,2,X2,X2,2\r\n"
    "#### ID:HPARAM-GAUSS-MEAN1\r\n####\r\n"
    "1,0,4,X4,10\r\n1,1,4,X4,20\r\n"
    "#### ID:HPARAM-GAUSS-COVAR1\r\n####\r\n"
    "1,0,4,4,X4,X4,5\r\n1,1,4,4,X4,X4,6\r\n"
    "#### ID:HPARAM-GAUSS-TAU\r\n####\r\n"
    "0,3.25\r\n1,2.25\r\n"
    "#### ID:HPARAM-GAUSS-ALPHA0\r\n####\r\n"
    "0,0,4.5\r\n0,1,3.5\r\n"
    "#### ID:HPARAM-GAUSS-ALPHA1\r\n####\r\n"
    "1,0,3.75\r\n1,1,2.75\r\n";

// The text with its first line `old` replaced by `line` (nothing: removed);
// `line_no` receives the line's number.
std::string edit(const std::string& text, const std::string& old, const std::string& line,
                 int* line_no = nullptr) {
  size_t at = text.find("\n" + old + "\r\n");
  EXPECT_NE(at, std::string::npos) << old;
  if (at == std::string::npos) return text;
  ++at;
  if (line_no != nullptr) {
    *line_no = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
  }
  std::string replacement = line.empty() ? "" : line + "\r\n";
  return text.substr(0, at) + replacement + text.substr(at + old.size() + 2);
}

class HparamFile : public ::testing::Test {
 protected:
  testing::FatalResult read(const std::string& text, const Roles& roles = mixed_roles()) {
    model_ = make_model(roles);
    return read_into_model(text);
  }
  // Reads into the current model (whose tables a test may have filled).
  testing::FatalResult read_into_model(const std::string& text) {
    write_file(path_, text);
    return run_capturing([&] { h_ = read_hparam(settings_, model_); });
  }
  std::string line_error(int line, int id, const std::string& message) {
    return "[" + path_ + ", Line " + std::to_string(line) + ", ID:" + std::to_string(id) + "] " +
           message + "\n";
  }
  std::vector<double> block(const std::vector<std::vector<double>>& v, int k, int b) {
    return v[h_.block_index(k, b)];
  }

  TempDir dir_;
  std::string path_ = dir_.file("d_hparam.csv");
  Settings settings_ = [this] {
    Settings s = make_settings("");
    s.files.hparam = path_;
    return s;
  }();
  AttrModel model_;
  StoredHparams h_;
};

TEST_F(HparamFile, ModelReadsBackWithValueCodesInFileOrder) {
  auto res = read(kModel);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg, "Reading hyperparameters from " + path_ + "...done\r\n");
  ASSERT_EQ(h_.K, 2);
  EXPECT_EQ(h_.delta, (std::vector<double>{3.5, 2.5}));
  // b was seen first: code 0. Display order is lexicographic.
  const DiscreteValues& x0 = model_.values[0];
  EXPECT_EQ(x0.names, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(x0.order, (std::vector<int>{1, 0}));
  EXPECT_EQ(x0.n_values, 2);
  EXPECT_TRUE(x0.fixed);
  EXPECT_EQ(h_.delta_cat[0], (std::vector<double>{1.5, 2, 0.5, 3}));
  EXPECT_EQ(h_.delta_cat[1], (std::vector<double>{1, 2}));
  EXPECT_EQ(block(h_.mean, 0, 0), (std::vector<double>{1.5, -2}));
  EXPECT_EQ(block(h_.mean, 1, 0), (std::vector<double>{3, 4}));
  EXPECT_EQ(block(h_.mean, 1, 1), (std::vector<double>{20}));
  // The upper triangle as read, mirrored.
  EXPECT_EQ(block(h_.covar, 0, 0), (std::vector<double>{2, 0.5, 0.5, 1}));
  EXPECT_EQ(block(h_.covar, 1, 0), (std::vector<double>{3, -1, -1, 2}));
  EXPECT_EQ(block(h_.covar, 0, 1), (std::vector<double>{5}));
  EXPECT_EQ(h_.tau, (std::vector<double>{3.25, 2.25}));
  EXPECT_EQ(h_.alpha, (std::vector<double>{4.5, 3.75, 3.5, 2.75}));  // k * G + b
}

TEST_F(HparamFile, OccurrenceOrderKeepsTheFileOrder) {
  settings_.lex_order = false;
  ASSERT_FALSE(read(kModel).exited);
  EXPECT_EQ(model_.values[0].order, (std::vector<int>{0, 1}));
}

TEST_F(HparamFile, PositionsNotIdsLocateTheDataMatrices) {
  // IDs and column lines changed, text before the first header, a header
  // part with no body (it takes no position), rows in another order, a
  // covariance pair given lower-triangle first, a row given twice (the
  // last one counts).
  std::string text = kModel;
  for (size_t at = text.find("ID:"); at != std::string::npos; at = text.find("ID:", at + 1)) {
    text.replace(at, 3, "ID:EDITED-");
  }
  text = "stray text, not a data matrix\r\n" + text;
  text = edit(text, "0,0,1,2,X1,X2,0.5", "0,0,2,1,X2,X1,0.5");
  text = edit(text, "0,0,1,X1,1.5", "0,1,1,X1,3\r\n0,0,1,X1,1.5");
  text = edit(text, "0,3.25", "0,3.25\r\n0,7");
  size_t tau = text.find("#### ID:EDITED-HPARAM-GAUSS-TAU");
  text.insert(tau, "#### ID:EMPTY\r\n####\r\n");
  auto res = read(text);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(block(h_.covar, 0, 0), (std::vector<double>{2, 0.5, 0.5, 1}));
  EXPECT_EQ(block(h_.mean, 0, 0), (std::vector<double>{1.5, -2}));
  EXPECT_EQ(h_.tau, (std::vector<double>{7, 2.25}));
}

TEST_F(HparamFile, DelimiterFollowsTheInputExtension) {
  std::string tabs = kModel;
  for (char& c : tabs) {
    if (c == ',') c = '\t';
  }
  settings_.input_format = Format::kTxt;
  path_ = dir_.file("d_hparam.txt");
  settings_.files.hparam = path_;
  auto res = read(tabs);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(h_.tau, (std::vector<double>{3.25, 2.25}));

  // A csv file read as txt is one field per line.
  res = read(kModel);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log.find(line_error(4, 247, "Unexpected # of fields for class probs")), 0u) << res.log;
}

TEST_F(HparamFile, DiscreteOnlyModelHasNoGaussianMatrices) {
  std::string text = kModel;
  text.erase(text.find("#### ID:HPARAM-GAUSS-MEAN0"));
  const Roles discrete_only = Roles(5).ignore(1).ignore(2).ignore(4);
  auto res = read(text, discrete_only);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(h_.delta_cat[1], (std::vector<double>{1, 2}));
  EXPECT_TRUE(h_.tau.empty());
  EXPECT_TRUE(h_.mean.empty());

  res = read(kModel, discrete_only);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Too many attribute hyperparameter fields in " + path_ + "\n");
  res = read(text, Roles(5).group({1, 2, 4}));  // the model has a block, the file none
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Insufficiennt hyperparameter specifications in " + path_ +
                         " (#data-matrices = 3)\n");
}

struct BadRow {
  const char* old_line;
  const char* new_line;
  int check_id;
  const char* message;
};

TEST_F(HparamFile, EveryBadRowIsALineErrorWithItsCheckId) {
  const BadRow rows[] = {
      {"0,3.5", "0,3.5,1", 247, "Unexpected # of fields for class probs"},
      {"1,2.5", "one,2.5", 250, "illegal format for an integer"},
      {"1,2.5", "2,2.5", 253, "Unexpected order of class numbers"},
      {"1,2.5", "1,2.5x", 259, "illegal format for an floating-point number"},
      {"0,X0,0,a,2", "0,X0,0,a", 285, "Unexpected # of fields for discrete attribute probs"},
      {"0,X0,0,a,2", "zero,X0,0,a,2", 289, "illegal format for an integer"},
      {"0,X0,0,a,2", "3,X0,0,a,2", 292, "Unexpected attribute ID"},
      {"0,X0,0,a,2", "1,X0,0,a,2", 292, "Unexpected attribute ID"},
      {"0,X0,0,a,2", "0,X0,c,a,2", 296, "illegal format for an integer"},
      {"0,X0,0,a,2", "0,X0,2,a,2", 302,
       "Different number of classes exist in entries for P(c) and P(x1|c)\n"},
      {"0,X0,0,a,2", "0,X0,-1,a,2", 302,
       "Different number of classes exist in entries for P(c) and P(x1|c)\n"},
      {"0,X0,0,a,2", "0,X0,0,,2", 311, "Empty value"},
      {"0,X0,0,a,2", "0,X0,0,a,nan", 346, "illegal format for an floating-point number"},
      {"0,0,1,X1,1.5", "0,0,1,1.5", 377, "Unexpected # of fields for means of continuous attributes"},
      {"0,0,1,X1,1.5", "g,0,1,X1,1.5", 380, "illegal format for an integer"},
      {"0,0,1,X1,1.5", "0,k,1,X1,1.5", 383, "illegal format for an integer"},
      {"0,0,1,X1,1.5", "0,0,1.0,X1,1.5", 386, "illegal format for an integer"},
      {"0,0,1,X1,1.5", "0,0,1,X1,1e999", 389, "illegal format for an floating-point number"},
      {"0,0,1,X1,1.5", "2,0,1,X1,1.5", 391, "Unexpected Gauss ID"},
      {"0,0,1,X1,1.5", "0,2,1,X1,1.5", 392, "Unexpected class number"},
      {"0,0,1,X1,1.5", "0,0,4,X1,1.5", 393, "Unexpected attribute ID"},
      {"0,0,1,X1,1.5", "0,0,0,X1,1.5", 393, "Unexpected attribute ID"},
      {"0,0,1,X1,1.5", "0,0,99999999999,X1,1.5", 386, "illegal format for an integer"},
      {"0,0,1,2,X1,X2,0.5", "0,0,1,2,X1,0.5", 411,
       "Unexpected # of fields for covariances of continuous attributes"},
      {"0,0,1,2,X1,X2,0.5", ",0,1,2,X1,X2,0.5", 414, "illegal format for an integer"},
      {"0,0,1,2,X1,X2,0.5", "0,0x1,1,2,X1,X2,0.5", 417, "illegal format for an integer"},
      {"0,0,1,2,X1,X2,0.5", "0,0,a,2,X1,X2,0.5", 420, "illegal format for an integer"},
      {"0,0,1,2,X1,X2,0.5", "0,0,1,b,X1,X2,0.5", 423, "illegal format for an integer"},
      {"0,0,1,2,X1,X2,0.5", "0,0,1,2,X1,X2,inf", 426, "illegal format for an floating-point number"},
      {"0,0,1,2,X1,X2,0.5", "-1,0,1,2,X1,X2,0.5", 427, "Unexpected Gauss ID"},
      {"0,0,1,2,X1,X2,0.5", "0,-1,1,2,X1,X2,0.5", 428, "Unexpected class number"},
      {"0,0,1,2,X1,X2,0.5", "0,0,4,2,X1,X2,0.5", 429, "Unexpected attribute ID"},
      {"0,0,1,2,X1,X2,0.5", "0,0,1,99,X1,X2,0.5", 430, "Unexpected attribute ID"},
      {"0,3.25", "0,3.25,1", 447, "Unexpected # of fields for tau's in Normal Wishart distrib."},
      {"0,3.25", "x,3.25", 450, "illegal format for an integer"},
      {"0,3.25", "0,--1", 453, "illegal format for an floating-point number"},
      {"0,3.25", "2,3.25", 454, "Unexpected class number"},
      {"0,0,4.5", "0,0", 471, "Unexpected # of fields for alpha's in Normal Wishart distrib."},
      {"0,0,4.5", "a,0,4.5", 474, "illegal format for an integer"},
      {"0,0,4.5", "0,b,4.5", 477, "illegal format for an integer"},
      {"0,0,4.5", "0,0,0x10", 480, "illegal format for an floating-point number"},
      {"0,0,4.5", "5,0,4.5", 481, "Unexpected Gauss ID"},
      {"0,0,4.5", "0,9,4.5", 482, "Unexpected class number"},
  };
  for (const BadRow& r : rows) {
    int line = 0;
    std::string text = edit(kModel, r.old_line, r.new_line, &line);
    auto res = read(text);
    ASSERT_TRUE(res.exited) << r.new_line;
    EXPECT_EQ(res.status, 1);
    // The line follows the message; no caret line.
    std::string expected = line_error(line, r.check_id, r.message) + r.new_line + "\r";
    EXPECT_EQ(res.log.substr(0, expected.size()), expected) << res.log;
  }
}

TEST_F(HparamFile, CrOrNulInsideALineAndOverLongLinesAreRejected) {
  int line = 0;
  auto res = read(edit(kModel, "0,X0,0,a,2", std::string("0,X0,0,a\0,2", 11), &line));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log.find(line_error(line, 241, "Unexpected CR or NUL character inside the line")), 0u)
      << res.log;
  res = read(edit(kModel, "0,X0,0,a,2", "0,X0,0,a\r,2", &line));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log.find(line_error(line, 241, "Unexpected CR or NUL character inside the line")), 0u);
  res = read(edit(kModel, "0,X0,0,a,2", "0,X0,0,a," + std::string(200000, '1'), &line));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log.find(line_error(line, 240, "Too long line (more than 131071 characters)")), 0u);
}

TEST_F(HparamFile, ValuesListedInAnotherOrderAreInconsistent) {
  int line = 0;
  std::string text = edit(kModel, "0,X0,1,b,0.5\r\n0,X0,1,a,3", "0,X0,1,a,3\r\n0,X0,1,b,0.5", &line);
  auto res = read(text);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "[" + path_ + ", Line " + std::to_string(line) +
                         "] Found an inconsistent entry -- 0,X0,1,a,3\r\n");
  // A value that only a later class adds is out of order as well.
  res = read(edit(kModel, "0,X0,1,b,0.5", "0,X0,1,c,0.5"));
  ASSERT_TRUE(res.exited);
  EXPECT_NE(res.log.find("Found an inconsistent entry -- 0,X0,1,c,0.5"), std::string::npos);
}

TEST_F(HparamFile, NamesFileValueListsAcceptOnlyTheirValues) {
  auto listed = [this](std::vector<std::string> names) {
    model_ = make_model(mixed_roles());
    for (const std::string& n : names) strtab_insert(model_.values[0].table, n);
    model_.values[0].fixed = true;
  };
  listed({"a", "b"});
  auto res = read_into_model(kModel);  // listed a, b; the file says b, a
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(model_.values[0].names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(h_.delta_cat[0], (std::vector<double>{2, 1.5, 3, 0.5}));

  listed({"a", "c"});
  int line = 0;
  edit(kModel, "0,X0,0,b,1.5", "0,X0,0,b,1.5", &line);
  res = read_into_model(kModel);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "[" + path_ + ", Line " + std::to_string(line) + "] Unknown attribute value -- b\n");

  listed({"a", "b", "c"});  // c is listed but the file gives it no pseudo count
  res = read_into_model(kModel);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Incomplete hyperparameters in " + path_ +
                         ": no pseudo count of value c of attribute 0 in class 0\n");
}

TEST_F(HparamFile, PseudoCountsDownToMinusOneAreAccepted) {
  std::string text = edit(edit(kModel, "1,2.5", "1,-1"), "0,X0,1,b,0.5", "0,X0,1,b,-1");
  ASSERT_FALSE(read(text).exited);
  auto res = read(edit(kModel, "1,2.5", "1,-1.5"));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Illegal class hyperparameter: -1.500000 (class=1)\n");
  settings_.prec_msg = 2;
  res = read(edit(kModel, "3,X3,1,y,2", "3,X3,1,y,-1.5"));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Illegal attribute hyperparameter: -1.50 (class=1, attribute=3)\n");
}

TEST_F(HparamFile, MissingDataMatricesOrEntriesAreReported) {
  std::string text = kModel;
  text.erase(text.find("#### ID:HPARAM-GAUSS-ALPHA1"));
  auto res = read(text);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Insufficiennt hyperparameter specifications in " + path_ +
                         " (#data-matrices = 9)\n");

  res = read(std::string(kModel) + "#### ID:EXTRA\r\n####\r\n0,1\r\n");
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Too many attribute hyperparameter fields in " + path_ + "\n");

  const std::pair<const char*, std::string> missing[] = {
      {"0,X0,1,a,3", "no pseudo count of value a of attribute 0 in class 1"},
      {"3,X3,0,y,1", "no pseudo count of value y of attribute 3 in class 0"},
      {"0,1,2,X2,4", "no mean of attribute 2 in class 1"},
      {"0,1,1,2,X1,X2,-1", "no covariance of attributes 1 and 2 in class 1"},
      {"1,2.25", "no tau of class 1"},
      {"1,0,3.75", "no alpha of Gauss block 1 in class 0"},
  };
  for (const auto& [line, what] : missing) {
    res = read(edit(kModel, line, ""));
    ASSERT_TRUE(res.exited) << line;
    EXPECT_EQ(res.log, "Incomplete hyperparameters in " + path_ + ": " + what + "\n");
  }
}

TEST_F(HparamFile, EveryTruncationEndsInAMessage) {
  // Any cut before the last row loses at least that row.
  const std::string text = kModel;
  const size_t last_row = text.rfind("1,1,2.75");
  for (size_t cut = 0; cut < last_row; cut += 7) {
    auto res = read(text.substr(0, cut));
    ASSERT_TRUE(res.exited) << cut;
    EXPECT_EQ(res.status, 1);
    EXPECT_FALSE(res.log.empty());
  }
}

TEST_F(HparamFile, LongValueNamesAreCutAndClassesAreBounded) {
  std::string long_name(300, 'v');
  std::string text = edit(edit(kModel, "3,X3,0,y,1", "3,X3,0," + long_name + ",1"), "3,X3,1,y,2",
                          "3,X3,1," + long_name + "x,2");
  ASSERT_FALSE(read(text).exited);
  EXPECT_EQ(model_.values[1].names, (std::vector<std::string>{std::string(256, 'v')}));

  std::string classes = "####\r\n";
  for (int k = 0; k <= kMaxStoredClasses; ++k) classes += std::to_string(k) + ",1\r\n";
  auto res = read(classes, Roles(1));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log.find(line_error(kMaxStoredClasses + 2, 255, "Too many classes (more than 10000)")),
            0u);
}

// Random damage to a good file: every result is a model or a message with
// status 1, never a crash (the sanitizer build checks memory as well).
TEST_F(HparamFile, DamagedFilesEndInAModelOrAMessage) {
  std::mt19937 rng(12345);
  const std::string base = kModel;
  const std::string pieces[] = {",", "\r\n", "#", "-", "1e308", "nan", "\t", "9999999999", "?", "",
                                "\xff", std::string(1, '\0')};
  int read_ok = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::string text = base;
    for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0; --edits) {
      size_t at = rng() % text.size();
      switch (rng() % 4) {
        case 0:
          text.erase(at, 1 + rng() % 12);
          break;
        case 1:
          text.insert(at, pieces[rng() % (sizeof pieces / sizeof pieces[0])]);
          break;
        case 2:
          text[at] = static_cast<char>(rng() & 0xff);
          break;
        default: {
          size_t from = rng() % text.size();
          text.insert(at, text.substr(from, rng() % 40));
        }
      }
    }
    auto res = read(text);
    if (res.exited) {
      EXPECT_EQ(res.status, 1);
      EXPECT_FALSE(res.log.empty());
    } else {
      ++read_ok;
      EXPECT_EQ(h_.delta.size(), static_cast<size_t>(h_.K));
      EXPECT_EQ(h_.mean.size(), static_cast<size_t>(h_.K) * 2);
    }
  }
  EXPECT_GT(read_ok, 0);  // some damage leaves a readable model
}

}  // namespace
}  // namespace veska

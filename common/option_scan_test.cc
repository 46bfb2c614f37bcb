#include "common/option_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veska {
namespace {

enum { kTarget = 1, kNClass, kEpsilon, kInput, kHelp, kMemProb };

const OptionSpec kTable[] = {
    {kTarget, "target", 'f', 1},  {kNClass, "n-class", 'k', 1},
    {kEpsilon, "epsilon", 'e', 1}, {kInput, "input", kNoShortLetter, 1},
    {kHelp, "help", 'h', 0},      {kMemProb, "mem-prob", 'D', 0},
    {-1, nullptr, kNoShortLetter, 0},
};

// Holds a command line as writable words, as main() receives them.
class CommandLine {
 public:
  explicit CommandLine(std::vector<std::string> words) : words_(std::move(words)) {
    words_.insert(words_.begin(), "prog");
    for (std::string& w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
    option_scan_reset();
  }
  int next() { return option_scan_next(static_cast<int>(words_.size()), argv_.data(), kTable); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

TEST(OptionScanTest, ShortOptionTakesTheNextWordOnly) {
  CommandLine glued({"-k3"});
  EXPECT_EQ(glued.next(), -2);
  EXPECT_STREQ(option_current_word(), "-k3");

  CommandLine separate({"-k", "3", "-D"});
  EXPECT_EQ(separate.next(), kNClass);
  EXPECT_STREQ(option_value(), "3");
  EXPECT_EQ(separate.next(), kMemProb);
  EXPECT_EQ(separate.next(), -1);

  CommandLine grouped({"-Dh"});
  EXPECT_EQ(grouped.next(), -2);
}

TEST(OptionScanTest, LongNamesMatchExactly) {
  CommandLine line({"--n-class", "2:4:1", "--n-class=3", "--N-class", "3", "--n-clas", "--input", "csv"});
  EXPECT_EQ(line.next(), kNClass);
  EXPECT_STREQ(option_value(), "2:4:1");
  EXPECT_EQ(line.next(), -2);
  EXPECT_STREQ(option_current_word(), "--n-class=3");
  EXPECT_EQ(line.next(), -2);
  EXPECT_EQ(line.next(), 0);  // the 3 left behind by the rejected option
  EXPECT_EQ(line.next(), -2);
  EXPECT_EQ(line.next(), kInput);
  EXPECT_STREQ(option_value(), "csv");

  CommandLine unknown_letter({"-q"});
  EXPECT_EQ(unknown_letter.next(), -2);
}

TEST(OptionScanTest, ValueMayStartWithDashButNotLookLikeAnOption) {
  CommandLine negative({"-e", "-0.5", "--epsilon", "-.5", "-f", "-", "-f", "--", "-f", "--3"});
  EXPECT_EQ(negative.next(), kEpsilon);
  EXPECT_STREQ(option_value(), "-0.5");
  EXPECT_EQ(negative.next(), kEpsilon);
  EXPECT_STREQ(option_value(), "-.5");
  for (const char* v : {"-", "--", "--3"}) {
    EXPECT_EQ(negative.next(), kTarget);
    EXPECT_STREQ(option_value(), v);
  }

  for (const char* v : {"-x", "-xyz", "--target", "--zz"}) {
    CommandLine line({"-f", v});
    EXPECT_EQ(line.next(), -2) << v;
    EXPECT_STREQ(option_current_word(), "-f");
  }
  CommandLine missing({"-D", "--target"});
  EXPECT_EQ(missing.next(), kMemProb);
  EXPECT_EQ(missing.next(), -2);
  EXPECT_EQ(missing.next(), -1);
}

TEST(OptionScanTest, NonOptionWordsAreReturnedAsValues) {
  CommandLine line({"-", "--", "-5", "--3", "data.csv", "\xe9\xff", "-\xe9", "--\xe9x", ""});
  for (const char* w : {"-", "--", "-5", "--3", "data.csv", "\xe9\xff", "-\xe9", "--\xe9x", ""}) {
    EXPECT_EQ(line.next(), 0) << w;
    EXPECT_STREQ(option_value(), w);
    EXPECT_STREQ(option_current_word(), w);
  }
  EXPECT_EQ(line.next(), -1);
  EXPECT_EQ(line.next(), -1);
  EXPECT_STREQ(option_value(), "");
}

TEST(OptionScanTest, ResetRescansFromTheFirstWord) {
  CommandLine line({"-f", "a", "-D"});
  EXPECT_EQ(line.next(), kTarget);
  EXPECT_EQ(line.next(), kMemProb);
  option_scan_reset();
  EXPECT_EQ(line.next(), kTarget);
  EXPECT_STREQ(option_value(), "a");
}

TEST(OptionScanTest, MutableCopyIsSeparate) {
  CommandLine line({"--input", "CSV"});
  EXPECT_EQ(line.next(), kInput);
  option_value_mutable()[0] = 'c';
  EXPECT_STREQ(option_value_mutable(), "cSV");
  EXPECT_STREQ(option_value(), "CSV");
}

TEST(OptionScanTest, LongValuesAndArbitraryBytes) {
  std::string longest(kMaxOptionValue, 'v');
  longest[100] = '\x80';
  longest[kMaxOptionValue - 1] = '\xff';
  std::string long_word = "--" + std::string(300, 'a');
  CommandLine line({"-f", longest, long_word});
  EXPECT_EQ(line.next(), kTarget);
  EXPECT_EQ(std::string(option_value()), longest);
  EXPECT_EQ(std::string(option_value_mutable()), longest);
  EXPECT_EQ(line.next(), -2);
  EXPECT_EQ(std::string(option_current_word()), long_word.substr(0, kMaxCurrentWord));
}

TEST(OptionScanDeathTest, TooLongValueIsRejected) {
  std::string too_long(kMaxOptionValue + 1, 'v');
  EXPECT_EXIT(
      {
        CommandLine line({"-f", too_long});
        line.next();
      },
      testing::ExitedWithCode(1), "^Too long option value: v{64}\\.\\.\\.\n$");
  EXPECT_EXIT(
      {
        CommandLine line({too_long});
        line.next();
      },
      testing::ExitedWithCode(1), "Too long option value");
}

TEST(OptionScanTest, DisplayNames) {
  EXPECT_EQ(get_option_str(kTarget, kTable, false), "--target (-f)");
  EXPECT_EQ(get_option_str(kTarget, kTable, true), "--target");
  EXPECT_EQ(get_option_str(kInput, kTable, false), "--input");
  EXPECT_EQ(get_option_str(99, kTable, false), "");
}

}  // namespace
}  // namespace veska

#include "cut/line_end.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

TEST(LineEndTest, EveryLineEndsWithOneCrLf) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a,b\n", "a,b\r\n"},   {"a,b\r\n", "a,b\r\n"},     {"a,b", "a,b\r\n"},
      {"a,b\r", "a,b\r\n"},   {"a\rb\n", "a\rb\r\n"},     {"a\r\r\n", "a\r\r\n"},
      {"\n", "\r\n"},         {"\r\n", "\r\n"},           {std::string("\0\xff\n", 3), std::string("\0\xff\r\n", 4)},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(convert_line_end(c.in, &out));
    EXPECT_EQ(out, c.out);
  }
}

TEST(LineEndTest, LimitCountsTheConvertedLine) {
  std::string out;
  std::string fits(kMaxOutputLine - 2, 'x');
  EXPECT_TRUE(convert_line_end(fits + "\n", &out));
  EXPECT_EQ(out.size(), kMaxOutputLine);
  EXPECT_TRUE(convert_line_end(fits + "\r\n", &out));
  EXPECT_TRUE(convert_line_end(fits + "\r", &out));  // last line, lone CR
  EXPECT_FALSE(convert_line_end(fits + "x\n", &out));  // would become 65,537 bytes
  EXPECT_FALSE(convert_line_end(fits + "x", &out));
  EXPECT_EQ(out.size(), kMaxOutputLine);  // untouched
}

TEST(LineEndDeathTest, TooLongLineMessage) {
  EXPECT_EXIT(die_too_long_line("abc\r\n"), testing::ExitedWithCode(1), "^Too long line to output: abc\r\n$");
  EXPECT_EXIT(die_too_long_line("abc"), testing::ExitedWithCode(1), "^Too long line to output: abc\n$");
}

}  // namespace
}  // namespace veska

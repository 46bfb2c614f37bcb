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
    convert_line_end(c.in, &out);
    EXPECT_EQ(out, c.out);
  }
}

// No length limit: a line longer than any fixed buffer is copied whole.
TEST(LineEndTest, LinesOfAnyLengthAreCopiedWhole) {
  std::string out;
  for (size_t n : {size_t{65534}, size_t{65535}, size_t{70300}, size_t{1} << 20}) {
    std::string text(n, 'x');
    convert_line_end(text + "\n", &out);
    EXPECT_EQ(out, text + "\r\n");
    convert_line_end(text, &out);  // last line, no line end
    EXPECT_EQ(out, text + "\r\n");
    convert_line_end(text + "\r", &out);  // last line, lone CR
    EXPECT_EQ(out, text + "\r\n");
  }
}

}  // namespace
}  // namespace veska

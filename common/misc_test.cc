#include "common/misc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include <string>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

TEST(ConvBase, FillsDigitsAndConvertsLineEnds) {
  EXPECT_STREQ(conv_base("4", "Illegal tau (%.Nf,class=%d) read from %s\n"),
               "Illegal tau (%.4f,class=%d) read from %s\r\n");
  // Without digits only the line ends change.
  EXPECT_STREQ(conv_base(nullptr, "a %.Nf\nb"), "a %.Nf\r\nb");
  // Flags and width may stand between "%" and "."; a stray N is kept.
  EXPECT_STREQ(conv_base("12", "N %-10.Ng,%5.Ne N\n"), "N %-10.12g,%5.12e N\r\n");
  // A "%%" or a conversion without "." leaves later N alone until the next ".".
  EXPECT_STREQ(conv_base("3", "%d N %.Nf"), "%d N %.3f");
}

TEST(ConvDelim, EscapesAndDelimiters) {
  set_output_delimiter('\t');
  EXPECT_STREQ(conv_delim("a,b~,c~~d"), "a\tb,c~d");
  set_output_delimiter(',');
  EXPECT_STREQ(conv_delim("a,b~,c~~d"), "a,b,c~d");
  set_conv_precision(6, 12);
  EXPECT_STREQ(conv_row("%.Ng,%d\n"), "%.12g,%d\r\n");
}

TEST(ConvDelim, BadEscapeIsInternalError) {
  auto r = run_capturing([] { conv_delim("ab~"); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error (conv_delim): illegal escape sequence\n");
  EXPECT_EQ(r.log, r.msg);
  r = run_capturing([] { conv_delim("ab~\n"); });
  EXPECT_TRUE(r.exited);
}

TEST(ConvBase, OverflowIsFatalNotOutOfBounds) {
  std::string huge(kConvBufferSize - 1, '\n');
  auto r = run_capturing([&] { conv_base(nullptr, huge.c_str()); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error (conv_base): buffer overflow\n");
  std::string fits(kConvBufferSize - 1, 'x');
  EXPECT_EQ(std::string(conv_base("6", fits.c_str())).size(), fits.size());
  std::string too_long(kConvBufferSize, 'x');
  r = run_capturing([&] { conv_delim(too_long.c_str()); });
  EXPECT_EQ(r.msg, "Internal error (conv_delim): buffer overflow\n");
}

TEST(Messages, ProgressAndAnnealMarks) {
  auto r = run_capturing([] {
    for (int n = 1; n <= 200; ++n) progress_mark(n);
    anneal_mark(false, 3, 0.5);  // annealing off: nothing
    anneal_mark(true, 0, 1.0);   // first iteration at beta 1: nothing
    anneal_mark(true, 0, 0.5);
    anneal_mark(true, true, 5, 0.5);  // skipped
  });
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.msg, "....100....200*");
}

TEST(Messages, MsgPrintfUsesMessagePrecision) {
  set_conv_precision(4, 12);
  auto r = run_capturing([] { msg_printf("x=%.Nf\n", 1.0 / 3.0); });
  set_conv_precision(6, 12);
  EXPECT_EQ(r.msg, "x=0.3333\r\n");
  EXPECT_EQ(r.log, "");
}

TEST(DieLine, CaretPlacement) {
  auto r = run_capturing([] { die_line("f.csv", 7, 12, "a,bad,c\n", "duplicating case ID", 2); });
  EXPECT_EQ(r.msg, "[f.csv, Line 7, ID:12] duplicating case ID\na,bad,c\r\n  ^\n");
  r = run_capturing([] { die_line("f.csv", 1, 3, "x\n", "m", 0); });
  EXPECT_EQ(r.msg, "[f.csv, Line 1, ID:3] m\nx\r\n^\n");
  r = run_capturing([] { die_line("f.csv", 1, 3, "x\n", "m", -1); });
  EXPECT_EQ(r.msg, "[f.csv, Line 1, ID:3] m\nx\r\n");
  r = run_capturing([] { die_line("f.csv", 1, 3, "x\n", "m", 0x20000); });
  EXPECT_EQ(r.msg, "Internal error: die_line()\n");
}

TEST(Messages, NumericalAndDimensionErrors) {
  auto r = run_capturing([] { raise_numerical_error("lgauss_mv", "Failed to invert covariances\n"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, "Numerical error (lgauss_mv): Failed to invert covariances\n");
  r = run_capturing([] { die_bad_dimension("mat_add"); });
  EXPECT_EQ(r.msg, "Internal error: mat_add() -- illegal dimension(s)\n");
}

TEST(NumberTexts, IntAndReal) {
  EXPECT_STREQ(int_str(-2147483647L - 1), "-2147483648");
  set_conv_precision(6, 3);
  EXPECT_STREQ(real_str(3.14159), "3.14");
  set_conv_precision(6, 12);
  EXPECT_STREQ(real_str(0.1), "0.1");
  // printf's own text, whatever the value and precision.
  std::mt19937_64 rng(7);
  const double specials[] = {0.0, -0.0, 5e-324, -2.2250738585072014e-308, 1.7976931348623157e308,
                             0.5, 1e15, 123456789012.5, 9.9999999999995, HUGE_VAL, -HUGE_VAL,
                             std::nan(""), -std::nan("")};
  char expected[64];
  for (int prec : {1, 6, 12, 17, 36}) {
    set_conv_precision(6, prec);
    for (int i = 0; i < 3000; ++i) {
      double x;
      if (i < 13) {
        x = specials[i];
      } else {
        const uint64_t bits = rng();
        std::memcpy(&x, &bits, sizeof x);
        if (i % 2 == 0) x = std::ldexp(static_cast<double>(bits >> 11), -53 + static_cast<int>(bits % 80) - 40);
      }
      snprintf(expected, sizeof expected, "%.*g", prec, x);
      ASSERT_STREQ(real_str(x), expected) << prec << " " << i;
    }
  }
  for (long n : {0L, -1L, 2147483647L, -9223372036854775807L - 1}) {
    snprintf(expected, sizeof expected, "%ld", n);
    EXPECT_STREQ(int_str(n), expected);
  }
  set_conv_precision(6, 12);
  char* s = int_str_new(42);
  EXPECT_STREQ(s, "42");
  free(s);
  char text[] = "MiXed 9";
  lower_in_place(text);
  EXPECT_STREQ(text, "mixed 9");
  upper_in_place(text);
  EXPECT_STREQ(text, "MIXED 9");
}

}  // namespace
}  // namespace veska

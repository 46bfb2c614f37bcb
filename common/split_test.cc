#include "common/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veska {
namespace {

struct Split {
  int n_fields;
  std::vector<std::string> fields;
  std::vector<int> starts;
};

Split csv(int n, const std::string& line) {
  FieldArray f = alloc_fields(n);
  std::vector<int> starts(static_cast<size_t>(n), 7);
  Split s{split_csv(n, line.c_str(), f, starts.data()), {}, starts};
  for (int k = 0; k < s.n_fields; ++k) s.fields.emplace_back(f[k], f.length(k));
  return s;
}

Split txt(int n, const std::string& line) {
  FieldArray f = alloc_fields(n);
  std::vector<int> starts(static_cast<size_t>(n), 7);
  Split s{split_txt(n, line.c_str(), f, starts.data()), {}, starts};
  for (int k = 0; k < s.n_fields; ++k) s.fields.emplace_back(f[k]);
  return s;
}

using Fields = std::vector<std::string>;
using Starts = std::vector<int>;

TEST(Split, CsvFieldsAndStarts) {
  Split s = csv(3, "a,b,c");
  EXPECT_EQ(s.n_fields, 3);
  EXPECT_EQ(s.fields, (Fields{"a", "b", "c"}));
  EXPECT_EQ(s.starts, (Starts{0, 2, 4}));
  EXPECT_EQ(csv(2, "a,b,c").n_fields, kSplitTooManyFields);

  // Blanks vanish wherever they stand; starts point at the kept characters.
  s = csv(3, " a , b ,c");
  EXPECT_EQ(s.fields, (Fields{"a", "b", "c"}));
  EXPECT_EQ(s.starts, (Starts{1, 5, 8}));
  EXPECT_EQ(csv(1, "New York\t").fields, (Fields{"NewYork"}));

  s = csv(3, "a,,c");
  EXPECT_EQ(s.fields, (Fields{"a", "", "c"}));
  EXPECT_EQ(s.starts, (Starts{0, -1, 3}));
  // Fields a line does not reach keep start -1.
  s = csv(4, "a,b");
  EXPECT_EQ(s.n_fields, 2);
  EXPECT_EQ(s.starts, (Starts{0, 2, -1, -1}));
}

TEST(Split, LineEndsAndEmptyLines) {
  EXPECT_EQ(csv(3, "a,b\r\n").fields, (Fields{"a", "b"}));
  EXPECT_EQ(csv(3, "a,b\nc,d").fields, (Fields{"a", "b"}));
  Split s = csv(3, "");
  EXPECT_EQ(s.n_fields, 1);
  EXPECT_EQ(s.fields, (Fields{""}));
  EXPECT_EQ(csv(3, "a,").fields, (Fields{"a", ""}));
  // Quotes are ordinary: a delimiter inside them still separates.
  EXPECT_EQ(csv(3, "\"a,b\"").fields, (Fields{"\"a", "b\""}));
}

TEST(Split, TxtKeepsCommasAndDropsBlanks) {
  Split s = txt(3, "x y\t1,5\tz\n");
  EXPECT_EQ(s.fields, (Fields{"xy", "1,5", "z"}));
  EXPECT_EQ(s.starts, (Starts{0, 4, 8}));
}

TEST(Split, MergeCollapsesDelimiterRuns) {
  FieldArray f = alloc_fields(4);
  std::vector<int> starts(4);
  int n = split_fields(4, ",,a,,,b, ,", f, starts.data(), ",", " ", true);
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(f[0], "a");
  EXPECT_STREQ(f[1], "b");
  EXPECT_EQ(starts[0], 2);
  EXPECT_EQ(starts[1], 6);
  // Without merging every comma counts.
  EXPECT_EQ(split_fields(4, ",,a", f, nullptr, ",", nullptr, false), 3);
  EXPECT_EQ(split_fields(0, "a", f, nullptr, ",", nullptr, false), kSplitTooManyFields);
}

TEST(Split, OverlongLineIsRejectedNotCut) {
  FieldArray f = alloc_fields(2);
  // The longest field fits whole.
  std::string longest(kMaxFieldLength, 'x');
  ASSERT_EQ(split_csv(2, longest.c_str(), f, nullptr), 1);
  EXPECT_EQ(f.length(0), kMaxFieldLength);
  // One more character cannot be kept: rejected, not truncated.
  std::string over(kMaxFieldLength + 1, 'x');
  EXPECT_EQ(split_csv(2, over.c_str(), f, nullptr), kSplitTooLong);
  // Dropped characters beyond the scan limit still make the line too long.
  std::string blanks = "a" + std::string(kMaxSplitIndex + 5, ' ') + "b";
  EXPECT_EQ(split_csv(2, blanks.c_str(), f, nullptr), kSplitTooLong);
  // But a line end right at the limit is fine.
  std::string at_limit = std::string(kMaxSplitIndex, ' ') + "\n";
  EXPECT_EQ(split_csv(2, at_limit.c_str(), f, nullptr), 1);
}

TEST(Trim, EndsOnlyAndAbsentWhenNothingLeft) {
  EXPECT_EQ(trim(" \tx y \r\n", " \t\r\n"), std::optional<std::string>("x y"));
  EXPECT_EQ(trim("   ", " "), std::nullopt);
  std::string s = "--a-b--";
  EXPECT_TRUE(trim_in_place(s, "-"));
  EXPECT_EQ(s, "a-b");
  s = "--";
  EXPECT_FALSE(trim_in_place(s, "-"));
  EXPECT_EQ(s, "");
  EXPECT_EQ(concat("ab", "cd"), "abcd");
  EXPECT_EQ(concat({}, "cd"), "cd");
}

}  // namespace
}  // namespace veska

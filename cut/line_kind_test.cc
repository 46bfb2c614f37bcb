#include "cut/line_kind.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

TEST(LineKindTest, HeaderLinesAndTheirIds) {
  struct Case {
    const char* line;
    const char* id;
  } headers[] = {
      {"#### ID:HPARAM-CLASS\r\n", "HPARAM-CLASS"}, {"# ID:X\n", "X"}, {"#  ID:X", "X"},
      {"#### ID:A B\r\n", "A"}, {"#### ID:A\tB", "A"}, {"#### ID:A\rB", "A"},
      {"#### ID:\r\n", ""}, {"#### ID:\xe9\xff,1\r\n", "\xe9\xff,1"},
  };
  for (const Case& c : headers) {
    std::string id = "stale";
    EXPECT_EQ(classify_line(c.line, &id), LineKind::kHeader) << c.line;
    EXPECT_EQ(id, c.id);
  }
  std::string with_nul("#### ID:AB\0C\r\n", 14);
  std::string id;
  EXPECT_EQ(classify_line(with_nul, &id), LineKind::kHeader);
  EXPECT_EQ(id, "AB");
}

TEST(LineKindTest, OtherLines) {
  for (const char* line : {"####ID:X\r\n", "## #ID:X\n", "#\tID:X\n", "####\r\n", "####", "#### -- note",
                           "# ", "#### id:X", "#### ID"}) {
    std::string id = "kept";
    EXPECT_EQ(classify_line(line, &id), LineKind::kHeaderPart) << line;
    EXPECT_EQ(id, "kept");
  }
  for (const char* line : {"", "\r\n", "\n", " #### ID:X", "0,1.5\r\n", "ID:X"}) {
    std::string id;
    EXPECT_EQ(classify_line(line, &id), LineKind::kBody) << line;
  }
}

TEST(LineKindDeathTest, IdLengthLimit) {
  std::string id;
  EXPECT_EQ(classify_line("#### ID:" + std::string(kMaxMatrixId, 'A') + "\r\n", &id), LineKind::kHeader);
  EXPECT_EQ(id.size(), kMaxMatrixId);
  EXPECT_EXIT(classify_line("#### ID:" + std::string(kMaxMatrixId + 1, 'A'), &id),
              testing::ExitedWithCode(1), "^Internal error: too long data matrix ID\n$");
}

}  // namespace
}  // namespace veska

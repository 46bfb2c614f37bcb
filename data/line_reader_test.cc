#include "data/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::TempDir;
using testing::write_file;

std::vector<std::string> lines_read(LineReader& reader) {
  std::vector<std::string> lines;
  while (reader.next()) lines.emplace_back(reader.text(), reader.length());
  return lines;
}

TEST(LineReader, ByteOrderMarkIsSkippedOnlyAtTheStartOfTheFile) {
  TempDir dir;
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {bom + "a,b\r\nc\n", {"a,b\r\n", "c\n"}},
      {bom + "#x\n", {"#x\n"}},                     // a comment stays a comment
      {"a\n" + bom + "b\n", {"a\n", bom + "b\n"}},  // later lines keep theirs
      {"\xEF\xBB" "a\n", {"\xEF\xBB" "a\n"}},       // not a whole mark
      {bom + bom + "a", {bom + "a\n"}},             // one mark, not two
      {bom, {}},                                    // a mark alone is an empty file
  };
  for (const Case& c : cases) {
    std::string path = dir.file("in.txt");
    write_file(path, c.bytes);
    LineReader reader(open_for_reading(path), path, 1);
    EXPECT_EQ(lines_read(reader), c.lines) << c.bytes;
    EXPECT_EQ(reader.line_no(), static_cast<long>(c.lines.size()));
    reader.rewind();  // a second pass sees the same lines
    EXPECT_EQ(lines_read(reader), c.lines) << c.bytes;
  }
}

}  // namespace
}  // namespace veska

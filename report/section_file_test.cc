#include "report/section_file.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

bool keep_all(std::string_view) { return true; }

TEST(SectionFile, MatricesNotesAndFieldsByPosition) {
  TempDir dir;
  std::string path = dir.file("a_log.csv");
  write_file(path,
             "#### ID:SCORE\r\n#### Num. of classes, BIC, AUTOCLASS\r\n#### -- Selected criterion = BIC\r\n"
             "#### -- Optimal num. of classes = 3\r\n####\r\n2,-10.5,N/A\r\n3,-9,-8.25\r\n"
             "#### ID:EMPTY\r\n####\r\n#### ID:CAT\r\n####\r\n0,a,b,1\r\n,\r\n");
  SectionFile file = load_section_file(path, keep_all);
  ASSERT_EQ(file.matrices.size(), 3u);
  const DataMatrix& score = file.need("SCORE");
  EXPECT_EQ(score.note_value("Optimal num. of classes = "), "3");
  EXPECT_EQ(score.note_value("Selected criterion = "), "BIC");
  ASSERT_EQ(score.rows.size(), 2u);
  EXPECT_EQ(score.integer(1, 0), 3);
  EXPECT_DOUBLE_EQ(score.real(1, 2), -8.25);
  EXPECT_EQ(score.field(0, 2), "N/A");
  EXPECT_EQ(score.row_lines[1], 7);
  EXPECT_TRUE(file.need("EMPTY").rows.empty());
  // Empty fields stay fields: "," is two of them.
  const DataMatrix& cat = file.need("CAT");
  EXPECT_EQ(cat.rows[0].size(), 4u);
  EXPECT_EQ(cat.rows[1], (std::vector<std::string>{"", ""}));
  EXPECT_EQ(file.find("NONE"), nullptr);

  // Tabs in a txt file; a comma is then part of a field.
  std::string txt = dir.file("a_log.txt");
  write_file(txt, "#### ID:X\n####\n1\tv,w\t2.5\n");
  SectionFile t = load_section_file(txt, [](std::string_view id) { return id == "X"; });
  EXPECT_EQ(t.need("X").rows[0], (std::vector<std::string>{"1", "v,w", "2.5"}));
  EXPECT_FALSE(load_section_file(dir.file("missing.csv"), keep_all).exists);
}

TEST(SectionFile, ScannerSkipsUnreadRowsAndFilteredMatrices) {
  TempDir dir;
  std::string path = dir.file("b.csv");
  write_file(path, "#### ID:A\r\n####\r\n1\r\n2\r\n3\r\n#### ID:B\r\n#### x\r\n####\r\n#a case ID\r\n");
  SectionScanner scanner(path);
  std::vector<std::string_view> fields;
  ASSERT_TRUE(scanner.next_matrix());
  ASSERT_TRUE(scanner.next_row(&fields));
  EXPECT_EQ(fields[0], "1");
  ASSERT_TRUE(scanner.next_matrix());
  EXPECT_EQ(scanner.id(), "B");
  // Inside a body a '#' line is a row: a case ID may start with '#'.
  DataMatrix b = read_matrix(scanner);
  EXPECT_EQ(b.rows.size(), 1u);
  EXPECT_FALSE(scanner.next_matrix());

  SectionFile only_b = load_section_file(path, [](std::string_view id) { return id == "B"; });
  ASSERT_EQ(only_b.matrices.size(), 1u);
  EXPECT_EQ(only_b.matrices[0].row_lines[0], 9);
}

TEST(SectionFile, CutOrForeignFilesEndWithStatus1) {
  TempDir dir;
  const char* bad[] = {
      "",                                      // no data matrix
      "text\r\n#### ID:A\r\n####\r\n",         // lines before the first ID line
      "#### ID:A\r\n#### cols\r\n",            // header part never closed
      "#### ID:A\r\n#### cols\r\n1,2\r\n",     // a body row inside the header part
      "#### ID:A\r\n####\r\n1,2\r\n3,",        // last line without its end
  };
  for (const char* text : bad) {
    std::string path = dir.file("bad.csv");
    write_file(path, text);
    auto r = run_capturing([&] { load_section_file(path, keep_all); });
    EXPECT_TRUE(r.exited) << text;
    EXPECT_EQ(r.status, 1) << text;
  }
  std::string path = dir.file("ok.csv");
  write_file(path, "#### ID:A\r\n####\r\nx,1\r\n");
  SectionFile file = load_section_file(path, keep_all);
  for (auto fn : std::vector<std::function<void()>>{
           [&] { file.need("B"); },
           [&] { file.need("A").real(0, 0); },     // not a number
           [&] { file.need("A").integer(0, 2); },  // no such field
           [&] { file.need("A").require_fields(3); },
       }) {
    auto r = run_capturing(fn);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
}  // namespace veska

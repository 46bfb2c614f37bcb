#include "output/section_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "common/misc.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

// A temporary file that the writer writes to and the test reads back.
class Sink {
 public:
  Sink() : file_(tmpfile()) {}
  ~Sink() { fclose(file_); }
  FILE* file() { return file_; }
  std::string text() {
    fflush(file_);
    std::string out;
    rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }

 private:
  FILE* file_;
};

class SectionWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
  }
  void TearDown() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
  }
  Sink sink;
};

TEST_F(SectionWriter, HeaderWithColumnsAndNotes) {
  set_matrix_id("HPARAM-CAT%d", 3);
  add_column_name("Attr. ID");
  add_column_name("Attr. value x%d", 3);
  add_note("Weight in F-measure of Purity = %.Ng", 0.5);
  add_note("second");
  print_header(sink.file());
  EXPECT_EQ(sink.text(),
            "#### ID:HPARAM-CAT3\r\n"
            "#### Attr. ID, Attr. value x3\r\n"
            "#### -- Weight in F-measure of Purity = 0.5\r\n"
            "#### -- second\r\n"
            "####\r\n");
}

TEST_F(SectionWriter, TheFirstIdOfAnUninitialisedWriterSurvivesItsNotes) {
  section_writer_free();
  set_matrix_id("ERR-MSG-DECREASE");
  add_note("first");
  print_header(sink.file());
  EXPECT_EQ(sink.text(), "#### ID:ERR-MSG-DECREASE\r\n#### -- first\r\n####\r\n");
}

TEST_F(SectionWriter, BareHeaderHasTwoLinesAndStateIsClearedBetweenMatrices) {
  set_matrix_id("FIRST");
  add_column_name("a");
  add_note("n");
  print_header(sink.file());
  set_matrix_id("SECOND");
  print_header(sink.file());
  print_header(sink.file());  // nothing pending: an empty ID
  EXPECT_EQ(sink.text(),
            "#### ID:FIRST\r\n#### a\r\n#### -- n\r\n####\r\n"
            "#### ID:SECOND\r\n####\r\n"
            "#### ID:\r\n####\r\n");
}

TEST_F(SectionWriter, TabDelimitedRowsKeepCommaBlankColumnLine) {
  set_output_delimiter('\t');
  set_conv_precision(6, 5);
  set_matrix_id("X");
  add_column_name("A");
  add_column_name("B");
  print_header(sink.file());
  print_row(sink.file(), "%d,%.Ng", 3, 0.123456789);
  print_row(sink.file(), "%s,lit~,eral", "name,with,commas");
  add_field_int(7);
  add_field_real(2.0 / 3.0);
  add_field_fmt("%d,%d", 1, 2);  // commas of a field format stay commas
  end_row(sink.file());
  EXPECT_EQ(sink.text(),
            "#### ID:X\r\n#### A, B\r\n####\r\n"
            "3\t0.12346\r\n"
            "name,with,commas\tlit,eral\r\n"
            "7\t0.66667\t1,2\r\n");
}

TEST_F(SectionWriter, CsvRowsAndDefaultPrecision) {
  print_row(sink.file(), "%d,%.Ng", 3, 0.123456789);
  print_row(sink.file(), "0.7");
  add_field("Ignored attributes");
  add_field_int(-4);
  add_field_real(1e-6);
  end_row(sink.file());
  EXPECT_EQ(sink.text(), "3,0.123456789\r\n0.7\r\nIgnored attributes,-4,1e-06\r\n");
}

TEST_F(SectionWriter, EmptyRowsWriteNothingAndEmptyFirstFieldLeavesRowEmpty) {
  end_row(sink.file());
  add_field("");
  end_row(sink.file());
  add_field("");
  add_field("a");  // still no delimiter in front
  add_field("");   // but a delimiter in front of an empty later field
  end_row(sink.file());
  EXPECT_EQ(sink.text(), "a,\r\n");
}

TEST_F(SectionWriter, LongTextIsCutToItsSlot) {
  std::string id(300, 'i');
  std::string column(300, 'c');
  std::string note(2000, 'n');
  set_matrix_id("%s", id.c_str());
  add_column_name("%s", column.c_str());
  add_note("%s", note.c_str());
  print_header(sink.file());
  EXPECT_EQ(sink.text(), "#### ID:" + std::string(127, 'i') + "\r\n#### " +
                             std::string(127, 'c') + "\r\n#### -- " + std::string(1023, 'n') +
                             "\r\n####\r\n");
}

TEST_F(SectionWriter, ManyColumnsAndNotesGrowTheLists) {
  set_matrix_id("MANY");
  std::string expect_columns = "####";
  std::string expect_notes;
  for (int i = 0; i < 45; ++i) {
    add_column_name("c%d", i);
    expect_columns += (i == 0 ? " c" : ", c") + std::to_string(i);
  }
  for (int i = 0; i < 13; ++i) {
    add_note("n%d", i);
    expect_notes += "#### -- n" + std::to_string(i) + "\r\n";
  }
  print_header(sink.file());
  EXPECT_EQ(sink.text(), "#### ID:MANY\r\n" + expect_columns + "\r\n" + expect_notes + "####\r\n");
}

TEST_F(SectionWriter, RowOverflowIsFatalAndKeepsThePendingRow) {
  std::string chunk(kRowBufferSize / 2, 'x');
  add_field(chunk.c_str());
  // A delimiter and a field of half the area leave no room for the terminator.
  auto r = run_capturing([&] { add_field(chunk.c_str()); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.msg, "Output buffer overflow (size >= 1048576)\n");
  EXPECT_EQ(r.log, r.msg);
  // The largest row that fits is still written whole.
  std::string rest(kRowBufferSize / 2 - 2, 'y');
  add_field(rest.c_str());
  end_row(sink.file());
  EXPECT_EQ(sink.text(), chunk + "," + rest + "\r\n");
}

TEST_F(SectionWriter, OverlongFormattedFieldIsFatal) {
  std::string ok(kFormattedFieldMax, 'f');
  add_field_fmt("%s", ok.c_str());
  end_row(sink.file());
  EXPECT_EQ(sink.text(), ok + "\r\n");
  std::string too_long(kFormattedFieldMax + 1, 'f');
  auto r = run_capturing([&] { add_field_fmt("%s", too_long.c_str()); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error: add_field_fmt() -- field longer than 256 characters\n");
}

TEST_F(SectionWriter, MixingPrintRowIntoAPendingRowIsFatal) {
  add_field("half");
  auto r = run_capturing([&] { print_row(sink.file(), "x"); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(sink.text(), "");
}

TEST(EnabledStr, PositiveOnly) {
  EXPECT_STREQ(enabled_str(1), "Enabled");
  EXPECT_STREQ(enabled_str(2), "Enabled");
  EXPECT_STREQ(enabled_str(0), "Disabled");
  EXPECT_STREQ(enabled_str(-1), "Disabled");
}

}  // namespace
}  // namespace veska

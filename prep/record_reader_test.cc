#include "prep/record_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veska {
namespace {


// Every record with its first line, "line:field|field|...".
std::vector<std::string> records(const std::string& bytes, char delimiter, TableFault* fault = nullptr) {
  RecordReader reader(bytes, delimiter);
  std::vector<std::string> out, fields;
  long line = 0;
  RecordReader::Step step;
  while ((step = reader.next(&fields, &line)) == RecordReader::Step::kRecord) {
    std::string r = std::to_string(line) + ":";
    for (size_t i = 0; i < fields.size(); ++i) r += (i > 0 ? "|" : "") + fields[i];
    out.push_back(r);
  }
  if (fault != nullptr) *fault = reader.fault();
  EXPECT_EQ(step == RecordReader::Step::kFault, fault != nullptr) << bytes;
  return out;
}

TEST(RecordReader, QuotingAndLineEnds) {
  struct Case {
    std::string bytes;
    std::vector<std::string> records;
  } cases[] = {
      {"a,b\r\nc,d\r\n", {"1:a|b", "2:c|d"}},
      {"a,b\nc,d", {"1:a|b", "2:c|d"}},                   // last line without an end
      {"a,b\rc,d\r", {"1:a|b", "2:c|d"}},                 // old Mac line ends
      {"\"New York, NY\",1\n", {"1:New York, NY|1"}},     // delimiter inside quotes
      {"\"say \"\"hi\"\"\",x\n", {"1:say \"hi\"|x"}},     // doubled quotes
      {"\"two\r\nlines\",x\ny\n", {"1:two\r\nlines|x", "3:y"}},  // a break inside quotes counts
      {"\"\",\"\"\n", {"1:|"}},                            // quoted empty fields
      {"5'11\",a\"b\n", {"1:5'11\"|a\"b"}},               // a quote inside a bare field is text
      {"a,\n,\n", {"1:a|", "2:|"}},                        // empty fields at the ends
      {"\n\na\n", {"1:", "2:", "3:a"}},                    // blank lines are empty records
      {"\xEF\xBB\xBF" "id,x\n", {"1:id|x"}},              // byte-order mark skipped
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(records(c.bytes, ','), c.records) << c.bytes;
  EXPECT_EQ(records("a;\"b;c\";d\n", ';'), (std::vector<std::string>{"1:a|b;c|d"}));
  EXPECT_EQ(records("a\t\"b\tc\"\td,e\n", '\t'), (std::vector<std::string>{"1:a|b\tc|d,e"}));
}

TEST(RecordReader, FaultsNameTheLineAndTheField) {
  struct Case {
    std::string bytes;
    long line;
    int column;
    std::string message;
  } cases[] = {
      {"a,b\nc,\"open\nd\n", 2, 2, "quoted field without its closing quote"},
      {"a,\"b\"c\n", 1, 2, "text after the closing quote of a quoted field"},
      {"a,b\n\"x\"\"\n", 2, 1, "quoted field without its closing quote"},
      {std::string("a,b\nc,d\0e\n", 10), 2, 2, "NUL byte: this is not a text table"},
      {std::string("a,\"\0\"\n", 6), 1, 2, "NUL byte: this is not a text table"},
  };
  for (const Case& c : cases) {
    TableFault fault;
    records(c.bytes, ',', &fault);
    EXPECT_EQ(fault.line, c.line) << c.bytes;
    EXPECT_EQ(fault.column, c.column) << c.bytes;
    EXPECT_EQ(fault.message, c.message) << c.bytes;
  }
}

TEST(RecordReader, DelimiterDetection) {
  EXPECT_EQ(detect_delimiter("a,b,c\n1,2,3\n"), ',');
  EXPECT_EQ(detect_delimiter("a\tb\n1,5\t2\n"), '\t');
  // Decimal commas: only the semicolon splits every row alike.
  EXPECT_EQ(detect_delimiter("a;b\n1,5;2,25\n3;4\n"), ';');
  // Quoted delimiters do not count.
  EXPECT_EQ(detect_delimiter("\"a;b\",c\n\"1;2\",3\n"), ',');
  EXPECT_EQ(detect_delimiter("one column\nx\n"), ',');
  EXPECT_EQ(detect_delimiter(""), ',');
  EXPECT_EQ(detect_delimiter("a;b\n\n1;2\n"), ';');  // blank lines do not break the rows
  EXPECT_STREQ(delimiter_name('\t'), "tab");
}

}  // namespace
}  // namespace veska

// The records of a delimited table as spreadsheets export them: fields
// quoted with double quotes (a doubled quote inside stands for one), line
// breaks and delimiters inside quotes kept as text, records ended by CR LF,
// LF or CR, and a UTF-8 byte-order mark at the start skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veska {

// Where a table is malformed: the physical line (from 1) and the field (from
// 1) at which reading stopped, and why.
struct TableFault {
  long line = 0;
  int column = 0;
  std::string message;
};

class RecordReader {
 public:
  enum class Step { kRecord, kEnd, kFault };

  RecordReader(std::string_view bytes, char delimiter);

  // The next record into `fields` (its first line in `line`); kFault fills
  // fault(). A quote inside an unquoted field is kept as text.
  Step next(std::vector<std::string>* fields, long* line);
  const TableFault& fault() const { return fault_; }

 private:
  Step fail(int column, const char* message);
  bool read_quoted(std::string* field, int column);

  std::string_view bytes_;
  char delimiter_;
  size_t pos_ = 0;
  long line_ = 1;
  bool ended_ = false;
  TableFault fault_;
};

// True for a record that stands for a blank line: one empty field.
bool is_blank_record(const std::vector<std::string>& fields);

// The delimiter among comma, tab and semicolon that splits the first records
// into equally long rows of the most fields (comma first on a tie); comma
// when none splits them.
char detect_delimiter(std::string_view bytes);

// "comma", "tab" or "semicolon".
const char* delimiter_name(char delimiter);

}  // namespace veska

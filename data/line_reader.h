// Line-by-line reading of the text input files (names, cases, model files).
//
// Lines are bounded: a line longer than kMaxLineLength characters is rejected
// with a line error naming the file and the line, never cut into two records.
// Reading goes through one large block buffer, so a line costs one copy and no
// allocation. A UTF-8 byte-order mark at the start of the file is skipped.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace veska {

// Characters of one line, not counting its line end (LF or CR LF).
constexpr size_t kMaxLineLength = 131071;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f != nullptr) fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fopen(path, "rb"); null when it cannot be opened.
FilePtr open_for_reading(const std::string& path);

class LineReader {
 public:
  // `name` is the file name shown in messages; `too_long_check_id` is the
  // check ID reported for an over-long line.
  LineReader(FilePtr file, std::string name, int too_long_check_id);

  // Reads the next line; false at the end of the file. An over-long line is
  // fatal (die_line).
  bool next();
  // Back to the first line.
  void rewind();

  // The line as read with its line end; a last line without one gets "\n",
  // so that messages quoting it end their line. Terminated; may hold NULs.
  const char* text() const { return line_.data(); }
  size_t length() const { return length_; }
  // Where a CR or NUL cuts the line short: the column of the first one that
  // is followed by more than line-end characters, or -1. Splitting stops at
  // such a character, so the readers reject the line rather than lose the
  // rest of it (a file with CR-only line ends is one such line).
  long inner_break() const;
  // The line for a message about such a cut: NULs shown as blanks, so that
  // the whole line and the caret under it get printed.
  std::string quoted_text() const;
  long line_no() const { return line_no_; }
  const std::string& name() const { return name_; }

 private:
  bool fill();

  FilePtr file_;
  std::string name_;
  int too_long_check_id_;
  std::vector<char> block_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool at_start_ = true;  // the next block read is the file's first
  std::vector<char> line_;
  size_t length_ = 0;
  long line_no_ = 0;
};

}  // namespace veska

// Reads a stream line by line, whole lines of any length and any bytes, so a
// long line is never split into two. A UTF-8 byte-order mark at the start of
// the stream is skipped, so that a header line behind it is still one.
#pragma once

#include <cstdio>
#include <string_view>

namespace veska {

class LineReader {
 public:
  explicit LineReader(FILE* in) : in_(in) {}
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Reads the next line; false at the end of the input or on a read error
  // (ferror tells them apart).
  bool next();
  // The line with its LF, if it had one; valid until the next call.
  std::string_view line() const { return std::string_view(buffer_, length_); }

 private:
  FILE* in_;
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
  size_t length_ = 0;
  bool first_ = true;
};

}  // namespace veska

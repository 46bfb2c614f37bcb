#include "data/line_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/misc.h"

namespace veska {

namespace {

constexpr size_t kBlockSize = 1 << 16;
// Raw bytes of the longest line: its characters, then CR and LF.
constexpr size_t kMaxRawLine = kMaxLineLength + 2;
// How much of an over-long line its message quotes.
constexpr size_t kQuotedPrefix = 80;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

FilePtr open_for_reading(const std::string& path) { return FilePtr(fopen(path.c_str(), "rb")); }

LineReader::LineReader(FilePtr file, std::string name, int too_long_check_id)
    : file_(std::move(file)),
      name_(std::move(name)),
      too_long_check_id_(too_long_check_id),
      block_(kBlockSize),
      line_(kMaxRawLine + 2, '\0') {}

bool LineReader::fill() {
  if (eof_) return false;
  size_t got = fread(block_.data(), 1, block_.size(), file_.get());
  if (got == 0) {
    if (ferror(file_.get())) die("Couldn't read %s\n", name_.c_str());
    eof_ = true;
    return false;
  }
  pos_ = 0;
  end_ = got;
  // A UTF-8 byte-order mark (spreadsheet exports write one) is not text of
  // the first line; kept, it would become part of the first value or name.
  // The first block holds the whole mark unless the file is shorter.
  if (at_start_ && got >= 3 && memcmp(block_.data(), kByteOrderMark, 3) == 0) pos_ = 3;
  at_start_ = false;
  if (pos_ == end_) return fill();
  return true;
}

bool LineReader::next() {
  size_t len = 0;
  bool ended = false;
  while (!ended) {
    if (pos_ == end_ && !fill()) {
      if (len == 0) {
        line_[0] = '\0';
        length_ = 0;
        return false;
      }
      line_[len++] = '\n';  // the last line had no line end
      break;
    }
    const char* start = block_.data() + pos_;
    size_t avail = end_ - pos_;
    const char* lf = static_cast<const char*>(memchr(start, '\n', avail));
    size_t take = lf != nullptr ? static_cast<size_t>(lf - start) + 1 : avail;
    if (len + take > kMaxRawLine) {
      ++line_no_;
      std::string quoted(line_.data(), len < kQuotedPrefix ? len : kQuotedPrefix);
      if (quoted.size() < kQuotedPrefix) {
        quoted.append(start, std::min(take, kQuotedPrefix - quoted.size()));
      }
      quoted += "...\n";
      die_line(name_.c_str(), line_no_, too_long_check_id_, quoted.c_str(),
               "Too long line (more than 131071 characters)", -1);
    }
    memcpy(line_.data() + len, start, take);
    len += take;
    pos_ += take;
    ended = lf != nullptr;
  }
  ++line_no_;
  size_t content = len - 1;
  if (content > 0 && line_[content - 1] == '\r') --content;
  if (content > kMaxLineLength) {
    std::string quoted(line_.data(), kQuotedPrefix);
    quoted += "...\n";
    die_line(name_.c_str(), line_no_, too_long_check_id_, quoted.c_str(),
             "Too long line (more than 131071 characters)", -1);
  }
  line_[len] = '\0';
  length_ = len;
  return true;
}

long LineReader::inner_break() const {
  // The first NUL (or the terminator) and the first CR before it; usually
  // that CR is the one of the line end.
  size_t nul = strlen(line_.data());
  const void* cr = memchr(line_.data(), '\r', nul);
  size_t first = cr != nullptr ? static_cast<size_t>(static_cast<const char*>(cr) - line_.data()) : nul;
  for (size_t k = first + 1; k < length_; ++k) {
    if (line_[k] != '\r' && line_[k] != '\n') return static_cast<long>(first);
  }
  return -1;
}

std::string LineReader::quoted_text() const {
  std::string text(line_.data(), length_);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

void LineReader::rewind() {
  ::rewind(file_.get());
  pos_ = 0;
  end_ = 0;
  eof_ = false;
  at_start_ = true;
  line_no_ = 0;
  length_ = 0;
  line_[0] = '\0';
}

}  // namespace veska

#include "prep/record_reader.h"

#include <cstring>

namespace veska {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
// Records looked at to choose the delimiter.
constexpr int kDetectRecords = 50;

}  // namespace

RecordReader::RecordReader(std::string_view bytes, char delimiter)
    : bytes_(bytes), delimiter_(delimiter) {
  if (bytes_.substr(0, 3) == kByteOrderMark) pos_ = 3;
}

RecordReader::Step RecordReader::fail(int column, const char* message) {
  fault_.line = line_;
  fault_.column = column;
  fault_.message = message;
  ended_ = true;
  return Step::kFault;
}

// From the opening quote to past the closing one.
bool RecordReader::read_quoted(std::string* field, int column) {
  long opened = line_;
  ++pos_;
  while (pos_ < bytes_.size()) {
    char c = bytes_[pos_];
    if (c == '"') {
      if (pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '"') {
        field->push_back('"');
        pos_ += 2;
        continue;
      }
      ++pos_;
      return true;
    }
    if (c == '\0') {
      fail(column, "NUL byte: this is not a text table");
      return false;
    }
    if (c == '\n' || (c == '\r' && (pos_ + 1 == bytes_.size() || bytes_[pos_ + 1] != '\n'))) ++line_;
    field->push_back(c);
    ++pos_;
  }
  line_ = opened;
  fail(column, "quoted field without its closing quote");
  return false;
}

RecordReader::Step RecordReader::next(std::vector<std::string>* fields, long* line) {
  fields->clear();
  if (ended_ || pos_ >= bytes_.size()) return Step::kEnd;
  *line = line_;
  fields->emplace_back();
  while (true) {
    std::string& field = fields->back();
    int column = static_cast<int>(fields->size());
    if (pos_ < bytes_.size() && bytes_[pos_] == '"' ) {
      if (!read_quoted(&field, column)) return Step::kFault;
      if (pos_ < bytes_.size()) {
        char c = bytes_[pos_];
        if (c != delimiter_ && c != '\r' && c != '\n') {
          return fail(column, "text after the closing quote of a quoted field");
        }
      }
    } else {
      while (pos_ < bytes_.size()) {
        char c = bytes_[pos_];
        if (c == delimiter_ || c == '\r' || c == '\n') break;
        if (c == '\0') return fail(column, "NUL byte: this is not a text table");
        field.push_back(c);
        ++pos_;
      }
    }
    if (pos_ >= bytes_.size()) return Step::kRecord;
    char c = bytes_[pos_++];
    if (c == delimiter_) {
      fields->emplace_back();
      continue;
    }
    if (c == '\r' && pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
    ++line_;
    return Step::kRecord;
  }
}

bool is_blank_record(const std::vector<std::string>& fields) {
  return fields.size() == 1 && fields[0].empty();
}

char detect_delimiter(std::string_view bytes) {
  char best = ',';
  size_t best_fields = 1;
  std::vector<std::string> fields;
  for (char delimiter : {',', '\t', ';'}) {
    RecordReader reader(bytes, delimiter);
    size_t width = 0;
    bool even = true;
    long line = 0;
    for (int n = 0; n < kDetectRecords && even;) {
      RecordReader::Step step = reader.next(&fields, &line);
      if (step == RecordReader::Step::kEnd) break;
      if (step == RecordReader::Step::kFault) even = false;
      if (!even || is_blank_record(fields)) continue;
      if (width == 0) width = fields.size();
      even = fields.size() == width;
      ++n;
    }
    if (even && width > best_fields) {
      best = delimiter;
      best_fields = width;
    }
  }
  return best;
}

const char* delimiter_name(char delimiter) {
  switch (delimiter) {
    case '\t': return "tab";
    case ';': return "semicolon";
    default: return "comma";
  }
}

}  // namespace veska

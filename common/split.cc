#include "common/split.h"

#include <cstring>
#include <new>

#include "common/misc.h"

namespace veska {

namespace {

enum CharClass : unsigned char { kOrdinary, kDelimiter, kDropped, kEnd };

// What each byte does during a split. Dropped wins over delimiter (the
// dropped rule is applied first); CR, LF and the terminator end the line
// unless a set claims them.
struct CharClasses {
  unsigned char of[256] = {};
};

constexpr CharClasses make_classes(std::string_view delimiters, std::string_view dropped) {
  CharClasses c;
  c.of[static_cast<unsigned char>('\r')] = kEnd;
  c.of[static_cast<unsigned char>('\n')] = kEnd;
  for (char d : delimiters) c.of[static_cast<unsigned char>(d)] = kDelimiter;
  for (char d : dropped) c.of[static_cast<unsigned char>(d)] = kDropped;
  c.of[0] = kEnd;  // the terminator always ends the text
  return c;
}

constexpr CharClasses kCsvClasses = make_classes(",", " \t");
constexpr CharClasses kTxtClasses = make_classes("\t", " ");

bool is_separator(const CharClasses& c, unsigned char ch) {
  return c.of[ch] == kDelimiter || c.of[ch] == kDropped;
}

int split_with(int n, const char* line, FieldArray& fields, int* starts, const CharClasses& cls,
               bool merge) {
  if (starts != nullptr) {
    for (int k = 0; k < n; ++k) starts[k] = -1;
  }
  if (n < 1) return kSplitTooManyFields;
  if (fields.size() < n) die("Internal error: split_fields() -- too few field buffers\n");

  const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
  size_t begin = 0;
  size_t end = static_cast<size_t>(-1);  // no end but the line's own
  if (merge) {
    end = strlen(line);
    while (begin < end && is_separator(cls, p[begin])) ++begin;
    while (end > begin && is_separator(cls, p[end - 1])) --end;
  }

  int field = 0;
  size_t len = 0;
  char* out = fields[0];
  for (size_t i = begin; i != end; ++i) {
    unsigned char ch = p[i];
    CharClass kind = static_cast<CharClass>(cls.of[ch]);
    if (kind == kEnd) break;
    // Anything left beyond the scan limit would otherwise be lost silently.
    if (i - begin > kMaxSplitIndex) return kSplitTooLong;
    if (kind == kDropped) continue;
    if (kind == kDelimiter) {
      if (merge && len == 0) continue;
      out[len] = '\0';
      fields.set_length(field, len);
      if (++field >= n) return kSplitTooManyFields;
      out = fields[field];
      len = 0;
      continue;
    }
    if (len == kMaxFieldLength) return kSplitTooLong;
    if (len == 0 && starts != nullptr) starts[field] = static_cast<int>(i);
    out[len++] = static_cast<char>(ch);
  }
  out[len] = '\0';
  fields.set_length(field, len);
  return field + 1;
}

}  // namespace

FieldArray::FieldArray(int n) : n_(n < 0 ? 0 : n) {
  size_t count = static_cast<size_t>(n_);
  data_.reset(new (std::nothrow) char[count * kFieldSize + 1]);
  lengths_.reset(new (std::nothrow) size_t[count + 1]);
  if (!data_ || !lengths_) die_stderr("Couldn't allocate memory (%s, line %d)\n", "split", __LINE__);
  for (size_t k = 0; k < count; ++k) {
    data_[k * kFieldSize] = '\0';
    lengths_[k] = 0;
  }
}

FieldArray alloc_fields(int n) { return FieldArray(n); }

void free_fields(FieldArray& fields) { fields = FieldArray(); }

int split_fields(int n, const char* line, FieldArray& fields, int* starts, const char* delimiters,
                 const char* dropped, bool merge) {
  CharClasses cls = make_classes(delimiters != nullptr ? delimiters : "",
                                 dropped != nullptr ? dropped : "");
  return split_with(n, line, fields, starts, cls, merge);
}

int split_csv(int n, const char* line, FieldArray& fields, int* starts) {
  return split_with(n, line, fields, starts, kCsvClasses, false);
}

int split_txt(int n, const char* line, FieldArray& fields, int* starts) {
  return split_with(n, line, fields, starts, kTxtClasses, false);
}

std::optional<std::string> trim(std::string_view text, std::string_view set) {
  size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return std::nullopt;
  size_t last = text.find_last_not_of(set);
  return std::string(text.substr(first, last - first + 1));
}

bool trim_in_place(std::string& text, std::string_view set) {
  size_t first = text.find_first_not_of(set);
  if (first == std::string::npos) {
    text.clear();
    return false;
  }
  size_t last = text.find_last_not_of(set);
  text.erase(last + 1);
  text.erase(0, first);
  return true;
}

std::string concat(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a);
  s.append(b);
  return s;
}

}  // namespace veska

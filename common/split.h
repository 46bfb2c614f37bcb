// Cutting one input line into fields, and the small text helpers the readers
// share. Fields are never quoted: a quote is an ordinary character.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veska {

// One field holds up to 131,072 characters and its terminator.
constexpr size_t kFieldSize = 131073;
constexpr size_t kMaxFieldLength = kFieldSize - 1;
// The split looks at no character beyond this index.
constexpr size_t kMaxSplitIndex = 131072;

// Results of split_fields besides the field count.
constexpr int kSplitTooManyFields = -1;
// The line goes on past the scan limit (or a field would overflow its
// buffer): the caller must reject it, never read it as a shorter line.
constexpr int kSplitTooLong = -2;

// n field buffers of kFieldSize bytes each, allocated once per reader and
// reused for every line. The buffers are not cleared; a split writes and
// terminates only the fields it finds.
class FieldArray {
 public:
  FieldArray() = default;
  explicit FieldArray(int n);

  int size() const { return n_; }
  char* operator[](int k) { return data_.get() + static_cast<size_t>(k) * kFieldSize; }
  const char* operator[](int k) const { return data_.get() + static_cast<size_t>(k) * kFieldSize; }
  // Length of field k as left by the last split.
  size_t length(int k) const { return lengths_[k]; }
  std::string_view view(int k) const { return {(*this)[k], lengths_[k]}; }
  void set_length(int k, size_t length) { lengths_[k] = length; }

 private:
  int n_ = 0;
  std::unique_ptr<char[]> data_;
  std::unique_ptr<size_t[]> lengths_;
};

// Allocation failure is fatal ("Couldn't allocate memory (split, line %d)").
FieldArray alloc_fields(int n);
// Releases the buffers before the array goes out of scope.
void free_fields(FieldArray& fields);

// Cuts `line` (ended by CR, LF or its terminator) into at most n fields.
// Delimiters end a field; dropped characters never reach a field. With
// `merge`, the line is first trimmed of both sets and runs of delimiters
// collapse. `starts` (n ints, may be null) receives, per field, the index in
// `line` of its first kept character, or -1 when it received none.
// Returns the number of fields, kSplitTooManyFields or kSplitTooLong.
int split_fields(int n, const char* line, FieldArray& fields, int* starts, const char* delimiters,
                 const char* dropped, bool merge);
// Delimiter ",", blanks and tabs dropped.
int split_csv(int n, const char* line, FieldArray& fields, int* starts);
// Delimiter tab, blanks dropped.
int split_txt(int n, const char* line, FieldArray& fields, int* starts);

// `text` without the leading and trailing characters that belong to `set`;
// nothing when only set characters are left.
std::optional<std::string> trim(std::string_view text, std::string_view set);
// The same, written back into `text`; false (text emptied) when nothing is left.
bool trim_in_place(std::string& text, std::string_view set);

std::string concat(std::string_view a, std::string_view b);

}  // namespace veska

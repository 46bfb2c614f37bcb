// What a table cell means to the case and names files: missing, a number,
// or text that has to become a token those files can hold.
//
// The case reader drops blanks and tabs, splits at commas, ends a line at CR
// or LF, takes a line starting with "#" for a comment, keeps the first 256
// characters of a value, and the names file ends a name at white space; a
// token has none of these problems.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace veska {

// Characters of a value that the case reader keeps.
constexpr size_t kMaxTokenLength = 256;

// The cell without blanks, tabs, CR and LF at either end.
std::string_view trim_cell(std::string_view cell);

// Empty (after trimming), "?", "NA" or "NaN".
bool is_missing_cell(std::string_view trimmed);

// Decimal or exponent notation ("-1.5", ".5", "2e-3"), finite as a double.
// Hexadecimal, "inf", "nan" and thousands separators are not numbers here.
bool is_finite_number(std::string_view trimmed);

// True when every character is a digit (an integer that the case reader
// reads as a real anyway; the names file calls it "integer").
bool is_integer_text(std::string_view trimmed);

// The trimmed text with every run of characters the files cannot hold
// (commas, blanks, tabs, line breaks, other control characters) made one
// "_", an "_" put in front of a leading "#", and cut to kMaxTokenLength
// bytes at a character boundary. Empty text stays empty.
std::string safe_token(std::string_view trimmed);

// Tokens handed out so far: `take(base)` gives base, or when it is taken
// already, base~2, base~3, ... (cut so that it stays within kMaxTokenLength
// bytes). Each base remembers its next mark, so a column of many texts with
// one base costs no search from ~2 each time.
class TokenSet {
 public:
  std::string take(const std::string& base);

 private:
  std::unordered_set<std::string> used_;
  std::unordered_map<std::string, int> next_mark_;
};

// Per column: one distinct token per distinct text, so that two texts never
// meet in one token ("New York" and "New_York" become New_York and
// New_York~2), in order of first appearance.
class TokenMap {
 public:
  // The token of this (trimmed) text.
  const std::string& token(std::string_view trimmed);
  // The texts whose token differs from them, with their tokens, in order of
  // first appearance.
  std::vector<std::pair<std::string, std::string>> changed() const;
  size_t size() const { return order_.size(); }

 private:
  std::unordered_map<std::string, std::string> by_text_;
  TokenSet tokens_;
  std::vector<std::string> order_;
};

}  // namespace veska

#include "prep/cell_text.h"

#include <cmath>
#include <cstdlib>

namespace veska {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_unsafe(unsigned char c) { return c == ',' || c == ' ' || c < 0x20 || c == 0x7f; }

size_t digits_at(std::string_view s, size_t i) {
  size_t start = i;
  while (i < s.size() && is_digit(s[i])) ++i;
  return i - start;
}

// A cut at `n` bytes that does not split a UTF-8 sequence.
size_t boundary_at_most(std::string_view s, size_t n) {
  if (s.size() <= n) return s.size();
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

std::string_view trim_cell(std::string_view cell) {
  size_t b = 0, e = cell.size();
  while (b < e && is_blank(cell[b])) ++b;
  while (e > b && is_blank(cell[e - 1])) --e;
  return cell.substr(b, e - b);
}

bool is_missing_cell(std::string_view t) { return t.empty() || t == "?" || t == "NA" || t == "NaN"; }

bool is_finite_number(std::string_view t) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t whole = digits_at(t, i);
  i += whole;
  size_t fraction = 0;
  if (i < t.size() && t[i] == '.') {
    fraction = digits_at(t, i + 1);
    i += 1 + fraction;
  }
  if (whole + fraction == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    size_t exponent = digits_at(t, j);
    if (exponent == 0) return false;
    i = j + exponent;
  }
  if (i != t.size()) return false;
  return std::isfinite(strtod(std::string(t).c_str(), nullptr));
}

bool is_integer_text(std::string_view t) {
  size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
  return digits_at(t, i) == t.size() - i && t.size() > i;
}

std::string safe_token(std::string_view t) {
  std::string out;
  if (!t.empty() && t[0] == '#') out.push_back('_');
  for (char c : t) {
    if (!is_unsafe(static_cast<unsigned char>(c))) {
      out.push_back(c);
    } else if (out.empty() || out.back() != '_') {
      out.push_back('_');
    }
  }
  out.resize(boundary_at_most(out, kMaxTokenLength));
  return out;
}

std::string TokenSet::take(const std::string& base) {
  std::string candidate = base;
  if (used_.count(candidate) != 0) {
    int& n = next_mark_.try_emplace(base, 2).first->second;
    do {
      std::string mark = "~" + std::to_string(n++);
      candidate = base.substr(0, boundary_at_most(base, kMaxTokenLength - mark.size())) + mark;
    } while (used_.count(candidate) != 0);
  }
  used_.insert(candidate);
  return candidate;
}

const std::string& TokenMap::token(std::string_view trimmed) {
  std::string text(trimmed);
  auto found = by_text_.find(text);
  if (found != by_text_.end()) return found->second;
  order_.push_back(text);
  return by_text_.emplace(text, tokens_.take(safe_token(trimmed))).first->second;
}

std::vector<std::pair<std::string, std::string>> TokenMap::changed() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& text : order_) {
    const std::string& token = by_text_.at(text);
    if (token != text) out.emplace_back(text, token);
  }
  return out;
}

}  // namespace veska

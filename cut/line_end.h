// The line-end rule of everything the separator writes: each line ends with
// exactly one CR LF, whether the input line ended with LF, CR LF, a lone CR
// or nothing (last line of a file).
#pragma once

#include <string>
#include <string_view>

namespace veska {

// Longest line written, its CR LF included.
constexpr size_t kMaxOutputLine = 65536;

// Copies a line as read into *out with the line end made CR LF. False (and
// *out untouched) when the result would be longer than kMaxOutputLine.
bool convert_line_end(std::string_view line, std::string* out);

// "Too long line to output: " and the start of the line on standard error,
// then exit status 1.
[[noreturn]] void die_too_long_line(std::string_view line);

}  // namespace veska

// The line-end rule of everything the separator writes: each line ends with
// exactly one CR LF, whether the input line ended with LF, CR LF, a lone CR
// or nothing (last line of a file).
#pragma once

#include <string>
#include <string_view>

namespace veska {

// Copies a line as read, of any length, into *out with the line end made
// CR LF: the clustering programs write lines longer than any fixed buffer,
// and the toolkit splits its own files whole.
void convert_line_end(std::string_view line, std::string* out);

}  // namespace veska

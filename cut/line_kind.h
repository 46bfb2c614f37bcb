// How the separator sees one line of a sectioned file.
#pragma once

#include <string>
#include <string_view>

namespace veska {

enum class LineKind {
  kHeader,      // opens a data matrix: "#...# <spaces>ID:<id>"
  kHeaderPart,  // any other line starting with '#'
  kBody,        // everything else, the empty line included
};

// Longest matrix ID the separator accepts.
constexpr size_t kMaxMatrixId = 1024;

// Classifies a line as read (its line end, if any, included). For a header
// line the ID is stored in *id: it runs up to the first space, tab, CR, LF or
// NUL byte, or the end of the line. An ID longer than kMaxMatrixId ends the
// process with a message on standard error and exit status 1.
LineKind classify_line(std::string_view line, std::string* id);

}  // namespace veska

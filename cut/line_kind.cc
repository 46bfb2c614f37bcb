#include "cut/line_kind.h"

#include "common/misc.h"

namespace veska {

namespace {

bool ends_id(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

}  // namespace

LineKind classify_line(std::string_view line, std::string* id) {
  if (line.empty() || line[0] != '#') return LineKind::kBody;

  // Only the first run of '#' is skipped: "## #ID:X" is not a header line.
  size_t pos = line.find_first_not_of('#');
  size_t spaces = pos == std::string_view::npos ? 0 : line.find_first_not_of(' ', pos);
  if (pos == std::string_view::npos || spaces == pos || spaces == std::string_view::npos ||
      line.compare(spaces, 3, "ID:") != 0) {
    return LineKind::kHeaderPart;
  }

  size_t start = spaces + 3;
  size_t end = start;
  while (end < line.size() && !ends_id(line[end])) ++end;
  if (end - start > kMaxMatrixId) die_stderr("Internal error: too long data matrix ID\n");
  id->assign(line.substr(start, end - start));
  return LineKind::kHeader;
}

}  // namespace veska

#include "cut/line_end.h"

#include <cstdio>

#include "common/misc.h"

namespace veska {

bool convert_line_end(std::string_view line, std::string* out) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  // A CR already in front of the line end is kept, so CR LF files are not
  // doubled into CR CR LF.
  bool has_cr = !text.empty() && text.back() == '\r';
  size_t size = text.size() + (has_cr ? 1 : 2);
  if (size > kMaxOutputLine) return false;
  out->assign(text);
  out->append(has_cr ? "\n" : "\r\n");
  return true;
}

void die_too_long_line(std::string_view line) {
  // Shows what the line buffer would hold; the message ends the line either way.
  std::string_view shown = line.substr(0, kMaxOutputLine - 1);
  fputs("Too long line to output: ", stderr);
  fwrite(shown.data(), 1, shown.size(), stderr);
  if (shown.empty() || shown.back() != '\n') fputc('\n', stderr);
  fflush(stderr);
  fatal_exit(1);
}

}  // namespace veska

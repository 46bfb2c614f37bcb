#include "cut/line_end.h"

namespace veska {

void convert_line_end(std::string_view line, std::string* out) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  // A CR already in front of the line end is kept, so CR LF files are not
  // doubled into CR CR LF.
  bool has_cr = !text.empty() && text.back() == '\r';
  out->assign(text);
  out->append(has_cr ? "\n" : "\r\n");
}

}  // namespace veska

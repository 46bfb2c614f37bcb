#include "cut/line_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/misc.h"

namespace veska {

LineReader::~LineReader() { free(buffer_); }

bool LineReader::next() {
  errno = 0;
  ssize_t n = getline(&buffer_, &capacity_, in_);
  if (n < 0) {
    if (errno == ENOMEM) die_stderr("Couldn't allocate memory (rumelcut,%d)\n", __LINE__);
    length_ = 0;
    return false;
  }
  length_ = static_cast<size_t>(n);
  if (first_ && length_ >= 3 && memcmp(buffer_, "\xEF\xBB\xBF", 3) == 0) {
    length_ -= 3;
    memmove(buffer_, buffer_ + 3, length_ + 1);
  }
  first_ = false;
  return true;
}

}  // namespace veska

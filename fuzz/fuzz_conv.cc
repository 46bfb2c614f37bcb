// The two text conversions every message and row template passes through.
//
// Input: one byte choosing the digit text (none, or a precision from 1 to 36
// digits) and the output delimiter, then the template.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/misc.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t choice = data[0];
  // The template is a C string: it ends at its first NUL.
  std::string tmpl(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string digits = std::to_string(1 + (choice >> 2) % 36);
  set_output_delimiter((choice & 2) ? '\t' : ',');
  set_conv_precision(1 + (choice >> 3) % 36, 1 + (choice >> 2) % 36);
  fuzz::run_guarded([&] {
    // Every line feed comes out as CR LF, and nothing else is lost.
    const char* base = conv_base((choice & 1) ? digits.c_str() : nullptr, tmpl.c_str());
    size_t in_lf = 0, out_lf = 0;
    for (const char* p = tmpl.c_str(); *p != '\0'; ++p) in_lf += *p == '\n';
    for (const char* p = base; *p != '\0'; ++p) {
      if (*p != '\n') continue;
      ++out_lf;
      if (p == base || p[-1] != '\r') abort();
    }
    if (in_lf != out_lf || strlen(base) < strlen(tmpl.c_str()) + in_lf) abort();
    conv_delim(tmpl.c_str());
    conv_msg(tmpl.c_str());
    conv_out(tmpl.c_str());
    conv_row(tmpl.c_str());
  });
  return 0;
}

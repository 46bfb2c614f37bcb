#include "common/misc.h"

#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace veska {

namespace {

FILE* g_log = nullptr;
FILE* g_msg = nullptr;
FatalHandler g_fatal_handler = nullptr;

char* g_conv_base_buf = nullptr;
char* g_conv_delim_buf = nullptr;

// Digit texts of --prec-msg and --prec-out, fixed once the options are read.
char g_msg_digits[12] = "6";
char g_out_digits[12] = "12";
char g_real_format[17] = "%.12g";
int g_out_precision = 12;
char g_delimiter = ',';

thread_local bool t_defer_fatal = false;

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void vwrite_fatal(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  if (g_log != nullptr) {
    vfprintf(g_log, format, args);
    fflush(g_log);
  }
  FILE* msg = msg_stream();
  vfprintf(msg, format, copy);
  fflush(msg);
  va_end(copy);
}

}  // namespace

FILE* log_stream() { return g_log; }
FILE* msg_stream() { return g_msg != nullptr ? g_msg : stderr; }
void set_log_stream(FILE* f) { g_log = f; }
void set_msg_stream(FILE* f) { g_msg = f; }

void set_fatal_handler(FatalHandler handler) { g_fatal_handler = handler; }

void fatal_exit(int status) {
  if (g_fatal_handler != nullptr) g_fatal_handler(status);
  std::exit(status);
}

DeferFatalErrors::DeferFatalErrors() : previous_(t_defer_fatal) { t_defer_fatal = true; }
DeferFatalErrors::~DeferFatalErrors() { t_defer_fatal = previous_; }

void raise_deferred_fatal(const DeferredFatal& error) {
  if (error.to_log) die("%s", error.text.c_str());
  die_stderr("%s", error.text.c_str());
}

void die(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (t_defer_fatal) {
    DeferredFatal error{formatted(format, args), true};
    va_end(args);
    throw error;
  }
  vwrite_fatal(format, args);
  va_end(args);
  fatal_exit(1);
}

void die_stderr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (t_defer_fatal) {
    DeferredFatal error{formatted(format, args), false};
    va_end(args);
    throw error;
  }
  vfprintf(stderr, format, args);
  va_end(args);
  fflush(stderr);
  fatal_exit(1);
}

void raise_numerical_error(const char* function, const char* text) {
  die("Numerical error (%s): %s", function, text);
}

void die_bad_dimension(const char* function) {
  die("Internal error: %s() -- illegal dimension(s)\n", function);
}

void die_line(const char* file, long line_no, int check_id, const char* line_text,
              const char* message, long column) {
  constexpr long kCaretSize = 0x20001;
  if (column > kCaretSize - 2) die("Internal error: die_line()\n");
  if (column < 0) {
    die("[%s, Line %ld, ID:%d] %s\n%s", file, line_no, check_id, message, conv_msg(line_text));
  }
  // Static: this path ends the process, and 128 KiB is too much for a stack.
  static char caret[kCaretSize];
  memset(caret, ' ', static_cast<size_t>(column));
  caret[column] = '^';
  caret[column + 1] = '\0';
  die("[%s, Line %ld, ID:%d] %s\n%s%s\n", file, line_no, check_id, message, conv_msg(line_text),
      caret);
}

void* alloc_or_die(size_t size, const char* module, int line) {
  void* p = malloc(size == 0 ? 1 : size);
  if (p == nullptr) die_stderr("Couldn't allocate memory (%s, line %d)\n", module, line);
  return p;
}

void* realloc_or_die(void* block, size_t size, const char* module, int line) {
  void* p = realloc(block, size == 0 ? 1 : size);
  if (p == nullptr) die_stderr("Couldn't reallocate memory (%s, line %d)\n", module, line);
  return p;
}

char* alloc_empty_or_die(size_t size, const char* module, int line) {
  char* p = static_cast<char*>(alloc_or_die(size == 0 ? 1 : size, module, line));
  p[0] = '\0';
  return p;
}

char* strdup_or_die(const char* text, const char* module, int line) {
  size_t n = strlen(text) + 1;
  char* p = static_cast<char*>(alloc_or_die(n, module, line));
  memcpy(p, text, n);
  return p;
}

bool conv_buffers_init() {
  if (g_conv_base_buf != nullptr) return true;
  g_conv_base_buf = new (std::nothrow) char[kConvBufferSize]();
  g_conv_delim_buf = new (std::nothrow) char[kConvBufferSize]();
  if (g_conv_base_buf == nullptr || g_conv_delim_buf == nullptr) {
    conv_buffers_free();
    return false;
  }
  return true;
}

void conv_buffers_free() {
  delete[] g_conv_base_buf;
  delete[] g_conv_delim_buf;
  g_conv_base_buf = nullptr;
  g_conv_delim_buf = nullptr;
}

namespace {
void ensure_buffers() {
  if (!conv_buffers_init()) die_stderr("Couldn't allocate memory for buffers\n");
}
}  // namespace

void set_conv_precision(int prec_msg, int prec_out) {
  snprintf(g_msg_digits, sizeof g_msg_digits, "%d", prec_msg);
  snprintf(g_out_digits, sizeof g_out_digits, "%d", prec_out);
  snprintf(g_real_format, sizeof g_real_format, "%%.%dg", prec_out);
  g_out_precision = prec_out;
}

void set_output_delimiter(char delimiter) { g_delimiter = delimiter; }
char output_delimiter() { return g_delimiter; }

const char* conv_base(const char* digits, const char* tmpl) {
  ensure_buffers();
  char* out = g_conv_base_buf;
  size_t n = 0;
  // Room is checked before every write so the terminator always fits.
  auto put = [&](char c) {
    if (n + 1 >= kConvBufferSize) die("Internal error (conv_base): buffer overflow\n");
    out[n++] = c;
  };
  int state = 0;
  for (const char* p = tmpl; *p != '\0'; ++p) {
    char c = *p;
    if (c == '\n') {
      put('\r');
      put('\n');
      continue;
    }
    if (digits == nullptr) {
      put(c);
      continue;
    }
    switch (state) {
      case 1:
        if (c == '.') state = 2;
        put(c);
        break;
      case 2:
        if (c == 'N') {
          for (const char* d = digits; *d != '\0'; ++d) put(*d);
          state = 3;
        } else {
          put(c);
        }
        break;
      case 3:
        if (c == 'e' || c == 'f' || c == 'g') state = 0;
        put(c);
        break;
      default:
        if (c == '%') state = 1;
        put(c);
        break;
    }
  }
  out[n] = '\0';
  return out;
}

const char* conv_delim(const char* tmpl) {
  ensure_buffers();
  char* out = g_conv_delim_buf;
  size_t n = 0;
  for (const char* p = tmpl; *p != '\0'; ++p) {
    if (n + 1 >= kConvBufferSize) die("Internal error (conv_delim): buffer overflow\n");
    char c = *p;
    if (c == '~') {
      char next = p[1];
      if (next == '\0' || next == '\n' || (next == '\r' && p[2] == '\n')) {
        die("Internal error (conv_delim): illegal escape sequence\n");
      }
      out[n++] = next;
      ++p;
    } else if (c == ',') {
      out[n++] = g_delimiter;
    } else {
      out[n++] = c;
    }
  }
  out[n] = '\0';
  return out;
}

const char* conv_msg(const char* tmpl) { return conv_base(g_msg_digits, tmpl); }
const char* conv_out(const char* tmpl) { return conv_base(g_out_digits, tmpl); }
const char* conv_row(const char* tmpl) { return conv_delim(conv_out(tmpl)); }

void msg_printf(const char* format, ...) {
  FILE* msg = msg_stream();
  va_list args;
  va_start(args, format);
  vfprintf(msg, conv_msg(format), args);
  va_end(args);
  fflush(msg);
}

void progress_mark(int n) {
  if (n % 20 != 0) return;
  if (n % 100 == 0) {
    msg_printf("%d", n);
  } else {
    msg_printf(".");
  }
  if (msg_stream() == stderr) fflush(stderr);
}

void anneal_mark(bool daem, int n, double beta) {
  if (daem && (n > 0 || beta < 1.0)) msg_printf("*");
}

void anneal_mark(bool skip, bool daem, int n, double beta) {
  if (!skip) anneal_mark(daem, n, beta);
}

// The cluster files write millions of numbers: std::to_chars gives printf's
// text in the C locale several times faster.
const char* int_str(long n) {
  static char area[24];
  *std::to_chars(area, area + sizeof area - 1, n).ptr = '\0';
  return area;
}

const char* real_str(double x) {
  static char area[60];
  const std::to_chars_result r =
      std::to_chars(area, area + sizeof area - 1, x, std::chars_format::general, g_out_precision);
  if (r.ec == std::errc()) {
    *r.ptr = '\0';
  } else {
    snprintf(area, sizeof area, g_real_format, x);  // cut to the area, as before
  }
  return area;
}

char* int_str_new(long n) {
  char* p = static_cast<char*>(alloc_or_die(24, "misc", __LINE__));
  snprintf(p, 24, "%ld", n);
  return p;
}

void lower_in_place(char* text) {
  for (; *text != '\0'; ++text) *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
}

void upper_in_place(char* text) {
  for (; *text != '\0'; ++text) *text = static_cast<char>(toupper(static_cast<unsigned char>(*text)));
}

}  // namespace veska

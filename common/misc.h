// Process-wide services: the fatal-error paths, the memory wrappers, the
// message stream and the two text conversions every template passes through.
//
// Every error in the system is fatal: a message, then exit status 1. There are
// no error codes. Tests and fuzz targets may swap the final exit for their own
// handler (set_fatal_handler) so that a fatal path can be observed in-process.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace veska {

// ---- streams --------------------------------------------------------------

// The log stream (the run's log file) and the message stream (standard error
// or the --save-msg file). Both are owned by the run; null until opened.
FILE* log_stream();
FILE* msg_stream();  // standard error until set_msg_stream is called
void set_log_stream(FILE* f);
void set_msg_stream(FILE* f);

// ---- fatal exits ----------------------------------------------------------

// The last step of every fatal path. By default std::exit(status). A handler
// installed here must not return (it may throw or longjmp); if it does, the
// process exits anyway.
using FatalHandler = void (*)(int status);
void set_fatal_handler(FatalHandler handler);  // nullptr restores the default
[[noreturn]] void fatal_exit(int status);

// Message (printf rules, template not converted) to the log stream, then to
// the message stream, each flushed; then exit status 1.
[[noreturn]] void die(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A fatal error met on a thread that defers them (a worker pool's run, see
// common/workers.h): die and die_stderr throw this instead of writing and
// ending the process; the thread that started the run raises it again.
struct DeferredFatal {
  std::string text;
  bool to_log;  // die (log and message stream), else die_stderr
};
// Fatal errors on this thread are deferred for the object's lifetime.
class DeferFatalErrors {
 public:
  DeferFatalErrors();
  ~DeferFatalErrors();
  DeferFatalErrors(const DeferFatalErrors&) = delete;
  DeferFatalErrors& operator=(const DeferFatalErrors&) = delete;

 private:
  bool previous_;
};
// Writes and exits as the deferred die or die_stderr would have.
[[noreturn]] void raise_deferred_fatal(const DeferredFatal& error);

// die("Numerical error (%s): %s", function, text); text carries its own "\n".
[[noreturn]] void raise_numerical_error(const char* function, const char* text);

// die("Internal error: %s() -- illegal dimension(s)\n", function).
[[noreturn]] void die_bad_dimension(const char* function);

// Bad input line: "[file, Line n, ID:k] message\n" + raw line (+ caret line
// under `column` when column >= 0).
[[noreturn]] void die_line(const char* file, long line_no, int check_id, const char* line_text,
                           const char* message, long column);

// Straight to standard error (before the log exists, allocation failures),
// then exit status 1.
[[noreturn]] void die_stderr(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- memory wrappers ------------------------------------------------------

void* alloc_or_die(size_t size, const char* module, int line);
void* realloc_or_die(void* block, size_t size, const char* module, int line);
char* alloc_empty_or_die(size_t size, const char* module, int line);
char* strdup_or_die(const char* text, const char* module, int line);

// ---- conversions ----------------------------------------------------------

constexpr size_t kConvBufferSize = 1048576;  // 1 MiB, each conversion buffer

// Allocates and zeroes the two conversion buffers; false if memory is short.
// The conversions call it themselves on first use, so tests need not.
bool conv_buffers_init();
void conv_buffers_free();

// Conversion settings, fixed by the run once the options are final:
// digits after the point for messages, significant digits for files, and the
// output delimiter (',' for csv, '\t' for txt).
void set_conv_precision(int prec_msg, int prec_out);
void set_output_delimiter(char delimiter);
char output_delimiter();

// "\n" -> CR LF; the N of "%.N" (after "%", flags, width and ".") becomes
// `digits` when given. Returns a pointer into the conv_base buffer, valid
// until the next conv_base call.
const char* conv_base(const char* digits, const char* tmpl);
// "," -> output delimiter; "~x" -> literal x. Pointer into its own buffer.
const char* conv_delim(const char* tmpl);
const char* conv_msg(const char* tmpl);  // conv_base with --prec-msg digits
const char* conv_out(const char* tmpl);  // conv_base with --prec-out digits
const char* conv_row(const char* tmpl);  // conv_delim(conv_out(tmpl))

// conv_msg(format) printed with the arguments to the message stream, flushed.
void msg_printf(const char* format, ...);

// Progress dots: after iteration n, "." every 20, the number every 100.
void progress_mark(int n);
// "*" when annealing is on and (n > 0 or beta < 1).
void anneal_mark(bool daem, int n, double beta);
void anneal_mark(bool skip, bool daem, int n, double beta);

// "%d" of n in a static area (valid until the next call).
const char* int_str(long n);
// x with %g at --prec-out significant digits, in a static 60-byte area.
const char* real_str(double x);
// "%d" of n in a new block the caller frees with free().
char* int_str_new(long n);

void lower_in_place(char* text);
void upper_in_place(char* text);

}  // namespace veska

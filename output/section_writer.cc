#include "output/section_writer.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/misc.h"

namespace veska {

namespace {

constexpr const char* kModule = "print_common";

// Fixed-size text slots that double in number when full and are reused from
// one data matrix to the next.
struct SlotList {
  size_t slot_size;      // bytes per slot, terminator included
  size_t initial_slots;
  char* data = nullptr;
  size_t capacity = 0;   // slots allocated
  size_t count = 0;      // slots in use

  char* slot(size_t i) { return data + i * slot_size; }

  void allocate() {
    if (data != nullptr) return;
    data = static_cast<char*>(alloc_or_die(slot_size * initial_slots, kModule, __LINE__));
    capacity = initial_slots;
    count = 0;
  }

  char* next() {
    allocate();
    if (count == capacity) {
      data = static_cast<char*>(
          realloc_or_die(data, slot_size * capacity * 2, kModule, __LINE__));
      capacity *= 2;
    }
    return slot(count++);
  }

  void release() {
    free(data);
    data = nullptr;
    capacity = 0;
    count = 0;
  }
};

struct Writer {
  char id[kMatrixIdMax + 1] = "";
  SlotList columns{kColumnNameMax + 1, 10};
  SlotList notes{kNoteMax + 1, 3};
  char* row = nullptr;  // kRowBufferSize bytes
  size_t row_length = 0;
};

Writer g_writer;

void ensure_init() {
  if (g_writer.row == nullptr) section_writer_init();
}

// Formats through conv_out into dest (size bytes), cutting what does not fit.
void format_into(char* dest, size_t size, const char* format, va_list args) {
  vsnprintf(dest, size, conv_out(format), args);
}

void append_to_row(const char* text, size_t length) {
  ensure_init();
  size_t delimiter = g_writer.row_length > 0 ? 1 : 0;
  // The terminator must fit as well; checked before anything is stored.
  if (g_writer.row_length + delimiter + length >= kRowBufferSize) {
    die("Output buffer overflow (size >= %d)\n", static_cast<int>(kRowBufferSize));
  }
  if (delimiter != 0) g_writer.row[g_writer.row_length++] = output_delimiter();
  memcpy(g_writer.row + g_writer.row_length, text, length);
  g_writer.row_length += length;
  g_writer.row[g_writer.row_length] = '\0';
}

}  // namespace

void section_writer_init() {
  if (g_writer.row == nullptr) {
    g_writer.row = static_cast<char*>(alloc_or_die(kRowBufferSize, kModule, __LINE__));
  }
  memset(g_writer.row, 0, kRowBufferSize);
  g_writer.row_length = 0;
  g_writer.id[0] = '\0';
  g_writer.columns.allocate();
  g_writer.notes.allocate();
  g_writer.columns.count = 0;
  g_writer.notes.count = 0;
}

void section_writer_free() {
  free(g_writer.row);
  g_writer.row = nullptr;
  g_writer.row_length = 0;
  g_writer.id[0] = '\0';
  g_writer.columns.release();
  g_writer.notes.release();
}

void set_matrix_id(const char* format, ...) {
  ensure_init();
  va_list args;
  va_start(args, format);
  format_into(g_writer.id, sizeof g_writer.id, format, args);
  va_end(args);
}

void add_column_name(const char* format, ...) {
  ensure_init();
  char* slot = g_writer.columns.next();
  va_list args;
  va_start(args, format);
  format_into(slot, g_writer.columns.slot_size, format, args);
  va_end(args);
}

void add_note(const char* format, ...) {
  ensure_init();
  char* slot = g_writer.notes.next();
  va_list args;
  va_start(args, format);
  format_into(slot, g_writer.notes.slot_size, format, args);
  va_end(args);
}

void print_header(FILE* file) {
  ensure_init();
  fprintf(file, "#### ID:%s\r\n", g_writer.id);
  SlotList& columns = g_writer.columns;
  if (columns.count > 0) {
    fputs("#### ", file);
    for (size_t i = 0; i < columns.count; ++i) {
      if (i > 0) fputs(", ", file);
      fputs(columns.slot(i), file);
    }
    fputs("\r\n", file);
  }
  for (size_t i = 0; i < g_writer.notes.count; ++i) {
    fprintf(file, "#### -- %s\r\n", g_writer.notes.slot(i));
  }
  fputs("####\r\n", file);
  g_writer.id[0] = '\0';
  columns.count = 0;
  g_writer.notes.count = 0;
}

void print_row(FILE* file, const char* format, ...) {
  ensure_init();
  if (g_writer.row_length > 0) {
    die("Internal error: print_row() -- a field-by-field row is pending\n");
  }
  va_list args;
  va_start(args, format);
  vfprintf(file, conv_row(format), args);
  va_end(args);
  fputs("\r\n", file);
}

void add_field(const char* text) { append_to_row(text, strlen(text)); }

void add_field_int(long n) { add_field(int_str(n)); }

void add_field_real(double x) { add_field(real_str(x)); }

void add_field_fmt(const char* format, ...) {
  char field[kFormattedFieldMax + 1];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(field, sizeof field, conv_out(format), args);
  va_end(args);
  if (length < 0 || static_cast<size_t>(length) > kFormattedFieldMax) {
    die("Internal error: add_field_fmt() -- field longer than %d characters\n",
        static_cast<int>(kFormattedFieldMax));
  }
  add_field(field);
}

void end_row(FILE* file) {
  ensure_init();
  if (g_writer.row_length == 0) return;
  fwrite(g_writer.row, 1, g_writer.row_length, file);
  fputs("\r\n", file);
  g_writer.row_length = 0;
  g_writer.row[0] = '\0';
}

const char* enabled_str(int v) { return v > 0 ? "Enabled" : "Disabled"; }

}  // namespace veska

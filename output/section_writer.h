// The section writer: every output file is a sequence of data matrices, each
// a header part (ID line, column line, note lines, "####") followed by
// delimiter-separated body rows, every line ending with CR LF.
//
// The writer is process-wide: one pending ID, column and note list, and one
// 1 MiB row area, so data matrices are written strictly one at a time even
// when several files are open. The target file is passed to each writing call.
#pragma once

#include <cstddef>
#include <cstdio>

namespace veska {

constexpr size_t kRowBufferSize = 1048576;  // 1 MiB, the pending-row area
constexpr size_t kMatrixIdMax = 127;        // characters kept of an ID
constexpr size_t kColumnNameMax = 127;      // ... of a column name
constexpr size_t kNoteMax = 1023;           // ... of a note
constexpr size_t kFormattedFieldMax = 256;  // ... of one add_field_fmt field

// Allocates the slot lists and zeroes the row area; every other call does it
// on first use, so calling it is only needed to start from a clean state.
void section_writer_init();
void section_writer_free();

// ---- header part ------------------------------------------------------------
// Formats pass through conv_out first: "%.Ng" gets the --prec-out digits and
// "\n" becomes CR LF. Longer text than a slot holds is cut.

void set_matrix_id(const char* format, ...);
void add_column_name(const char* format, ...);
void add_note(const char* format, ...);
// Writes the pending header part, then clears it for the next data matrix.
void print_header(FILE* file);

// ---- body rows ----------------------------------------------------------------

// One complete row: the format passes through conv_row (each comma becomes
// the output delimiter, "~c" writes c), then CR LF is appended.
void print_row(FILE* file, const char* format, ...);

// Field by field: each append writes the delimiter first unless the pending
// row is still empty; end_row writes the row and CR LF (nothing at all for an
// empty row). A row larger than the row area is fatal.
void add_field(const char* text);
void add_field_int(long n);
void add_field_real(double x);  // %g with --prec-out significant digits
// Format through conv_out only (its commas stay commas); at most
// kFormattedFieldMax characters.
void add_field_fmt(const char* format, ...);
void end_row(FILE* file);

// "Enabled" when v > 0, else "Disabled".
const char* enabled_str(int v);

}  // namespace veska

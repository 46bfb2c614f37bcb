// Reading the sectioned files the clustering programs write: a sequence of
// data matrices, each an ID line, a header part closed by "####" and body
// rows of delimiter-separated fields.
//
// The report refuses a file that stops short (a header part never closed, a
// last line without its line end) rather than drawing half a run.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veska {

class LineReader;

// The field delimiter of a file by its extension: tab for ".txt", else comma.
char delimiter_for(std::string_view path);

// Pulls data matrices and their rows one at a time, so that a file of a
// million cases is never held in memory.
class SectionScanner {
 public:
  // Ends the process ("Couldn't open %s") when the file cannot be read.
  explicit SectionScanner(const std::string& path);
  ~SectionScanner();
  SectionScanner(const SectionScanner&) = delete;
  SectionScanner& operator=(const SectionScanner&) = delete;

  // Moves to the next data matrix (skipping rows not yet read); false at the
  // end of the file.
  bool next_matrix();
  const std::string& id() const { return id_; }
  const std::vector<std::string>& notes() const { return notes_; }

  // The next body row of the current data matrix; false when the matrix ends.
  // The views stay valid until the next call.
  bool next_row(std::vector<std::string_view>* fields);

  const std::string& path() const { return path_; }
  long line_no() const { return line_no_; }
  // "<path>, line <n>: <what>" on standard error, exit status 1.
  [[noreturn]] void fail(const std::string& what) const;

 private:
  bool read_line();  // next line into line_, its end stripped
  void read_header_part();

  struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
  };

  std::string path_;
  char delimiter_;
  // Members, so that a fatal exit observed in-process (tests) still closes them.
  std::unique_ptr<FILE, FileCloser> file_;
  std::unique_ptr<LineReader> reader_;
  std::string_view line_;
  long line_no_ = 0;
  bool at_header_ = false;  // line_ is the ID line of the next data matrix
  bool at_end_ = false;
  std::string id_;
  std::vector<std::string> notes_;
};

// One data matrix held whole, with the line of each row for messages.
struct DataMatrix {
  std::string path;
  std::string id;
  std::vector<std::string> notes;
  std::vector<std::vector<std::string>> rows;
  std::vector<long> row_lines;

  // The fatal messages of the readers name the file, line and matrix.
  [[noreturn]] void fail_row(size_t row, const std::string& what) const;
  [[noreturn]] void fail(const std::string& what) const;
  // Field `col` of row `row`, which must exist.
  const std::string& field(size_t row, size_t col) const;
  double real(size_t row, size_t col) const;
  int integer(size_t row, size_t col) const;
  // Fields [first, last) of a row joined by the file's delimiter again: a
  // value name that holds the delimiter arrives as several fields.
  std::string joined(size_t row, size_t first, size_t last) const;
  // Every row has at least n fields.
  void require_fields(size_t n) const;
  // The value after "<prefix>" in a note, or empty when no note has it.
  std::string note_value(std::string_view prefix) const;
};

// The rest of the scanner's current data matrix, the rows that `keep_row`
// accepts (all when it is empty).
using RowFilter = std::function<bool(const std::vector<std::string_view>& fields)>;
DataMatrix read_matrix(SectionScanner& scanner, const RowFilter& keep_row = {});

// The data matrices of a file whose ID `keep` accepts, in file order; the
// others are read past. Nothing is kept for a file that does not exist.
struct SectionFile {
  std::string path;
  bool exists = false;
  std::vector<DataMatrix> matrices;

  const DataMatrix* find(std::string_view id) const;
  // find() that ends the process when the data matrix is missing.
  const DataMatrix& need(std::string_view id) const;
};
SectionFile load_section_file(const std::string& path,
                              const std::function<bool(std::string_view id)>& keep);

}  // namespace veska

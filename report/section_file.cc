#include "report/section_file.h"

#include <sys/stat.h>

#include "common/init.h"
#include "common/misc.h"
#include "cut/line_kind.h"
#include "cut/line_reader.h"

namespace veska {

char delimiter_for(std::string_view path) {
  return path.size() >= 4 && path.substr(path.size() - 4) == ".txt" ? '\t' : ',';
}

SectionScanner::SectionScanner(const std::string& path)
    : path_(path), delimiter_(delimiter_for(path)) {
  file_.reset(fopen(path.c_str(), "rb"));
  if (file_ == nullptr) die_stderr("Couldn't open %s\n", path.c_str());
  reader_ = std::make_unique<LineReader>(file_.get());
  // Lines before the first ID line belong to no data matrix: a file that has
  // any is not one the clustering programs wrote.
  std::string id;
  if (!read_line()) fail("empty file: no data matrix");
  if (classify_line(line_, &id) != LineKind::kHeader) fail("expected \"#### ID:\" to open a data matrix");
  at_header_ = true;
}

SectionScanner::~SectionScanner() = default;

void SectionScanner::fail(const std::string& what) const {
  die_stderr("%s, line %ld: %s\n", path_.c_str(), line_no_, what.c_str());
}

bool SectionScanner::read_line() {
  if (!reader_->next()) {
    if (ferror(file_.get())) fail("read error");
    at_end_ = true;
    return false;
  }
  ++line_no_;
  std::string_view line = reader_->line();
  if (line.empty() || line.back() != '\n') fail("the file ends inside a line (cut short?)");
  line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  line_ = line;
  return true;
}

void SectionScanner::read_header_part() {
  std::string id;
  classify_line(line_, &id);
  id_ = id;
  notes_.clear();
  at_header_ = false;
  for (;;) {
    if (!read_line()) fail("the header part of " + id_ + " is not closed by \"####\"");
    if (line_ == "####") return;
    if (line_.substr(0, 4) != "####") fail("the header part of " + id_ + " is not closed by \"####\"");
    if (line_.substr(0, 8) == "#### -- ") notes_.emplace_back(line_.substr(8));
  }
}

bool SectionScanner::next_matrix() {
  std::vector<std::string_view> ignored;
  while (!at_header_ && !at_end_) next_row(&ignored);
  if (at_end_) return false;
  read_header_part();
  return true;
}

bool SectionScanner::next_row(std::vector<std::string_view>* fields) {
  if (at_header_ || at_end_) return false;
  if (!read_line()) return false;
  std::string id;
  if (classify_line(line_, &id) == LineKind::kHeader) {
    at_header_ = true;
    return false;
  }
  fields->clear();
  size_t start = 0;
  for (;;) {
    size_t end = line_.find(delimiter_, start);
    fields->push_back(line_.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

void DataMatrix::fail_row(size_t row, const std::string& what) const {
  die_stderr("%s, line %ld: %s: %s\n", path.c_str(), row < row_lines.size() ? row_lines[row] : 0L,
             id.c_str(), what.c_str());
}

void DataMatrix::fail(const std::string& what) const {
  die_stderr("%s: %s: %s\n", path.c_str(), id.c_str(), what.c_str());
}

const std::string& DataMatrix::field(size_t row, size_t col) const {
  if (row >= rows.size()) fail("too few rows");
  if (col >= rows[row].size()) fail_row(row, "too few fields");
  return rows[row][col];
}

double DataMatrix::real(size_t row, size_t col) const {
  double v = 0.0;
  if (!try_parse_real(field(row, col).c_str(), &v)) {
    fail_row(row, "not a number -- " + rows[row][col]);
  }
  return v;
}

int DataMatrix::integer(size_t row, size_t col) const {
  int v = 0;
  if (!try_parse_int(field(row, col).c_str(), &v)) {
    fail_row(row, "not an integer -- " + rows[row][col]);
  }
  return v;
}

std::string DataMatrix::joined(size_t row, size_t first, size_t last) const {
  char delimiter = delimiter_for(path);
  std::string text;
  for (size_t c = first; c < last; ++c) {
    if (c > first) text += delimiter;
    text += field(row, c);
  }
  return text;
}

void DataMatrix::require_fields(size_t n) const {
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() < n) fail_row(r, "too few fields");
  }
}

std::string DataMatrix::note_value(std::string_view prefix) const {
  for (const std::string& note : notes) {
    if (note.compare(0, prefix.size(), prefix) == 0) return note.substr(prefix.size());
  }
  return "";
}

const DataMatrix* SectionFile::find(std::string_view id) const {
  for (const DataMatrix& m : matrices) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

const DataMatrix& SectionFile::need(std::string_view id) const {
  const DataMatrix* m = find(id);
  if (m == nullptr) die_stderr("%s: no data matrix %.*s (cut short?)\n", path.c_str(), static_cast<int>(id.size()), id.data());
  return *m;
}

DataMatrix read_matrix(SectionScanner& scanner, const RowFilter& keep_row) {
  DataMatrix m;
  m.path = scanner.path();
  m.id = scanner.id();
  m.notes = scanner.notes();
  std::vector<std::string_view> fields;
  while (scanner.next_row(&fields)) {
    if (keep_row && !keep_row(fields)) continue;
    m.rows.emplace_back(fields.begin(), fields.end());
    m.row_lines.push_back(scanner.line_no());
  }
  return m;
}

SectionFile load_section_file(const std::string& path,
                              const std::function<bool(std::string_view id)>& keep) {
  SectionFile file;
  file.path = path;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return file;
  file.exists = true;
  SectionScanner scanner(path);
  while (scanner.next_matrix()) {
    if (keep(scanner.id())) file.matrices.push_back(read_matrix(scanner));
  }
  return file;
}

}  // namespace veska

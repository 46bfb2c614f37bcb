#include "prep/import.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/misc.h"
#include "prep/cell_text.h"
#include "prep/record_reader.h"

namespace veska {

namespace {

// Characters of the longest line the case reader takes.
constexpr size_t kMaxCaseLine = 131071;

enum class Role { kDiscrete, kContinuous, kId, kClass, kIgnored, kEmpty };

struct Column {
  std::string header;  // trimmed header text; empty without a header row
  std::string name;    // its token in the names file
  Role role = Role::kDiscrete;
  bool nominal = false;  // --nominal
  bool integer = true;   // every present value is an integer
  bool constant = true;  // every present value is the same number
  double first = 0;
  size_t present = 0, missing = 0;
  int attribute = -1;  // index in the case file, -1 when left out
  TokenMap tokens;

  bool kept() const { return attribute >= 0; }
};

// The cells of the data rows, row by row.
struct Cells {
  size_t width = 0;
  std::vector<std::string> text;
  std::vector<long> line;  // first line of each row

  size_t rows() const { return line.size(); }
  std::string_view trimmed(size_t r, size_t c) const { return trim_cell(text[r * width + c]); }
};

class Importer {
 public:
  Importer(const PrepSettings& s, std::string_view bytes) : s_(s), bytes_(bytes) {}

  ImportResult run() {
    if (bytes_.substr(0, 2) == "\xFF\xFE" || bytes_.substr(0, 2) == "\xFE\xFF") {
      die_stderr("[%s] UTF-16 text: save the table as UTF-8\n", s_.table.c_str());
    }
    delimiter_ = s_.delimiter != 0 ? s_.delimiter : detect_delimiter(bytes_);
    read_cells();
    assign_roles();
    scan_types();
    check_ids();
    number_attributes();
    ImportResult r;
    r.cases = case_lines();
    r.names = names_lines();
    r.rumelvb_command = command("rumelvb");
    r.report = report(r.rumelvb_command);
    return r;
  }

 private:
  [[noreturn]] void die_at(long line, size_t column, const std::string& message) const {
    std::string name;
    if (column < columns_.size() && !columns_[column].header.empty()) {
      name = " (" + columns_[column].header + ")";
    }
    die_stderr("[%s, Line %ld, Column %zu%s] %s\n", s_.table.c_str(), line, column + 1, name.c_str(),
               message.c_str());
  }

  static std::string fields_text(size_t n) { return std::to_string(n) + (n == 1 ? " field" : " fields"); }

  void read_cells() {
    RecordReader reader(bytes_, delimiter_);
    std::vector<std::string> fields;
    long line = 0;
    bool width_known = false;
    while (true) {
      RecordReader::Step step = reader.next(&fields, &line);
      if (step == RecordReader::Step::kEnd) break;
      if (step == RecordReader::Step::kFault) {
        const TableFault& f = reader.fault();
        die_at(f.line, static_cast<size_t>(f.column - 1), f.message);
      }
      if (is_blank_record(fields)) continue;
      if (!width_known) {
        width_known = true;
        cells_.width = fields.size();
        columns_.resize(fields.size());
        if (s_.header) {
          for (size_t c = 0; c < fields.size(); ++c) columns_[c].header = trim_cell(fields[c]);
          continue;
        }
      }
      if (fields.size() != cells_.width) {
        die_at(line, std::min(fields.size(), cells_.width),
               fields_text(fields.size()) + " where the first row has " + std::to_string(cells_.width));
      }
      for (std::string& f : fields) cells_.text.push_back(std::move(f));
      cells_.line.push_back(line);
    }
    if (!width_known) die_stderr("[%s] The table is empty\n", s_.table.c_str());
    if (cells_.rows() == 0) die_stderr("[%s] The table has no data rows\n", s_.table.c_str());
  }

  // A column by its header name or its index from 0.
  size_t column_of(std::string_view reference, const char* option) const {
    std::string_view ref = trim_cell(reference);
    if (ref.empty()) die_stderr("Empty column name given to %s\n", option);
    std::vector<size_t> named;
    for (size_t c = 0; c < columns_.size(); ++c) {
      if (s_.header && columns_[c].header == ref) named.push_back(c);
    }
    if (named.size() > 1) {
      die_stderr("Column name %.*s given to %s is ambiguous (columns %zu and %zu): give its index\n",
                 static_cast<int>(ref.size()), ref.data(), option, named[0], named[1]);
    }
    if (named.size() == 1) return named[0];
    if (ref.size() <= 9 && ref[0] != '+' && ref[0] != '-' && is_integer_text(ref)) {
      size_t index = strtoul(std::string(ref).c_str(), nullptr, 10);
      if (index < columns_.size()) return index;
    }
    die_stderr("No column %.*s for %s: the table has columns 0 to %zu%s\n", static_cast<int>(ref.size()),
               ref.data(), option, columns_.size() - 1, s_.header ? " and their header names" : "");
  }

  std::vector<size_t> columns_of(const std::vector<std::string>& lists, const char* option) const {
    std::vector<size_t> out;
    for (const std::string& list : lists) {
      size_t start = 0;
      while (true) {
        size_t comma = list.find(',', start);
        out.push_back(column_of(std::string_view(list).substr(start, comma - start), option));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
    return out;
  }

  void set_role(size_t c, Role role, const char* option) {
    Role old = columns_[c].role;
    if (old != Role::kDiscrete && old != role) {
      die_stderr("Column %zu is given to %s and to %s\n", c, role_option(old), option);
    }
    columns_[c].role = role;
  }

  static const char* role_option(Role role) {
    switch (role) {
      case Role::kId: return "--id";
      case Role::kClass: return "--class";
      default: return "--ignore";
    }
  }

  void assign_roles() {
    if (s_.class_given) set_role(column_of(s_.class_column, "--class"), Role::kClass, "--class");
    if (s_.id_given) set_role(column_of(s_.id_column, "--id"), Role::kId, "--id");
    for (size_t c : columns_of(s_.ignored, "--ignore")) set_role(c, Role::kIgnored, "--ignore");
    for (size_t c : columns_of(s_.nominal, "--nominal")) columns_[c].nominal = true;
  }

  void scan_types() {
    for (size_t c = 0; c < columns_.size(); ++c) {
      Column& col = columns_[c];
      if (col.role == Role::kIgnored) continue;
      bool numeric = true;
      for (size_t r = 0; r < cells_.rows(); ++r) {
        std::string_view t = cells_.trimmed(r, c);
        if (is_missing_cell(t)) {
          ++col.missing;
          continue;
        }
        if (numeric && !is_finite_number(t)) numeric = false;
        if (!numeric) continue;
        col.integer = col.integer && is_integer_text(t);
        double x = strtod(std::string(t).c_str(), nullptr);
        if (col.present++ == 0) col.first = x;
        col.constant = col.constant && x == col.first;
      }
      if (col.role != Role::kDiscrete) continue;
      if (numeric && col.present == 0) {
        col.role = Role::kEmpty;
      } else if (numeric && !col.nominal) {
        col.role = Role::kContinuous;
      }
    }
  }

  void check_ids() {
    if (!s_.id_given) return;
    size_t c = column_of(s_.id_column, "--id");
    std::unordered_map<std::string_view, long> seen;
    for (size_t r = 0; r < cells_.rows(); ++r) {
      std::string_view t = cells_.trimmed(r, c);
      if (t.empty()) die_at(cells_.line[r], c, "missing case ID");
      auto [at, fresh] = seen.emplace(t, cells_.line[r]);
      if (!fresh) {
        die_at(cells_.line[r], c,
               "duplicate case ID " + std::string(t) + " (first on line " + std::to_string(at->second) + ")");
      }
    }
  }

  void number_attributes() {
    int n = 0, descriptive = 0;
    TokenSet names;
    for (Column& col : columns_) {
      if (col.role == Role::kIgnored || col.role == Role::kEmpty) continue;
      col.attribute = n++;
      if (col.role == Role::kDiscrete || col.role == Role::kContinuous) ++descriptive;
      col.name = names.take(safe_token(col.header.empty() ? "X" + std::to_string(col.attribute) : col.header));
    }
    if (descriptive == 0) {
      die_stderr("[%s] No column left to cluster: every column is the class, the ID, ignored or empty\n",
                 s_.table.c_str());
    }
    n_attr_ = n;
  }

  std::string case_lines() {
    std::string out, line, pattern;
    // Identical discrete rows of different classes cannot be merged into
    // one case with a count; rumelvb then needs every row kept apart.
    bool may_merge = s_.class_given && !s_.id_given;
    std::unordered_map<std::string, std::string> class_of_pattern;
    for (size_t r = 0; r < cells_.rows(); ++r) {
      line.clear();
      pattern.clear();
      bool pattern_missing = false;
      std::string answer;
      for (size_t c = 0; c < columns_.size(); ++c) {
        Column& col = columns_[c];
        if (!col.kept()) continue;
        if (col.attribute > 0) line.push_back(',');
        std::string_view t = cells_.trimmed(r, c);
        bool missing = is_missing_cell(t) && col.role != Role::kId;
        const std::string_view field = missing ? std::string_view("?")
                                       : col.role == Role::kContinuous ? t
                                                                       : std::string_view(col.tokens.token(t));
        line.append(field);
        if (col.role == Role::kContinuous) may_merge = false;
        if (col.role == Role::kDiscrete) {
          pattern.append(field).push_back(',');
          pattern_missing = pattern_missing || missing;
        }
        if (col.role == Role::kClass) answer = field;
      }
      if (line.size() > kMaxCaseLine) {
        die_stderr("[%s, Line %ld] The case line would be %zu characters long; the case reader takes %zu\n",
                   s_.table.c_str(), cells_.line[r], line.size(), kMaxCaseLine);
      }
      out.append(line).append("\r\n");
      if (may_merge && !pattern_missing) {
        auto [at, fresh] = class_of_pattern.emplace(pattern, answer);
        if (!fresh && at->second != answer) uncompress_ = true;
      }
    }
    if (!may_merge) uncompress_ = false;
    return out;
  }

  std::string names_lines() const {
    std::string out;
    for (const Column& col : columns_) {
      if (!col.kept()) continue;
      out += col.name + "\t" + type_word(col) + "\r\n";
    }
    return out;
  }

  static const char* type_word(const Column& col) {
    switch (col.role) {
      case Role::kId: return "id";
      case Role::kClass: return "eval";
      case Role::kContinuous: return col.integer ? "integer" : "real";
      default: return "nominal";
    }
  }

  // The attributes of `role`, with runs written as ranges: "1-3,5".
  std::string attribute_list(Role role) const {
    std::vector<int> a;
    for (const Column& col : columns_) {
      if (col.role == role && col.kept()) a.push_back(col.attribute);
    }
    std::string out;
    for (size_t i = 0; i < a.size();) {
      size_t j = i;
      while (j + 1 < a.size() && a[j + 1] == a[j] + 1) ++j;
      if (!out.empty()) out += ",";
      out += std::to_string(a[i]);
      if (j > i) out += "-" + std::to_string(a[j]);
      i = j + 1;
    }
    return out;
  }

  static std::string shell_word(const std::string& word) {
    bool plain = !word.empty() && word.find_first_not_of(
                                      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+-=:@%,") ==
                                      std::string::npos;
    if (plain) return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }

  std::string command(const char* program) const {
    std::string out = std::string(program) + " -f " + shell_word(s_.target) + " -k 2:5:1 -x " + std::to_string(n_attr_);
    std::string gauss = attribute_list(Role::kContinuous);
    if (!gauss.empty()) out += " -u " + gauss;
    std::string answer = attribute_list(Role::kClass), id = attribute_list(Role::kId);
    if (!answer.empty()) out += " -E " + answer;
    if (!id.empty()) out += " -I " + id;
    if (uncompress_) out += " --uncompress";
    return out + " --seed 1";
  }

  std::string describe(const Column& col) const {
    std::string missing = col.missing > 0 ? ", " + std::to_string(col.missing) + " missing" : "";
    std::string attribute = "attribute " + std::to_string(col.attribute) + ": ";
    switch (col.role) {
      case Role::kIgnored: return "left out (--ignore)";
      case Role::kEmpty: return "left out: no value in any row";
      case Role::kId: return attribute + "case ID";
      case Role::kClass: return attribute + "answer class" + missing;
      case Role::kContinuous:
        return attribute + (col.integer ? "continuous (integer)" : "continuous (real)") + missing;
      default: return attribute + "nominal, " + std::to_string(col.tokens.size()) + " values" + missing;
    }
  }

  std::string report(const std::string& rumelvb) const {
    std::string out = "Read " + std::to_string(cells_.rows()) + " rows of " + std::to_string(columns_.size()) +
                      " columns from " + s_.table + " (" + delimiter_name(delimiter_) + "-separated, " +
                      (s_.header ? "header row" : "no header row") + ")\n";
    std::string tokens, warnings;
    for (size_t c = 0; c < columns_.size(); ++c) {
      const Column& col = columns_[c];
      std::string shown = col.kept() ? col.name : col.header;
      out += "  column " + std::to_string(c) + (shown.empty() ? "" : " " + shown) + " -> " + describe(col) + "\n";
      if (col.kept() && !col.header.empty() && col.name != col.header) {
        tokens += "  name of column " + std::to_string(c) + ": \"" + col.header + "\" -> " + col.name + "\n";
      }
      for (const auto& [text, token] : col.tokens.changed()) {
        tokens += "  " + col.name + ": \"" + text + "\" -> " + token + "\n";
      }
      if (col.role == Role::kContinuous && col.constant) {
        warnings += "Warning: column " + std::to_string(c) +
                    " holds one value only; rumelvb stops on its singular sample covariance"
                    " unless it is given to --ignore or --nominal\n";
      }
    }
    if (!tokens.empty()) out += "Texts the case and names files cannot hold, as written:\n" + tokens;
    out += "Wrote " + s_.target + "_freq.csv (" + std::to_string(cells_.rows()) + " cases) and " + s_.target +
           "_name.txt\n";
    out += warnings;
    std::string rumel = "rumel" + rumelvb.substr(std::strlen("rumelvb"));
    out += "Fit it by variational Bayes:\n  " + rumelvb + "\nor by maximum likelihood:\n  " + rumel + "\n";
    return out;
  }

  const PrepSettings& s_;
  std::string_view bytes_;
  char delimiter_ = ',';
  Cells cells_;
  std::vector<Column> columns_;
  int n_attr_ = 0;
  bool uncompress_ = false;
};

void write_whole(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) die_stderr("Couldn't open %s\n", path.c_str());
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (fclose(f) != 0) ok = false;
  if (!ok) die_stderr("Couldn't write %s\n", path.c_str());
}

std::string read_whole(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) die_stderr("Couldn't open %s\n", path.c_str());
  std::string bytes;
  char block[1 << 16];
  size_t got;
  while ((got = fread(block, 1, sizeof block, f)) > 0) bytes.append(block, got);
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) die_stderr("Couldn't read %s\n", path.c_str());
  return bytes;
}

}  // namespace

ImportResult import_table(const PrepSettings& settings, std::string_view bytes) {
  return Importer(settings, bytes).run();
}

void run_import(const PrepSettings& settings, FILE* out) {
  ImportResult r = import_table(settings, read_whole(settings.table));
  write_whole(settings.target + "_freq.csv", r.cases);
  write_whole(settings.target + "_name.txt", r.names);
  fputs(r.report.c_str(), out);
}

}  // namespace veska

#include "data/read_freq.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>

#include "common/misc.h"
#include "common/split.h"
#include "data/check_ids.h"
#include "data/line_reader.h"

namespace veska {

namespace {

// What field j of a line is for.
struct Column {
  enum Kind { kSkip, kId, kAnswer, kDiscrete, kContinuous } kind = kSkip;
  int k = -1;  // discrete index
  int c = -1;  // index among the continuous values (group by group)
  int g = -1;  // Gaussian group
};

bool is_missing_mark(std::string_view text) { return text == "?" || text == "NA"; }

enum class NumberStatus { kOk, kBadFormat, kNotPositive, kOutOfRange };

// A decimal integer with an optional sign (leading zeros are skipped) that
// must be a positive int.
NumberStatus parse_count(std::string_view text, int* count) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return NumberStatus::kBadFormat;
  long value = 0;
  bool too_large = false;
  for (; i < text.size(); ++i) {
    char ch = text[i];
    if (ch < '0' || ch > '9') return NumberStatus::kBadFormat;
    if (!too_large) {
      value = value * 10 + (ch - '0');
      if (value > INT_MAX) too_large = true;
    }
  }
  if (negative || value == 0) return NumberStatus::kNotPositive;
  if (too_large) return NumberStatus::kOutOfRange;
  *count = static_cast<int>(value);
  return NumberStatus::kOk;
}

// A finite real in decimal or exponent notation with an optional sign; the
// whole field must be consumed. Values too small to represent become 0 or a
// denormal; values too large are out of range.
NumberStatus parse_value(const char* text, size_t length, double* value) {
  const char* p = text;
  const char* end = text + length;
  if (p < end && *p == '+') {
    ++p;
    if (p < end && (*p == '-' || *p == '+')) return NumberStatus::kBadFormat;
  }
  double x = 0.0;
  auto [stop, ec] = std::from_chars(p, end, x, std::chars_format::general);
  if (ec == std::errc::invalid_argument || stop != end) return NumberStatus::kBadFormat;
  if (ec == std::errc::result_out_of_range) {
    x = strtod(text, nullptr);
    if (!std::isfinite(x)) return NumberStatus::kOutOfRange;
  }
  if (!std::isfinite(x)) return NumberStatus::kBadFormat;  // "inf", "nan"
  *value = x;
  return NumberStatus::kOk;
}

// Everything one reading needs besides the table itself.
class CaseReader {
 public:
  CaseReader(const Settings& settings, AttrModel& model, CaseTable& table, FilePtr file);
  void read();

 private:
  void plan_columns();
  long count_lines();
  void read_line();
  // The line's fields are checked; returns the line's count.
  int check_fields(int n_fields);
  int open_entry();
  [[noreturn]] void fail(int check_id, const char* message, long column) {
    die_line(path_.c_str(), reader_.line_no(), check_id, reader_.text(), message, column);
  }
  long column_of(int field) const { return starts_[static_cast<size_t>(field)]; }
  void build_summaries();

  const Settings& settings_;
  AttrModel& model_;
  CaseTable& table_;
  const std::string& path_;
  LineReader reader_;

  int n_attr_;
  bool txt_;
  char delimiter_;
  bool compress_ = false;
  std::vector<Column> columns_;
  std::vector<int> discrete_attr_;    // k -> j
  std::vector<int> continuous_attr_;  // c -> j
  std::vector<int> continuous_group_;  // c -> g
  std::vector<char> fixed_;           // k -> value set closed
  int id_attr_ = -1;
  int answer_attr_ = -1;

  FieldArray fields_;
  std::vector<int> starts_;
  int field_capacity_ = 0;
  std::vector<double> row_values_;
  std::vector<char> row_missing_;
  std::vector<int> entry_template_;  // ints of a fresh entry
  std::string key_;
  StrTable patterns_;
  long n_lines_ = 0;
  long n_read_ = 0;
  long n_cases_ = 0;
};

CaseReader::CaseReader(const Settings& settings, AttrModel& model, CaseTable& table, FilePtr file)
    : settings_(settings),
      model_(model),
      table_(table),
      path_(settings.files.cases),
      reader_(std::move(file), settings.files.cases, check_id::kCasesLongLine),
      n_attr_(model.n_attr),
      txt_(settings.input_format == Format::kTxt),
      delimiter_(txt_ ? '\t' : ',') {}

// Roles, discrete indices and group places of every column, from the model.
void CaseReader::plan_columns() {
  if (static_cast<int>(model_.attrs.size()) != n_attr_ || n_attr_ < 1) {
    die("Internal error: read_cases() -- attribute roles not resolved\n");
  }
  create_value_tables(model_);
  columns_.assign(static_cast<size_t>(n_attr_), Column{});
  auto layout = std::make_unique<CaseLayout>();
  int n_discrete = static_cast<int>(model_.values.size());
  discrete_attr_.assign(static_cast<size_t>(n_discrete), -1);
  for (int j = 0; j < n_attr_; ++j) {
    const Attribute& a = model_.attrs[static_cast<size_t>(j)];
    Column& col = columns_[static_cast<size_t>(j)];
    switch (a.role) {
      case AttrRole::kId:
        col.kind = Column::kId;
        id_attr_ = j;
        break;
      case AttrRole::kAnswer:
        col.kind = Column::kAnswer;
        answer_attr_ = j;
        break;
      case AttrRole::kDiscrete:
        if (a.position < 0 || a.position >= n_discrete ||
            discrete_attr_[static_cast<size_t>(a.position)] != -1) {
          die("Internal error: read_cases() -- bad discrete position of attribute %d\n", j);
        }
        col.kind = Column::kDiscrete;
        col.k = a.position;
        discrete_attr_[static_cast<size_t>(a.position)] = j;
        break;
      case AttrRole::kContinuous:  // placed below, group by group
      case AttrRole::kIgnored:
        break;
    }
  }
  for (int k = 0; k < n_discrete; ++k) {
    if (discrete_attr_[static_cast<size_t>(k)] == -1) {
      die("Internal error: read_cases() -- discrete attribute %d has no column\n", k);
    }
  }
  int c = 0;
  for (size_t g = 0; g < model_.groups.size(); ++g) {
    layout->group_offset.push_back(c);
    layout->group_size.push_back(model_.groups[g].size());
    for (int j : model_.groups[g].attrs) {
      if (j < 0 || j >= n_attr_ || model_.attrs[static_cast<size_t>(j)].role != AttrRole::kContinuous ||
          columns_[static_cast<size_t>(j)].kind != Column::kSkip) {
        die("Internal error: read_cases() -- bad member %d of Gaussian group %d\n", j,
            static_cast<int>(g));
      }
      Column& col = columns_[static_cast<size_t>(j)];
      col.kind = Column::kContinuous;
      col.c = c++;
      col.g = static_cast<int>(g);
      continuous_attr_.push_back(j);
      continuous_group_.push_back(static_cast<int>(g));
    }
  }
  // Identical discrete patterns merge only when nothing else tells cases apart.
  compress_ = !settings_.uncompress && id_attr_ < 0 && model_.groups.empty();
  layout->n_discrete = n_discrete;
  layout->n_continuous = c;
  layout->n_groups = static_cast<int>(model_.groups.size());
  table_.layout = std::move(layout);

  fixed_.resize(static_cast<size_t>(n_discrete));
  for (int k = 0; k < n_discrete; ++k) {
    fixed_[static_cast<size_t>(k)] =
        model_.values[static_cast<size_t>(k)].fixed || !settings_.run_estimation;
  }

  // A line has at most kMaxLineLength + 1 fields, so a wider array would
  // never be filled; lines of a wider model fail as too short.
  long wanted = static_cast<long>(n_attr_) + 1;
  field_capacity_ = static_cast<int>(std::min<long>(wanted, static_cast<long>(kMaxLineLength) + 2));
  fields_ = alloc_fields(field_capacity_);
  starts_.assign(static_cast<size_t>(field_capacity_), -1);
  row_values_.assign(static_cast<size_t>(c), 0.0);
  row_missing_.assign(static_cast<size_t>(c), 0);

  const CaseLayout& l = *table_.layout;
  entry_template_.assign(static_cast<size_t>(l.ints_per_entry()), 0);
  std::fill_n(entry_template_.begin(), n_discrete, kCodeUnset);
  std::fill_n(entry_template_.begin() + 2 * n_discrete + c, c, 1);  // observed
  table_.missing_total.assign(static_cast<size_t>(n_attr_), 0);
}

long CaseReader::count_lines() {
  long n = 0;
  while (reader_.next()) {
    if (reader_.line_no() >= INT_MAX) die("Too many lines in %s\n", path_.c_str());
    if (reader_.text()[0] != '#') ++n;
  }
  reader_.rewind();
  return n;
}

int CaseReader::check_fields(int n_fields) {
  int count = 1;
  for (int i = 0; i < n_fields; ++i) {
    Column::Kind kind = i < n_attr_ ? columns_[static_cast<size_t>(i)].kind : Column::kSkip;
    bool is_count = i == n_attr_;
    if (!is_count && (kind == Column::kSkip || kind == Column::kId || kind == Column::kAnswer)) {
      continue;
    }
    std::string_view text = fields_.view(i);
    if (text.empty()) fail(check_id::kCasesEmptyValue, "empty value", -1);
    if (is_count) {
      switch (parse_count(text, &count)) {
        case NumberStatus::kOk:
          break;
        case NumberStatus::kBadFormat:
          fail(check_id::kCasesCountFormat, "illegal format for an integer", column_of(i));
        case NumberStatus::kNotPositive:
          fail(check_id::kCasesCountPositive, "the object counts should be positive", column_of(i));
        case NumberStatus::kOutOfRange:
          fail(check_id::kCasesCountLarge, "the object count is larger than 2147483647",
               column_of(i));
      }
    } else if (kind == Column::kContinuous) {
      size_t c = static_cast<size_t>(columns_[static_cast<size_t>(i)].c);
      row_missing_[c] = is_missing_mark(text);
      if (row_missing_[c]) continue;
      switch (parse_value(fields_[i], text.size(), &row_values_[c])) {
        case NumberStatus::kOk:
          break;
        case NumberStatus::kOutOfRange:
          fail(check_id::kCasesRealRange, "floating-point number out of range", column_of(i));
        default:
          fail(check_id::kCasesRealFormat, "illegal format for a floating-point number",
               column_of(i));
      }
    } else if (text.size() > kMaxValueName) {
      fail(check_id::kCasesLongValue, "Too long value name (more than 256 characters)",
           column_of(i));
    }
  }
  if (id_attr_ >= 0 && fields_.length(id_attr_) > kMaxValueName) {
    fail(check_id::kCasesLongId, "Too long case ID (more than 256 characters)", column_of(id_attr_));
  }
  if (answer_attr_ >= 0 && fields_.length(answer_attr_) > kMaxValueName) {
    fail(check_id::kCasesLongAnswer, "Too long answer class (more than 256 characters)",
         column_of(answer_attr_));
  }
  return count;
}

int CaseReader::open_entry() {
  table_.entries.emplace_back();
  table_.int_store.insert(table_.int_store.end(), entry_template_.begin(), entry_template_.end());
  table_.real_store.resize(table_.real_store.size() + continuous_attr_.size(), 0.0);
  return table_.n_entries++;
}

void CaseReader::read_line() {
  const char* raw = reader_.text();
  if (long cut = reader_.inner_break(); cut >= 0) {
    die_line(path_.c_str(), reader_.line_no(), check_id::kCasesInnerBreak,
             reader_.quoted_text().c_str(), "Unexpected CR or NUL character inside the line", cut);
  }
  int n_fields = txt_ ? split_txt(field_capacity_, raw, fields_, starts_.data())
                      : split_csv(field_capacity_, raw, fields_, starts_.data());
  if (n_fields == kSplitTooLong) {
    fail(check_id::kCasesLongLine, "Too long line (more than 131071 characters)", -1);
  }
  if (n_fields == kSplitTooManyFields) fail(check_id::kCasesTooMany, "Too many fields (columns)", -1);
  if (n_fields < n_attr_) fail(check_id::kCasesTooFew, "Too few fields (columns)", -1);
  int count = check_fields(n_fields);

  int e;
  bool is_new;
  if (compress_) {
    key_.clear();
    for (size_t k = 0; k < discrete_attr_.size(); ++k) {
      if (k > 0) key_.push_back(delimiter_);
      key_.append(fields_.view(discrete_attr_[k]));
    }
    e = strtab_insert(patterns_, key_);
    is_new = e == table_.n_entries;
    if (is_new) open_entry();
  } else {
    e = open_entry();
    is_new = true;
  }
  CaseEntry& entry = table_.entries[static_cast<size_t>(e)];
  const CaseLayout& layout = *table_.layout;
  int n_discrete = layout.n_discrete;
  int* ints = table_.int_store.data() + static_cast<size_t>(e) * layout.ints_per_entry();

  for (int k = 0; k < n_discrete; ++k) {
    int j = discrete_attr_[static_cast<size_t>(k)];
    std::string_view text = fields_.view(j);
    if (is_missing_mark(text)) {
      ints[k] = kCodeMissing;
      ints[n_discrete + k] = 1;
      ++entry.n_disc_missing;
      table_.missing_total[static_cast<size_t>(j)] += count;
      continue;
    }
    StrTable& values = model_.values[static_cast<size_t>(k)].table;
    bool fixed = fixed_[static_cast<size_t>(k)];
    if (!is_new) {
      // Same pattern, same texts: the code is known; only the count grows.
      if (!fixed) strtab_bump(values, ints[k]);
      continue;
    }
    int code = fixed ? strtab_lookup(values, text) : strtab_insert(values, text);
    if (code < 0) {
      die("[%s, Line %ld, ID:%d] Unknown attribute value -- %s\n%s", path_.c_str(),
          reader_.line_no(), check_id::kCasesUnknownValue, fields_[j], conv_msg(raw));
    }
    ints[k] = code;
  }

  if (!continuous_attr_.empty()) {
    int n_continuous = layout.n_continuous;
    int* gauss_missing = ints + 2 * n_discrete;
    int* gauss_observed = gauss_missing + n_continuous;
    int* gauss_n_missing = gauss_observed + n_continuous;
    double* values = table_.real_store.data() + static_cast<size_t>(e) * n_continuous;
    for (int c = 0; c < n_continuous; ++c) {
      if (row_missing_[static_cast<size_t>(c)]) {
        gauss_observed[c] = 0;
        gauss_missing[c] = 1;
        ++gauss_n_missing[continuous_group_[static_cast<size_t>(c)]];
        table_.missing_total[static_cast<size_t>(continuous_attr_[static_cast<size_t>(c)])] += count;
      } else {
        values[c] = row_values_[static_cast<size_t>(c)];
      }
    }
  }

  if (entry.first_line == -1) entry.first_line = static_cast<int>(reader_.line_no());

  if (id_attr_ >= 0) {
    int before = strtab_count(model_.case_ids);
    int code = strtab_insert(model_.case_ids, fields_.view(id_attr_));
    if (code < before) fail(check_id::kCasesDuplicateId, "duplicating case ID", -1);
    entry.case_id = code;
  }
  if (answer_attr_ >= 0) {
    int code = strtab_insert(model_.answer_classes, fields_.view(answer_attr_));
    if (compress_ && entry.n_disc_missing == 0 && entry.answer != -1 && entry.answer != code) {
      fail(check_id::kCasesAnswerConflict, "different answer classes for the same object", -1);
    }
    entry.answer = code;
  }

  n_cases_ += count;
  if (n_cases_ > INT_MAX) {
    fail(check_id::kCasesTooManyCases, "the object counts add up to more than 2147483647", -1);
  }
  entry.total += count;
}

void CaseReader::read() {
  n_lines_ = count_lines();
  if (n_lines_ < 1) die("the file is empty\n");
  plan_columns();
  if (!compress_) {
    size_t n = static_cast<size_t>(n_lines_);
    table_.entries.reserve(n);
    table_.int_store.reserve(n * entry_template_.size());
    table_.real_store.reserve(n * continuous_attr_.size());
  }
  while (reader_.next()) {
    if (reader_.text()[0] == '#') continue;
    ++n_read_;
    read_line();
  }
  if (n_read_ != n_lines_ || (!compress_ && table_.n_entries != n_lines_) ||
      (compress_ && table_.n_entries != strtab_count(patterns_))) {
    die("Internal error: inconsistency in number of entries\n");
  }
  table_.n_cases = static_cast<int>(n_cases_);

  // The stores are final: point every entry at its slices.
  const CaseLayout* layout = table_.layout.get();
  size_t ints_per_entry = static_cast<size_t>(layout->ints_per_entry());
  size_t reals_per_entry = static_cast<size_t>(layout->n_continuous);
  size_t n_groups = static_cast<size_t>(layout->n_groups);
  table_.vector_store.resize(table_.entries.size() * n_groups);
  for (size_t e = 0; e < table_.entries.size(); ++e) {
    CaseEntry& entry = table_.entries[e];
    entry.ints = table_.int_store.data() + e * ints_per_entry;
    entry.layout = layout;
    if (n_groups == 0) continue;
    double* reals = table_.real_store.data() + e * reals_per_entry;
    Vector* vectors = table_.vector_store.data() + e * n_groups;
    for (size_t g = 0; g < n_groups; ++g) {
      vectors[g].n = layout->group_size[g];
      vectors[g].free_next = -1;
      vectors[g].data = reals + layout->group_offset[g];
    }
    entry.reals = reals;
    entry.vectors = vectors;
  }
  build_summaries();
}

void CaseReader::build_summaries() {
  int n_discrete = table_.layout->n_discrete;
  for (int k = 0; k < n_discrete; ++k) {
    DiscreteValues& dv = model_.values[static_cast<size_t>(k)];
    dv.n_values = strtab_count(dv.table);
    dv.names.clear();
    for (const std::string* text : strtab_texts(dv.table)) dv.names.push_back(*text);
    dv.order.resize(static_cast<size_t>(dv.n_values));
    std::iota(dv.order.begin(), dv.order.end(), 0);
    if (settings_.lex_order) {
      // Names are at most kMaxValueName bytes, so whole names compare.
      std::sort(dv.order.begin(), dv.order.end(), [&dv](int a, int b) {
        return dv.names[static_cast<size_t>(a)] < dv.names[static_cast<size_t>(b)];
      });
    }
    dv.freq.assign(static_cast<size_t>(dv.n_values), 0.0);
    for (const CaseEntry& entry : table_.entries) {
      int code = entry.codes()[static_cast<size_t>(k)];
      if (code >= 0) dv.freq[static_cast<size_t>(code)] += entry.total;
    }
  }

  for (int j = 0; j < n_attr_; ++j) {
    long total = table_.missing_total[static_cast<size_t>(j)];
    if (columns_[static_cast<size_t>(j)].kind == Column::kDiscrete) table_.disc_missing_sum += total;
    if (columns_[static_cast<size_t>(j)].kind == Column::kContinuous) table_.gauss_missing_sum += total;
  }

  model_.n_case_ids = strtab_count(model_.case_ids);
  model_.case_id_texts = strtab_texts(model_.case_ids);
  model_.n_answers = strtab_count(model_.answer_classes);
  model_.answer_names.clear();
  for (const std::string* text : strtab_texts(model_.answer_classes)) {
    model_.answer_names.push_back(*text);
  }
  model_.answer_entries.assign(static_cast<size_t>(model_.n_answers), 0);
  for (const CaseEntry& entry : table_.entries) {
    if (entry.answer >= 0) ++model_.answer_entries[static_cast<size_t>(entry.answer)];
  }
}

}  // namespace

CaseTable read_cases(const Settings& settings, AttrModel& model) {
  msg_printf("Reading cases from %s...", settings.files.cases.c_str());
  FilePtr file = open_for_reading(settings.files.cases);
  if (!file) die("Couldn't open %s\n", settings.files.cases.c_str());
  CaseTable table;
  CaseReader reader(settings, model, table, std::move(file));
  reader.read();
  msg_printf("done\n");
  return table;
}

}  // namespace veska

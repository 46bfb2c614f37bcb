#include "data/name.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/misc.h"
#include "common/split.h"
#include "data/check_ids.h"
#include "data/line_reader.h"

namespace veska {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr std::string_view kTrimmed = " \t\r\n";

bool is_white(char c) { return kWhiteSpace.find(c) != std::string_view::npos; }

// A comment ("#" as first non-blank character) or a line of white space.
bool is_skipped(const char* raw) {
  const char* p = raw;
  while (*p != '\0' && is_white(*p) && *p != '\r' && *p != '\n') ++p;
  return *p == '\0' || *p == '\r' || *p == '\n' || *p == '#';
}

DeclaredType parse_type(std::string_view spec) {
  if (spec == "id") return DeclaredType::kId;
  if (spec == "eval") return DeclaredType::kEval;
  if (spec == "ignored") return DeclaredType::kIgnored;
  if (spec == "integer") return DeclaredType::kInteger;
  if (spec == "real") return DeclaredType::kReal;
  if (spec == "nominal") return DeclaredType::kNominal;
  if (spec.size() >= 2 && spec.front() == '{' && spec.back() == '}') return DeclaredType::kValueList;
  return DeclaredType::kNone;
}

bool type_fits_role(DeclaredType type, AttrRole role) {
  switch (type) {
    case DeclaredType::kId:
      return role == AttrRole::kId;
    case DeclaredType::kEval:
      return role == AttrRole::kAnswer;
    case DeclaredType::kIgnored:
      return role == AttrRole::kIgnored;
    case DeclaredType::kInteger:
    case DeclaredType::kReal:
      return role == AttrRole::kContinuous;
    case DeclaredType::kNominal:
    case DeclaredType::kValueList:
      return role == AttrRole::kDiscrete;
    case DeclaredType::kNone:
      break;
  }
  return false;
}

// The names between "{" and the first "}" of `spec`, which starts at column
// `column` of the raw line, go into `values` in list order.
void read_value_list(const LineReader& reader, std::string_view spec, long column,
                     DiscreteValues& values) {
  std::string name;
  long name_column = -1;
  for (size_t i = 1; i < spec.size(); ++i) {
    char c = spec[i];
    if (is_white(c)) continue;  // white space is dropped wherever it stands
    if (c == ',' || c == '}') {
      if (name.empty()) {
        die_line(reader.name().c_str(), reader.line_no(), check_id::kNamesEmptyValue,
                 reader.text(), "Empty value name", column + static_cast<long>(i));
      }
      strtab_insert(values.table, name);
      name.clear();
      if (c == '}') break;
      continue;
    }
    if (name.empty()) name_column = column + static_cast<long>(i);
    if (name.size() == kMaxValueName) {
      die_line(reader.name().c_str(), reader.line_no(), check_id::kNamesLongValue, reader.text(),
               "Too long value name", name_column);
    }
    name.push_back(c);
  }
  values.fixed = true;
}

}  // namespace

void read_names(const Settings& settings, AttrModel& model) {
  const std::string& path = settings.files.names;
  FilePtr file = open_for_reading(path);
  if (!file) return;
  msg_printf("Reading names from %s...", path.c_str());
  if (static_cast<int>(model.attrs.size()) != model.n_attr) {
    die("Internal error: read_names() -- attribute roles not resolved\n");
  }
  create_value_tables(model);

  LineReader reader(std::move(file), path, check_id::kNamesLongLine);
  int n_read = 0;
  std::string last_line;  // quoted when names are missing at the end
  long last_line_no = 0;
  while (reader.next()) {
    const char* raw = reader.text();
    last_line.assign(raw);
    last_line_no = reader.line_no();
    if (is_skipped(raw)) continue;
    if (long cut = reader.inner_break(); cut >= 0) {
      die_line(path.c_str(), reader.line_no(), check_id::kNamesInnerBreak,
               reader.quoted_text().c_str(), "Unexpected CR or NUL character inside the line", cut);
    }

    std::string_view line(raw, strlen(raw));
    size_t lead = line.find_first_not_of(kTrimmed);
    size_t tail = line.find_last_not_of(kTrimmed);
    std::string_view text = line.substr(lead, tail - lead + 1);

    // The name, white space, then the type; a line that is only a name
    // (white space that is not trimmed may follow it) has no type.
    size_t gap = text.find_first_of(kWhiteSpace);
    size_t spec_at = gap == std::string_view::npos ? gap : text.find_first_not_of(kWhiteSpace, gap);
    if (spec_at == std::string_view::npos) {
      die_line(path.c_str(), reader.line_no(), check_id::kNamesFormat, raw, "Unexpected format", -1);
    }
    std::string_view name = text.substr(0, gap);
    std::string_view spec = text.substr(spec_at);
    long spec_column = static_cast<long>(lead + spec_at);

    DeclaredType type = parse_type(spec);
    if (type == DeclaredType::kNone) {
      die_line(path.c_str(), reader.line_no(), check_id::kNamesSpec, raw,
               "Unexpected attribute spec", spec_column);
    }
    if (n_read >= model.n_attr) {
      die_line(path.c_str(), reader.line_no(), check_id::kNamesTooMany, raw,
               "Too many attribute names", -1);
    }
    Attribute& attr = model.attrs[static_cast<size_t>(n_read)];
    std::string name_text(name);
    if (!type_fits_role(type, attr.role)) {
      die("Inconsistent attribute type for `%s'\n", name_text.c_str());
    }
    attr.name = std::move(name_text);
    attr.has_name = true;
    attr.type.assign(spec);
    attr.declared = type;
    if (type == DeclaredType::kValueList) {
      if (attr.position < 0 || attr.position >= static_cast<int>(model.values.size())) {
        die("Internal error: read_names() -- discrete attribute %d has no value table\n", n_read);
      }
      read_value_list(reader, spec, spec_column, model.values[static_cast<size_t>(attr.position)]);
    }
    ++n_read;
  }
  if (n_read < model.n_attr) {
    die_line(path.c_str(), last_line_no, check_id::kNamesTooFew, last_line.c_str(),
             "Too few attribute names", -1);
  }
  model.names_read = true;
  msg_printf("done\n");
}

}  // namespace veska

#include "output/value_text.h"

#include <cstdio>

#include "common/misc.h"
#include "output/section_writer.h"

namespace veska {

const char* attr_name(const AttrModel& model, int j) {
  static char fallback[16];
  if (model.names_read && j >= 0 && j < static_cast<int>(model.attrs.size()) &&
      model.attrs[j].has_name) {
    return model.attrs[j].name.c_str();
  }
  snprintf(fallback, sizeof fallback, "X%d", j);
  return fallback;
}

const char* case_id_str(const AttrModel& model, const CaseEntry& entry, int e) {
  static char index[16];
  // case_id is set only when an ID attribute is declared.
  if (entry.case_id >= 0) return strtab_text(model.case_ids, entry.case_id).c_str();
  snprintf(index, sizeof index, "%d", e);
  return index;
}

const char* answer_str(const AttrModel& model, const CaseEntry& entry) {
  if (entry.answer < 0) return "";
  return strtab_text(model.answer_classes, entry.answer).c_str();
}

const char* freq_entry_val(const AttrModel& model, const CaseEntry& entry, int j) {
  const Attribute& a = model.attrs[j];
  if (a.role == AttrRole::kContinuous) {
    if (entry.gauss_missing(a.group)[a.position] != 0) return "?";
    return real_str(entry.values(a.group)[a.position]);
  }
  int code = entry.codes()[a.position];
  if (code >= 0) return model.values[a.position].names[code].c_str();
  if (entry.disc_missing()[a.position] != 0) return "?";
  die("Internal error: freq_entry_val(): word not assigned");
}

bool is_shown(const Attribute& a) {
  return a.role == AttrRole::kDiscrete || a.role == AttrRole::kContinuous;
}

void add_values_column(const Settings& settings) {
  if (!settings.hide_attr) add_column_name("Attr. values x1, x2, ..., xJ");
}

void add_value_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry) {
  if (settings.hide_attr) return;
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (is_shown(model.attrs[j])) add_field(freq_entry_val(model, entry, j));
  }
}

void add_block_columns(const Settings& settings, const AttrModel& model, int g) {
  if (settings.hide_attr) return;
  for (int j : model.groups[g].attrs) add_column_name("Attr. x%d", j);
}

void add_block_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry,
                      int g) {
  if (settings.hide_attr) return;
  for (int j : model.groups[g].attrs) add_field(freq_entry_val(model, entry, j));
}

void add_case_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry,
                     int n) {
  add_field(case_id_str(model, entry, n));
  add_value_fields(settings, model, entry);
}

}  // namespace veska

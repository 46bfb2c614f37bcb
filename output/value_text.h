// Texts of attribute names and case values as the data matrices show them.
// Each returns text that stays valid until the next call of the same function.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

// The name from the names file when one was read, else "X" and the index.
const char* attr_name(const AttrModel& model, int j);

// The entry's ID text when an ID attribute is declared, else its index e.
const char* case_id_str(const AttrModel& model, const CaseEntry& entry, int e);

// The name of the entry's answer class (empty when it has none).
const char* answer_str(const AttrModel& model, const CaseEntry& entry);

// Attribute j of the entry: "?" when missing, else the value name (discrete)
// or the real with --prec-out digits (continuous). A discrete value with
// neither a code nor a missing mark is an internal error.
const char* freq_entry_val(const AttrModel& model, const CaseEntry& entry, int j);

// Shown attributes are the discrete and continuous ones, in index order.
bool is_shown(const Attribute& a);

// The "Attr. values x1, x2, ..., xJ" column and its fields (one per shown
// attribute); both are left out under --hide-attr.
void add_values_column(const Settings& settings);
void add_value_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry);

// "Case ID" and, unless hidden, the attribute values of entry n: the case
// columns of the per-case dumps.
void add_case_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry,
                     int n);

// One "Attr. x%d" column per attribute of Gauss block g, in block order, and
// the entry's values of those attributes; left out under --hide-attr.
void add_block_columns(const Settings& settings, const AttrModel& model, int g);
void add_block_fields(const Settings& settings, const AttrModel& model, const CaseEntry& entry,
                      int g);

}  // namespace veska

// The attribute model: what each column of the case table is (from the
// options), its name and declared type (from the names file) and, for
// discrete attributes, the value tables and their summaries.
#pragma once

#include <string>
#include <vector>

#include "common/hash.h"
#include "common/settings.h"

namespace veska {

enum class AttrRole { kDiscrete, kContinuous, kId, kAnswer, kIgnored };

// Type keyword of an attribute line in the names file.
enum class DeclaredType { kNone, kId, kEval, kIgnored, kInteger, kReal, kNominal, kValueList };

// Longest value name, case ID or answer class accepted from any input file.
constexpr size_t kMaxValueName = 256;

struct Attribute {
  AttrRole role = AttrRole::kDiscrete;
  int group = -1;     // continuous: its Gaussian group
  int position = -1;  // continuous: place in the group; discrete: discrete index k
  bool has_name = false;  // a names file named it
  std::string name;
  std::string type;  // declared type as written in the names file; empty without one
  DeclaredType declared = DeclaredType::kNone;
};

// Values of one discrete attribute, complete once the case file is read.
struct DiscreteValues {
  StrTable table;                  // value name -> code
  bool fixed = false;              // the set is closed: a names-file list or a model file fixed it
  int n_values = 0;
  std::vector<std::string> names;  // by code
  std::vector<int> order;          // display order: codes (lexicographic or appearance)
  std::vector<double> freq;        // occurrences by code
};

struct AttrModel {
  int n_attr = 0;
  std::vector<Attribute> attrs;
  std::vector<GaussGroup> groups;  // resolved, attribute indices sorted
  int n_discrete = 0;
  int n_continuous = 0;
  int n_groups = 0;
  int n_descriptive = 0;
  bool has_discrete = false;
  bool names_read = false;

  std::vector<int> discrete_attr;  // discrete index k -> attribute index j
  std::vector<DiscreteValues> values;  // per discrete attribute k

  StrTable answer_classes;  // with --eval
  StrTable case_ids;        // with --id

  // After the case file is read.
  int n_answers = 0;
  std::vector<std::string> answer_names;  // by code
  std::vector<int> answer_entries;        // per class: case-table entries having it
  int n_case_ids = 0;
  std::vector<const std::string*> case_id_texts;  // by code; owned by case_ids
};

// One value table per discrete attribute; tables that exist are kept.
inline void create_value_tables(AttrModel& model) {
  if (static_cast<int>(model.values.size()) != model.n_discrete) {
    model.values.resize(static_cast<size_t>(model.n_discrete));
  }
}

}  // namespace veska

// For the data tests: an attribute model with its roles set the way the
// option handling sets them, and settings naming the input files.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/attributes.h"
#include "common/settings.h"

namespace veska::testing {

// Roles as the options give them: Roles(5).id(0).eval(4).group({2, 3}).
struct Roles {
  explicit Roles(int n) : n_attr(n) {}
  Roles& id(int j) { id_attr = j; return *this; }
  Roles& eval(int j) { eval_attr = j; return *this; }
  Roles& ignore(int j) { ignored.push_back(j); return *this; }
  Roles& group(std::vector<int> attrs) { groups.push_back(std::move(attrs)); return *this; }

  int n_attr;
  int id_attr = -1;
  int eval_attr = -1;
  std::vector<int> ignored;
  std::vector<std::vector<int>> groups;  // attribute indices, increasing
};

// Continuous attributes by group; every other attribute that is not the ID,
// the answer class or ignored is discrete, numbered from attribute 0 upward.
inline AttrModel make_model(const Roles& r) {
  AttrModel m;
  m.n_attr = r.n_attr;
  m.attrs.resize(static_cast<size_t>(r.n_attr));
  for (size_t g = 0; g < r.groups.size(); ++g) {
    GaussGroup group;
    group.attrs = r.groups[g];
    for (size_t p = 0; p < group.attrs.size(); ++p) {
      Attribute& a = m.attrs[static_cast<size_t>(group.attrs[p])];
      a.role = AttrRole::kContinuous;
      a.group = static_cast<int>(g);
      a.position = static_cast<int>(p);
    }
    m.n_continuous += group.size();
    m.groups.push_back(group);
  }
  for (int j = 0; j < r.n_attr; ++j) {
    Attribute& a = m.attrs[static_cast<size_t>(j)];
    if (j == r.id_attr) {
      a.role = AttrRole::kId;
    } else if (j == r.eval_attr) {
      a.role = AttrRole::kAnswer;
    } else if (std::find(r.ignored.begin(), r.ignored.end(), j) != r.ignored.end()) {
      a.role = AttrRole::kIgnored;
    } else if (a.role != AttrRole::kContinuous) {
      a.role = AttrRole::kDiscrete;
      a.position = m.n_discrete++;
      m.discrete_attr.push_back(j);
    }
  }
  m.n_groups = static_cast<int>(m.groups.size());
  m.n_descriptive = m.n_discrete + m.n_continuous;
  m.has_discrete = m.n_discrete > 0;
  create_value_tables(m);
  return m;
}

inline Settings make_settings(const std::string& cases, const std::string& names = "",
                              Format format = Format::kCsv) {
  Settings s;
  s.files.cases = cases;
  s.files.names = names;
  s.input_format = format;
  return s;
}

// The model files' test layout: attributes 0 and 3 discrete, block 0 =
// {1, 2}, block 1 = {4}.
inline Roles mixed_roles() { return Roles(5).group({1, 2}).group({4}); }

}  // namespace veska::testing

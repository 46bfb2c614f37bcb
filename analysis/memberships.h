// The membership distributions of a fixed model, as both clustering
// programs hand them to the post-analysis: per case-table entry, per value of
// every discrete attribute and per entry of every Gaussian block, the
// component, marginal and membership probabilities of each class.
//
// A plain record so that clustering, ranking and evaluation need neither
// engine's state. Flat arrays: index n * K + k for per-entry-and-class
// quantities, k * n_values + v for P(v|k), v * K + k for P(k|x_j = v).
#pragma once

#include <cstddef>
#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

// One discrete attribute.
struct ValueMemberships {
  int n_values = 0;
  std::vector<double> p_value_given_class;  // P(v|k), k * n_values + v
  std::vector<double> p_value;              // P(x_j = v), by v
  std::vector<double> p_class_given_value;  // P(k|x_j = v), v * K + k
};

// One Gaussian block.
struct BlockMemberships {
  std::vector<double> p_block_given_class;  // P(block|k), n * K + k
  std::vector<double> p_block;              // P(block), by entry
  std::vector<double> p_class_given_block;  // P(k|block), n * K + k
};

struct Memberships {
  int K = 0;
  int n_entries = 0;
  std::vector<double> p_class;      // P(k)
  std::vector<double> p_component;  // P(x_n|k), n * K + k
  std::vector<double> p_marginal;   // P(x_n)
  std::vector<double> p_case;       // P(k|x_n), n * K + k
  std::vector<ValueMemberships> values;  // by discrete index (attribute position)
  std::vector<BlockMemberships> blocks;  // by Gaussian block

  size_t at(int n, int k) const { return static_cast<size_t>(n) * K + k; }
};

// Sizes every array for K classes, the model's attributes and the table's
// entries, filled with zeros.
Memberships allocate_memberships(const AttrModel& model, int n_entries, int K);

// What every post-analysis step reads.
struct AnalysisInput {
  const Settings& settings;
  const AttrModel& model;
  const CaseTable& cases;
  const Memberships& mem;
};

}  // namespace veska

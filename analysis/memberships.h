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

// One Gaussian block (empty when the block shares the case arrays).
struct BlockMemberships {
  std::vector<double> p_block_given_class;  // P(block|k), n * K + k
  std::vector<double> p_block;              // P(block), by entry
  std::vector<double> p_class_given_block;  // P(k|block), n * K + k
};

struct Memberships {
  int K = 0;
  int n_entries = 0;
  // When false, p_component, p_marginal and the blocks' P(block|k) and
  // P(block) are empty: only the membership file and the verbose log read them.
  bool with_densities = true;
  // One Gaussian block and no discrete attribute: the block's distributions
  // are the case's, so the block reads the case arrays and holds none.
  bool blocks_share_case = false;
  std::vector<double> p_class;      // P(k)
  std::vector<double> p_component;  // P(x_n|k), n * K + k
  std::vector<double> p_marginal;   // P(x_n)
  std::vector<double> p_case;       // P(k|x_n), n * K + k
  std::vector<ValueMemberships> values;  // by discrete index (attribute position)
  std::vector<BlockMemberships> blocks;  // by Gaussian block

  size_t at(int n, int k) const { return static_cast<size_t>(n) * K + k; }

  // Block g's arrays, wherever they live.
  const std::vector<double>& block_given_class(int g) const {
    return blocks_share_case ? p_component : blocks[static_cast<size_t>(g)].p_block_given_class;
  }
  const std::vector<double>& block_marginal(int g) const {
    return blocks_share_case ? p_marginal : blocks[static_cast<size_t>(g)].p_block;
  }
  const std::vector<double>& class_given_block(int g) const {
    return blocks_share_case ? p_case : blocks[static_cast<size_t>(g)].p_class_given_block;
  }
};

// Which per-entry arrays a consumer needs. The defaults give every array,
// each block its own.
struct MembershipNeeds {
  bool densities = true;  // with_densities
  bool blocks = true;     // the blocks' arrays (else none is sized)
  bool share = false;     // let a lone block share the case arrays
};

// What the post-analysis of these settings reads: densities for the
// membership file or the verbose log; the blocks shared where they can be.
MembershipNeeds analysis_needs(const Settings& settings);

// Sizes the arrays `needs` asks for, for K classes, the model's attributes
// and the table's entries, filled with zeros. `skip_case` leaves p_case
// (and, with densities, p_component and p_marginal) unsized, for an engine
// that moves its own arrays in.
Memberships allocate_memberships(const AttrModel& model, int n_entries, int K,
                                 const MembershipNeeds& needs = {}, bool skip_case = false);

// What every post-analysis step reads.
struct AnalysisInput {
  const Settings& settings;
  const AttrModel& model;
  const CaseTable& cases;
  const Memberships& mem;
};

}  // namespace veska

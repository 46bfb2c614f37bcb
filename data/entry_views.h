// Flat per-entry views of a case table, for the estimation loops of the
// clustering engines: built once per run from the cases and the attribute
// model, then only read, for every K and every restart.
//
// The cells number every value of every discrete attribute side by side:
// attribute j's value v is cell cat_offset[j] + v, and a per-class table of
// them has cat_stride cells.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "data/read_freq.h"

namespace veska {

// entry_cells of a missing discrete value.
constexpr int kMissingCell = -1;
// entry_pattern of a block the entry misses nothing of.
constexpr int kNoPattern = -1;

// Which dimensions of a block an entry has: the observed and the missing
// ones, each in increasing order. Entries sharing a pattern share every
// matrix of the observed part's conditional Gaussian.
struct BlockPattern {
  std::vector<int> observed;
  std::vector<int> missing;
};

struct EntryViews {
  int n_entries = 0;
  int n_discrete = 0;
  int n_groups = 0;
  std::vector<int> cat_offset;  // per discrete attribute
  int cat_stride = 0;
  // Per entry and discrete attribute (n * n_discrete + j): the value's cell,
  // or kMissingCell.
  std::vector<int> entry_cells;
  std::vector<int> entry_count;  // c_n (converted to a double where read: exact)
  // The entries' continuous values, each entry's groups side by side at a
  // fixed stride (the case table's own store: no per-entry pointer); block
  // b starts at block_offset[b] within an entry.
  const double* reals_base = nullptr;
  size_t reals_stride = 0;
  std::vector<int> block_offset;
  // Per block: the entries with a missing value in it, in entry order.
  std::vector<std::vector<int>> block_missing_entries;
  // Per block: the distinct patterns of its entries with a missing value,
  // in order of first appearance; per entry and block (n * n_groups + b)
  // the entry's pattern there, or kNoPattern (empty when no block misses a
  // value: every entry then has kNoPattern everywhere).
  std::vector<std::vector<BlockPattern>> block_patterns;
  std::vector<int> entry_pattern;
  // Per block: its entries with a missing value grouped by pattern (pattern
  // p's in entry order at pattern_start[b][p] .. pattern_start[b][p + 1]),
  // so that a loop can take one pattern's matrices once for all its entries.
  std::vector<std::vector<int>> pattern_entries;
  std::vector<std::vector<int>> pattern_start;

  const double* reals_of(int n) const { return reals_base + static_cast<size_t>(n) * reals_stride; }

  int pattern_of(int n, int b) const {
    if (entry_pattern.empty()) return kNoPattern;
    return entry_pattern[static_cast<size_t>(n) * n_groups + b];
  }
  // Whether entry n misses no continuous value (its discrete ones are
  // kMissingCell in entry_cells): no per-entry flag is kept.
  bool blocks_complete(int n) const {
    if (entry_pattern.empty()) return true;
    const int* p = entry_pattern.data() + static_cast<size_t>(n) * n_groups;
    for (int b = 0; b < n_groups; ++b) {
      if (p[b] != kNoPattern) return false;
    }
    return true;
  }
};

// The views point into `cases`, which must outlive them.
EntryViews build_entry_views(const CaseTable& cases, const AttrModel& model);

}  // namespace veska

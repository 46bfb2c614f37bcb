#include "data/entry_views.h"

#include <map>
#include <utility>
#include <span>

namespace veska {

EntryViews build_entry_views(const CaseTable& cases, const AttrModel& model) {
  EntryViews v;
  v.n_entries = cases.n_entries;
  v.n_discrete = model.n_discrete;
  v.n_groups = model.n_groups;
  v.cat_offset.resize(static_cast<size_t>(v.n_discrete));
  for (int j = 0; j < v.n_discrete; ++j) {
    v.cat_offset[static_cast<size_t>(j)] = v.cat_stride;
    v.cat_stride += model.values[static_cast<size_t>(j)].n_values;
  }
  const size_t n_entries = static_cast<size_t>(v.n_entries);
  const size_t nd = static_cast<size_t>(v.n_discrete);
  v.entry_cells.assign(n_entries * nd, kMissingCell);
  v.entry_count.assign(n_entries, 0);
  v.reals_base = cases.real_store.data();
  v.reals_stride = cases.layout ? static_cast<size_t>(cases.layout->n_continuous) : 0;
  v.block_missing_entries.assign(static_cast<size_t>(v.n_groups), {});
  v.block_patterns.assign(static_cast<size_t>(v.n_groups), {});
  v.entry_pattern.assign(n_entries * static_cast<size_t>(v.n_groups), kNoPattern);
  // Per block: the observed-dimension mask of each pattern -> its index.
  std::vector<std::map<std::vector<int>, int>> pattern_index(static_cast<size_t>(v.n_groups));
  for (size_t n = 0; n < n_entries; ++n) {
    const CaseEntry& e = cases.entries[n];
    v.entry_count[n] = e.total;
    std::span<const int> codes = e.codes();
    std::span<const int> missing = e.disc_missing();
    for (size_t j = 0; j < nd; ++j) {
      if (!missing[j]) v.entry_cells[n * nd + j] = v.cat_offset[j] + codes[j];
    }
    std::span<const int> block_missing = e.gauss_n_missing();
    for (size_t b = 0; b < block_missing.size(); ++b) {
      if (block_missing[b] == 0) continue;
      v.block_missing_entries[b].push_back(static_cast<int>(n));
      std::span<const int> observed = e.gauss_observed(static_cast<int>(b));
      std::vector<int> mask(observed.begin(), observed.end());
      auto [it, added] = pattern_index[b].try_emplace(
          mask, static_cast<int>(v.block_patterns[b].size()));
      if (added) {
        BlockPattern p;
        for (int i = 0; i < static_cast<int>(mask.size()); ++i) {
          (mask[static_cast<size_t>(i)] ? p.observed : p.missing).push_back(i);
        }
        v.block_patterns[b].push_back(std::move(p));
      }
      v.entry_pattern[n * static_cast<size_t>(v.n_groups) + b] = it->second;
    }
  }
  v.pattern_entries.assign(static_cast<size_t>(v.n_groups), {});
  v.pattern_start.assign(static_cast<size_t>(v.n_groups), {});
  for (int b = 0; b < v.n_groups; ++b) {
    const size_t bi = static_cast<size_t>(b);
    std::vector<int>& start = v.pattern_start[bi];
    start.assign(v.block_patterns[bi].size() + 1, 0);
    for (int n : v.block_missing_entries[bi]) ++start[static_cast<size_t>(v.pattern_of(n, b)) + 1];
    for (size_t p = 1; p < start.size(); ++p) start[p] += start[p - 1];
    std::vector<int> next(start.begin(), start.end() - 1);
    v.pattern_entries[bi].assign(v.block_missing_entries[bi].size(), 0);
    for (int n : v.block_missing_entries[bi]) {
      v.pattern_entries[bi][static_cast<size_t>(next[static_cast<size_t>(v.pattern_of(n, b))]++)] = n;
    }
  }
  bool any_pattern = false;
  for (const std::vector<BlockPattern>& p : v.block_patterns) any_pattern |= !p.empty();
  if (!any_pattern) std::vector<int>().swap(v.entry_pattern);
  if (cases.layout) v.block_offset = cases.layout->group_offset;
  return v;
}

}  // namespace veska

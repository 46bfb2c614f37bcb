// The case file and the case table.
//
// Each line of the case file is one case, optionally followed by an
// occurrence count. Unless told otherwise, cases with the same discrete
// values (and no ID or continuous attribute) are merged into one entry whose
// `total` counts them, so the engines work per distinct pattern.
//
// Storage: an entry's per-attribute arrays live in two contiguous stores of
// the table (one of ints, one of reals); an entry reaches its slices through
// the accessors below. The table is built once and read-only afterwards.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "common/attributes.h"
#include "common/matrix_store.h"
#include "common/settings.h"

namespace veska {

// Value codes besides 0, 1, 2, ...
constexpr int kCodeUnset = -1;
constexpr int kCodeMissing = -2;

// Where an entry's slices lie within its share of the stores.
struct CaseLayout {
  int n_discrete = 0;
  int n_continuous = 0;
  int n_groups = 0;
  std::vector<int> group_offset;  // first member of group g among the continuous values
  std::vector<int> group_size;
  // Ints per entry: codes, disc_missing (n_discrete each), gauss_missing,
  // gauss_observed (n_continuous each), gauss_n_missing (n_groups).
  int ints_per_entry() const { return 2 * n_discrete + 2 * n_continuous + n_groups; }
};

struct CaseEntry {
  int total = 0;        // occurrence count: sum of the counts of its lines
  int first_line = -1;  // line number of its first line
  int case_id = -1;     // code in the case-ID table (with --id)
  int answer = -1;      // answer-class code (with --eval), -1 when none
  int n_disc_missing = 0;  // missing discrete values recorded (every merged line adds)

  // Per discrete attribute: value code, or kCodeMissing.
  std::span<const int> codes() const { return {ints, static_cast<size_t>(layout->n_discrete)}; }
  // The values of Gaussian group g, in the group's attribute order.
  std::span<const double> values(int g) const {
    return {reals + layout->group_offset[g], static_cast<size_t>(layout->group_size[g])};
  }
  // The same values as a vector for the density code. The vector is a view
  // owned by the table, not taken from the store: never free it.
  const Vector* value_vector(int g) const { return vectors + g; }
  // Per discrete attribute: 1 when missing.
  std::span<const int> disc_missing() const {
    return {ints + layout->n_discrete, static_cast<size_t>(layout->n_discrete)};
  }
  // Per member of group g: 1 when missing / 1 when observed.
  std::span<const int> gauss_missing(int g) const {
    return {ints + 2 * layout->n_discrete + layout->group_offset[g],
            static_cast<size_t>(layout->group_size[g])};
  }
  std::span<const int> gauss_observed(int g) const {
    return {ints + 2 * layout->n_discrete + layout->n_continuous + layout->group_offset[g],
            static_cast<size_t>(layout->group_size[g])};
  }
  // Per group: number of missing members.
  std::span<const int> gauss_n_missing() const {
    return {ints + 2 * layout->n_discrete + 2 * layout->n_continuous,
            static_cast<size_t>(layout->n_groups)};
  }

  // Set by read_cases once the stores are final.
  const int* ints = nullptr;
  const double* reals = nullptr;
  const Vector* vectors = nullptr;  // one per group
  const CaseLayout* layout = nullptr;
};

struct CaseTable {
  std::vector<CaseEntry> entries;
  int n_entries = 0;
  int n_cases = 0;  // sum of all totals

  // Sum of the counts of the lines in which attribute j is missing (indexed
  // by attribute; 0 for the ID, answer-class and ignored attributes), and the
  // sums over discrete and over continuous attributes.
  std::vector<long> missing_total;
  long disc_missing_sum = 0;
  long gauss_missing_sum = 0;

  std::unique_ptr<CaseLayout> layout;  // on the heap: entries point at it
  std::vector<int> int_store;
  std::vector<double> real_store;
  std::vector<Vector> vector_store;  // entry by entry, one view per group
};

// Reads settings.files.cases into a case table, coding discrete values
// through model.values (growing them unless fixed), and fills the summaries:
// per discrete attribute n_values, names, order, freq; the case IDs and the
// answer classes with their entry counts. Progress: "Reading cases from
// %s..." then "done\n". Every bad line is fatal with the file and line.
CaseTable read_cases(const Settings& settings, AttrModel& model);

}  // namespace veska

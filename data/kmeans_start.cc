#include "data/kmeans_start.h"

#include <algorithm>
#include <cmath>

#include "common/random.h"
#include "common/workers.h"

namespace veska {

namespace {

// The entries as points. A discrete attribute is kept as its value's column:
// with centre c (the value shares of a group), the squared distance of
// value v to c over the scaled one-hot columns is
//   s^2 sum_u (1[u = v] - c_u)^2 = s^2 (1 - 2 c_v + sum_u c_u^2),
// one lookup per attribute in a table of the centres (Centres::cost)
// instead of one term per value.
struct Points {
  int n = 0;   // entries
  int dc = 0;  // continuous columns
  int nd = 0;  // discrete attributes
  int nv = 0;  // value columns of all discrete attributes
  std::vector<double> weight;  // occurrence counts
  std::vector<double> z;       // n x dc, standardised; 0 where missing
  std::vector<double> seen;    // n x dc, 1 observed / 0 missing
  std::vector<int> cell;       // n x nd: the column of the entry's value, -1 when missing
  std::vector<int> value_col;  // per discrete attribute: its first value column
  std::vector<double> disc_s2;  // per discrete attribute: s^2 (0: carries nothing)
  std::vector<double> share;    // per value column: the value's share of all occurrences
  // Distances leave missing columns out; spread[n] = (weight of all columns)
  // / (weight of n's observed columns) puts an entry with missing values on
  // the scale of a complete one when seeding. 0: nothing of n is observed.
  std::vector<double> spread;
};

// Standardised continuous values; a member whose standard deviation is not
// a positive number (constant, or too rarely observed) is left out as if
// never observed.
void add_continuous(const AttrModel& model, const CaseTable& cases, const SampleStats& stats,
                    Points& p, std::vector<double>& col_weight) {
  for (int g = 0, col = 0; g < model.n_groups; ++g) {
    const GroupStats& gs = stats.groups[static_cast<size_t>(g)];
    const int size = model.groups[static_cast<size_t>(g)].size();
    for (int m = 0; m < size; ++m, ++col) {
      const double mean = (*gs.mean)[m];
      const double sd = std::sqrt((*gs.covar)[m][m]);
      bool usable = std::isfinite(mean) && std::isfinite(sd) && sd > 0.0;
      for (int e = 0; e < p.n && usable; ++e) {
        const CaseEntry& entry = cases.entries[static_cast<size_t>(e)];
        const size_t at = static_cast<size_t>(e) * p.dc + col;
        if (entry.gauss_observed(g)[m] != 0) {
          p.z[at] = (entry.values(g)[m] - mean) / sd;
          p.seen[at] = 1.0;
          usable = std::isfinite(p.z[at]);
        }
      }
      if (!usable) {
        for (int e = 0; e < p.n; ++e) {
          const size_t at = static_cast<size_t>(e) * p.dc + col;
          p.z[at] = 0.0;
          p.seen[at] = 0.0;
        }
      }
      col_weight.push_back(usable ? 1.0 : 0.0);
    }
  }
}

// Value codes, the values' shares and the scale s^2 = 1 / (1 - sum p_v^2)
// that gives the attribute's one-hot columns a total variance of 1. An
// attribute with a single observed value (or none) carries nothing.
void add_discrete(const AttrModel& model, const CaseTable& cases, Points& p,
                  std::vector<double>& col_weight) {
  for (int j = 0; j < p.nd; ++j) {
    const DiscreteValues& dv = model.values[static_cast<size_t>(j)];
    p.value_col[static_cast<size_t>(j)] = p.nv;
    double observed = 0.0;
    for (int v = 0; v < dv.n_values; ++v) observed += dv.freq[static_cast<size_t>(v)];
    double concentration = 0.0;
    for (int v = 0; v < dv.n_values; ++v) {
      const double share = observed > 0.0 ? dv.freq[static_cast<size_t>(v)] / observed : 0.0;
      p.share.push_back(share);
      concentration += share * share;
    }
    p.nv += dv.n_values;
    const double variance = 1.0 - concentration;
    const double s2 = variance > 1e-12 ? 1.0 / variance : 0.0;
    p.disc_s2[static_cast<size_t>(j)] = s2;
    col_weight.push_back(s2 > 0.0 ? 1.0 : 0.0);
  }
  for (int e = 0; e < p.n; ++e) {
    std::span<const int> codes = cases.entries[static_cast<size_t>(e)].codes();
    for (int j = 0; j < p.nd; ++j) {
      const int c = codes[static_cast<size_t>(j)];
      const bool known = c >= 0 && c < model.values[static_cast<size_t>(j)].n_values;
      p.cell[static_cast<size_t>(e) * p.nd + j] = known ? p.value_col[static_cast<size_t>(j)] + c : -1;
    }
  }
}

Points make_points(const AttrModel& model, const CaseTable& cases, const SampleStats& stats) {
  Points p;
  p.n = static_cast<int>(cases.entries.size());
  p.dc = model.n_continuous;
  p.nd = model.n_discrete;
  p.weight.resize(static_cast<size_t>(p.n));
  for (int e = 0; e < p.n; ++e) p.weight[static_cast<size_t>(e)] = cases.entries[static_cast<size_t>(e)].total;
  p.z.assign(static_cast<size_t>(p.n) * p.dc, 0.0);
  p.seen.assign(static_cast<size_t>(p.n) * p.dc, 0.0);
  p.cell.assign(static_cast<size_t>(p.n) * p.nd, -1);
  p.value_col.assign(static_cast<size_t>(p.nd), 0);
  p.disc_s2.assign(static_cast<size_t>(p.nd), 0.0);

  // Weight of each column in the spread: continuous members, then discrete
  // attributes.
  std::vector<double> col_weight;
  add_continuous(model, cases, stats, p, col_weight);
  add_discrete(model, cases, p, col_weight);

  double all = 0.0;
  for (double w : col_weight) all += w;
  p.spread.assign(static_cast<size_t>(p.n), 0.0);
  for (int e = 0; e < p.n; ++e) {
    double observed = 0.0;
    for (int d = 0; d < p.dc; ++d) observed += col_weight[static_cast<size_t>(d)] * p.seen[static_cast<size_t>(e) * p.dc + d];
    for (int j = 0; j < p.nd; ++j) {
      if (p.cell[static_cast<size_t>(e) * p.nd + j] >= 0) observed += col_weight[static_cast<size_t>(p.dc + j)];
    }
    p.spread[static_cast<size_t>(e)] = observed > 0.0 ? all / observed : 0.0;
  }
  return p;
}

// Distances are taken to runs of this many centres at a time.
constexpr int kLanes = 4;
int whole_lanes(int n) { return (n + kLanes - 1) / kLanes * kLanes; }

// Centres laid out column by column with the slots side by side, so the
// distance of one entry to a run of centres is a contiguous inner loop.
// Slots 0 .. K-1 are the groups' centres, padded to whole lanes; the ones
// after them hold the seeding's candidates.
struct Centres {
  int slots = 0;
  std::vector<double> cont;   // dc x slots
  std::vector<double> value;  // nv x slots: the group's share of each value
  // nv x slots: the squared distance of the value to the centre over its
  // attribute's scaled one-hot columns, s^2 (1 - 2 c_v + sum_u c_u^2).
  std::vector<double> cost;
};

Centres make_centres(const Points& p, int slots) {
  Centres c;
  c.slots = slots;
  c.cont.assign(static_cast<size_t>(p.dc) * slots, 0.0);
  c.value.assign(static_cast<size_t>(p.nv) * slots, 0.0);
  c.cost.assign(static_cast<size_t>(p.nv) * slots, 0.0);
  return c;
}

int n_values_of(const Points& p, int j) {
  const int next = j + 1 < p.nd ? p.value_col[static_cast<size_t>(j + 1)] : p.nv;
  return next - p.value_col[static_cast<size_t>(j)];
}

void refresh_costs(const Points& p, Centres& c, int k) {
  const size_t K = static_cast<size_t>(c.slots);
  for (int j = 0; j < p.nd; ++j) {
    const int first = p.value_col[static_cast<size_t>(j)];
    const int nv = n_values_of(p, j);
    double q = 0.0;
    for (int v = 0; v < nv; ++v) {
      const double share = c.value[(first + v) * K + k];
      q += share * share;
    }
    const double s2 = p.disc_s2[static_cast<size_t>(j)];
    for (int v = 0; v < nv; ++v) {
      const size_t at = (first + v) * K + k;
      // A sum of squares: rounding must not make it negative.
      c.cost[at] = std::max(s2 * (1.0 - 2.0 * c.value[at] + q), 0.0);
    }
  }
}

// Centre k at entry e; where e is missing a value, the centre takes the
// whole sample's (0 for a standardised member, the value shares for a
// discrete attribute).
void centre_at_entry(const Points& p, Centres& c, int k, int e) {
  const size_t K = static_cast<size_t>(c.slots);
  for (int d = 0; d < p.dc; ++d) c.cont[d * K + k] = p.z[static_cast<size_t>(e) * p.dc + d];
  for (int j = 0; j < p.nd; ++j) {
    const int first = p.value_col[static_cast<size_t>(j)];
    const int cell = p.cell[static_cast<size_t>(e) * p.nd + j];
    for (int v = 0; v < n_values_of(p, j); ++v) {
      const int col = first + v;
      c.value[col * K + k] = cell >= 0 ? (col == cell ? 1.0 : 0.0) : p.share[static_cast<size_t>(col)];
    }
  }
  refresh_costs(p, c, k);
}

// out[i] = squared distance of entry e to the centre in slot k0 + i, over
// e's observed columns, for i < width, a whole number of lanes: the inner
// loops then have a fixed length the compiler turns into vector code.
// Never negative.
void distances(const Points& p, const Centres& c, int e, int k0, int width, double* out) {
  const size_t K = static_cast<size_t>(c.slots);
  const double* z = p.z.data() + static_cast<size_t>(e) * p.dc;
  const double* seen = p.seen.data() + static_cast<size_t>(e) * p.dc;
  const int* cell = p.cell.data() + static_cast<size_t>(e) * p.nd;
  // One lane of centres at a time, its sums in registers.
  for (int base = k0; base < k0 + width; base += kLanes) {
    double acc[kLanes] = {};
    for (int d = 0; d < p.dc; ++d) {
      if (seen[d] == 0.0) continue;
      const double* centre = c.cont.data() + d * K + base;
      for (int l = 0; l < kLanes; ++l) {
        const double diff = z[d] - centre[l];
        acc[l] += diff * diff;
      }
    }
    for (int j = 0; j < p.nd; ++j) {
      if (cell[j] < 0) continue;
      const double* cost = c.cost.data() + static_cast<size_t>(cell[j]) * K + base;
      for (int l = 0; l < kLanes; ++l) acc[l] += cost[l];
    }
    for (int l = 0; l < kLanes; ++l) out[base - k0 + l] = acc[l];
  }
}

// The entry whose mass covers u * total, scanning the masses in entry
// order; only entries of positive mass qualify.
int draw_entry(const std::vector<double>& mass, double total) {
  const double target = rng_real() * total;
  double running = 0.0;
  int last = -1;
  for (size_t e = 0; e < mass.size(); ++e) {
    if (mass[e] <= 0.0) continue;
    running += mass[e];
    last = static_cast<int>(e);
    if (running > target) return last;
  }
  return last;  // rounding left the target at the very end
}

// Candidates drawn for every centre after the first: the greedy form of
// k-means++, which keeps the one that lowers the total most and so avoids
// most of the poor seedings a single draw makes with many groups.
int candidates_per_centre(int K) { return 2 + static_cast<int>(std::log(static_cast<double>(K))); }

// Work arrays of the seeding.
struct SeedBuffers {
  explicit SeedBuffers(int n, int tries)
      : nearest(static_cast<size_t>(n)), mass(static_cast<size_t>(n)),
        trial(static_cast<size_t>(n) * whole_lanes(tries)), candidate(static_cast<size_t>(tries)),
        potential(static_cast<size_t>(tries)) {}
  std::vector<double> nearest;    // per entry: squared distance to the nearest centre so far
  std::vector<double> mass;       // per entry: what a draw is proportional to
  // Per entry, whole lanes: squared distance to each candidate (at first,
  // to the first centre).
  std::vector<double> trial;
  std::vector<int> candidate;     // the entries drawn for the centre at hand
  std::vector<double> potential;  // per candidate: the total it would leave
};

// k-means++: the first centre drawn in proportion to the occurrence counts;
// for each further one, candidates drawn in proportion to count x spread x
// squared distance to the nearest centre so far, and the one that leaves
// the least total kept (ties: the first drawn). The candidates sit in the
// slots after the centres', so one pass over the entries weighs them all.
// Returns how many centres were placed: fewer than K once every entry sits
// on a centre.
int seed_centres(const Points& p, Centres& c, int K, SeedBuffers& b) {
  const int tries = static_cast<int>(b.candidate.size());
  const int stride = whole_lanes(tries);
  const int first_slot = whole_lanes(K);  // of the candidates
  for (int e = 0; e < p.n; ++e) {
    // An entry with nothing observed would make a centre of sample means
    // only; it is drawn only when nothing else exists.
    const bool informative = p.spread[static_cast<size_t>(e)] > 0.0;
    b.mass[static_cast<size_t>(e)] = informative ? p.weight[static_cast<size_t>(e)] : 0.0;
  }
  double total = 0.0;
  for (double m : b.mass) total += m;
  int first = total > 0.0 ? draw_entry(b.mass, total) : 0;
  centre_at_entry(p, c, 0, first);
  for (int e = 0; e < p.n; ++e) {
    double* trial = b.trial.data() + static_cast<size_t>(e) * stride;
    distances(p, c, e, 0, kLanes, trial);
    b.nearest[static_cast<size_t>(e)] = trial[0];
  }

  for (int k = 1; k < K; ++k) {
    total = 0.0;
    for (int e = 0; e < p.n; ++e) {
      const size_t i = static_cast<size_t>(e);
      b.mass[i] = p.weight[i] * p.spread[i] * b.nearest[i];
      total += b.mass[i];
    }
    if (!(total > 0.0)) return k;
    for (int t = 0; t < tries; ++t) {
      b.candidate[static_cast<size_t>(t)] = draw_entry(b.mass, total);
      centre_at_entry(p, c, first_slot + t, b.candidate[static_cast<size_t>(t)]);
    }
    std::fill(b.potential.begin(), b.potential.end(), 0.0);
    for (int e = 0; e < p.n; ++e) {
      const size_t i = static_cast<size_t>(e);
      double* trial = b.trial.data() + i * stride;
      distances(p, c, e, first_slot, stride, trial);
      const double w = p.weight[i] * p.spread[i];
      for (int t = 0; t < tries; ++t) {
        trial[t] = std::min(trial[t], b.nearest[i]);
        b.potential[static_cast<size_t>(t)] += w * trial[t];
      }
    }
    int chosen = 0;
    for (int t = 1; t < tries; ++t) {
      if (b.potential[static_cast<size_t>(t)] < b.potential[static_cast<size_t>(chosen)]) chosen = t;
    }
    centre_at_entry(p, c, k, b.candidate[static_cast<size_t>(chosen)]);
    for (int e = 0; e < p.n; ++e) {
      b.nearest[static_cast<size_t>(e)] = b.trial[static_cast<size_t>(e) * stride + chosen];
    }
  }
  return K;
}

// The assignment step runs on the worker pool in chunks of a fixed number of
// entries; each thread has a row of distances of its own, each chunk its
// count of moved occurrences, added in chunk order.
constexpr int kAssignChunk = 2048;

struct AssignBuffers {
  AssignBuffers(int n, int K)
      : threads(worker_pool().threads()), width(whole_lanes(K)),
        rows(static_cast<size_t>(threads) * width),
        moved(static_cast<size_t>((n + kAssignChunk - 1) / kAssignChunk)) {}
  int threads;
  int width;
  std::vector<double> rows;   // per thread
  std::vector<double> moved;  // per chunk
};

// Each entry to its nearest of the first `used` centres (ties: the lower
// group); own[e] is its squared distance. Returns the occurrences that
// moved.
double assign(const Points& p, const Centres& c, int used, std::vector<int>& group,
              std::vector<double>& own, AssignBuffers& b) {
  const int n_chunks = static_cast<int>(b.moved.size());
  worker_pool().run(n_chunks, b.threads, [&](int chunk, int thread) {
    double* row = b.rows.data() + static_cast<size_t>(thread) * b.width;
    double moved = 0.0;
    const int last = std::min(p.n, (chunk + 1) * kAssignChunk);
    for (int e = chunk * kAssignChunk; e < last; ++e) {
      distances(p, c, e, 0, whole_lanes(used), row);
      int best = 0;
      for (int k = 1; k < used; ++k) {
        if (row[k] < row[best]) best = k;
      }
      if (group[static_cast<size_t>(e)] != best) moved += p.weight[static_cast<size_t>(e)];
      group[static_cast<size_t>(e)] = best;
      own[static_cast<size_t>(e)] = row[best];
    }
    b.moved[static_cast<size_t>(chunk)] = moved;
  });
  double moved = 0.0;
  for (double m : b.moved) moved += m;
  return moved;
}

// An empty group takes the entry farthest from its own centre (on the
// spread scale; ties: the first entry) among groups holding more than one
// entry. Groups are filled in order; none is filled when every such entry
// already sits on its centre.
void fill_empty_groups(const Points& p, int used, std::vector<int>& group, std::vector<double>& own,
                       std::vector<int>& members) {
  std::fill(members.begin(), members.end(), 0);
  for (int g : group) ++members[static_cast<size_t>(g)];
  for (int k = 0; k < used; ++k) {
    if (members[static_cast<size_t>(k)] > 0) continue;
    int far = -1;
    double far_d = 0.0;
    for (int e = 0; e < p.n; ++e) {
      const size_t i = static_cast<size_t>(e);
      const double d = own[i] * p.spread[i];
      if (members[static_cast<size_t>(group[i])] > 1 && d > far_d) {
        far = e;
        far_d = d;
      }
    }
    if (far < 0) return;
    const size_t i = static_cast<size_t>(far);
    --members[static_cast<size_t>(group[i])];
    group[i] = k;
    own[i] = 0.0;
    members[static_cast<size_t>(k)] = 1;
  }
}

// Weighted sums of one Lloyd update, laid out like the centres.
struct CentreSums {
  std::vector<double> cont, cont_w;  // dc x K
  std::vector<double> value;         // nv x K
  std::vector<double> value_w;       // nd x K
};

// Every centre becomes the weighted mean of its group over the observed
// values; a column that a group never observes takes the whole sample's.
void update_centres(const Points& p, const std::vector<int>& group, int used, Centres& c,
                    CentreSums& s) {
  const size_t K = static_cast<size_t>(c.slots);
  std::fill(s.cont.begin(), s.cont.end(), 0.0);
  std::fill(s.cont_w.begin(), s.cont_w.end(), 0.0);
  std::fill(s.value.begin(), s.value.end(), 0.0);
  std::fill(s.value_w.begin(), s.value_w.end(), 0.0);
  for (int e = 0; e < p.n; ++e) {
    const size_t k = static_cast<size_t>(group[static_cast<size_t>(e)]);
    const double w = p.weight[static_cast<size_t>(e)];
    const double* z = p.z.data() + static_cast<size_t>(e) * p.dc;
    const double* seen = p.seen.data() + static_cast<size_t>(e) * p.dc;
    for (int d = 0; d < p.dc; ++d) {
      s.cont[d * K + k] += w * z[d];  // z is 0 where missing
      s.cont_w[d * K + k] += w * seen[d];
    }
    const int* cell = p.cell.data() + static_cast<size_t>(e) * p.nd;
    for (int j = 0; j < p.nd; ++j) {
      if (cell[j] < 0) continue;
      s.value[static_cast<size_t>(cell[j]) * K + k] += w;
      s.value_w[j * K + k] += w;
    }
  }
  for (int k = 0; k < used; ++k) {
    for (int d = 0; d < p.dc; ++d) {
      const size_t at = d * K + k;
      c.cont[at] = s.cont_w[at] > 0.0 ? s.cont[at] / s.cont_w[at] : 0.0;
    }
    for (int j = 0; j < p.nd; ++j) {
      const double w = s.value_w[j * K + k];
      const int first = p.value_col[static_cast<size_t>(j)];
      for (int v = 0; v < n_values_of(p, j); ++v) {
        const size_t col = static_cast<size_t>(first + v);
        c.value[col * K + k] = w > 0.0 ? s.value[col * K + k] / w : p.share[col];
      }
    }
    refresh_costs(p, c, k);
  }
}

}  // namespace

std::vector<int> kmeans_partition(const AttrModel& model, const CaseTable& cases,
                                  const SampleStats& stats, int K) {
  const Points p = make_points(model, cases, stats);
  std::vector<int> group(static_cast<size_t>(p.n), -1);
  if (p.n == 0 || K < 1) return group;

  // Every buffer the iterations use, allocated once.
  const int tries = candidates_per_centre(K);
  Centres c = make_centres(p, whole_lanes(K) + whole_lanes(tries));
  SeedBuffers seeding(p.n, tries);
  std::vector<double> own(static_cast<size_t>(p.n));
  AssignBuffers assigning(p.n, K);
  std::vector<int> members(static_cast<size_t>(K));
  CentreSums sums{std::vector<double>(c.cont.size()), std::vector<double>(c.cont.size()),
                  std::vector<double>(c.value.size()), std::vector<double>(static_cast<size_t>(p.nd) * c.slots)};

  double occurrences = 0.0;
  for (double w : p.weight) occurrences += w;
  std::vector<int> best(static_cast<size_t>(p.n), -1);
  double best_spread = 0.0;
  for (int run = 0; run < kKmeansRuns; ++run) {
    std::fill(group.begin(), group.end(), -1);
    const int used = seed_centres(p, c, K, seeding);
    for (int it = 0; it < kKmeansMaxIterations; ++it) {
      const double moved = assign(p, c, used, group, own, assigning);
      if (it > 0 && moved <= kKmeansSettledShare * occurrences) break;
      fill_empty_groups(p, used, group, own, members);
      update_centres(p, group, used, c, sums);
    }
    // The weighted squared distances to the groups' centres; ties keep the
    // earlier run.
    double spread = 0.0;
    for (int e = 0; e < p.n; ++e) spread += p.weight[static_cast<size_t>(e)] * own[static_cast<size_t>(e)];
    if (run == 0 || spread < best_spread) {
      best_spread = spread;
      best.swap(group);
    }
  }
  return best;
}

}  // namespace veska

#include "fit/kernels.h"

#include <algorithm>
#include <cstring>

namespace veska {

namespace {

// Two doubles in one register (GCC's vector extension): every operation is
// the ordinary double operation on each element, so two lanes' independent
// sums run side by side in SSE registers.
typedef double Pair __attribute__((vector_size(16)));

Pair load_pair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void store_pair(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }

// V pairs: 2V lanes, of which `used` hold a class of their own. A chunk
// short of classes repeats its last class in the spare lane, whose results
// are dropped.
template <int V>
struct LaneChunk {
  static constexpr int kLanes = 2 * V;
  int k[kLanes];
  int used;
};

// Calls f(LaneChunk<V>) for consecutive chunks of the listed classes: six
// lanes while at least five classes are left, four while three are, then
// two. (Wider chunks would spill the lanes' registers.)
template <typename F>
void for_each_chunk(const ClassList& classes, F&& f) {
  static_assert(kClassLanes == 6, "chunks of up to three pairs");
  int first = 0;
  auto take = [&](auto chunk) {
    chunk.used = std::min(chunk.kLanes, classes.size() - first);
    for (int l = 0; l < chunk.kLanes; ++l) {
      chunk.k[l] = classes[first + std::min(l, chunk.used - 1)];
    }
    first += chunk.used;
    f(chunk);
  };
  while (classes.size() - first >= 5) take(LaneChunk<3>{});
  while (classes.size() - first >= 3) take(LaneChunk<2>{});
  if (classes.size() - first >= 1) take(LaneChunk<1>{});
}

// The pairs of lanes of per-lane values laid out lane by lane.
template <int V>
void load_lanes(const double* p, Pair* out) {
  for (int v = 0; v < V; ++v) out[v] = load_pair(p + 2 * v);
}

// The lanes' copy of block b (see KernelScratch::lane_gauss).
template <int V>
void load_block_lanes(KernelScratch& s, int n_groups, const LaneChunk<V>& c, int b, int d) {
  constexpr int L = 2 * V;
  double* mu = s.lane_gauss.data() + s.lane_gauss_offset[static_cast<size_t>(b)];
  double* w = mu + d * L;
  double* a = w + d * d * L;
  double* half_scale = a + L;
  for (int l = 0; l < L; ++l) {
    const size_t kb = static_cast<size_t>(c.k[l]) * n_groups + b;
    for (int i = 0; i < d; ++i) mu[i * L + l] = s.mean[kb][i];
    for (int i = 0; i < d * d; ++i) w[i * L + l] = s.precision[kb][i];
    a[l] = s.log_const[kb];
    half_scale[l] = 0.5 * s.scale[kb];
  }
}

// lr += beta (c - (s / 2) Q) lane by lane for an observed block x, with
// Q = (x - m)' P (x - m) summed as the diagonal terms plus twice the sum of
// the rows of the upper triangle. kDim is the block dimension when it is
// one of the small fixed sizes, else 0 and the dimension is d (then x - m
// goes to the scratch `spill`).
template <int V, int kDim>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          Pair* lr) {
  constexpr int L = 2 * V;
  if constexpr (kDim > 0) d = kDim;
  const double* mu = lanes;
  const double* w = mu + d * L;
  Pair fixed[kDim > 0 ? kDim * V : 1];
  auto diff = [&](int i, int v) {
    if constexpr (kDim > 0) {
      return fixed[i * V + v];
    } else {
      return load_pair(spill + (i * V + v) * 2);
    }
  };
  for (int i = 0; i < d; ++i) {
    for (int v = 0; v < V; ++v) {
      const Pair di = x[i] - load_pair(mu + i * L + 2 * v);
      if constexpr (kDim > 0) {
        fixed[i * V + v] = di;
      } else {
        store_pair(spill + (i * V + v) * 2, di);
      }
    }
  }
  Pair diagonal[V], off[V];
  for (int v = 0; v < V; ++v) diagonal[v] = off[v] = Pair{0.0, 0.0};
  for (int i = 0; i < d; ++i) {
    const double* wi = w + i * d * L;
    for (int v = 0; v < V; ++v) {
      const Pair di = diff(i, v);
      diagonal[v] += load_pair(wi + i * L + 2 * v) * di * di;
      Pair row{0.0, 0.0};
      for (int j = i + 1; j < d; ++j) row += load_pair(wi + j * L + 2 * v) * diff(j, v);
      off[v] += di * row;
    }
  }
  Pair a[V], half_scale[V];
  load_lanes<V>(w + d * d * L, a);
  load_lanes<V>(w + d * d * L + L, half_scale);
  for (int v = 0; v < V; ++v) lr[v] += beta * (a[v] - half_scale[v] * (diagonal[v] + 2.0 * off[v]));
}

template <int V>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          Pair* lr) {
  switch (d) {
    case 1: observed_block_lanes<V, 1>(x, lanes, d, beta, spill, lr); break;
    case 2: observed_block_lanes<V, 2>(x, lanes, d, beta, spill, lr); break;
    case 3: observed_block_lanes<V, 3>(x, lanes, d, beta, spill, lr); break;
    case 4: observed_block_lanes<V, 4>(x, lanes, d, beta, spill, lr); break;
    case 5: observed_block_lanes<V, 5>(x, lanes, d, beta, spill, lr); break;
    case 6: observed_block_lanes<V, 6>(x, lanes, d, beta, spill, lr); break;
    case 7: observed_block_lanes<V, 7>(x, lanes, d, beta, spill, lr); break;
    case 8: observed_block_lanes<V, 8>(x, lanes, d, beta, spill, lr); break;
    default: observed_block_lanes<V, 0>(x, lanes, d, beta, spill, lr); break;
  }
}

template <int V>
void log_joint_lanes(const EntryViews& views, const CaseTable& cases, const LogJointModel& model,
                     const LaneChunk<V>& c, EntryRange range, KernelScratch& s,
                     ClassEntryArray out) {
  constexpr int L = 2 * V;
  const double beta = model.beta;
  const int nd = views.n_discrete;
  const int n_groups = static_cast<int>(model.dims.size());
  const size_t stride = static_cast<size_t>(views.cat_stride);
  double base_lanes[L];
  double* theta = s.lane_theta.data();
  for (int l = 0; l < L; ++l) {
    base_lanes[l] = beta * model.log_pi[c.k[l]];
    const double* log_theta = model.log_theta + c.k[l] * stride;
    for (size_t v = 0; v < stride; ++v) theta[v * L + l] = beta * log_theta[v];
  }
  Pair base[V];
  load_lanes<V>(base_lanes, base);
  for (int b = 0; b < n_groups; ++b) load_block_lanes(s, n_groups, c, b, model.dims[static_cast<size_t>(b)]);
  double* lanes_out[L];
  for (int l = 0; l < L; ++l) lanes_out[l] = out.data + static_cast<size_t>(c.k[l]) * out.class_stride;
  const int* cells = views.entry_cells.data() + static_cast<size_t>(range.first) * nd;
  for (int n = range.first; n < range.last; ++n, cells += nd) {
    const bool complete = views.entry_complete[static_cast<size_t>(n)];
    Pair lr[V];
    for (int v = 0; v < V; ++v) lr[v] = base[v];
    for (int j = 0; j < nd; ++j) {
      if (!complete && cells[j] == kMissingCell) continue;
      const double* cell = theta + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) lr[v] += load_pair(cell + 2 * v);
    }
    for (int b = 0; b < n_groups; ++b) {
      const size_t bi = static_cast<size_t>(b);
      const int d = model.dims[bi];
      const double shift = s.block_shift[bi];
      for (int v = 0; v < V; ++v) lr[v] -= shift;
      const int m = complete ? 0 : cases.entries[static_cast<size_t>(n)].gauss_n_missing()[bi];
      if (m == 0) {
        const double* x = views.entry_reals[static_cast<size_t>(n)] + views.block_offset[bi];
        observed_block_lanes<V>(x, s.lane_gauss.data() + s.lane_gauss_offset[bi], d, beta,
                                s.lane_diff.data(), lr);
        continue;
      }
      for (int l = 0; l < c.used; ++l) {
        lr[l / 2][l % 2] +=
            beta * model.missing.term(model.missing.self, n, b, c.k[l], s.missing_work.data());
      }
    }
    const size_t at = static_cast<size_t>(n) * out.entry_stride;
    for (int l = 0; l < c.used; ++l) lanes_out[l][at] = lr[l / 2][l % 2];
  }
}

template <int V>
void count_lanes(const EntryViews& views, ConstClassEntryArray resp, const LaneChunk<V>& c,
                 EntryRange range, KernelScratch& s, double* n_k_out, double* n_cat_out) {
  constexpr int L = 2 * V;
  const int nd = views.n_discrete;
  const size_t stride = static_cast<size_t>(views.cat_stride);
  const double* r_of[L];
  for (int l = 0; l < L; ++l) r_of[l] = resp.data + static_cast<size_t>(c.k[l]) * resp.class_stride;
  double* counts = s.lane_counts.data();
  std::fill(counts, counts + stride * L, 0.0);
  Pair n_k[V];
  for (int v = 0; v < V; ++v) n_k[v] = Pair{0.0, 0.0};
  const int* cells = views.entry_cells.data() + static_cast<size_t>(range.first) * nd;
  size_t at = static_cast<size_t>(range.first) * resp.entry_stride;
  for (int n = range.first; n < range.last; ++n, cells += nd, at += resp.entry_stride) {
    const double count = views.entry_count[static_cast<size_t>(n)];
    Pair w[V];
    for (int v = 0; v < V; ++v) {
      const Pair r{r_of[2 * v][at], r_of[2 * v + 1][at]};
      n_k[v] += count * r;
      w[v] = r * count;
    }
    const bool complete = views.entry_complete[static_cast<size_t>(n)];
    for (int j = 0; j < nd; ++j) {
      if (!complete && cells[j] == kMissingCell) continue;
      double* cell = counts + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) store_pair(cell + 2 * v, load_pair(cell + 2 * v) + w[v]);
    }
  }
  for (int l = 0; l < c.used; ++l) {
    n_k_out[c.k[l]] = n_k[l / 2][l % 2];
    double* n_cat = n_cat_out + c.k[l] * stride;
    for (size_t v = 0; v < stride; ++v) n_cat[v] = counts[v * L + l];
  }
}

// S1 += w x and S2_ij += (w x_i) x_j (i <= j) for an observed block x of
// dimension d; S2 is d x d, row by row. T is double, or Pair for two
// classes at once.
template <typename T>
inline void add_observed_moments(const double* x, T w, int d, T* s1, T* s2) {
  for (int i = 0; i < d; ++i) {
    const T wx = w * x[i];
    s1[i] += wx;
    T* row = s2 + static_cast<size_t>(i) * d;
    for (int j = i; j < d; ++j) row[j] += wx * x[j];
  }
}

// add_observed_moments over the entries first..last-1 (all observed in the
// block at `offset`) for a pair of classes with responsibilities r[0], r[1]
// and sums s1[0], s2[0] and s1[1], s2[1]; the second class is left alone
// unless `both`. The two classes' sums run side by side in SSE pairs, held
// in registers when kDim fixes the dimension; with kDim 0 the dimension is
// d, and a block above kPairedDims sums one class after the other in place.
constexpr int kPairedDims = 16;

// The block's values of entry n, less the centre (into y) when there is one.
inline const double* centred(const double* x, const double* centre, int d, double* y) {
  if (centre == nullptr) return x;
  for (int i = 0; i < d; ++i) y[i] = x[i] - centre[i];
  return y;
}

template <int kDim>
void observed_moments_run(const EntryViews& views, const double* const r[2], size_t r_stride,
                          size_t offset, const double* centre, double* y, int first, int last,
                          int d, double* const s1[2], double* const s2[2], bool both) {
  const double* count = views.entry_count.data();
  const double* const* reals = views.entry_reals.data();
  const int lanes = both ? 2 : 1;
  if (kDim > 0 || d <= kPairedDims) {
    if constexpr (kDim > 0) d = kDim;
    constexpr int kSize = kDim > 0 ? kDim : kPairedDims;
    Pair a1[kSize], a2[kSize * kSize];
    for (int i = 0; i < d; ++i) a1[i] = Pair{s1[0][i], s1[1][i]};
    for (int i = 0; i < d * d; ++i) a2[i] = Pair{s2[0][i], s2[1][i]};
    for (int n = first; n < last; ++n) {
      const size_t at = static_cast<size_t>(n) * r_stride;
      const Pair w = Pair{r[0][at], r[1][at]} * count[n];
      add_observed_moments(centred(reals[n] + offset, centre, d, y), w, d, a1, a2);
    }
    for (int lane = 0; lane < lanes; ++lane) {
      for (int i = 0; i < d; ++i) s1[lane][i] = a1[i][lane];
      for (int i = 0; i < d * d; ++i) s2[lane][i] = a2[i][lane];
    }
    return;
  }
  for (int lane = 0; lane < lanes; ++lane) {
    for (int n = first; n < last; ++n) {
      add_observed_moments(centred(reals[n] + offset, centre, d, y),
                           r[lane][static_cast<size_t>(n) * r_stride] * count[n], d, s1[lane],
                           s2[lane]);
    }
  }
}

// Runs of observed entries and the engine's imputation for each entry with
// a missing value in the block. The classes go in pairs (a class alone
// pairs with itself) over tiles of kTileEntries entries, so that an entry's
// values are read from memory once for all classes.
constexpr int kTileEntries = 256;

template <int kDim>
void block_moments(const EntryViews& views, ConstClassEntryArray resp, const ClassList& classes,
                   int b, int d, const double* centre, EntryRange range, KernelScratch& s,
                   MissingBlockMoments add_missing) {
  const size_t offset = static_cast<size_t>(views.block_offset[static_cast<size_t>(b)]);
  const std::vector<int>& missing = views.block_missing_entries[static_cast<size_t>(b)];
  double* y = s.lane_diff.data();  // the centred values of one entry
  // the first missing entry of the tile
  size_t tile_missing = static_cast<size_t>(
      std::lower_bound(missing.begin(), missing.end(), range.first) - missing.begin());
  for (int tile = range.first; tile < range.last; tile += kTileEntries) {
    const int end = std::min(range.last, tile + kTileEntries);
    size_t tile_missing_end = tile_missing;
    while (tile_missing_end < missing.size() && missing[tile_missing_end] < end) ++tile_missing_end;
    for (int i = 0; i < classes.size(); i += 2) {
      const int k0 = classes[i];
      const int k1 = classes[std::min(i + 1, classes.size() - 1)];
      const bool both = k1 != k0;
      const double* const r[2] = {resp.data + static_cast<size_t>(k0) * resp.class_stride,
                                  resp.data + static_cast<size_t>(k1) * resp.class_stride};
      double* const s1[2] = {s.s1[static_cast<size_t>(k0)], s.s1[static_cast<size_t>(k1)]};
      double* const s2[2] = {s.s2[static_cast<size_t>(k0)], s.s2[static_cast<size_t>(k1)]};
      int first = tile;
      for (size_t p = tile_missing; p < tile_missing_end; ++p) {
        const int n = missing[p];
        observed_moments_run<kDim>(views, r, resp.entry_stride, offset, centre, y, first, n, d, s1,
                                   s2, both);
        const double count = views.entry_count[static_cast<size_t>(n)];
        const size_t at = static_cast<size_t>(n) * resp.entry_stride;
        double* work = s.missing_work.data();
        add_missing.add(add_missing.self, n, k0, r[0][at] * count, s1[0], s2[0], work);
        if (both) add_missing.add(add_missing.self, n, k1, r[1][at] * count, s1[1], s2[1], work);
        first = n + 1;
      }
      observed_moments_run<kDim>(views, r, resp.entry_stride, offset, centre, y, first, end, d, s1,
                                 s2, both);
    }
    tile_missing = tile_missing_end;
  }
}

}  // namespace

KernelScratch allocate_kernel_scratch(int K, int cat_stride, std::span<const int> dims) {
  KernelScratch s;
  const size_t width = static_cast<size_t>(kClassLanes);
  s.lane_theta.assign(static_cast<size_t>(cat_stride) * width, 0.0);
  s.lane_counts.assign(static_cast<size_t>(cat_stride) * width, 0.0);
  size_t gauss = 0;
  int max_dim = 0;
  for (int d : dims) {
    s.lane_gauss_offset.push_back(gauss);
    gauss += static_cast<size_t>(d + d * d + 2) * width;
    max_dim = std::max(max_dim, d);
  }
  s.lane_gauss.assign(gauss, 0.0);
  s.lane_diff.assign(static_cast<size_t>(max_dim) * width, 0.0);
  const size_t kb = static_cast<size_t>(K) * dims.size();
  s.mean.assign(kb, nullptr);
  s.precision.assign(kb, nullptr);
  s.log_const.assign(kb, 0.0);
  s.scale.assign(kb, 0.0);
  s.block_shift.assign(dims.size(), 0.0);
  s.s1.assign(static_cast<size_t>(K), nullptr);
  s.s2.assign(static_cast<size_t>(K), nullptr);
  return s;
}

void complete_log_joint(const EntryViews& views, const CaseTable& cases, const LogJointModel& model,
                        const ClassList& classes, EntryRange range, KernelScratch& scratch,
                        ClassEntryArray out) {
  for_each_chunk(classes, [&](const auto& chunk) {
    log_joint_lanes(views, cases, model, chunk, range, scratch, out);
  });
}

void class_counts(const EntryViews& views, ConstClassEntryArray resp, const ClassList& classes,
                  EntryRange range, KernelScratch& scratch, double* n_k, double* n_cat) {
  for_each_chunk(classes, [&](const auto& chunk) {
    count_lanes(views, resp, chunk, range, scratch, n_k, n_cat);
  });
}

void add_block_moments(const double* x, double w, int d, double* s1, double* s2) {
  add_observed_moments(x, w, d, s1, s2);
}

void observed_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                            const ClassList& classes, int b, int d, const double* centre,
                            EntryRange range, KernelScratch& scratch, MissingBlockMoments missing) {
  switch (d) {
    case 1: block_moments<1>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 2: block_moments<2>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 3: block_moments<3>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 4: block_moments<4>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 5: block_moments<5>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 6: block_moments<6>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 7: block_moments<7>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    case 8: block_moments<8>(views, resp, classes, b, d, centre, range, scratch, missing); break;
    default: block_moments<0>(views, resp, classes, b, d, centre, range, scratch, missing); break;
  }
}

}  // namespace veska

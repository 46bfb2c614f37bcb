// The bodies of the shared kernels, written once over vectors of W doubles
// and compiled once per instruction set (see kernel_table.h). Each lane does
// the operations of the plain one-class (or one-entry) loop in its order, so
// every W gives the same bits; only the number of lanes working side by side
// changes. Everything is in an unnamed namespace, and the standard library
// is kept out of it (only memcpy, a builtin), so that no function compiled
// for one instruction set can be linked in place of another's.
#pragma once

#include <cstring>

#include "fit/kernel_table.h"
#include "fit/vector_math.h"

namespace veska {
namespace {

template <int W>
struct Simd {
  using Vec = typename Lanes<W>::D;

  static Vec load(const double* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(double* p, Vec v) { std::memcpy(p, &v, sizeof v); }

  // `count` consecutive entries' values at `stride` apart, the other lanes
  // `pad` (their results are dropped).
  static Vec load_entries(const double* p, size_t stride, int count, double pad) {
    if (count == W && stride == 1) return load(p);
    Vec v = splat<Vec>(pad);
    for (int l = 0; l < count; ++l) v[l] = p[static_cast<size_t>(l) * stride];
    return v;
  }
  static void store_entries(double* p, size_t stride, int count, Vec v) {
    if (count == W && stride == 1) return store(p, v);
    for (int l = 0; l < count; ++l) p[static_cast<size_t>(l) * stride] = v[l];
  }
};

inline int lesser(int a, int b) { return a < b ? a : b; }

// ---- across classes: the log joint, the counts, the moments -----------------

// V vectors: W V lanes, of which `used` hold a class of their own. A chunk
// short of classes repeats its last class in the spare lanes, whose results
// are dropped.
template <int W, int V>
struct LaneChunk {
  static constexpr int kWidth = W;
  static constexpr int kVectors = V;
  static constexpr int kLanes = W * V;
  int k[kLanes];
  int used;
};

// Calls f(LaneChunk) for consecutive chunks of the listed classes: three
// vectors while more than two vectors' worth are left, two while more than
// one is, then one. (Wider chunks would spill the lanes' registers.)
template <int W, typename F>
void for_each_chunk(const ClassList& classes, F&& f) {
  static_assert(3 * W <= kClassLanes, "the scratch holds every lane of a chunk");
  int first = 0;
  auto take = [&](auto chunk) {
    chunk.used = lesser(chunk.kLanes, classes.size() - first);
    for (int l = 0; l < chunk.kLanes; ++l) chunk.k[l] = classes[first + lesser(l, chunk.used - 1)];
    first += chunk.used;
    f(chunk);
  };
  while (classes.size() - first > 2 * W) take(LaneChunk<W, 3>{});
  while (classes.size() - first > W) take(LaneChunk<W, 2>{});
  if (classes.size() - first >= 1) take(LaneChunk<W, 1>{});
}

// The lanes' copy of block b (see KernelScratch::lane_gauss).
template <class Chunk>
void load_block_lanes(KernelScratch& s, int n_groups, const Chunk& c, int b, int d) {
  constexpr int L = Chunk::kLanes;
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
template <int W, int V, int kDim>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          typename Lanes<W>::D* lr) {
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  constexpr int L = W * V;
  if constexpr (kDim > 0) d = kDim;
  const double* mu = lanes;
  const double* w = mu + d * L;
  Vec fixed[kDim > 0 ? kDim * V : 1];
  auto diff = [&](int i, int v) {
    if constexpr (kDim > 0) {
      return fixed[i * V + v];
    } else {
      return S::load(spill + (i * V + v) * W);
    }
  };
  for (int i = 0; i < d; ++i) {
    for (int v = 0; v < V; ++v) {
      const Vec di = x[i] - S::load(mu + i * L + W * v);
      if constexpr (kDim > 0) {
        fixed[i * V + v] = di;
      } else {
        S::store(spill + (i * V + v) * W, di);
      }
    }
  }
  Vec diagonal[V], off[V];
  for (int v = 0; v < V; ++v) diagonal[v] = off[v] = Vec{};
  for (int i = 0; i < d; ++i) {
    const double* wi = w + i * d * L;
    for (int v = 0; v < V; ++v) {
      const Vec di = diff(i, v);
      diagonal[v] += S::load(wi + i * L + W * v) * di * di;
      Vec row{};
      for (int j = i + 1; j < d; ++j) row += S::load(wi + j * L + W * v) * diff(j, v);
      off[v] += di * row;
    }
  }
  const double* a = w + d * d * L;
  const double* half_scale = a + L;
  for (int v = 0; v < V; ++v) {
    lr[v] += beta * (S::load(a + W * v) -
                     S::load(half_scale + W * v) * (diagonal[v] + 2.0 * off[v]));
  }
}

template <int W, int V>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          typename Lanes<W>::D* lr) {
  switch (d) {
    case 1: observed_block_lanes<W, V, 1>(x, lanes, d, beta, spill, lr); break;
    case 2: observed_block_lanes<W, V, 2>(x, lanes, d, beta, spill, lr); break;
    case 3: observed_block_lanes<W, V, 3>(x, lanes, d, beta, spill, lr); break;
    case 4: observed_block_lanes<W, V, 4>(x, lanes, d, beta, spill, lr); break;
    case 5: observed_block_lanes<W, V, 5>(x, lanes, d, beta, spill, lr); break;
    case 6: observed_block_lanes<W, V, 6>(x, lanes, d, beta, spill, lr); break;
    case 7: observed_block_lanes<W, V, 7>(x, lanes, d, beta, spill, lr); break;
    case 8: observed_block_lanes<W, V, 8>(x, lanes, d, beta, spill, lr); break;
    default: observed_block_lanes<W, V, 0>(x, lanes, d, beta, spill, lr); break;
  }
}

// The first position in the sorted list at or after `value`.
inline size_t first_at_or_after(const int* list, size_t size, int value) {
  size_t lo = 0, hi = size;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (list[mid] < value) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// S1 += w x and S2_ij += (w x_i) x_j (i <= j) for an observed block x of
// dimension d; S2 is d x d, row by row. T is double or a vector of classes.
template <typename T>
inline void add_moments(const double* x, T w, int d, T* s1, T* s2) {
  for (int i = 0; i < d; ++i) {
    const T wx = w * x[i];
    s1[i] += wx;
    T* row = s2 + static_cast<size_t>(i) * d;
    for (int j = i; j < d; ++j) row[j] += wx * x[j];
  }
}

}  // namespace
}  // namespace veska
#include "fit/pattern_kernels.h"

namespace veska {
namespace {

template <class Chunk>
void log_joint_lanes(const EntryViews& views, const LogJointModel& model,
                     const Chunk& c, EntryRange range, KernelScratch& s, ClassEntryArray out) {
  constexpr int W = Chunk::kWidth, V = Chunk::kVectors, L = Chunk::kLanes;
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
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
  Vec base[V];
  for (int v = 0; v < V; ++v) base[v] = S::load(base_lanes + W * v);
  for (int b = 0; b < n_groups; ++b) {
    load_block_lanes(s, n_groups, c, b, model.dims[static_cast<size_t>(b)]);
  }
  double* lanes_out[L];
  for (int l = 0; l < L; ++l) lanes_out[l] = out.data + static_cast<size_t>(c.k[l]) * out.class_stride;
  const int* cells = views.entry_cells.data() + static_cast<size_t>(range.first) * nd;
  for (int n = range.first; n < range.last; ++n, cells += nd) {
    Vec lr[V];
    for (int v = 0; v < V; ++v) lr[v] = base[v];
    for (int j = 0; j < nd; ++j) {
      if (cells[j] == kMissingCell) continue;
      const double* cell = theta + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) lr[v] += S::load(cell + W * v);
    }
    for (int b = 0; b < n_groups; ++b) {
      const size_t bi = static_cast<size_t>(b);
      const int d = model.dims[bi];
      const double shift = s.block_shift[bi];
      for (int v = 0; v < V; ++v) lr[v] -= shift;
      if (views.pattern_of(n, b) != kNoPattern) continue;  // the pattern terms below
      const double* x = views.reals_of(n) + views.block_offset[bi];
      observed_block_lanes<W, V>(x, s.lane_gauss.data() + s.lane_gauss_offset[bi], d, beta,
                                 s.lane_diff.data(), lr);
    }
    const size_t at = static_cast<size_t>(n) * out.entry_stride;
    for (int l = 0; l < c.used; ++l) lanes_out[l][at] = lr[l / W][l % W];
  }
  pattern_log_joint_lanes(views, model, c, range, s, lanes_out, out.entry_stride);
}

// The log joint of W consecutive complete entries at a time, one class after
// the other: the entries across the lanes, so that no lane idles when there
// are fewer classes than lanes and each class's results go out as one
// vector. Each lane does the operations of observed_block_lanes in its
// order with that class's parameters, so the bits are those of the classes
// across the lanes. Only for entries without discrete attributes (their
// cells would need a gather per class).
template <int W, int kDim>
inline typename Lanes<W>::D entry_lanes_block_term(const double* x, int d, const double* mu,
                                                   const double* w, double a, double half_scale,
                                                   double beta) {
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  if constexpr (kDim > 0) d = kDim;
  // x - m held in registers for the small fixed sizes, else taken again
  // where it is needed (the same bits).
  Vec fixed[kDim > 0 ? kDim : 1];
  if constexpr (kDim > 0) {
    for (int i = 0; i < d; ++i) fixed[i] = S::load(x + i * W) - mu[i];
  }
  auto diff = [&](int i) {
    if constexpr (kDim > 0) {
      return fixed[i];
    } else {
      return S::load(x + i * W) - mu[i];
    }
  };
  Vec diagonal{}, off{};
  for (int i = 0; i < d; ++i) {
    const double* wi = w + i * d;
    const Vec di = diff(i);
    diagonal += wi[i] * di * di;
    Vec row{};
    for (int j = i + 1; j < d; ++j) row += wi[j] * diff(j);
    off += di * row;
  }
  return beta * (a - half_scale * (diagonal + 2.0 * off));
}

template <int W>
inline typename Lanes<W>::D entry_lanes_block_term(const double* x, int d, const double* mu,
                                                   const double* w, double a, double half_scale,
                                                   double beta) {
  switch (d) {
    case 1: return entry_lanes_block_term<W, 1>(x, d, mu, w, a, half_scale, beta);
    case 2: return entry_lanes_block_term<W, 2>(x, d, mu, w, a, half_scale, beta);
    case 3: return entry_lanes_block_term<W, 3>(x, d, mu, w, a, half_scale, beta);
    case 4: return entry_lanes_block_term<W, 4>(x, d, mu, w, a, half_scale, beta);
    case 5: return entry_lanes_block_term<W, 5>(x, d, mu, w, a, half_scale, beta);
    case 6: return entry_lanes_block_term<W, 6>(x, d, mu, w, a, half_scale, beta);
    case 7: return entry_lanes_block_term<W, 7>(x, d, mu, w, a, half_scale, beta);
    case 8: return entry_lanes_block_term<W, 8>(x, d, mu, w, a, half_scale, beta);
    default: return entry_lanes_block_term<W, 0>(x, d, mu, w, a, half_scale, beta);
  }
}

// The entries of `range`, all complete, W at a time; s.entry_lanes holds
// their block values lane by lane (dimension i of block b at
// (first_dim_b + i) * W).
template <int W>
void log_joint_entry_lanes(const EntryViews& views, const LogJointModel& model,
                           const ClassList& classes, EntryRange range, KernelScratch& s,
                           ClassEntryArray out) {
  static_assert(W <= kVectorLanes, "entry_lanes holds a vector of every block");
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  const double beta = model.beta;
  const int n_groups = static_cast<int>(model.dims.size());
  double* x = s.entry_lanes.data();
  for (int n = range.first; n < range.last; n += W) {
    const int count = lesser(W, range.last - n);
    int at = 0;
    for (int b = 0; b < n_groups; ++b) {
      const size_t bi = static_cast<size_t>(b);
      const int d = model.dims[bi];
      for (int i = 0; i < d; ++i) {
        Vec v{};
        for (int l = 0; l < count; ++l) {
          v[l] = views.reals_of(n + l)[views.block_offset[bi] + i];
        }
        S::store(x + (at + i) * W, v);
      }
      at += d;
    }
    for (int c = 0; c < classes.size(); ++c) {
      const int k = classes[c];
      Vec lr = splat<Vec>(beta * model.log_pi[k]);
      at = 0;
      for (int b = 0; b < n_groups; ++b) {
        const size_t bi = static_cast<size_t>(b);
        const size_t kb = static_cast<size_t>(k) * n_groups + bi;
        const int d = model.dims[bi];
        lr -= s.block_shift[bi];
        lr += entry_lanes_block_term<W>(x + at * W, d, s.mean[kb], s.precision[kb], s.log_const[kb],
                                        0.5 * s.scale[kb], beta);
        at += d;
      }
      S::store_entries(out.data + static_cast<size_t>(k) * out.class_stride +
                           static_cast<size_t>(n) * out.entry_stride,
                       out.entry_stride, count, lr);
    }
  }
}

// Runs of at least two vectors of complete entries take the entries across
// the lanes when there are no discrete attributes (four lanes or more); the
// rest takes the classes across the lanes.
template <int W>
void complete_log_joint_body(const EntryViews& views,
                             const LogJointModel& model, const ClassList& classes,
                             EntryRange range, KernelScratch& scratch, ClassEntryArray out) {
  auto class_lanes = [&](EntryRange part) {
    if (part.first >= part.last) return;
    for_each_chunk<W>(classes, [&](const auto& chunk) {
      log_joint_lanes(views, model, chunk, part, scratch, out);
    });
  };
  // On two lanes the broadcasts of each class's parameters cost more than
  // the idle lanes they save.
  if (W < 4 || views.n_discrete > 0 || model.dims.empty()) return class_lanes(range);
  // Without discrete attributes an entry misses a value only in a block.
  auto complete = [&](int n) { return views.blocks_complete(n); };
  int pending = range.first;  // the first entry not yet done
  for (int n = range.first; n < range.last;) {
    if (!complete(n)) {
      ++n;
      continue;
    }
    int end = n;
    while (end < range.last && complete(end)) ++end;
    if (end - n >= 2 * W) {
      class_lanes({pending, n});
      log_joint_entry_lanes<W>(views, model, classes, {n, end}, scratch, out);
      pending = end;
    }
    n = end;
  }
  class_lanes({pending, range.last});
}

template <class Chunk>
void count_lanes(const EntryViews& views, ConstClassEntryArray resp, const Chunk& c,
                 EntryRange range, KernelScratch& s, double* n_k_out, double* n_cat_out) {
  constexpr int W = Chunk::kWidth, V = Chunk::kVectors, L = Chunk::kLanes;
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  const int nd = views.n_discrete;
  const size_t stride = static_cast<size_t>(views.cat_stride);
  const double* r_of[L];
  for (int l = 0; l < L; ++l) r_of[l] = resp.data + static_cast<size_t>(c.k[l]) * resp.class_stride;
  double* counts = s.lane_counts.data();
  for (size_t i = 0; i < stride * L; ++i) counts[i] = 0.0;
  Vec n_k[V];
  for (int v = 0; v < V; ++v) n_k[v] = Vec{};
  const int* cells = views.entry_cells.data() + static_cast<size_t>(range.first) * nd;
  size_t at = static_cast<size_t>(range.first) * resp.entry_stride;
  for (int n = range.first; n < range.last; ++n, cells += nd, at += resp.entry_stride) {
    const double count = views.entry_count[static_cast<size_t>(n)];  // exact
    Vec w[V];
    for (int v = 0; v < V; ++v) {
      Vec r;
      for (int l = 0; l < W; ++l) r[l] = r_of[W * v + l][at];
      n_k[v] += count * r;
      w[v] = r * count;
    }
    for (int j = 0; j < nd; ++j) {
      if (cells[j] == kMissingCell) continue;
      double* cell = counts + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) S::store(cell + W * v, S::load(cell + W * v) + w[v]);
    }
  }
  for (int l = 0; l < c.used; ++l) {
    n_k_out[c.k[l]] = n_k[l / W][l % W];
    double* n_cat = n_cat_out + c.k[l] * stride;
    for (size_t v = 0; v < stride; ++v) n_cat[v] = counts[v * L + l];
  }
}

template <int W>
void class_counts_body(const EntryViews& views, ConstClassEntryArray resp,
                       const ClassList& classes, EntryRange range, KernelScratch& scratch,
                       double* n_k, double* n_cat) {
  for_each_chunk<W>(classes, [&](const auto& chunk) {
    count_lanes(views, resp, chunk, range, scratch, n_k, n_cat);
  });
}


// The block's values of entry n, less the centre (into y) when there is one.
inline const double* centred(const double* x, const double* centre, int d, double* y) {
  if (centre == nullptr) return x;
  for (int i = 0; i < d; ++i) y[i] = x[i] - centre[i];
  return y;
}

// add_moments over the entries first..last-1 but those of the sorted list
// [skip, skip_end) (the entries observed in the block at `offset`) for W classes with responsibilities r[l] and sums s1[l], s2[l],
// of which the first `used` are kept. The classes' sums run side by side in
// vectors, held in registers when kDim fixes the dimension; with kDim 0 the
// dimension is d, and a block above kLaneDims sums one class after the other
// in place.
constexpr int kLaneDims = 16;

template <int W, int kDim>
void observed_moments_run(const EntryViews& views, const double* const* r, size_t r_stride,
                          size_t offset, const double* centre, double* y, int first, int last,
                          const int* skip, const int* skip_end, int d, double* const* s1,
                          double* const* s2, int used) {
  using Vec = typename Lanes<W>::D;
  const int* count = views.entry_count.data();
  const double* reals = views.reals_base + offset;
  const size_t stride = views.reals_stride;
  // f(n) for the entries of [first, last) not listed, a straight loop
  // between listed ones.
  auto each_observed = [&](auto&& f) {
    const int* at = skip;
    for (int n = first;;) {
      const int stop = at != skip_end ? *at : last;
      for (; n < stop; ++n) f(n);
      if (stop == last) return;
      n = stop + 1;
      ++at;
    }
  };
  if (kDim > 0 || d <= kLaneDims) {
    if constexpr (kDim > 0) d = kDim;
    constexpr int kSize = kDim > 0 ? kDim : kLaneDims;
    Vec a1[kSize], a2[kSize * kSize];
    for (int i = 0; i < d; ++i) {
      for (int l = 0; l < W; ++l) a1[i][l] = s1[l][i];
    }
    for (int i = 0; i < d * d; ++i) {
      for (int l = 0; l < W; ++l) a2[i][l] = s2[l][i];
    }
    each_observed([&](int n) {
      const size_t at = static_cast<size_t>(n) * r_stride;
      Vec w;
      for (int l = 0; l < W; ++l) w[l] = r[l][at];
      w *= count[n];
      add_moments(centred(reals + static_cast<size_t>(n) * stride, centre, d, y), w, d, a1, a2);
    });
    for (int l = 0; l < used; ++l) {
      for (int i = 0; i < d; ++i) s1[l][i] = a1[i][l];
      for (int i = 0; i < d * d; ++i) s2[l][i] = a2[i][l];
    }
    return;
  }
  for (int l = 0; l < used; ++l) {
    each_observed([&](int n) {
      add_moments(centred(reals + static_cast<size_t>(n) * stride, centre, d, y),
                  r[l][static_cast<size_t>(n) * r_stride] * count[n], d, s1[l], s2[l]);
    });
  }
}

// The observed entries, then those with a missing value in the block
// pattern by pattern (pattern_block_moments). The classes go W at a time
// (the last group repeats its last class in the spare lanes) over tiles of
// kTileEntries entries, so that an entry's values are read from memory once
// for all classes.
constexpr int kTileEntries = 256;

template <int W, int kDim>
void block_moments(const EntryViews& views, ConstClassEntryArray resp, const ClassList& classes,
                   int b, int d, const double* centre, EntryRange range, KernelScratch& s,
                   MissingBlockMoments add_missing) {
  const size_t offset = static_cast<size_t>(views.block_offset[static_cast<size_t>(b)]);
  const std::vector<int>& missing_list = views.block_missing_entries[static_cast<size_t>(b)];
  const int* missing = missing_list.data();
  const size_t n_missing = missing_list.size();
  double* y = s.lane_diff.data();  // the centred values of one entry
  size_t tile_missing = first_at_or_after(missing, n_missing, range.first);
  for (int tile = range.first; tile < range.last; tile += kTileEntries) {
    const int end = lesser(range.last, tile + kTileEntries);
    size_t tile_missing_end = tile_missing;
    while (tile_missing_end < n_missing && missing[tile_missing_end] < end) ++tile_missing_end;
    for (int i = 0; i < classes.size(); i += W) {
      const int used = lesser(W, classes.size() - i);
      int k[W];
      const double* r[W];
      double* s1[W];
      double* s2[W];
      for (int l = 0; l < W; ++l) {
        k[l] = classes[i + lesser(l, used - 1)];
        r[l] = resp.data + static_cast<size_t>(k[l]) * resp.class_stride;
        s1[l] = s.s1[static_cast<size_t>(k[l])];
        s2[l] = s.s2[static_cast<size_t>(k[l])];
      }
      observed_moments_run<W, kDim>(views, r, resp.entry_stride, offset, centre, y, tile, end,
                                    missing + tile_missing, missing + tile_missing_end, d, s1, s2,
                                    used);
    }
    tile_missing = tile_missing_end;
  }
  pattern_block_moments<W, kDim>(views, resp, classes, b, d, centre, range, s, add_missing);
}

template <int W>
void observed_block_moments_body(const EntryViews& views, ConstClassEntryArray resp,
                                 const ClassList& classes, int b, int d, const double* centre,
                                 EntryRange range, KernelScratch& s, MissingBlockMoments missing) {
  switch (d) {
    case 1: block_moments<W, 1>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 2: block_moments<W, 2>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 3: block_moments<W, 3>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 4: block_moments<W, 4>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 5: block_moments<W, 5>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 6: block_moments<W, 6>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 7: block_moments<W, 7>(views, resp, classes, b, d, centre, range, s, missing); break;
    case 8: block_moments<W, 8>(views, resp, classes, b, d, centre, range, s, missing); break;
    default: block_moments<W, 0>(views, resp, classes, b, d, centre, range, s, missing); break;
  }
}

// ---- across entries: normalisers, responsibilities, exponentials ------------

// True when the array is entry-major and the classes are all of them in
// order: then the range's values are one contiguous run, class after class
// within each entry.
inline bool contiguous_classes(size_t class_stride, size_t entry_stride, const ClassList& classes) {
  if (class_stride != 1 || entry_stride != static_cast<size_t>(classes.size())) return false;
  for (int i = 0; i < classes.size(); ++i) {
    if (classes[i] != i) return false;
  }
  return true;
}

// The responsibility of a class from its weight x and the entry's
// normaliser z (see ResponsibilityRules); in the log domain `e` may bring
// exp(x - z) when the caller has it already.
template <int W>
struct ResponsibilityLanes {
  using Vec = typename Lanes<W>::D;
  const ResponsibilityRules& rules;
  Vec floor;
  explicit ResponsibilityLanes(const ResponsibilityRules& r)
      : rules(r), floor(splat<Vec>(r.floor)) {}
  Vec from_exp(Vec d, Vec e) const {
    const Vec r = d < rules.negligible_log ? floor : e;
    return r < floor ? floor : r;
  }
  Vec operator()(Vec x, Vec z) const {
    if (!rules.log_domain) return normal(rules.exponentiate ? exp_lanes<W>(x) : x, z);
    const Vec d = x - z;
    return from_exp(d, exp_lanes<W>(d));
  }
  // The normal domain's w / Z from the term w itself.
  Vec normal(Vec w, Vec z) const { return z > rules.tiny_normaliser ? w / z : Vec{}; }
};

// total += c_n ln Z_n for the `count` entries from n, one entry after the
// other so that every lane width sums alike (in the normal domain, z is Z
// and the entries with c_n <= 0 are left out); `finite` drops at the first
// ln Z that is not finite.
template <int W>
inline void add_weighted_logs(const NormaliserRules& rules, NormaliserSum* total, int n, int count,
                              typename Lanes<W>::D z) {
  if (total == nullptr) return;
  const typename Lanes<W>::D ln_z = rules.log_domain ? z : log_lanes<W>(z);
  for (int l = 0; l < count; ++l) {
    const int c = total->count[n + l];
    if (rules.log_domain || c > 0) total->weighted += c * ln_z[l];
    total->finite = total->finite && ln_z[l] - ln_z[l] == 0.0;
  }
}

// f(at, lanes, z) for the vectors of the entry-major values of every class
// of the entries first .. last (K values an entry, from index first K):
// lane j of z holds per_entry(e) of the entry e its value belongs to.
template <int W, typename PerEntry, typename F>
inline void run_vectors(int first, int last, size_t K, PerEntry&& per_entry, F&& f) {
  using Vec = typename Lanes<W>::D;
  const size_t begin = static_cast<size_t>(first) * K;
  const size_t end = static_cast<size_t>(last) * K;
  int e = first;
  size_t k = 0;  // the entry and class of the next lane
  for (size_t i = begin; i < end; i += W) {
    const int lanes = end - i < W ? static_cast<int>(end - i) : W;
    Vec z = splat<Vec>(1.0);
    for (int j = 0; j < lanes; ++j) {
      z[j] = per_entry(e);
      if (++k == K) {
        k = 0;
        ++e;
      }
    }
    f(i, lanes, z);
  }
}

template <int W, typename F>
void map_values(const double* x, double* y, size_t n, double pad, F f);

// The normalisers and, when `resp_rules` is given, the responsibilities in
// the same pass. In the log domain those come from the normaliser's own
// terms, exp(w - top) / sum, the same value as exp(w - ln Z) to the last
// bits, so one exponential serves both (a second one when the rules ask
// for exp(w - ln Z) itself); the terms wait in `resp` until the sum is
// known, and so do rumel's exponentials of its log weights in the normal
// domain. With `total`, the range's sum c ln Z is added to it.
template <int W>
void entry_normalisers_body(ConstClassEntryArray weight, const ClassList& classes,
                            const double* outside, const NormaliserRules& rules, EntryRange range,
                            double* norm, const ResponsibilityRules* resp_rules,
                            ClassEntryArray resp, NormaliserSum* total) {
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  const int n_classes = classes.size();
  const double minus_inf = -__builtin_inf();
  const size_t es = weight.entry_stride;
  const size_t res = resp.entry_stride;
  // Every class of entry-major arrays (rumel's full E-step): a vector's
  // entries are one run of K W values, which the exponentials of the normal
  // domain and the responsibilities take as whole vectors, each lane with
  // its entry's sum or normaliser; the sums take each entry's classes in
  // order. The operations of the lanes below, so the same bits.
  const size_t K = static_cast<size_t>(n_classes);
  const bool run_arrays = outside == nullptr && resp_rules != nullptr &&
                          contiguous_classes(weight.class_stride, es, classes) &&
                          contiguous_classes(resp.class_stride, res, classes);
  const bool normal_runs = run_arrays && !rules.log_domain && rules.exponentiate;
  const bool log_runs = run_arrays && rules.log_domain && resp_rules->second_exponential;
  // f(at, lanes, z) over the run of `count` entries from entry n, z holding
  // each lane's entry's value of `per_entry`.
  auto each_run_vector = [&](int n, int count, Vec per_entry, auto&& f) {
    run_vectors<W>(n, n + count, K, [&](int e) { return per_entry[e - n]; }, f);
  };
  for (int n = range.first; n < range.last; n += W) {
    const int count = lesser(W, range.last - n);
    if (normal_runs) {
      const size_t first = static_cast<size_t>(n) * K;
      double* e = resp.data + first;
      map_values<W>(weight.data + first, e, static_cast<size_t>(count) * K, 0.0, exp_lanes<W>);
      Vec sum{};
      for (int l = 0; l < count; ++l) {
        double s = 0.0;
        for (size_t k = 0; k < K; ++k) s += e[l * K + k];
        sum[l] = s;
      }
      const ResponsibilityLanes<W> r(*resp_rules);
      each_run_vector(n, count, sum, [&](size_t at, int lanes, Vec z) {
        double* p = resp.data + at;
        S::store_entries(p, 1, lanes, r.normal(S::load_entries(p, 1, lanes, 0.0), z));
      });
      if (norm != nullptr) S::store_entries(norm + n, 1, count, sum);
      add_weighted_logs<W>(rules, total, n, count, sum);
      continue;
    }
    auto class_lanes = [&](int i) {
      const double* p = weight.data + static_cast<size_t>(classes[i]) * weight.class_stride +
                        static_cast<size_t>(n) * es;
      return S::load_entries(p, es, count, 0.0);
    };
    auto resp_at = [&](int i) {
      return resp.data + static_cast<size_t>(classes[i]) * resp.class_stride +
             static_cast<size_t>(n) * res;
    };
    const Vec out = outside != nullptr ? S::load_entries(outside + n, 1, count, 0.0) : Vec{};
    Vec result;
    if (rules.log_domain) {
      // The first largest term: the kept outside sum when there is one.
      Vec top = outside != nullptr ? out : class_lanes(0);
      Vec first_top{};
      for (int i = outside != nullptr ? 0 : 1; i < n_classes; ++i) {
        const Vec v = class_lanes(i);
        const auto above = v > top;
        top = above ? v : top;
        first_top = above ? splat<Vec>(i) : first_top;
      }
      // (A vector select takes both sides: the exponential only when there
      // is an outside term.)
      Vec out_term{};
      if (outside != nullptr) out_term = out == minus_inf ? Vec{} : exp_lanes<W>(out - top);
      Vec sum{};
      if (outside != nullptr && rules.outside_first) sum += out_term;
      for (int i = 0; i < n_classes; ++i) {
        const Vec x = class_lanes(i) - top;
        const Vec skip_below = splat<Vec>(i) > first_top ? splat<Vec>(rules.negligible_after_top)
                                                         : splat<Vec>(rules.negligible_before_top);
        const Vec e = exp_lanes<W>(x);
        sum += x < skip_below ? Vec{} : e;
        if (resp_rules != nullptr && !resp_rules->second_exponential) {
          S::store_entries(resp_at(i), res, count, e);
        }
      }
      if (outside != nullptr && !rules.outside_first) sum += out_term;
      result = log_lanes<W>(sum) + top;
      if (log_runs) {
        const ResponsibilityLanes<W> r(*resp_rules);
        each_run_vector(n, count, result, [&](size_t at, int lanes, Vec z) {
          S::store_entries(resp.data + at, 1, lanes,
                           r(S::load_entries(weight.data + at, 1, lanes, 0.0), z));
        });
      } else if (resp_rules != nullptr) {
        const ResponsibilityLanes<W> r(*resp_rules);
        const Vec inverse = 1.0 / sum;
        for (int i = 0; i < n_classes; ++i) {
          double* at = resp_at(i);
          if (resp_rules->second_exponential) {
            S::store_entries(at, res, count, r(class_lanes(i), result));
            continue;
          }
          const Vec e = S::load_entries(at, res, count, 0.0);
          S::store_entries(at, res, count, r.from_exp(class_lanes(i) - result, e * inverse));
        }
      }
    } else {
      // Exponentials of the weights wait in `resp` until the sum is known.
      const bool stash = rules.exponentiate && resp_rules != nullptr;
      Vec sum{};
      if (outside != nullptr && rules.outside_first) sum += out;
      for (int i = 0; i < n_classes; ++i) {
        const Vec v = rules.exponentiate ? exp_lanes<W>(class_lanes(i)) : class_lanes(i);
        sum += v;
        if (stash) S::store_entries(resp_at(i), res, count, v);
      }
      if (outside != nullptr && !rules.outside_first) sum += out;
      result = sum;
      if (resp_rules != nullptr) {
        const ResponsibilityLanes<W> r(*resp_rules);
        for (int i = 0; i < n_classes; ++i) {
          const Vec v = stash ? S::load_entries(resp_at(i), res, count, 0.0) : class_lanes(i);
          S::store_entries(resp_at(i), res, count, r.normal(v, sum));
        }
      }
    }
    if (norm != nullptr) S::store_entries(norm + n, 1, count, result);
    add_weighted_logs<W>(rules, total, n, count, result);
  }
}

template <int W>
void class_responsibilities_body(ConstClassEntryArray weight, const ClassList& classes,
                                 const double* norm, const ResponsibilityRules& rules,
                                 EntryRange range, ClassEntryArray resp) {
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  const ResponsibilityLanes<W> responsibility(rules);
  if (contiguous_classes(weight.class_stride, weight.entry_stride, classes) &&
      contiguous_classes(resp.class_stride, resp.entry_stride, classes)) {
    run_vectors<W>(range.first, range.last, static_cast<size_t>(classes.size()),
                   [&](int n) { return norm[n]; }, [&](size_t i, int count, Vec z) {
                     const Vec x = S::load_entries(weight.data + i, 1, count, 0.0);
                     S::store_entries(resp.data + i, 1, count, responsibility(x, z));
                   });
    return;
  }
  for (int n = range.first; n < range.last; n += W) {
    const int count = lesser(W, range.last - n);
    const Vec z = S::load_entries(norm + n, 1, count, 1.0);
    for (int i = 0; i < classes.size(); ++i) {
      const size_t k = static_cast<size_t>(classes[i]);
      const Vec x = S::load_entries(weight.data + k * weight.class_stride + n * weight.entry_stride,
                                    weight.entry_stride, count, 0.0);
      S::store_entries(resp.data + k * resp.class_stride + n * resp.entry_stride,
                       resp.entry_stride, count, responsibility(x, z));
    }
  }
}

// y = f(x) over an array, a vector at a time (`pad` in the spare lanes).
template <int W, typename F>
void map_values(const double* x, double* y, size_t n, double pad, F f) {
  using S = Simd<W>;
  for (size_t i = 0; i < n; i += W) {
    const int count = n - i < W ? static_cast<int>(n - i) : W;
    S::store_entries(y + i, 1, count, f(S::load_entries(x + i, 1, count, pad)));
  }
}

template <int W>
void exp_values_body(const double* x, double* y, size_t n) {
  map_values<W>(x, y, n, 0.0, exp_lanes<W>);
}

template <int W>
void log_values_body(const double* x, double* y, size_t n) {
  map_values<W>(x, y, n, 1.0, log_lanes<W>);
}

template <int W>
constexpr KernelTable make_kernel_table(const char* name) {
  return KernelTable{name,
                     W,
                     complete_log_joint_body<W>,
                     class_counts_body<W>,
                     observed_block_moments_body<W>,
                     entry_normalisers_body<W>,
                     class_responsibilities_body<W>,
                     exp_values_body<W>,
                     log_values_body<W>};
}

}  // namespace
}  // namespace veska

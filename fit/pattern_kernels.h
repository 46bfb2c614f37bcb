// The entries with missing values in a block, pattern by pattern: the
// engine's matrices of one pattern of observed dimensions go into the lanes
// (one class per lane) once, and then serve every entry of the pattern in
// the range, in entry order. Part of kernel_bodies.h (included there, in its
// unnamed namespace): the same lane rules hold, every lane doing the plain
// one-class loop's operations in its order.
#pragma once

namespace veska {
namespace {

// The entries of one pattern within a range.
struct PatternRun {
  const int* first;
  const int* last;
};

// f(p, pattern, run) for each pattern p of block b with entries in the range.
template <typename F>
void for_each_pattern_run(const EntryViews& views, int b, EntryRange range, F&& f) {
  const size_t bi = static_cast<size_t>(b);
  const std::vector<BlockPattern>& patterns = views.block_patterns[bi];
  const int* entries = views.pattern_entries[bi].data();
  const int* start = views.pattern_start[bi].data();
  for (size_t p = 0; p < patterns.size(); ++p) {
    const int* begin = entries + start[p];
    const size_t size = static_cast<size_t>(start[p + 1] - start[p]);
    const PatternRun run{begin + first_at_or_after(begin, size, range.first),
                         begin + first_at_or_after(begin, size, range.last)};
    if (run.first != run.last) f(static_cast<int>(p), patterns[p], run);
  }
}

// out += beta (c - (s / 2) Q) for the entries of the range with a missing
// value, lane by lane, Q the quadratic form of the observed values under the
// pattern's precision (observed_block_lanes on the observed part).
template <class Chunk>
void pattern_log_joint_lanes(const EntryViews& views, const LogJointModel& model, const Chunk& c,
                             EntryRange range, KernelScratch& s, double* const* lanes_out,
                             size_t entry_stride) {
  constexpr int W = Chunk::kWidth, V = Chunk::kVectors, L = Chunk::kLanes;
  using Vec = typename Lanes<W>::D;
  for (int b = 0; b < views.n_groups; ++b) {
    const size_t offset = static_cast<size_t>(views.block_offset[static_cast<size_t>(b)]);
    for_each_pattern_run(views, b, range, [&](int p, const BlockPattern& pattern, PatternRun run) {
      const int* obs = pattern.observed.data();
      const int o = static_cast<int>(pattern.observed.size());
      // The lanes in load_block_lanes' order: mean, precision, constant,
      // half the scale; then one entry's observed values and the spill.
      double* mu = s.lane_pattern.data();
      double* w = mu + o * L;
      double* a = w + o * o * L;
      double* half_scale = a + L;
      double* xo = half_scale + L;
      double* spill = xo + o;
      for (int l = 0; l < L; ++l) {
        PatternTerm t;
        model.missing.pattern(model.missing.self, b, p, c.k[l], &t);
        for (int i = 0; i < o; ++i) mu[i * L + l] = t.mean[obs[i]];
        for (int i = 0; i < o * o; ++i) w[i * L + l] = t.precision[i];
        a[l] = t.constant;
        half_scale[l] = 0.5 * t.scale;
      }
      for (const int* e = run.first; e < run.last; ++e) {
        const int n = *e;
        const double* x = views.reals_of(n) + offset;
        for (int i = 0; i < o; ++i) xo[i] = x[obs[i]];
        Vec lr[V];
        for (int v = 0; v < V; ++v) lr[v] = Vec{};
        observed_block_lanes<W, V>(xo, mu, o, model.beta, spill, lr);
        const size_t at = static_cast<size_t>(n) * entry_stride;
        for (int l = 0; l < c.used; ++l) lanes_out[l][at] += lr[l / W][l % W];
      }
    });
  }
}

// A block up to this dimension sums its completed points in registers, the
// classes side by side; a larger one sums class after class in place.
constexpr int kPatternLaneDims = 16;

// The completed points of the entries [first, last) of one pattern, added
// for W classes (the first `used` kept) to s1[l], s2[l]; then the pattern's
// sum of w times cond_scale times C on the missing pairs.
template <int W, int kDim>
void pattern_moments_lanes(const EntryViews& views, const BlockPattern& pattern,
                           const PatternMoments* pm, const double* const* r, size_t r_stride,
                           size_t offset, const double* centre, PatternRun run, int d,
                           double* const* s1, double* const* s2, int used, double* lanes) {
  using S = Simd<W>;
  using Vec = typename Lanes<W>::D;
  if constexpr (kDim > 0) d = kDim;
  constexpr int kSize = kDim > 0 ? kDim : kPatternLaneDims;
  const int* obs = pattern.observed.data();
  const int* mis = pattern.missing.data();
  const int o = static_cast<int>(pattern.observed.size());
  const int m = static_cast<int>(pattern.missing.size());
  // Per lane: the observed means, the missing ones less the centre, R.
  double* mu_o = lanes;
  double* base = mu_o + o * W;
  double* reg = base + m * W;
  for (int l = 0; l < W; ++l) {
    for (int i = 0; i < o; ++i) mu_o[i * W + l] = pm[l].mean[obs[i]];
    for (int a = 0; a < m; ++a) {
      const int q = mis[a];
      base[a * W + l] = centre ? pm[l].mean[q] - centre[q] : pm[l].mean[q];
    }
    for (int i = 0; i < m * o; ++i) reg[i * W + l] = pm[l].regression[i];
  }
  Vec a1[kSize], a2[kSize * kSize];
  for (int i = 0; i < d; ++i) {
    for (int l = 0; l < W; ++l) a1[i][l] = s1[l][i];
  }
  for (int i = 0; i < d * d; ++i) {
    for (int l = 0; l < W; ++l) a2[i][l] = s2[l][i];
  }
  Vec w_sum{};
  Vec z[kSize], diff[kSize];  // every dimension of z is set for each entry
  for (int i = 0; i < kSize; ++i) z[i] = diff[i] = Vec{};
  const int* count = views.entry_count.data();
  for (const int* e = run.first; e < run.last; ++e) {
    const int n = *e;
    const double* x = views.reals_of(n) + offset;
    const size_t at = static_cast<size_t>(n) * r_stride;
    Vec w;
    for (int l = 0; l < W; ++l) w[l] = r[l][at];
    w *= count[n];
    for (int i = 0; i < o; ++i) {
      const int j = obs[i];
      diff[i] = x[j] - S::load(mu_o + i * W);
      z[j] = splat<Vec>(centre ? x[j] - centre[j] : x[j]);
    }
    for (int a = 0; a < m; ++a) {
      Vec t = S::load(base + a * W);
      const double* row = reg + a * o * W;
      for (int i = 0; i < o; ++i) t += S::load(row + i * W) * diff[i];
      z[mis[a]] = t;
    }
    for (int i = 0; i < d; ++i) {
      const Vec wz = w * z[i];
      a1[i] += wz;
      for (int j = i; j < d; ++j) a2[i * d + j] += wz * z[j];
    }
    w_sum += w;
  }
  for (int l = 0; l < used; ++l) {
    for (int i = 0; i < d; ++i) s1[l][i] = a1[i][l];
    for (int i = 0; i < d * d; ++i) s2[l][i] = a2[i][l];
    const double wc = w_sum[l] * pm[l].cond_scale;
    for (int a = 0; a < m; ++a) {
      double* row = s2[l] + static_cast<size_t>(mis[a]) * d;
      for (int c = a; c < m; ++c) row[mis[c]] += wc * pm[l].cond[a * m + c];
    }
  }
}

// pattern_moments_lanes for one class, the sums in place (any dimension).
inline void pattern_moments_one(const EntryViews& views, const BlockPattern& pattern,
                                const PatternMoments& pm, const double* r, size_t r_stride,
                                size_t offset, const double* centre, PatternRun run, int d,
                                double* s1, double* s2, double* work) {
  const int* obs = pattern.observed.data();
  const int* mis = pattern.missing.data();
  const int o = static_cast<int>(pattern.observed.size());
  const int m = static_cast<int>(pattern.missing.size());
  double* z = work;
  double* diff = z + d;
  double w_sum = 0.0;
  for (const int* e = run.first; e < run.last; ++e) {
    const int n = *e;
    const double* x = views.reals_of(n) + offset;
    const double w = r[static_cast<size_t>(n) * r_stride] * views.entry_count[static_cast<size_t>(n)];
    for (int i = 0; i < o; ++i) {
      const int j = obs[i];
      diff[i] = x[j] - pm.mean[j];
      z[j] = centre ? x[j] - centre[j] : x[j];
    }
    for (int a = 0; a < m; ++a) {
      const int q = mis[a];
      double t = centre ? pm.mean[q] - centre[q] : pm.mean[q];
      const double* row = pm.regression + a * o;
      for (int i = 0; i < o; ++i) t += row[i] * diff[i];
      z[q] = t;
    }
    add_moments(z, w, d, s1, s2);
    w_sum += w;
  }
  const double wc = w_sum * pm.cond_scale;
  for (int a = 0; a < m; ++a) {
    double* row = s2 + static_cast<size_t>(mis[a]) * d;
    for (int c = a; c < m; ++c) row[mis[c]] += wc * pm.cond[a * m + c];
  }
}

// The moments of the entries of the range with a missing value in block b:
// pattern by pattern, the classes W at a time (the last group repeating its
// last class in the spare lanes).
template <int W, int kDim>
void pattern_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                           const ClassList& classes, int b, int d, const double* centre,
                           EntryRange range, KernelScratch& s, MissingBlockMoments missing) {
  const size_t offset = static_cast<size_t>(views.block_offset[static_cast<size_t>(b)]);
  for_each_pattern_run(views, b, range, [&](int p, const BlockPattern& pattern, PatternRun run) {
    for (int i = 0; i < classes.size(); i += W) {
      const int used = lesser(W, classes.size() - i);
      const double* r[W];
      double* s1[W];
      double* s2[W];
      PatternMoments pm[W];
      for (int l = 0; l < W; ++l) {
        const int k = classes[i + lesser(l, used - 1)];
        r[l] = resp.data + static_cast<size_t>(k) * resp.class_stride;
        s1[l] = s.s1[static_cast<size_t>(k)];
        s2[l] = s.s2[static_cast<size_t>(k)];
        missing.pattern(missing.self, p, k, &pm[l]);
      }
      if (kDim > 0 || d <= kPatternLaneDims) {
        pattern_moments_lanes<W, kDim>(views, pattern, pm, r, resp.entry_stride, offset, centre,
                                       run, d, s1, s2, used, s.lane_pattern.data());
        continue;
      }
      for (int l = 0; l < used; ++l) {
        pattern_moments_one(views, pattern, pm[l], r[l], resp.entry_stride, offset, centre, run,
                            d, s1[l], s2[l], s.lane_pattern.data());
      }
    }
  });
}

}  // namespace
}  // namespace veska

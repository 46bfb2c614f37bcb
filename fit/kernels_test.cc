// The shared kernels against plain loops (one class at a time, every entry
// in order, every term in the order of the formulas), bit for bit, on every
// instruction set this processor runs: every chunk width and spare lanes,
// a listed part of the classes, both array layouts, blocks of fixed and of
// general dimension (also past the paired sums), tiles of entries, and the
// entries with missing values taken pattern by pattern with the engine's
// per-(pattern, class) matrices.
#include "fit/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "fit/isa.h"

#include "tests/support/case_data.h"

namespace veska {
namespace {

using testing::CaseData;
using testing::Shape;

struct Data {
  explicit Data(Shape s = make_shape())
      : shape(s), data(testing::random_cases(shape), shape.n_attr(), shape.gauss()) {
    views = build_entry_views(data.cases, data.model);
    dims = shape.blocks;
  }
  static Shape make_shape() {
    Shape s;
    s.discrete = {3, 4};
    s.blocks = {2, 3, 10, 17};
    s.lines = 700;  // several tiles
    s.p_missing = 0.04;
    s.p_block_missing = 0.03;
    return s;
  }
  int missing_in(int n, int b) const { return data.cases.entries[n].gauss_n_missing()[b]; }
  const double* x(int n, int b) const { return views.reals_of(n) + views.block_offset[b]; }
  Shape shape;
  CaseData data;
  EntryViews views;
  std::vector<int> dims;
};

// Random per-class parameters in the kernels' scratch and arrays.
struct Model {
  Model(const Data& d, int K, double beta) : ks(allocate_kernel_scratch(K, d.views.cat_stride, d.dims)) {
    std::mt19937 gen(K * 7 + 1);
    std::normal_distribution<double> z(0.0, 1.0);
    const size_t G = d.dims.size();
    for (int k = 0; k < K; ++k) log_pi.push_back(-1.0 + 0.3 * z(gen));
    for (int i = 0; i < K * d.views.cat_stride; ++i) log_theta.push_back(-1.5 + 0.5 * z(gen));
    for (size_t kb = 0; kb < K * G; ++kb) {
      const int dim = d.dims[kb % G];
      means.emplace_back();
      precisions.emplace_back();
      for (int i = 0; i < dim; ++i) means.back().push_back(z(gen));
      for (int i = 0; i < dim * dim; ++i) precisions.back().push_back(0.2 * z(gen) + (i % (dim + 1) ? 0 : 1));
      ks.mean[kb] = means.back().data();
      ks.precision[kb] = precisions.back().data();
      ks.log_const[kb] = z(gen);
      ks.scale[kb] = 1.0 + 0.1 * z(gen);
    }
    for (size_t b = 0; b < G; ++b) ks.block_shift[b] = 0.3 * b;
    model = LogJointModel{beta, log_pi.data(), log_theta.data(), d.dims, {}};
  }
  KernelScratch ks;
  std::vector<double> log_pi, log_theta;
  std::vector<std::vector<double>> means, precisions;
  LogJointModel model;
};

// The engine's per-(pattern, class) matrices: random ones (the kernels need
// no structure in them), each request checked against the patterns there are.
struct FakeEngine {
  struct Matrices {
    std::vector<double> precision, regression, cond;
    double constant, scale, cond_scale;
  };
  FakeEngine(const Data& d, const Model& m, int K) : d(&d), m(&m), K(K) {
    std::mt19937 gen(K * 11 + 3);
    std::normal_distribution<double> z(0.0, 1.0);
    for (size_t b = 0; b < d.dims.size(); ++b) {
      for (const BlockPattern& p : d.views.block_patterns[b]) {
        const size_t o = p.observed.size(), mi = p.missing.size();
        for (int k = 0; k < K; ++k) {
          Matrices t;
          for (size_t i = 0; i < o * o; ++i) t.precision.push_back(0.2 * z(gen) + (i % (o + 1) ? 0 : 1));
          for (size_t i = 0; i < mi * o; ++i) t.regression.push_back(0.5 * z(gen));
          for (size_t i = 0; i < mi * mi; ++i) t.cond.push_back(z(gen));
          t.constant = z(gen);
          t.scale = 1.0 + 0.1 * z(gen);
          t.cond_scale = 0.5 + 0.1 * z(gen);
          table.push_back(t);
        }
      }
    }
  }
  const Matrices& at(int b, int p, int k) const {
    size_t i = 0;
    for (int c = 0; c < b; ++c) i += d->views.block_patterns[c].size() * K;
    return table[i + static_cast<size_t>(p) * K + k];
  }
  static void term(const void* self, int b, int p, int k, PatternTerm* out) {
    const FakeEngine& e = *static_cast<const FakeEngine*>(self);
    if (p < 0 || p >= static_cast<int>(e.d->views.block_patterns[b].size()) || k < 0 || k >= e.K) {
      ++e.wrong_calls;
      return;
    }
    const Matrices& t = e.at(b, p, k);
    *out = PatternTerm{e.m->ks.mean[k * e.d->dims.size() + b], t.precision.data(), t.constant, t.scale};
  }
  // The moments' engine for block b.
  struct ForBlock {
    const FakeEngine* e;
    int b;
    static void add(const void* self, int p, int k, PatternMoments* out) {
      const ForBlock& f = *static_cast<const ForBlock*>(self);
      const Matrices& t = f.e->at(f.b, p, k);
      *out = PatternMoments{f.e->m->ks.mean[k * f.e->d->dims.size() + f.b], t.regression.data(),
                            t.cond.data(), t.cond_scale};
    }
  };
  const Data* d;
  const Model* m;
  int K;
  std::vector<Matrices> table;
  mutable int wrong_calls = 0;
};

// (x - mu)' P (x - mu) over the listed dimensions of x and mu: the diagonal
// plus twice the rows of the upper triangle.
double plain_quadratic(const double* x, const double* mu, const double* p, const std::vector<int>& dims) {
  const size_t n = dims.size();
  std::vector<double> diff(n);
  for (size_t i = 0; i < n; ++i) diff[i] = x[dims[i]] - mu[dims[i]];
  double diagonal = 0.0, off = 0.0;
  for (size_t i = 0; i < n; ++i) {
    diagonal += p[i * n + i] * diff[i] * diff[i];
    double row = 0.0;
    for (size_t j = i + 1; j < n; ++j) row += p[i * n + j] * diff[j];
    off += diff[i] * row;
  }
  return diagonal + 2.0 * off;
}

// The observed blocks in order, then each block with a missing value.
double plain_log_joint(const Data& d, const Model& m, int k, int n, const FakeEngine& engine) {
  const double beta = m.model.beta;
  const size_t G = d.dims.size();
  double lr = beta * m.log_pi[k];
  for (int j = 0; j < d.views.n_discrete; ++j) {
    const int cell = d.views.entry_cells[n * d.views.n_discrete + j];
    if (cell != kMissingCell) lr += beta * m.log_theta[k * d.views.cat_stride + cell];
  }
  for (size_t b = 0; b < G; ++b) {
    lr -= m.ks.block_shift[b];
    if (d.missing_in(n, b) > 0) continue;
    std::vector<int> all(d.dims[b]);
    for (int i = 0; i < d.dims[b]; ++i) all[i] = i;
    const double q = plain_quadratic(d.x(n, b), m.ks.mean[k * G + b], m.ks.precision[k * G + b], all);
    lr += beta * (m.ks.log_const[k * G + b] - 0.5 * m.ks.scale[k * G + b] * q);
  }
  for (size_t b = 0; b < G; ++b) {
    if (d.missing_in(n, b) == 0) continue;
    const int p = d.views.pattern_of(n, b);
    const FakeEngine::Matrices& t = engine.at(b, p, k);
    const double q = plain_quadratic(d.x(n, b), m.ks.mean[k * G + b], t.precision.data(),
                                     d.views.block_patterns[b][p].observed);
    lr += beta * (t.constant - 0.5 * t.scale * q);
  }
  return lr;
}

// The moments of the entries [first, last) of block b in class k: the
// observed ones in entry order, then pattern by pattern the completed points
// and the pattern's sum of weights times the conditional covariance.
void plain_moments(const Data& d, const Model& m, const FakeEngine& engine, const double* resp,
                   size_t es, int k, size_t b, const double* centre, int first, int last,
                   std::vector<double>& s1, std::vector<double>& s2) {
  const int dim = d.dims[b];
  auto add = [&](const std::vector<double>& z, double w) {
    for (int i = 0; i < dim; ++i) {
      const double wz = w * z[i];
      s1[i] += wz;
      for (int j = i; j < dim; ++j) s2[i * dim + j] += wz * z[j];
    }
  };
  for (int n = first; n < last; ++n) {
    if (d.missing_in(n, b) > 0) continue;
    std::vector<double> z(dim);
    for (int i = 0; i < dim; ++i) z[i] = d.x(n, b)[i] - centre[i];
    add(z, resp[n * es] * d.views.entry_count[n]);
  }
  const double* mu = m.ks.mean[k * d.dims.size() + b];
  for (size_t p = 0; p < d.views.block_patterns[b].size(); ++p) {
    const BlockPattern& pat = d.views.block_patterns[b][p];
    const FakeEngine::Matrices& t = engine.at(b, p, k);
    const size_t o = pat.observed.size(), mi = pat.missing.size();
    double w_sum = 0.0;
    for (int n = first; n < last; ++n) {
      if (d.missing_in(n, b) == 0 || d.views.pattern_of(n, b) != static_cast<int>(p)) continue;
      const double* x = d.x(n, b);
      std::vector<double> z(dim);
      for (int j : pat.observed) z[j] = x[j] - centre[j];
      for (size_t a = 0; a < mi; ++a) {
        double v = mu[pat.missing[a]] - centre[pat.missing[a]];
        for (size_t i = 0; i < o; ++i) v += t.regression[a * o + i] * (x[pat.observed[i]] - mu[pat.observed[i]]);
        z[pat.missing[a]] = v;
      }
      const double w = resp[n * es] * d.views.entry_count[n];
      add(z, w);
      w_sum += w;
    }
    for (size_t a = 0; a < mi; ++a) {
      for (size_t c = a; c < mi; ++c) {
        s2[pat.missing[a] * dim + pat.missing[c]] += w_sum * t.cond_scale * t.cond[a * mi + c];
      }
    }
  }
}

// Every K up to nine and a few past the widest chunks (chunks of one, two
// and three vectors of two, four or eight lanes, with spare lanes) and a
// listed part, in both layouts.
struct Case {
  int K;
  std::vector<int> listed;  // empty: all
  bool class_major;
};
std::vector<Case> cases() {
  std::vector<Case> out;
  for (int K : {1, 2, 3, 4, 5, 6, 7, 9, 12, 17, 26}) {
    for (bool major : {true, false}) out.push_back({K, {}, major});
  }
  out.push_back({7, {4, 1, 6}, false});
  out.push_back({9, {8, 0, 3, 5, 2}, true});
  return out;
}

// The instruction sets this processor runs; each test forces each in turn.
std::vector<Isa> supported_isas() {
  std::vector<Isa> out;
  for (Isa isa : {Isa::sse2, Isa::avx2, Isa::avx512}) {
    if (isa_supported(isa)) out.push_back(isa);
  }
  return out;
}

TEST(Kernels, LogJointCountsAndMomentsAreThePlainLoopsBits) {
  const Data d;
  const int M = d.views.n_entries;
  const size_t G = d.dims.size();
  for (Isa isa : supported_isas()) {
    force_isa(isa);
    for (const Case& c : cases()) {
      for (double beta : {1.0, 0.6}) {
        SCOPED_TRACE(::testing::Message() << isa_name(isa) << " K=" << c.K << " listed=" << c.listed.size()
                                          << " class-major=" << c.class_major << " beta=" << beta);
        Model m(d, c.K, beta);
        FakeEngine engine(d, m, c.K);
        m.model.missing = MissingBlockTerm{FakeEngine::term, &engine};
        const ClassList classes = c.listed.empty() ? ClassList::all(c.K) : ClassList::part(c.listed);
        const size_t cs = c.class_major ? M : 1, es = c.class_major ? 1 : c.K;
        std::vector<double> out(static_cast<size_t>(M) * c.K, -7.0);
        // In two chunks: a kernel's result over a chunk is its entries' alone.
        const int cut = M / 3 + 1;
        complete_log_joint(d.views, m.model, classes, {0, cut}, m.ks,
                           {out.data(), cs, es});
        complete_log_joint(d.views, m.model, classes, {cut, M}, m.ks,
                           {out.data(), cs, es});
        EXPECT_EQ(engine.wrong_calls, 0);
        std::vector<char> listed(c.K, 0);
        for (int i = 0; i < classes.size(); ++i) listed[classes[i]] = 1;
        for (int k = 0; k < c.K; ++k) {
          for (int n = 0; n < M; ++n) {
            const double want = listed[k] ? plain_log_joint(d, m, k, n, engine) : -7.0;
            ASSERT_EQ(out[k * cs + n * es], want) << "k=" << k << " n=" << n;
          }
        }

        // The responsibilities: any positive values will do.
        std::vector<double> resp(out.size());
        for (size_t i = 0; i < resp.size(); ++i) resp[i] = 0.05 + (i * 7919 % 101) / 101.0;
        const ConstClassEntryArray r{resp.data(), cs, es};
        std::vector<double> n_k(c.K, -1.0), n_cat(c.K * d.views.cat_stride, -1.0);
        class_counts(d.views, r, classes, all_entries(d.views), m.ks, n_k.data(), n_cat.data());
        for (int k = 0; k < c.K; ++k) {
          double want_k = listed[k] ? 0.0 : -1.0;
          std::vector<double> want_cat(d.views.cat_stride, want_k);
          for (int n = 0; n < M && listed[k]; ++n) {
            const double w = resp[k * cs + n * es] * d.views.entry_count[n];
            want_k += w;
            for (int j = 0; j < d.views.n_discrete; ++j) {
              const int cell = d.views.entry_cells[n * d.views.n_discrete + j];
              if (cell != kMissingCell) want_cat[cell] += w;
            }
          }
          ASSERT_EQ(n_k[k], want_k) << "k=" << k;
          for (int v = 0; v < d.views.cat_stride; ++v) {
            ASSERT_EQ(n_cat[k * d.views.cat_stride + v], want_cat[v]) << "k=" << k << " cell=" << v;
          }
        }

        // The moments about a centre, the entries in two chunks that split a
        // tile.
        for (size_t b = 0; b < G; ++b) {
          const int dim = d.dims[b];
          std::vector<double> centre(dim);
          for (int i = 0; i < dim; ++i) centre[i] = 0.25 * i - 0.5;
          std::vector<std::vector<double>> s1(c.K, std::vector<double>(dim, 0.0));
          std::vector<std::vector<double>> s2(c.K, std::vector<double>(dim * dim, 0.0));
          for (int k = 0; k < c.K; ++k) {
            m.ks.s1[k] = s1[k].data();
            m.ks.s2[k] = s2[k].data();
          }
          const FakeEngine::ForBlock imputer{&engine, static_cast<int>(b)};
          const MissingBlockMoments missing{FakeEngine::ForBlock::add, &imputer};
          const int tile_cut = 300;
          observed_block_moments(d.views, r, classes, static_cast<int>(b), dim, centre.data(),
                                 {0, tile_cut}, m.ks, missing);
          observed_block_moments(d.views, r, classes, static_cast<int>(b), dim, centre.data(),
                                 {tile_cut, M}, m.ks, missing);
          for (int k = 0; k < c.K; ++k) {
            std::vector<double> want1(dim, 0.0), want2(dim * dim, 0.0);
            if (listed[k]) {
              for (auto [first, last] : {std::pair{0, tile_cut}, std::pair{tile_cut, M}}) {
                plain_moments(d, m, engine, resp.data() + k * cs, es, k, b, centre.data(), first,
                              last, want1, want2);
              }
            }
            ASSERT_EQ(s1[k], want1) << "k=" << k << " b=" << b;
            ASSERT_EQ(s2[k], want2) << "k=" << k << " b=" << b;
          }
        }
      }
    }
  }
  force_isa(widest_isa());
}

// Without discrete attributes, runs of complete entries take the entries
// across the lanes: still the plain loop's bits, in runs cut anywhere by
// entries with a missing value and by the chunks, and for a block above the
// fixed sizes.
TEST(Kernels, LogJointOfContinuousEntriesIsThePlainLoopsBits) {
  Shape shape;
  shape.blocks = {1, 4, 9};
  shape.lines = 500;
  shape.p_missing = 0.01;
  shape.p_block_missing = 0.01;
  const Data d(shape);
  const int M = d.views.n_entries;
  int complete = 0;
  for (int n = 0; n < M; ++n) complete += d.views.blocks_complete(n);
  ASSERT_GT(complete, M / 2);
  ASSERT_LT(complete, M);
  for (Isa isa : supported_isas()) {
    force_isa(isa);
    for (int K : {1, 3, 5, 8, 11}) {
      for (bool major : {true, false}) {
        SCOPED_TRACE(::testing::Message() << isa_name(isa) << " K=" << K << " class-major=" << major);
        Model m(d, K, 0.7);
        FakeEngine engine(d, m, K);
        m.model.missing = MissingBlockTerm{FakeEngine::term, &engine};
        const size_t cs = major ? M : 1, es = major ? 1 : K;
        std::vector<double> out(static_cast<size_t>(M) * K, -7.0);
        for (int first = 0; first < M; first += 61) {
          complete_log_joint(d.views, m.model, ClassList::all(K),
                             {first, std::min(M, first + 61)}, m.ks, {out.data(), cs, es});
        }
        EXPECT_EQ(engine.wrong_calls, 0);
        for (int k = 0; k < K; ++k) {
          for (int n = 0; n < M; ++n) {
            ASSERT_EQ(out[k * cs + n * es], plain_log_joint(d, m, k, n, engine))
                << "k=" << k << " n=" << n;
          }
        }
      }
    }
  }
  force_isa(widest_isa());
}

// ---- normalisers, responsibilities, exponentials ---------------------------

// Log weights of K classes and M entries in one layout, spread so that
// some terms fall below every threshold, some tie with the largest, and
// some entries have a -inf outside term.
struct Weights {
  Weights(int K, int M, bool class_major) : K(K), M(M) {
    cs = class_major ? M : 1;
    es = class_major ? 1 : K;
    std::mt19937 gen(K * 31 + M);
    std::uniform_real_distribution<double> u(-80.0, 5.0);
    w.resize(static_cast<size_t>(K) * M);
    for (double& v : w) v = u(gen);
    for (int n = 0; n < M; n += 7) at(n % K, n) = at((n + 1) % K, n);  // ties
    for (int n = 3; n < M; n += 11) at(0, n) = -900.0;                 // underflows
    for (int n = 0; n < M; ++n) outside.push_back(n % 5 == 0 ? -HUGE_VAL : u(gen));
  }
  double& at(int k, int n) { return w[k * cs + n * es]; }
  double get(int k, int n) const { return w[k * cs + n * es]; }
  int K, M;
  size_t cs, es;
  std::vector<double> w, outside;
};

// rumelvb's normaliser, one entry at a time: the first largest, then the
// terms in class order, skipping those that cannot change the sum.
double plain_vb_log_z(const Weights& x, int n) {
  double top = x.get(0, n);
  int first_top = 0;
  for (int k = 1; k < x.K; ++k) {
    if (x.get(k, n) > top) {
      top = x.get(k, n);
      first_top = k;
    }
  }
  double sum = 0.0;
  for (int k = 0; k < x.K; ++k) {
    const double v = x.get(k, n) - top;
    if (v < (k > first_top ? -37.5 : -746.0)) continue;
    sum += v == 0.0 ? 1.0 : exp_value(v);
  }
  return log_value(sum) + top;
}

// The normaliser of the listed classes and the outside term, which rumelvb
// adds last and rumel first (an outside of -inf adding nothing).
double plain_part_norm(const Weights& x, const std::vector<int>& listed, int n, bool log_domain,
                       bool outside_first) {
  const double out = x.outside[n];
  if (!log_domain) {
    double sum = outside_first ? out : 0.0;
    for (int k : listed) sum += x.get(k, n);
    return outside_first ? sum : sum + out;
  }
  double top = out;
  for (int k : listed) top = std::max(top, x.get(k, n));
  const double rest = out == -HUGE_VAL ? 0.0 : exp_value(out - top);
  double sum = outside_first ? rest : 0.0;
  for (int k : listed) sum += exp_value(x.get(k, n) - top);
  if (!outside_first) sum += rest;
  return log_value(sum) + top;
}

TEST(Kernels, NormalisersAndResponsibilitiesFollowEachEnginesRules) {
  const std::vector<int> listed{4, 1, 6};
  for (Isa isa : supported_isas()) {
    force_isa(isa);
    for (int K : {1, 3, 7, 10, 40}) {
      for (bool major : {true, false}) {
        SCOPED_TRACE(::testing::Message() << isa_name(isa) << " K=" << K << " class-major=" << major);
        const int M = 203;  // no multiple of any width
        Weights x(K, M, major);
        const ConstClassEntryArray w{x.w.data(), x.cs, x.es};
        // Three chunks whose cuts fall inside vectors.
        auto chunks = [&](auto&& f) {
          for (EntryRange r : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) f(r);
        };
        NormaliserRules vb;
        vb.negligible_before_top = -746.0;
        vb.negligible_after_top = -37.5;
        std::vector<double> z(M, 7.0);
        chunks([&](EntryRange r) { entry_normalisers(w, ClassList::all(K), nullptr, vb, r, z.data()); });
        for (int n = 0; n < M; ++n) ASSERT_EQ(z[n], plain_vb_log_z(x, n)) << "n=" << n;

        // rumelvb's responsibilities: the floor, and below -69.5 no exponential.
        std::vector<double> r(x.w.size(), -1.0);
        const ResponsibilityRules vb_r{true, 1e-30, -69.5, 0.0};
        chunks([&](EntryRange e) {
          class_responsibilities(w, ClassList::all(K), z.data(), vb_r, e, {r.data(), x.cs, x.es});
        });
        for (int k = 0; k < K; ++k) {
          for (int n = 0; n < M; ++n) {
            const double v = x.get(k, n) - z[n];
            const double want = v < -69.5 ? 1e-30 : std::max(exp_value(v), 1e-30);
            ASSERT_EQ(r[k * x.cs + n * x.es], want) << "k=" << k << " n=" << n;
          }
        }

        // rumel in both domains: normalisers, responsibilities, exponentials.
        for (bool log_domain : {true, false}) {
          Weights y = x;
          if (!log_domain) {
            for (double& v : y.w) v = exp_value(v);
            for (double& o : y.outside) o = exp_value(o);
          }
          const ConstClassEntryArray yw{y.w.data(), y.cs, y.es};
          NormaliserRules ml;
          ml.log_domain = log_domain;
          chunks([&](EntryRange e) { entry_normalisers(yw, ClassList::all(K), nullptr, ml, e, z.data()); });
          const ResponsibilityRules ml_r{log_domain, 0.0, -HUGE_VAL, 1e-60};
          std::fill(r.begin(), r.end(), -1.0);
          chunks([&](EntryRange e) {
            class_responsibilities(yw, ClassList::all(K), z.data(), ml_r, e, {r.data(), y.cs, y.es});
          });
          for (int n = 0; n < M; ++n) {
            double top = y.get(0, n), sum = 0.0;
            for (int k = 1; k < K; ++k) top = std::max(top, y.get(k, n));
            for (int k = 0; k < K; ++k) sum += log_domain ? exp_value(y.get(k, n) - top) : y.get(k, n);
            ASSERT_EQ(z[n], log_domain ? log_value(sum) + top : sum) << "n=" << n;
            for (int k = 0; k < K; ++k) {
              const double want = log_domain ? exp_value(y.get(k, n) - z[n])
                                             : (z[n] > 1e-60 ? y.get(k, n) / z[n] : 0.0);
              ASSERT_EQ(r[k * y.cs + n * y.es], want) << "k=" << k << " n=" << n;
            }
          }
          if (K < 7) continue;
          // The partial runs: three listed classes and the outside term.
          for (bool outside_first : {true, false}) {
            NormaliserRules part;
            part.log_domain = log_domain;
            part.outside_first = outside_first;
            chunks([&](EntryRange e) {
              entry_normalisers(yw, ClassList::part(listed), y.outside.data(), part, e, z.data());
            });
            for (int n = 0; n < M; ++n) {
              ASSERT_EQ(z[n], plain_part_norm(y, listed, n, log_domain, outside_first)) << "n=" << n;
            }
          }
        }
      }
    }
  }
  force_isa(widest_isa());
}

// The one-pass normaliser and responsibilities: ln Z (or Z) the bits of
// entry_normalisers; in the log domain r = exp(w - top) * (1 / sum) from
// the normaliser's own terms (those it skips included), with the floor and
// the negligible test on w - ln Z, and within a few ulp of exp(w - ln Z);
// in the normal domain the bits of class_responsibilities. All classes with
// rumelvb's skips, and three listed ones with the outside term last.
TEST(Kernels, OnePassNormalisersAndResponsibilitiesUseTheSameTerms) {
  const std::vector<int> listed{4, 1, 6};
  for (Isa isa : supported_isas()) {
    force_isa(isa);
    for (int K : {1, 3, 7, 10, 40}) {
      for (bool major : {true, false}) {
        for (bool part : {false, true}) {
          if (part && K < 7) continue;
          SCOPED_TRACE(::testing::Message() << isa_name(isa) << " K=" << K << " class-major="
                                            << major << " part=" << part);
          const int M = 203;
          Weights x(K, M, major);
          const ConstClassEntryArray w{x.w.data(), x.cs, x.es};
          std::vector<int> all(K);
          for (int k = 0; k < K; ++k) all[k] = k;
          const std::vector<int>& ks = part ? listed : all;
          const ClassList classes = part ? ClassList::part(listed) : ClassList::all(K);
          const double* outside = part ? x.outside.data() : nullptr;
          NormaliserRules rules;
          if (part) {
            rules.outside_first = false;
          } else {
            rules.negligible_before_top = -746.0;
            rules.negligible_after_top = -37.5;
          }
          const ResponsibilityRules rr{true, 1e-30, -69.5, 0.0};
          std::vector<double> z(M), z1(M, 7.0), r(x.w.size(), -1.0), r2(x.w.size(), -1.0);
          for (EntryRange e : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) {
            entry_normalisers(w, classes, outside, rules, e, z.data());
            normalise_entries(w, classes, outside, rules, rr, e, z1.data(), {r.data(), x.cs, x.es});
            class_responsibilities(w, classes, z.data(), rr, e, {r2.data(), x.cs, x.es});
          }
          ASSERT_EQ(z1, z);
          // Without the per-entry output: per range the count-weighted sum
          // in entry order and whether all were finite (an entry of +inf
          // weights in the middle range), the same responsibilities.
          std::vector<int> count(M);
          std::vector<double> r3(x.w.size(), -1.0);
          for (int n = 0; n < M; ++n) count[n] = 1 + n % 5;
          for (int bad : {-1, 77}) {
            Weights y = x;
            if (bad >= 0) {
              for (int k = 0; k < K; ++k) y.at(k, bad) = HUGE_VAL;
            }
            for (EntryRange e : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) {
              NormaliserSum sum;
              sum.count = count.data();
              normalise_entries({y.w.data(), y.cs, y.es}, classes, outside, rules, rr, e, nullptr,
                                {r3.data(), x.cs, x.es}, &sum);
              if (bad >= 0) {
                ASSERT_EQ(sum.finite, e.first > bad || bad >= e.last) << e.first;
                continue;
              }
              double want = 0.0;
              for (int n = e.first; n < e.last; ++n) want += count[n] * z[n];
              ASSERT_EQ(sum.weighted, want) << e.first;
              ASSERT_TRUE(sum.finite);
            }
            if (bad < 0) {
              ASSERT_EQ(r3, r);
            }
          }
          for (int n = 0; n < M; ++n) {
            double top = part ? x.outside[n] : x.get(ks[0], n);
            int first_top = 0;
            for (int i = part ? 0 : 1; i < static_cast<int>(ks.size()); ++i) {
              if (x.get(ks[i], n) > top) {
                top = x.get(ks[i], n);
                first_top = i;
              }
            }
            double sum = 0.0;
            for (int i = 0; i < static_cast<int>(ks.size()); ++i) {
              const double v = x.get(ks[i], n) - top;
              if (!part && v < (i > first_top ? -37.5 : -746.0)) continue;
              sum += exp_value(v);
            }
            if (part && x.outside[n] != -HUGE_VAL) sum += exp_value(x.outside[n] - top);
            const double inverse = 1.0 / sum;
            for (int k : ks) {
              const double d = x.get(k, n) - z[n];
              const double e = exp_value(x.get(k, n) - top) * inverse;
              const double want = d < -69.5 ? 1e-30 : std::max(e, 1e-30);
              const double got = r[k * x.cs + n * x.es];
              ASSERT_EQ(got, want) << "k=" << k << " n=" << n;
              const double two_pass = r2[k * x.cs + n * x.es];
              ASSERT_LE(std::fabs(got - two_pass), 1e-13 * two_pass) << "k=" << k << " n=" << n;
            }
          }
          // The normal domain: the two calls' bits.
          Weights y = x;
          for (double& v : y.w) v = exp_value(v) + (&v - y.w.data()) % 3 * 1e-70;
          for (double& o : y.outside) o = exp_value(o);
          const ConstClassEntryArray yw{y.w.data(), y.cs, y.es};
          NormaliserRules normal = rules;
          normal.log_domain = false;
          const ResponsibilityRules nr{false, 0.0, -HUGE_VAL, 1e-60};
          const double* y_out = part ? y.outside.data() : nullptr;
          for (EntryRange e : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) {
            entry_normalisers(yw, classes, y_out, normal, e, z.data());
            normalise_entries(yw, classes, y_out, normal, nr, e, z1.data(), {r.data(), y.cs, y.es});
            class_responsibilities(yw, classes, z.data(), nr, e, {r2.data(), y.cs, y.es});
          }
          ASSERT_EQ(z1, z);
          ASSERT_EQ(r, r2);

          // From the logarithms (rumel's normal domain): the bits of
          // exponentiate before the two calls, the weights left as they
          // are, and sum c ln Z by log_value in entry order (c <= 0 left
          // out); the log domain's sum takes ln Z as it is.
          Weights e = x;
          for (double& v : e.w) v = exp_value(v);
          const ConstClassEntryArray ew{e.w.data(), e.cs, e.es};
          NormaliserRules from_logs = normal;
          from_logs.exponentiate = true;
          ResponsibilityRules fr = nr;
          fr.exponentiate = true;
          std::vector<int> counts(M);
          for (int n = 0; n < M; ++n) counts[n] = n % 5 == 0 ? 0 : n % 3 + 1;
          const Weights logs = x;
          std::vector<double> r4(x.w.size(), -1.0), rl(x.w.size()), lz(M);
          double got = 0.0, got_log = 0.0, want = 0.0, want_log = 0.0;
          for (EntryRange c : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) {
            entry_normalisers(ew, classes, y_out, normal, c, z.data());
            class_responsibilities(ew, classes, z.data(), nr, c, {r2.data(), y.cs, y.es});
            NormaliserSum sum, sum_log;
            sum.count = sum_log.count = counts.data();
            normalise_entries(w, classes, y_out, from_logs, fr, c, z1.data(), {r.data(), x.cs, x.es},
                              &sum);
            got += sum.weighted;
            class_responsibilities(w, classes, z.data(), fr, c, {r4.data(), x.cs, x.es});
            double part = 0.0;
            for (int n = c.first; n < c.last; ++n) {
              if (counts[n] > 0) part += counts[n] * log_value(z[n]);
            }
            want += part;
            normalise_entries(w, classes, outside, rules, rr, c, lz.data(), {rl.data(), x.cs, x.es},
                              &sum_log);
            got_log += sum_log.weighted;
            part = 0.0;
            for (int n = c.first; n < c.last; ++n) part += counts[n] * lz[n];
            want_log += part;
          }
          ASSERT_EQ(z1, z);
          ASSERT_EQ(r, r2);
          ASSERT_EQ(r4, r2);
          ASSERT_EQ(x.w, logs.w);
          ASSERT_EQ(got, want);
          ASSERT_EQ(got_log, want_log);
          // The log domain with a second exponential: the two calls' bits.
          ResponsibilityRules second = rr;
          second.second_exponential = true;
          for (EntryRange c : {EntryRange{0, 5}, EntryRange{5, 130}, EntryRange{130, M}}) {
            entry_normalisers(w, classes, outside, rules, c, z.data());
            class_responsibilities(w, classes, z.data(), rr, c, {r2.data(), x.cs, x.es});
            normalise_entries(w, classes, outside, rules, second, c, z1.data(),
                              {r.data(), x.cs, x.es});
          }
          ASSERT_EQ(z1, z);
          ASSERT_EQ(r, r2);
        }
      }
    }
  }
  force_isa(widest_isa());
}

// Distance in units in the last place of `want` (of the subnormal spacing
// below the normal range).
double ulps(double got, double want) {
  if (got == want) return 0.0;
  const double a = std::fabs(want);
  const double spacing = a < 2.2250738585072014e-308 ? 4.9406564584124654e-324
                                                     : std::nextafter(a, HUGE_VAL) - a;
  return std::fabs(got - want) / spacing;
}

// The stated bounds (vector_math.h) on dense sweeps of the range the
// engines use, the special values, and the same bits on every path.
TEST(Kernels, OwnExpAndLogStayWithinOneUlpOnEveryPath) {
  std::vector<double> x;
  for (double v = -746.0; v <= 709.78; v += 0.00731) x.push_back(v);
  for (double v = -1e-3; v <= 1e-3; v += 3.3e-7) x.push_back(v);
  std::vector<double> want_exp(x.size());
  double worst = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    want_exp[i] = exp_value(x[i]);
    worst = std::max(worst, ulps(want_exp[i], std::exp(x[i])));
  }
  EXPECT_LE(worst, 1.0);
  std::vector<double> y;
  for (double v = 1.0; v <= 60.0; v += 0.000377) y.push_back(v);     // sums of terms
  for (double e = -1074.0; e < 1024.0; e += 0.0131) y.push_back(std::exp2(e));
  std::vector<double> want_log(y.size());
  worst = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    want_log[i] = log_value(y[i]);
    worst = std::max(worst, ulps(want_log[i], std::log(y[i])));
  }
  EXPECT_LE(worst, 1.0);

  EXPECT_EQ(exp_value(0.0), 1.0);
  EXPECT_EQ(exp_value(-745.2), 0.0);
  EXPECT_EQ(exp_value(-HUGE_VAL), 0.0);
  EXPECT_EQ(exp_value(709.8), HUGE_VAL);
  EXPECT_TRUE(std::isnan(exp_value(NAN)));
  EXPECT_EQ(log_value(1.0), 0.0);
  EXPECT_EQ(log_value(0.0), -HUGE_VAL);
  EXPECT_EQ(log_value(HUGE_VAL), HUGE_VAL);
  EXPECT_TRUE(std::isnan(log_value(-1.0)));
  EXPECT_TRUE(std::isnan(log_value(NAN)));

  for (Isa isa : supported_isas()) {
    force_isa(isa);
    std::vector<double> got(x.size());
    exp_values(x.data(), got.data(), x.size());
    EXPECT_EQ(got, want_exp) << isa_name(isa);
    got.resize(y.size());
    log_values(y.data(), got.data(), y.size());
    EXPECT_EQ(got, want_log) << isa_name(isa);
  }
  force_isa(widest_isa());
}

// Where the power of two is applied in a different way per path: results
// that turn subnormal or vanish, and the last finite ones before +inf, in
// steps finer than one table entry, the same bits everywhere.
TEST(Kernels, OwnExpAgreesAtTheEdgesOfTheRangeOnEveryPath) {
  std::vector<double> x;
  for (double v = -745.2; v <= -707.0; v += 0.000173) x.push_back(v);
  for (double v = 708.0; v <= 709.9; v += 0.0000731) x.push_back(v);
  std::vector<double> want(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    want[i] = exp_value(x[i]);
    ASSERT_LE(ulps(want[i], std::exp(x[i])), 1.0) << x[i];
  }
  for (Isa isa : supported_isas()) {
    force_isa(isa);
    std::vector<double> got(x.size());
    exp_values(x.data(), got.data(), x.size());
    EXPECT_EQ(got, want) << isa_name(isa);
  }
  force_isa(widest_isa());
}

// The one-point moments are the definition: S1 = w x, S2_ij = (w x_i) x_j
// on the upper triangle, the lower one untouched.
TEST(Kernels, OnePointMomentsFillTheUpperTriangle) {
  const double x[3] = {1.5, -2.0, 0.25};
  double s1[3] = {1.0, 1.0, 1.0}, s2[9] = {};
  add_block_moments(x, 2.0, 3, s1, s2);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(s1[i], 1.0 + 2.0 * x[i]);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(s2[i * 3 + j], j >= i ? 2.0 * x[i] * x[j] : 0.0);
  }
}

}  // namespace
}  // namespace veska

// Split-and-merge's own steps: the partial E-step, statistics and M-step
// are the full ones restricted to the candidate's three classes; a partial
// run is EM on those classes (its objective never falls); the candidate
// start draws in its fixed order; the criteria keep their bounds; and a
// rejected candidate's model comes back bit for bit.
#include "mlmap/ml_smem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/random.h"
#include "fit/kernels.h"
#include "mlmap/ml_engine.h"
#include "mlmap/ml_fit_engine.h"
#include "mlmap/ml_test_fit.h"

namespace veska {
namespace {

using testing::CaseData;
using testing::MlFit;
using testing::random_cases;
using testing::Shape;

constexpr int kTriple[3] = {0, 2, 3};

bool in_triple(int k) { return k == kTriple[0] || k == kTriple[1] || k == kTriple[2]; }

// A fit of K = 4 a few iterations away from its random start.
void warm_up(MlFit& fit, unsigned seed) {
  rng_seed(seed);
  initialise_params(fit.ctx, fit.layout, fit.params);
  for (int t = 0; t < 3; ++t) {
    fit.evaluate();
    fit.update();
  }
}

// Entries [k * stride, (k + 1) * stride) of the triple's classes.
void expect_classes_equal(const std::vector<double>& a, const std::vector<double>& b,
                          size_t stride, bool triple, const char* what) {
  for (size_t x = 0; x < a.size(); ++x) {
    if (in_triple(static_cast<int>(x / stride)) == triple) {
      EXPECT_EQ(a[x], b[x]) << what << x;
    }
  }
}

// An engine at K = 4, `iterations` EM iterations from its random start.
void warm_up(MlEngine& engine, unsigned seed, int iterations) {
  engine.start_class_count(4);
  rng_seed(seed);
  engine.initialise();
  for (int t = 0; t < iterations; ++t) {
    engine.evaluate(1.0);
    engine.update();
  }
}

TEST(MlSmem, PartialStepsAreTheFullStepsOnTheThreeClasses) {
  const Shape mixed{{3, 2}, {2, 1}};
  const Shape missing{{3, 2}, {3, 2}, 150, 0.08, 0.05};
  for (const Shape& shape : {mixed, missing}) {
    for (const bool map : {false, true}) {
      CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(), [&](Settings& s) {
        if (map) {
          testing::map_settings(s);
        } else {
          testing::ml_settings(s);
        }
      });
      for (SmoothConst& c : data.settings.smooth_a) c.value = map ? 0.25 : 0.0;
      for (const bool log_domain : {false, true}) {
        MlFit fit(data, 4);
        fit.work.log_domain = log_domain;
        warm_up(fit, 7);
        const MlLayout& l = fit.layout;
        const size_t K = 4;

        fit.evaluate();
        const MlWork full = fit.work;
        std::fill(fit.work.weight.begin(), fit.work.weight.end(), 0.5);
        for (size_t x = 0; x < full.weight.size(); ++x) {
          if (!in_triple(static_cast<int>(x % K))) fit.work.weight[x] = full.weight[x];
        }
        keep_outside_weights(l, fit.work, kTriple);
        std::fill(fit.work.resp.begin(), fit.work.resp.end(), -1.0);
        const double sum = compute_e_step_part(fit.ctx, l, fit.params, fit.work, kTriple);
        EXPECT_EQ(fit.work.weight, full.weight);
        for (size_t n = 0; n < full.norm.size(); ++n) {
          EXPECT_NEAR(fit.work.norm[n], full.norm[n], 1e-12 * (1.0 + std::fabs(full.norm[n])));
        }
        // The three classes' responsibilities come with the partial E-step;
        // the others' are left for the next full update.
        for (size_t x = 0; x < full.resp.size(); ++x) {
          const double r = fit.work.resp[x];
          if (in_triple(static_cast<int>(x % K))) {
            EXPECT_NEAR(r, full.resp[x], 1e-12);
          } else {
            EXPECT_EQ(r, -1.0);
          }
        }
        // The full update after a partial run takes every class's
        // responsibility again from the weights and the partial run's
        // normalisers.
        responsibilities_for_update(l, fit.work);
        for (size_t x = 0; x < full.resp.size(); ++x) {
          const double w = fit.work.weight[x], z = fit.work.norm[x / K];
          const double want = log_domain ? std::exp(w - z) : exp_value(w) / z;
          EXPECT_NEAR(fit.work.resp[x], want, 1e-13 * want) << x;
        }
        const double full_sum = fit.evaluate() - (fit.map() ? compute_log_prior(l, fit.priors, fit.params) : 0.0);
        EXPECT_NEAR(sum, full_sum, 1e-10 * std::fabs(full_sum));

        fit.work = full;
        compute_responsibilities(l, fit.work);
        compute_expected_stats(fit.ctx, l, fit.params, fit.work);
        const MlWork stats = fit.work;
        for (std::vector<double>* v : {&fit.work.e_class, &fit.work.e_cat, &fit.work.s1, &fit.work.s2}) {
          std::fill(v->begin(), v->end(), -1.0);
        }
        compute_expected_stats_part(fit.ctx, l, fit.params, fit.work, kTriple);
        expect_classes_equal(fit.work.e_class, stats.e_class, 1, true, "E_c ");
        expect_classes_equal(fit.work.e_cat, stats.e_cat, l.cat_stride, true, "E_w ");
        expect_classes_equal(fit.work.s1, stats.s1, l.mean_stride, true, "S1 ");
        expect_classes_equal(fit.work.s2, stats.s2, l.covar_stride, true, "S2 ");

        const MlParams before = fit.params;
        fit.work = stats;
        m_step(fit.ctx, l, fit.priors, fit.scales, fit.work, fit.params);
        const MlParams whole = fit.params;
        fit.params = before;
        const double s3 = whole.pi[0] + whole.pi[2] + whole.pi[3];
        m_step_part(l, fit.priors, fit.scales, fit.work, fit.params, kTriple, s3);
        for (const bool triple : {true, false}) {
          const MlParams& ref = triple ? whole : before;
          expect_classes_equal(fit.params.mean, ref.mean, l.mean_stride, triple, "mu ");
          expect_classes_equal(fit.params.covar, ref.covar, l.covar_stride, triple, "Sigma ");
          expect_classes_equal(fit.params.precision, ref.precision, l.covar_stride, triple, "P ");
          expect_classes_equal(fit.params.det, ref.det, l.n_groups, triple, "det ");
        }
        for (int k = 0; k < 4; ++k) {
          if (in_triple(k)) {
            EXPECT_NEAR(fit.params.pi[k], whole.pi[k], 1e-15);
          } else {
            EXPECT_EQ(fit.params.pi[k], before.pi[k]);
          }
        }
        // Without missing values the full M-step's missing-value term is
        // zero and the value probabilities agree too.
        if (shape.p_missing == 0.0) {
          for (size_t x = 0; x < whole.theta.size(); ++x) {
            const bool t = in_triple(static_cast<int>(x / l.cat_stride));
            EXPECT_NEAR(fit.params.theta[x], (t ? whole : before).theta[x], 1e-14) << x;
          }
        }
      }
    }
  }
}

TEST(MlSmem, PartialRunNeverLowersTheObjective) {
  const Shape shape{{3, 2}, {2, 1}, 200};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                [](Settings& s) { testing::ml_settings(s); });
  MlEngine engine(data.settings, data.model, data.cases, data.stats);
  warm_up(engine, 11, 4);
  engine.smem_criteria();
  const SmemCandidate c{1, 3, 0};
  double last = engine.partial_start(c).objective;
  const double mass = engine.params().pi[0] + engine.params().pi[1] + engine.params().pi[3];
  for (int t = 0; t < 30; ++t) {
    ASSERT_FALSE(engine.partial_update(c).found);
    const double now = engine.partial_evaluate(c).objective;
    EXPECT_GE(now, last - 1e-9) << t;
    last = now;
  }
  const MlParams& p = engine.params();
  EXPECT_NEAR(p.pi[0] + p.pi[1] + p.pi[3], mass, 1e-14);
  // The partial run's normalisers are those of a full E-step.
  EXPECT_NEAR(engine.evaluate(1.0).objective, last, 1e-9 * std::fabs(last));
}

TEST(MlSmem, CandidateStartDrawsInItsOrder) {
  const Shape shape{{3, 2}, {2}};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                [](Settings& s) { testing::ml_settings(s); });
  MlFit fit(data, 4);
  warm_up(fit, 5);
  const MlLayout& l = fit.layout;
  const MlParams old = fit.params;
  const std::vector<double> counts = {30.0, 50.0, 20.0, 20.0};
  const SmemCandidate c{1, 3, 0};  // merge 1 and 3, split 0
  rng_seed(99);
  initialize_param_part(fit.ctx, l, fit.params, c, counts);
  const MlParams got = fit.params;

  rng_seed(99);
  const double wi = 50.0 / 70.0, wj = 20.0 / 70.0;
  const double noise = data.settings.noise;
  EXPECT_DOUBLE_EQ(got.pi[1], old.pi[1] + old.pi[3]);
  EXPECT_DOUBLE_EQ(got.pi[3], old.pi[0] / 2);
  EXPECT_DOUBLE_EQ(got.pi[0], old.pi[0] / 2);
  EXPECT_EQ(got.pi[2], old.pi[2]);
  for (int a = 0; a < l.n_discrete; ++a) {
    const int nv = l.n_values[a];
    std::vector<double> ti(nv), tj(nv), tk(nv);
    double si = 0, sj = 0, sk = 0;
    for (int v = 0; v < nv; ++v) {
      ti[v] = wj * old.theta[l.cat(3, a, v)] + wi * old.theta[l.cat(1, a, v)];
      tj[v] = old.theta[l.cat(0, a, v)] + rng_real() * noise / nv;
      tk[v] = old.theta[l.cat(0, a, v)] + rng_real() * noise / nv;
      si += ti[v], sj += tj[v], sk += tk[v];
    }
    for (int v = 0; v < nv; ++v) {
      EXPECT_DOUBLE_EQ(got.theta[l.cat(1, a, v)], ti[v] / si);
      EXPECT_DOUBLE_EQ(got.theta[l.cat(3, a, v)], tj[v] / sj);
      EXPECT_DOUBLE_EQ(got.theta[l.cat(0, a, v)], tk[v] / sk);
    }
  }
  const int d = l.dims[0];
  for (int x = 0; x < d; ++x) {
    const double spread =
        std::sqrt((*data.stats.groups[0].sample_covar)[x][x]) * data.settings.noise_gauss;
    EXPECT_DOUBLE_EQ(got.mean[l.mean(1, 0) + x],
                     wj * old.mean[l.mean(3, 0) + x] + wi * old.mean[l.mean(1, 0) + x]);
    EXPECT_DOUBLE_EQ(got.mean[l.mean(3, 0) + x], old.mean[l.mean(0, 0) + x] + (0.5 - rng_real()) * spread);
    EXPECT_DOUBLE_EQ(got.mean[l.mean(0, 0) + x], old.mean[l.mean(0, 0) + x] + (0.5 - rng_real()) * spread);
  }
  // The split classes are spheres of the old split class's volume.
  for (const int k : {0, 3}) {
    EXPECT_NEAR(got.det[l.block(k, 0)], old.det[l.block(0, 0)], 1e-12 * old.det[l.block(0, 0)]);
    EXPECT_EQ(got.covar[l.covar(k, 0) + 1], 0.0);
  }
  EXPECT_EQ(got.mean[l.mean(2, 0)], old.mean[l.mean(2, 0)]);
}

TEST(MlSmem, CriteriaKeepTheirBounds) {
  // Discrete only: p_kn is a distribution over the entries, so Jsplit is a
  // divergence and never negative; normalised, Jmerge is a cosine.
  const Shape shape{{3, 4, 2}, {}, 150};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(), [](Settings& s) {
    testing::ml_settings(s);
    s.norm_jmerge = true;
  });
  MlEngine engine(data.settings, data.model, data.cases, data.stats);
  warm_up(engine, 3, 5);
  const SmemCriteria c = engine.smem_criteria();
  for (int k = 0; k < 4; ++k) EXPECT_GE(c.jsplit[k], 0.0) << k;
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      EXPECT_GE(c.jmerge[i * 4 + j], 0.0);
      EXPECT_LE(c.jmerge[i * 4 + j], 1.0 + 1e-12);
    }
  }
  EXPECT_EQ(c.class_probs, engine.params().pi);
}

TEST(MlSmem, RejectedCandidateRestoresEveryArrayBitForBit) {
  const Shape shape{{3, 2}, {3, 2}, 150, 0.08, 0.05};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                [](Settings& s) { testing::map_settings(s); });
  MlFitEngine fit(data.settings, data.model, data.cases, data.stats);
  warm_up(fit.engine(), 4, 3);
  const MlParams saved = fit.engine().params();
  fit.save(FitSlot::kBeforeCandidate);
  fit.smem_criteria();
  const SmemCandidate c{0, 1, 3};
  fit.partial_start(c);
  for (int t = 0; t < 3; ++t) {
    fit.partial_update(c, t, 0.0);
    fit.partial_evaluate(c);
  }
  fit.update(1.0, 3, 0.0);
  ASSERT_NE(fit.engine().params().mean, saved.mean);
  fit.restore(FitSlot::kBeforeCandidate);
  const MlParams& p = fit.engine().params();
  EXPECT_EQ(p.pi, saved.pi);
  EXPECT_EQ(p.theta, saved.theta);
  EXPECT_EQ(p.mean, saved.mean);
  EXPECT_EQ(p.covar, saved.covar);
  EXPECT_EQ(p.precision, saved.precision);
  EXPECT_EQ(p.det, saved.det);
}

}  // namespace
}  // namespace veska

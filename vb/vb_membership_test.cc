#include "vb/vb_membership.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/cluster.h"
#include "common/misc.h"
#include "vb/print_vb.h"
#include "output/section_writer.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_capturing;
using testing::VbData;

// Attribute 0 discrete (a, b), attributes 1 and 2 one block, 3 the answer.
// Entry 1 misses half of the block, entry 2 all of it, entry 6 its
// discrete value.
const char kCases[] =
    "a,1.0,2.0,yes\n"
    "b,0.5,?,no\n"
    "a,?,?,yes\n"
    "b,3.0,1.0,no\n"
    "a,2.0,2.5,yes\n"
    "b,2.5,0.5,no\n"
    "?,1.5,1.5,no\n";

void with_answer(Settings& s) {
  s.eval_given = true;
  s.eval_attr = 3;
  s.cluster_criterion = "MEMBERSHIP_DIST";
  s.rank_measure = "MEMBERSHIP_DIST";
}

// ln of the Student-t density written out, with the 2 x 2 inverse by hand.
double direct_t(const std::vector<double>& x, const std::vector<double>& mu,
                const std::vector<std::vector<double>>& s, double f) {
  const double d = static_cast<double>(x.size());
  double q, det;
  if (x.size() == 1) {
    q = (x[0] - mu[0]) * (x[0] - mu[0]) / s[0][0];
    det = s[0][0];
  } else {
    det = s[0][0] * s[1][1] - s[0][1] * s[1][0];
    const double u = x[0] - mu[0], v = x[1] - mu[1];
    q = (s[1][1] * u * u - 2 * s[0][1] * u * v + s[0][0] * v * v) / det;
  }
  return std::lgamma((f + d) / 2) - d / 2 * std::log(f * std::numbers::pi) - std::lgamma(f / 2) -
         0.5 * std::log(det) - (f + d) / 2 * std::log1p(q / f);
}

// A fitted-looking model of K classes (1 or 2) set by hand, for the data
// above or for its block alone.
void set_state(const VbContext& ctx, int K, VbState& st) {
  st = allocate_vb_state(ctx, K);
  set_gauss_priors(ctx, st);
  const double delta[] = {3, 5};
  const double cat[2][2] = {{4, 1}, {1, 4}};  // codes a, b
  const double mu[2][2] = {{1, 2}, {3, 1}};
  const double sigma[2][2][2] = {{{1, 0.3}, {0.3, 2}}, {{2, -0.5}, {-0.5, 1}}};
  const double n_k[] = {1.5, 2.5};
  for (int k = 0; k < K; ++k) {
    st.delta0[k] = 1.0;
    st.delta[k] = delta[k];
    st.n_k[k] = n_k[k];
    for (int j = 0; j < st.n_discrete; ++j) {
      for (int v = 0; v < 2; ++v) {
        st.delta0_cat[st.cat_index(k, j, v)] = 1.0;
        st.delta_cat[st.cat_index(k, j, v)] = cat[k][v];
      }
    }
    VbBlock& b = st.block(k, 0);
    for (int i = 0; i < 2; ++i) {
      (*b.mu)[i] = mu[k][i];
      for (int j = 0; j < 2; ++j) (*b.sigma)[i][j] = sigma[k][i][j];
    }
  }
  compute_hparam_precisions(st);
}

// The memberships of the state with the arrays `needs` asks for.
Memberships memberships_of(const VbContext& ctx, const VbState& st, const MembershipNeeds& needs) {
  Memberships mem = allocate_memberships(ctx.model, ctx.cases.n_entries, st.K, needs);
  VbPredictive pred;
  compute_predictive(ctx, st, retained_scalars(st), pred, mem);
  compute_membership(ctx, pred, mem);
  compute_attr_membership(ctx, pred, mem);
  free_predictive(pred);
  return mem;
}

class VbMembership : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 6);
    set_output_delimiter(',');
    section_writer_init();
    data_.settings.files.memp = data_.dir.file("d_memp.csv");
    data_.settings.files.predict = data_.dir.file("d_predict.csv");
    data_.settings.files.cluster = data_.dir.file("d_cluster.csv");
    data_.settings.files.eval = data_.dir.file("d_eval.csv");
    data_.settings.files.rank = data_.dir.file("d_rank.csv");
    data_.settings.files.hparam = data_.dir.file("d_hparam.csv");
  }
  void TearDown() override {
    free_predictive(pred_);
    free_vb_state(st_);
    set_conv_precision(6, 12);
  }

  // A fitted-looking model of K classes (1 or 2) set by hand.
  void make_state(int K) {
    set_state(ctx(), K, st_);
    mem_ = allocate_memberships(data_.model, data_.cases.n_entries, K);
  }

  void compute() {
    auto res = run_capturing([&] {
      compute_predictive(ctx(), st_, retained_scalars(st_), pred_, mem_);
      compute_membership(ctx(), pred_, mem_);
      compute_attr_membership(ctx(), pred_, mem_);
    });
    ASSERT_FALSE(res.exited) << res.log << res.msg;
  }

  // The predictive scale of class k as the formula gives it.
  std::vector<std::vector<double>> scale(int k) {
    const double t = st_.n_k[k] + st_.tau0, f = st_.n_k[k] + st_.alpha0[0] + 1 - 2;
    const Matrix& s = *st_.block(k, 0).sigma;
    const double c = (t + 1) / (t * f);
    return {{s[0][0] * c, s[0][1] * c}, {s[1][0] * c, s[1][1] * c}};
  }
  double dof(int k) { return st_.n_k[k] + st_.alpha0[0] + 1 - 2; }
  std::vector<double> mean(int k) { return {(*st_.block(k, 0).mu)[0], (*st_.block(k, 0).mu)[1]}; }
  const CaseEntry& entry(int n) { return data_.cases.entries[static_cast<size_t>(n)]; }
  const VbContext& ctx() { return *data_.ctx; }

  VbData data_{kCases, 4, {"1,2"}, with_answer};
  VbState st_;
  VbPredictive pred_;
  Memberships mem_;
};

TEST_F(VbMembership, BlockDensitiesMatchADirectComputation) {
  make_state(2);
  compute();
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const auto s = scale(k);
    EXPECT_NEAR(student_t_log_density_block(pred_, k, 0, entry(0)),
                direct_t({1.0, 2.0}, mean(k), s, dof(k)), 1e-12);
    EXPECT_NEAR(student_t_log_density_block(pred_, k, 0, entry(3)),
                direct_t({3.0, 1.0}, mean(k), s, dof(k)), 1e-12);
    // Only the first component observed: the marginal keeps its location,
    // its scale element and the degrees of freedom.
    EXPECT_NEAR(student_t_log_density_block(pred_, k, 0, entry(1)),
                direct_t({0.5}, {mean(k)[0]}, {{s[0][0]}}, dof(k)), 1e-12);
    EXPECT_EQ(student_t_log_density_block(pred_, k, 0, entry(2)), 0.0);
  }
}

TEST_F(VbMembership, DistributionsAreNormalisedAndConsistent) {
  make_state(2);
  compute();
  EXPECT_DOUBLE_EQ(mem_.p_class[0], 3.0 / 8);
  EXPECT_DOUBLE_EQ(mem_.values[0].p_value_given_class[1], 0.2);  // P(b|0)
  for (int n = 0; n < mem_.n_entries; ++n) {
    SCOPED_TRACE(n);
    double sum = 0, marginal = 0;
    for (int k = 0; k < 2; ++k) {
      sum += mem_.p_case[mem_.at(n, k)];
      marginal += mem_.p_class[k] * mem_.p_component[mem_.at(n, k)];
    }
    EXPECT_NEAR(sum, 1.0, 1e-14);
    EXPECT_NEAR(mem_.p_marginal[n], marginal, 1e-14 * marginal);
    const BlockMemberships& b = mem_.blocks[0];
    EXPECT_NEAR(b.p_class_given_block[mem_.at(n, 0)] + b.p_class_given_block[mem_.at(n, 1)],
                1.0, 1e-14);
  }
  const ValueMemberships& v = mem_.values[0];
  EXPECT_NEAR(v.p_value[0] + v.p_value[1], 1.0, 1e-14);
  for (int c = 0; c < 2; ++c) EXPECT_NEAR(v.p_class_given_value[c * 2] + v.p_class_given_value[c * 2 + 1], 1.0, 1e-14);
  // P(k|x_j = a) = P(k) P(a|k) / P(a).
  EXPECT_DOUBLE_EQ(v.p_class_given_value[0], 3.0 / 8 * 0.8 / (3.0 / 8 * 0.8 + 5.0 / 8 * 0.2));
}

TEST_F(VbMembership, MissingValuesLeaveTheRestToDecide) {
  make_state(2);
  compute();
  // Entry 2 misses its whole block: P(k) and its discrete value alone.
  const double w0 = 3.0 / 8 * 0.8, w1 = 5.0 / 8 * 0.2;
  EXPECT_NEAR(mem_.p_case[mem_.at(2, 0)], w0 / (w0 + w1), 1e-14);
  EXPECT_NEAR(mem_.p_component[mem_.at(2, 1)], 0.2, 1e-15);
  EXPECT_NEAR(mem_.p_marginal[2], w0 + w1, 1e-15);
  const BlockMemberships& b = mem_.blocks[0];
  EXPECT_EQ(b.p_block_given_class[mem_.at(2, 0)], 1.0);
  EXPECT_NEAR(b.p_class_given_block[mem_.at(2, 1)], 5.0 / 8, 1e-15);
  // Entry 6 misses its discrete value: the block alone.
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(std::log(mem_.p_component[mem_.at(6, k)]),
                direct_t({1.5, 1.5}, mean(k), scale(k), dof(k)), 1e-12);
    EXPECT_NEAR(mem_.p_case[mem_.at(6, k)], b.p_class_given_block[mem_.at(6, k)], 1e-14);
  }
}

TEST_F(VbMembership, OneClassHoldsEveryCase) {
  make_state(1);
  compute();
  for (int n = 0; n < mem_.n_entries; ++n) {
    EXPECT_EQ(mem_.p_case[n], 1.0);
    EXPECT_NEAR(mem_.p_component[n], mem_.p_marginal[n], 1e-15 * mem_.p_marginal[n]);
    EXPECT_EQ(mem_.blocks[0].p_class_given_block[n], 1.0);
  }
  EXPECT_EQ(mem_.values[0].p_class_given_value[0], 1.0);
}

// The post-analysis holds only the arrays it reads, and a lone block reads
// the case's: every value the same bits as the full, unshared computation.
TEST_F(VbMembership, LeanAndSharedArraysHoldTheFullComputationsBits) {
  make_state(2);
  const Memberships full = memberships_of(ctx(), st_, {});
  const Memberships lean = memberships_of(ctx(), st_, analysis_needs(data_.settings));
  EXPECT_FALSE(lean.blocks_share_case);  // a discrete attribute too
  EXPECT_TRUE(lean.p_component.empty());
  EXPECT_TRUE(lean.blocks[0].p_block_given_class.empty());
  EXPECT_EQ(lean.p_case, full.p_case);
  EXPECT_EQ(lean.class_given_block(0), full.blocks[0].p_class_given_block);

  VbData block_only{"1.0,2.0,yes\n0.5,?,no\n?,?,yes\n3.0,1.0,no\n2.0,2.5,yes\n2.5,0.5,no\n", 3,
                    {"0,1"}, [](Settings& s) {
                      with_answer(s);
                      s.eval_attr = 2;
                      s.mem_prob = true;
                    }};
  VbState st;
  set_state(*block_only.ctx, 2, st);
  const Memberships unshared = memberships_of(*block_only.ctx, st, {});
  const Memberships shared = memberships_of(*block_only.ctx, st, analysis_needs(block_only.settings));
  ASSERT_TRUE(shared.blocks_share_case);
  EXPECT_TRUE(shared.blocks[0].p_class_given_block.empty());
  EXPECT_EQ(shared.p_case, unshared.p_case);
  EXPECT_EQ(shared.class_given_block(0), unshared.blocks[0].p_class_given_block);
  EXPECT_EQ(shared.block_given_class(0), unshared.blocks[0].p_block_given_class);
  EXPECT_EQ(shared.block_marginal(0), unshared.blocks[0].p_block);
  const Settings& s = block_only.settings;
  const Clustering c = compute_clusters(AnalysisInput{s, block_only.model, block_only.cases, shared});
  const Clustering u = compute_clusters(AnalysisInput{s, block_only.model, block_only.cases, unshared});
  EXPECT_EQ(c.block(0).cluster, u.blocks[0].cluster);
  EXPECT_EQ(c.block(0).members, u.blocks[0].members);
  free_vb_state(st);
}

// Reads a data matrix's rows from a file written by the section writer.
std::vector<std::vector<std::string>> rows_of(const std::string& text, const std::string& id) {
  std::vector<std::vector<std::string>> rows;
  size_t at = text.find("#### ID:" + id + "\r\n");
  if (at == std::string::npos) return rows;
  at = text.find("####\r\n", at) + 6;
  while (at < text.size() && text.compare(at, 4, "####") != 0) {
    size_t end = text.find("\r\n", at);
    std::vector<std::string> fields;
    size_t start = at;
    for (size_t comma; (comma = text.find(',', start)) < end; start = comma + 1) {
      fields.push_back(text.substr(start, comma - start));
    }
    fields.push_back(text.substr(start, end - start));
    rows.push_back(fields);
    at = end + 2;
  }
  return rows;
}

TEST_F(VbMembership, PredictiveDistributionsKeepTheTauAndAlphaOfTheHyperparameterFile) {
  set_conv_precision(6, 12);
  make_state(2);
  data_.settings.mem_prob = true;
  data_.settings.predict = true;
  const std::vector<double> n_k_retained = st_.n_k;
  {
    FILE* f = fopen(data_.settings.files.hparam.c_str(), "wb");
    print_hparams(f, ctx(), st_);
    fclose(f);
  }
  const VbPredictiveScalars scalars = retained_scalars(st_);
  auto res = run_capturing([&] { run_post_analysis(ctx(), st_, scalars); });
  ASSERT_FALSE(res.exited) << res.log << res.msg;
  EXPECT_EQ(res.msg,
            "Computing membership distributions...done\r\n"
            "Computing predictive distributions...done\r\n"
            "Clustering cases...done\r\n"
            "Evaluating clusters...done\r\n");
  // The statistics pass moved N_k, so the test tells the two apart.
  EXPECT_GT(std::fabs(st_.n_k[0] - n_k_retained[0]), 0.1);
  EXPECT_TRUE(st_.resp.empty() && st_.log_rho.empty());  // released before the memberships

  const std::string hparam = read_file(data_.settings.files.hparam);
  const std::string predict = read_file(data_.settings.files.predict);
  const auto tau = rows_of(hparam, "HPARAM-GAUSS-TAU");
  const auto alpha = rows_of(hparam, "HPARAM-GAUSS-ALPHA0");
  const auto dof = rows_of(predict, "PREDICT-GAUSS-DOF0");
  const auto covar = rows_of(predict, "PREDICT-GAUSS-COVAR0");
  const auto sigma = rows_of(hparam, "HPARAM-GAUSS-COVAR0");
  ASSERT_EQ(dof.size(), 2u);
  ASSERT_EQ(covar.size(), 6u);
  for (int k = 0; k < 2; ++k) {
    const double t = std::atof(tau[k][1].c_str());
    const double a = std::atof(alpha[k][2].c_str());
    const double f = a + 1 - 2;
    EXPECT_NEAR(std::atof(dof[k][2].c_str()), f, 1e-9);
    for (int e = 0; e < 3; ++e) {
      const double s = std::atof(sigma[k * 3 + e][6].c_str());
      EXPECT_NEAR(std::atof(covar[k * 3 + e][6].c_str()), s * (t + 1) / (t * f), 1e-9);
    }
  }
  EXPECT_EQ(predict.substr(0, predict.find("#### ID:PREDICT-GAUSS-COVAR0")),
            "#### ID:PREDICT-CLASS\r\n"
            "#### Class k, Class predictive prob. P(k)\r\n"
            "####\r\n"
            "0,0.375\r\n"
            "1,0.625\r\n"
            "#### ID:PREDICT-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, "
            "Attr. predictive prob. P(x0|k)\r\n"
            "####\r\n"
            "0,X0,0,a,0.8\r\n"
            "0,X0,0,b,0.2\r\n"
            "0,X0,1,a,0.2\r\n"
            "0,X0,1,b,0.8\r\n"
            "#### ID:PREDICT-GAUSS-MEAN0\r\n"
            "#### Gauss ID, Class k, Attr. ID, Attr. name, Mean\r\n"
            "####\r\n"
            "0,0,1,X1,1\r\n"
            "0,0,2,X2,2\r\n"
            "0,1,1,X1,3\r\n"
            "0,1,2,X2,1\r\n");
  EXPECT_NE(predict.find("#### ID:PREDICT-GAUSS-COVAR0\r\n"
                         "#### Gauss ID, Class k, Attr. ID, Attr. ID, Attr. name, Attr. name, "
                         "(Co)Variance\r\n####\r\n0,0,1,1,X1,X1,"),
            std::string::npos);
  EXPECT_NE(predict.find("#### ID:PREDICT-GAUSS-DOF0\r\n"
                         "#### Gauss ID, Class k, Degrees of freedom\r\n####\r\n0,0,"),
            std::string::npos);
  EXPECT_NE(read_file(data_.settings.files.memp).find("#### ID:MEMBER-CASE\r\n"),
            std::string::npos);
}

TEST_F(VbMembership, ModelReadFromAFileUsesItsStoredScalars) {
  make_state(2);
  data_.settings.mem_prob = true;
  data_.settings.predict = true;  // no predictive file in this branch
  VbPredictiveScalars stored{{4.0, 6.0}, {5.0, 7.0}};
  auto res = run_capturing([&] { run_read_hparam_analysis(ctx(), st_, stored); });
  ASSERT_FALSE(res.exited) << res.log << res.msg;
  EXPECT_EQ(res.msg,
            "Computing the membership distributions...done\r\n"
            "Clustering cases...done\r\n"
            "Evaluating clusters...done\r\n");
  EXPECT_EQ(read_file(data_.settings.files.predict), "");
  EXPECT_NE(read_file(data_.settings.files.memp), "");
  // The memberships are those of the stored Tau and Alpha.
  compute_predictive(ctx(), st_, stored, pred_, mem_);
  EXPECT_EQ(pred_.dof[1], 6.0);
  const Matrix& s = *pred_.scale[1];
  EXPECT_DOUBLE_EQ(s[0][1], -0.5 * 7.0 / (6.0 * 6.0));
}

TEST_F(VbMembership, NonPositiveDegreesOfFreedomAreANumericalError) {
  make_state(2);
  VbPredictiveScalars bad{{4.0, 6.0}, {0.5, 7.0}};  // f = 0.5 + 1 - 2
  auto res = run_capturing([&] { compute_predictive(ctx(), st_, bad, pred_, mem_); });
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.msg,
            "Numerical error (compute_predictive): Tau and the degrees of freedom of the "
            "predictive distribution must be positive\n");
}

TEST_F(VbMembership, OutputFilesThatCannotBeCreated) {
  make_state(2);
  data_.settings.predict = true;
  data_.settings.files.predict = data_.dir.file("missing/d_predict.csv");
  auto res = run_capturing([&] { run_post_analysis(ctx(), st_, retained_scalars(st_)); });
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Computing predictive distributions...Couldn't open " +
                         data_.settings.files.predict + "\n");
}

}  // namespace
}  // namespace veska

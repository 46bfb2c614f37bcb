#include "vb/vb_membership.h"

#include <cmath>
#include <string>

#include "analysis/output_file.h"
#include "analysis/post_analysis.h"
#include "analysis/print_membership.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "common/students_t.h"
#include "output/print_value_table.h"
#include "output/section_writer.h"
#include "output/value_text.h"
#include "vb/print_vb.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// ln sum_k exp(l_k), shifted by the first largest term.
double log_sum_exp(const std::vector<double>& l) {
  size_t best = 0;
  for (size_t k = 1; k < l.size(); ++k) {
    if (l[k] > l[best]) best = k;
  }
  const double m = l[best];
  double sum = 0.0;
  for (double v : l) sum += std::exp(v - m);
  return std::log(sum) + m;
}

// ln P(v|k) per discrete attribute, k * n_values + v.
std::vector<std::vector<double>> log_value_probs(const Memberships& mem) {
  std::vector<std::vector<double>> logs;
  for (const ValueMemberships& v : mem.values) {
    std::vector<double> l(v.p_value_given_class.size());
    for (size_t i = 0; i < l.size(); ++i) l[i] = std::log(v.p_value_given_class[i]);
    logs.push_back(std::move(l));
  }
  return logs;
}

void print_predictive_means(FILE* file, const AttrModel& model, const VbPredictive& pred, int K,
                            int g) {
  print_block_means(file, "PREDICT-GAUSS-MEAN%d", model, g, K, false, [&](int k, int a) {
    return (*pred.location[static_cast<size_t>(k) * pred.n_groups + g])[a];
  });
}

void print_predictive_scales(FILE* file, const AttrModel& model, const VbPredictive& pred, int K,
                             int g) {
  print_block_covariances(file, "PREDICT-GAUSS-COVAR%d", model, g, K, false, [&](int k, int a, int b) {
    return (*pred.scale[static_cast<size_t>(k) * pred.n_groups + g])[a][b];
  });
}

void print_predictive_dof(FILE* file, const VbPredictive& pred, int K, int g) {
  set_matrix_id("PREDICT-GAUSS-DOF%d", g);
  add_column_name("Gauss ID");
  add_column_name("Class k");
  add_column_name("Degrees of freedom");
  print_header(file);
  for (int k = 0; k < K; ++k) {
    print_row(file, "%d,%d,%.Ng", g, k, pred.dof[static_cast<size_t>(k) * pred.n_groups + g]);
  }
}

}  // namespace

VbPredictiveScalars retained_scalars(const VbState& st) {
  VbPredictiveScalars s;
  for (int k = 0; k < st.K; ++k) {
    // The same sums the hyperparameter file shows, so the same doubles.
    s.tau.push_back(st.n_k[static_cast<size_t>(k)] + st.tau0);
    for (int b = 0; b < st.n_groups; ++b) {
      s.alpha.push_back(st.n_k[static_cast<size_t>(k)] + st.alpha0[static_cast<size_t>(b)]);
    }
  }
  return s;
}

void free_predictive(VbPredictive& pred) {
  for (size_t i = pred.scale.size(); i-- > 0;) {
    if (i < pred.prepared.size()) free_students_t(pred.prepared[i]);
    free_matrix(pred.scale[i]);
    free_vector(pred.location[i]);
  }
  pred = VbPredictive{};
}

void compute_predictive(const VbContext& ctx, const VbState& st,
                        const VbPredictiveScalars& scalars, VbPredictive& pred, Memberships& mem) {
  const int K = st.K;
  if (mem.K != K || static_cast<int>(scalars.tau.size()) != K ||
      scalars.alpha.size() != static_cast<size_t>(K) * st.n_groups) {
    die("Internal error: compute_predictive() -- sizes of the model do not match\n");
  }
  double total = 0.0;
  for (int k = 0; k < K; ++k) total += st.delta[static_cast<size_t>(k)];
  for (int k = 0; k < K; ++k) mem.p_class[static_cast<size_t>(k)] = st.delta[k] / total;

  for (int j = 0; j < st.n_discrete; ++j) {
    ValueMemberships& v = mem.values[static_cast<size_t>(j)];
    for (int k = 0; k < K; ++k) {
      double sum = 0.0;
      for (int c = 0; c < v.n_values; ++c) sum += st.delta_cat[st.cat_index(k, j, c)];
      for (int c = 0; c < v.n_values; ++c) {
        v.p_value_given_class[static_cast<size_t>(k) * v.n_values + c] =
            st.delta_cat[st.cat_index(k, j, c)] / sum;
      }
    }
  }

  free_predictive(pred);
  pred.n_groups = st.n_groups;
  for (int k = 0; k < K; ++k) {
    const double t = scalars.tau[static_cast<size_t>(k)];
    for (int b = 0; b < st.n_groups; ++b) {
      const int d = st.dims[static_cast<size_t>(b)];
      const double f = scalars.alpha[static_cast<size_t>(k) * st.n_groups + b] + 1.0 - d;
      if (!(t > 0.0) || !(f > 0.0)) {
        raise_numerical_error("compute_predictive",
                              "Tau and the degrees of freedom of the predictive distribution must "
                              "be positive\n");
      }
      pred.location.push_back(dup_vector(st.block(k, b).mu));
      Matrix* s = dup_matrix(st.block(k, b).sigma);
      scale_matrix(s, (t + 1.0) / (t * f));
      pred.scale.push_back(s);
      pred.dof.push_back(f);
      pred.prepared.push_back(prepare_students_t(pred.location.back(), s, f));
    }
  }
  if (ctx.settings.verbose) print_class_parameters(log_stream(), ctx.model, mem);
}

double student_t_log_density_block(const VbPredictive& pred, int k, int b,
                                   const CaseEntry& entry) {
  const size_t i = static_cast<size_t>(k) * pred.n_groups + b;
  const Matrix* scale = pred.scale[i];
  const int missing = entry.gauss_n_missing()[static_cast<size_t>(b)];
  const Vector* mu = pred.location[i];
  if (missing == 0) return lstudents_t(pred.prepared[i], entry.values(b).data());
  if (missing < scale->rows) {
    return lstudents_t_marginal(entry.value_vector(b), mu, scale, pred.dof[i],
                                entry.gauss_observed(b).data());
  }
  return 0.0;
}

void compute_membership(const VbContext& ctx, const VbPredictive& pred, Memberships& mem) {
  const int K = mem.K;
  const int n_groups = ctx.model.n_groups;
  const std::vector<std::vector<double>> log_values = log_value_probs(mem);
  std::vector<double> l(static_cast<size_t>(K));
  for (int n = 0; n < mem.n_entries; ++n) {
    const CaseEntry& entry = ctx.cases.entries[static_cast<size_t>(n)];
    const auto codes = entry.codes();
    const auto missing = entry.disc_missing();
    for (int k = 0; k < K; ++k) {
      // ln P(x|k): the discrete values present, then every block.
      double component = 0.0;
      for (size_t j = 0; j < log_values.size(); ++j) {
        if (missing[j] != 0) continue;
        component += log_values[j][static_cast<size_t>(k) * mem.values[j].n_values + codes[j]];
      }
      for (int b = 0; b < n_groups; ++b) {
        component += student_t_log_density_block(pred, k, b, entry);
      }
      if (mem.with_densities) mem.p_component[mem.at(n, k)] = std::exp(component);
      l[static_cast<size_t>(k)] = std::log(mem.p_class[static_cast<size_t>(k)]) + component;
    }
    const double marginal = log_sum_exp(l);
    for (int k = 0; k < K; ++k) mem.p_case[mem.at(n, k)] = std::exp(l[static_cast<size_t>(k)] - marginal);
    if (mem.with_densities) mem.p_marginal[static_cast<size_t>(n)] = std::exp(marginal);
  }
  if (ctx.settings.verbose) {
    print_member_case(log_stream(), AnalysisInput{ctx.settings, ctx.model, ctx.cases, mem});
  }
}

void compute_attr_membership(const VbContext& ctx, const VbPredictive& pred, Memberships& mem) {
  const int K = mem.K;
  for (ValueMemberships& v : mem.values) {
    for (int c = 0; c < v.n_values; ++c) {
      double marginal = 0.0;
      for (int k = 0; k < K; ++k) {
        marginal += mem.p_class[static_cast<size_t>(k)] *
                    v.p_value_given_class[static_cast<size_t>(k) * v.n_values + c];
      }
      v.p_value[static_cast<size_t>(c)] = marginal;
      for (int k = 0; k < K; ++k) {
        v.p_class_given_value[static_cast<size_t>(c) * K + k] =
            mem.p_class[static_cast<size_t>(k)] *
            v.p_value_given_class[static_cast<size_t>(k) * v.n_values + c] / marginal;
      }
    }
  }

  // A shared block's values are those compute_membership wrote: with no
  // discrete term its component is the block's density alone.
  const int n_groups = mem.blocks_share_case ? 0 : ctx.model.n_groups;
  std::vector<double> l(static_cast<size_t>(K));
  for (int b = 0; b < n_groups; ++b) {
    BlockMemberships& blk = mem.blocks[static_cast<size_t>(b)];
    for (int n = 0; n < mem.n_entries; ++n) {
      const CaseEntry& entry = ctx.cases.entries[static_cast<size_t>(n)];
      for (int k = 0; k < K; ++k) {
        const double density = student_t_log_density_block(pred, k, b, entry);
        if (mem.with_densities) blk.p_block_given_class[mem.at(n, k)] = std::exp(density);
        l[static_cast<size_t>(k)] = std::log(mem.p_class[static_cast<size_t>(k)]) + density;
      }
      const double marginal = log_sum_exp(l);
      for (int k = 0; k < K; ++k) {
        blk.p_class_given_block[mem.at(n, k)] = std::exp(l[static_cast<size_t>(k)] - marginal);
      }
      if (mem.with_densities) blk.p_block[static_cast<size_t>(n)] = std::exp(marginal);
    }
  }
  if (ctx.settings.verbose) {
    print_member_attributes(log_stream(), AnalysisInput{ctx.settings, ctx.model, ctx.cases, mem});
  }
}

void print_predictive(FILE* file, const AttrModel& model, const VbPredictive& pred,
                      const Memberships& mem) {
  print_class_probs(file, "PREDICT-CLASS", "Class predictive prob. P(k)", mem.p_class);
  for (int pos = 0; pos < model.n_discrete; ++pos) {
    print_value_probs(file, "PREDICT-CAT%d", "Attr. predictive prob. P(x%d|k)", model, pos,
                      mem.values[static_cast<size_t>(pos)], mem.K);
  }
  for (int g = 0; g < model.n_groups; ++g) {
    print_predictive_means(file, model, pred, mem.K, g);
    print_predictive_scales(file, model, pred, mem.K, g);
  }
  for (int g = 0; g < model.n_groups; ++g) print_predictive_dof(file, pred, mem.K, g);
  fflush(file);
}

void run_post_analysis(const VbContext& ctx, VbState& st, const VbPredictiveScalars& scalars) {
  const Settings& s = ctx.settings;
  if (s.mem_prob) msg_printf("Computing membership distributions...");

  // One E-step and statistics pass at inverse temperature 1, so that the
  // responsibilities and N_k belong to the retained hyperparameters. The
  // predictive distributions keep the Tau and Alpha of the written model.
  st.beta = 1.0;
  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
  compute_responsibilities(ctx, st);
  compute_sufficient_stats(ctx, st);
  // The per-entry arrays of the fit have served: the memberships take their place.
  release_entry_arrays(st);

  Memberships mem = allocate_memberships(ctx.model, ctx.cases.n_entries, st.K, analysis_needs(s));
  VbPredictive pred;
  compute_predictive(ctx, st, scalars, pred, mem);
  compute_membership(ctx, pred, mem);
  compute_attr_membership(ctx, pred, mem);
  PostAnalysisSteps steps;
  steps.done_after_membership_file = s.mem_prob;  // the line begun above
  if (s.predict) {
    steps.between = [&] {
      msg_printf("Computing predictive distributions...");
      {
        OutputFile file(s.files.predict);
        print_predictive(file.get(), ctx.model, pred, mem);
      }
      msg_printf("done\n");
    };
  }
  analyse_memberships(AnalysisInput{s, ctx.model, ctx.cases, mem}, steps);
  free_predictive(pred);
}

void run_read_hparam_analysis(const VbContext& ctx, const VbState& st,
                              const VbPredictiveScalars& scalars) {
  const Settings& s = ctx.settings;
  Memberships mem = allocate_memberships(ctx.model, ctx.cases.n_entries, st.K, analysis_needs(s));
  VbPredictive pred;
  compute_predictive(ctx, st, scalars, pred, mem);
  msg_printf("Computing the membership distributions...");
  compute_membership(ctx, pred, mem);
  compute_attr_membership(ctx, pred, mem);
  msg_printf("done\n");
  analyse_memberships(AnalysisInput{s, ctx.model, ctx.cases, mem});
  free_predictive(pred);
}

}  // namespace veska

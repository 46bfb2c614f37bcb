// For the post-analysis tests: a case table read from text, settings whose
// output files lie in a fresh directory, and memberships set by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/memberships.h"
#include "common/misc.h"
#include "data/test_model.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"

namespace veska::testing {

// Everything written to a temporary stream so far.
inline std::string read_stream(FILE* f) {
  fflush(f);
  rewind(f);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

class AnalysisFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 6);
    set_output_delimiter(',');
    section_writer_init();
    s_.cluster_criterion = "MEMBERSHIP_DIST";
    s_.rank_measure = "MEMBERSHIP_DIST";
    s_.files.memp = dir_.file("d_memp.csv");
    s_.files.cluster = dir_.file("d_cluster.csv");
    s_.files.rank = dir_.file("d_rank.csv");
    s_.files.eval = dir_.file("d_eval.csv");
    s_.files.predict = dir_.file("d_predict.csv");
  }
  void TearDown() override { set_conv_precision(6, 12); }

  // Reads `text` as the case file of a model with roles `r`, with the
  // settings the options would give those roles.
  void read(const std::string& text, const Roles& r) {
    s_.files.cases = dir_.file("d_freq.csv");
    write_file(s_.files.cases, text);
    s_.input_format = s_.output_format = Format::kCsv;
    s_.n_attr = r.n_attr;
    s_.id_given = r.id_attr >= 0, s_.id_attr = r.id_attr;
    s_.eval_given = r.eval_attr >= 0, s_.eval_attr = r.eval_attr;
    model_ = make_model(r);
    s_.groups = model_.groups;
    auto res = run_capturing([&] { cases_ = read_cases(s_, model_); });
    ASSERT_FALSE(res.exited) << res.log;
    mem_ = allocate_memberships(model_, cases_.n_entries, K_);
  }

  // Memberships of K classes (K_ before read) with P(k|x) rows given per entry.
  void set_case_probs(const std::vector<std::vector<double>>& rows) {
    ASSERT_EQ(static_cast<int>(rows.size()), mem_.n_entries);
    for (int n = 0; n < mem_.n_entries; ++n) {
      for (int k = 0; k < mem_.K; ++k) mem_.p_case[mem_.at(n, k)] = rows[n][k];
    }
  }

  // A discrete attribute, a one-attribute block with a missing value and the
  // answer class; two classes with their memberships set.
  void read_two_classes() {
    read("a,1.5,yes\n"
         "b,?,no\n"
         "a,2.5,no\n",
         Roles(3).eval(2).group({1}));
    mem_.p_class = {0.3, 0.7};
    set_case_probs({{0.8, 0.2}, {0.1, 0.9}, {0.5, 0.5}});
    mem_.values[0].p_class_given_value = {0.6, 0.4, 0.2, 0.8};  // a, b
    mem_.blocks[0].p_class_given_block = {0.7, 0.3, 0.3, 0.7, 0.55, 0.45};
  }

  AnalysisInput input() const { return AnalysisInput{s_, model_, cases_, mem_}; }
  std::string file(const std::string& path) const { return read_file(path); }

  TempDir dir_;
  Settings s_;
  AttrModel model_;
  CaseTable cases_;
  int K_ = 2;
  Memberships mem_;
};

}  // namespace veska::testing

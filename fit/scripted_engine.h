// A fake engine for the driver's tests: every evaluation returns the next
// value of a script, and the "model" is the number of the random start it
// came from, so a test can see which run the driver kept.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/misc.h"
#include "fit/fit_engine.h"

namespace veska::testing {

// Thrown by report_decrease, so a test sees what the driver handed over.
struct Decreased {
  FitDecrease d;
};

class ScriptedEngine : public FitEngine {
 public:
  FitRules rules_value;
  FitTexts texts_value{"F", "  <<Resumed #%d>>\n", "Score", "|Classes| = %d:\n",
                       "\n(part) (iter:%d) fell (curr: %.Nf / last: %.Nf / diff: %.Nf)\n", "oom\n"};

  std::deque<double> script;      // objectives, in evaluation order
  std::set<int> refused_updates;  // update numbers (from 1) that end their stage
  std::map<int, double> scores;   // per K
  std::vector<double> probs;         // class probabilities (after a run)
  std::vector<double> probs_before;  // when set, those before an operation

  // What the driver did.
  std::vector<double> betas_seen;  // per evaluation
  int updates = 0;
  int model = -1;  // random start that produced the current model
  int starts = 0;
  std::vector<int> groups;                        // what start_groups gives
  std::vector<std::vector<int>> partition_starts;  // the groups of each partition start
  int K = 0;
  std::vector<int> prepared;
  std::vector<std::string> calls;  // save/restore/drop/write_* in order
  std::vector<double> written_history;
  ClassRangeFit range;
  int candidates = 0;  // partial runs started
  std::vector<SmemOperation> ops;

  const FitRules& rules() const override { return rules_value; }
  const FitTexts& texts() const override { return texts_value; }

  void prepare(int k) override {
    K = k;
    prepared.push_back(k);
  }
  void release() override { calls.push_back("release"); }
  int classes() const override { return K; }
  bool announce_start = false;  // random_start writes "{start}"
  void random_start() override {
    if (announce_start) msg_printf("{start}");
    model = starts++;
  }
  // With groups set, every start is a partition start with them.
  std::vector<int> start_groups() override { return groups; }
  void partition_start(std::span<const int> g) override {
    partition_starts.push_back(std::vector<int>(g.begin(), g.end()));
    model = starts++;
  }
  bool update(double, int, double) override { return refused_updates.count(++updates) == 0; }
  FitObjective evaluate(double beta) override {
    betas_seen.push_back(beta);
    return {next(), 0.0, 0.0};
  }
  double score() override { return scores.count(K) ? scores[K] : 0.0; }

  void save(FitSlot slot) override {
    saved_[slot] = {model, K};
    calls.push_back("save " + name(slot) + " " + std::to_string(model));
  }
  void restore(FitSlot slot) override {
    model = saved_.at(slot).first;
    K = saved_.at(slot).second;
    calls.push_back("restore " + name(slot) + " " + std::to_string(model));
  }
  void drop(FitSlot slot) override { saved_.erase(slot); }

  void report_decrease(const FitDecrease& d) override { throw Decreased{d}; }
  void write_history(const FitHistory& h, int t) override {
    written_history.assign(h.objective.begin(), h.objective.begin() + t + 1);
  }
  void write_range(const ClassRangeFit& r) override { range = r; }
  void write_model() override { calls.push_back("write_model"); }
  void run_post_analysis() override { calls.push_back("post_analysis"); }

  SmemCriteria smem_criteria() override {
    SmemCriteria c;
    c.jmerge.assign(static_cast<size_t>(K) * K, 0.0);
    c.jsplit.assign(static_cast<size_t>(K), 0.0);
    c.class_probs = probs_before.empty() ? probs : probs_before;
    return c;
  }
  std::vector<double> class_probs() override { return probs; }
  FitObjective partial_start(const SmemCandidate&) override {
    ++candidates;
    betas_seen.push_back(1.0);
    return {next(), 0.0, 0.0};
  }
  bool partial_update(const SmemCandidate&, int, double) override { return true; }
  FitObjective partial_evaluate(const SmemCandidate&) override {
    betas_seen.push_back(1.0);
    return {next(), 0.0, 0.0};
  }
  void write_smem(int, const std::vector<SmemOperation>& o) override { ops = o; }

 private:
  static std::string name(FitSlot s) {
    switch (s) {
      case FitSlot::kBestRestart: return "best";
      case FitSlot::kOptimalK: return "opt";
      case FitSlot::kBeforeCandidate: return "before";
    }
    return "?";
  }
  double next() {
    if (script.empty()) throw std::runtime_error("script exhausted");
    const double v = script.front();
    script.pop_front();
    return v;
  }
  std::map<FitSlot, std::pair<int, int>> saved_;
};

}  // namespace veska::testing

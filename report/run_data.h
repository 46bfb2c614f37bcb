// What the report shows of one run, read from the files the run left under
// one prefix. Every number here is taken from (or computed straight from) a
// data matrix, so the tests can hold each plot against its file.
#pragma once

#include <string>
#include <vector>

namespace veska {

struct KeyValue {
  std::string key;
  std::string value;
};

// The attribute roles of the run.
struct AttrLayout {
  int n_attr = 0;
  int id_attr = -1;
  int answer_attr = -1;
  std::vector<int> ignored;
  std::vector<int> discrete;
  std::vector<std::vector<int>> blocks;  // attribute indices of each Gauss block

  // The attributes whose values the case rows carry, in index order.
  std::vector<int> shown() const;
};

// One score against K; classes whose score was not computed are left out.
struct ScoreSeries {
  std::string name;
  std::vector<int> k;
  std::vector<double> value;
};

// The objective per update of the run kept for the chosen K. With
// split-and-merge the operations follow one another on one axis.
struct LearningCurve {
  std::string objective;       // column name of the objective
  std::vector<double> value;   // one per recorded update, in file order
  std::vector<int> update;     // the update number as written
  std::vector<double> beta;    // inverse temperature per update (annealing only)
  std::vector<int> operation;  // split-and-merge operation per update (else empty)
};

struct Restart {
  int restart = 0;
  std::string seed;  // "N/A" when the seed was given
  int updates = 0;
  double objective = 0.0;
};

// Value probabilities of one discrete attribute: prob[k][v].
struct DiscreteTable {
  int attr = 0;
  std::string name;
  std::vector<std::string> values;
  std::vector<std::vector<double>> prob;
};

// Class means and one standard deviation per dimension: mean[k][d].
struct GaussBlock {
  int g = 0;
  std::vector<int> attrs;
  std::vector<std::string> names;
  std::vector<std::vector<double>> mean;
  std::vector<std::vector<double>> sd;
};

// A deterministic sample of the cases of one block, coloured by cluster.
struct Scatter {
  int g = 0;
  std::string x_label;
  std::string y_label;
  bool projected = false;  // principal axes rather than the first two dimensions
  std::vector<double> x;
  std::vector<double> y;
  std::vector<int> cluster;
  long entries = 0;      // case rows of the cluster file
  long incomplete = 0;   // rows left out for a missing value in the block
  long unreadable = 0;   // rows whose field count does not fit (a comma in a value)
};

struct Evaluation {
  std::vector<std::string> answers;
  std::vector<std::vector<long>> counts;  // counts[cluster][answer class]
  std::vector<KeyValue> measures;         // every measure, file order
  double purity = 0.0;
  double adjusted_rand = 0.0;
  double nmi = 0.0;
};

struct RankedValue {
  std::string attr;
  std::string value;
  double prob = 0.0;  // P(k|x_j = v)
};

struct ClassRanking {
  int k = 0;
  double class_prob = 0.0;
  std::vector<RankedValue> values;  // highest membership probability first
};

struct RunData {
  std::string base;
  std::string program;  // "rumelvb" or "rumel"
  std::vector<KeyValue> settings;
  std::string case_file;  // as the log names it
  AttrLayout layout;
  bool fitted = false;  // estimated here rather than read from a model file
  bool daem = false;
  int chosen_k = 0;

  std::vector<ScoreSeries> scores;
  std::string criterion;  // rumel's selected criterion
  LearningCurve curve;
  std::vector<Restart> restarts;

  std::vector<long> cluster_sizes;

  std::string model_file;  // hyperparameter or parameter file read
  std::vector<double> class_weights;
  std::vector<DiscreteTable> discrete;
  std::vector<GaussBlock> blocks;
  std::vector<Scatter> scatters;
  bool values_hidden = false;  // the cluster file carries no attribute values
  bool values_from_case_file = false;

  bool has_eval = false;
  Evaluation eval;
  std::vector<ClassRanking> ranking;
};

struct ReportSettings {
  std::string base;
  std::string output;         // default BASE_report.html
  long max_points = 2000;     // per scatter
  int max_values = 40;        // rows of one heat map
  int max_ranked = 8;         // values listed per class
};

}  // namespace veska

// The run's settings: every option value with its default. Filled by the
// option passes and validate_settings, read-only afterwards; handed to every
// stage as `const Settings&`.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace veska {

// Which clustering program is running: the two share options and checks but
// differ in a few defaults and rules.
enum class Program { kVb, kMlMap };

enum class Format { kNotGiven = -1, kCsv = 1, kTxt = 2 };

constexpr int kModeValue = 1;  // smoothing constant given as a number
constexpr int kModeAuto = 2;   // "auto": resolved per class count
constexpr double kAutoValue = -1.0;  // how "auto" is stored before resolution

constexpr int kSmoothVarSample = 1;
constexpr int kSmoothVarConst = 2;

constexpr int kScoreBic = 1;
constexpr int kScoreCs = 2;

constexpr int kInitRandom = 1;
constexpr int kInitNoisyUniform = 2;
constexpr int kInitValueFrequency = 3;

// How each restart finds its starting point: the engine's own random draws,
// or a k-means partition of the cases.
constexpr int kStartRandom = 1;
constexpr int kStartKmeans = 2;

constexpr int kMaxIterLimit = 10000;
// The most --n-sm accepts: the log lists every operation number.
constexpr int kMaxSmOperations = 10000;

// One Gaussian block: its specification text as given, then (after
// resolve_attributes) its attribute indices in increasing order.
struct GaussGroup {
  std::string spec;
  std::vector<int> attrs;
  int size() const { return static_cast<int>(attrs.size()); }
};

struct SmoothConst {
  double value = 1.0;
  int mode = kModeValue;
};

// Every file name of a run, derived from the target (and suffix).
struct FileNames {
  std::string cases;
  std::string param;
  std::string hparam;
  std::string memp;
  std::string log;
  std::string msg;
  std::string cluster;
  std::string rank;
  std::string eval;
  std::string predict;
  std::string names;
};

struct Settings {
  Program program = Program::kVb;

  std::string target;
  std::string suffix;
  bool suffix_given = false;
  int n_attr = 0;

  int n_class = 0;
  bool k_range_given = false;
  int k_min = -1, k_max = -1, k_step = -1;

  bool id_given = false;
  int id_attr = -1;
  bool eval_given = false;
  int eval_attr = -1;
  bool ignore_given = false;
  std::vector<int> ignored;  // per attribute, 0/1; sized n_attr on first --ignore
  bool gauss_given = false;
  std::vector<GaussGroup> groups;

  Format input_format = Format::kNotGiven;
  Format output_format = Format::kNotGiven;
  FileNames files;

  bool run_estimation = true;
  bool read_hparam = false;  // rumel: read hyperparameters as well as estimating

  double smooth_c = 1.0;  // rumel: 0.0
  int smooth_c_mode = kModeValue;
  std::vector<SmoothConst> smooth_a;  // as given; one per discrete attribute after validation
  bool auto_used = false;
  double smooth_mean = 0.0;
  bool smooth_mean_given = false;
  double smooth_var = 1.0;
  int smooth_var_mode = kSmoothVarSample;
  double tau = 0.0;
  int tau_mode = kModeValue;
  double alpha = 0.0;
  bool gauss_prior_used = false;  // rumel: tau > 0 or auto

  double epsilon = 0.001;
  int max_iter = 3000;
  unsigned int seed = static_cast<unsigned int>(time(nullptr));
  bool seed_given = false;
  int restarts = 1;
  int start = kStartRandom;
  // Threads of the estimation loops: --threads, else the CPUs the process
  // may use (the option passes set it; settings made without them keep 1).
  // The outputs are the same bytes for every count.
  int threads = 1;
  bool threads_given = false;
  int max_iter_restart = 0;
  double noise = 0.1;
  double noise_gauss = 0.1;
  double extreme_low = 0.05;
  double extreme_high = 0.95;

  bool rank_given = false;
  int rank_count = -1;
  bool rank_threshold_given = false;
  double rank_threshold = -1.0;

  double beta_init = 0.1;
  double beta_rate = 1.2;
  bool daem = false;

  int n_sm = 0;
  int n_cand = 0;
  int n_jsplit = 0;
  double min_c_param = 0.001;
  double min_new_c_param = 0.001;
  double min_sm_imp = -1.0;
  bool norm_jmerge = false;

  int prec_out = 12;
  int prec_msg = 6;
  double weight_purity = 1.0;
  double weight_wallance = 1.0;

  bool mem_prob = false;
  bool predict = false;
  bool uncompress = false;
  bool verbose = false;
  bool regular_stat = false;
  bool lex_order = true;
  bool hide_attr = false;
  bool hide_rank = false;
  bool show_attr_memp = false;
  bool show_attr_cluster = false;
  bool save_msg = false;

  int score = kScoreBic;
  int init_c = kInitNoisyUniform;
  int init_a = kInitNoisyUniform;
  bool log_scale = false;
  // rumel: names of the score and of the initialisations, for its output.
  std::string score_name = "BIC";
  std::string init_c_name;
  std::string init_a_name;

  // Names of the clustering criterion and of the ranking's relevance
  // measure; one kind each in this version.
  std::string cluster_criterion;
  std::string rank_measure;

  // Derived per class count by resolve_auto_smoothing.
  bool any_smoothing = false;
  bool all_smoothing = false;

  // Defaults that differ between the programs.
  static Settings defaults(Program program) {
    Settings s;
    s.program = program;
    if (program == Program::kMlMap) s.smooth_c = 0.0;
    return s;
  }
};

}  // namespace veska

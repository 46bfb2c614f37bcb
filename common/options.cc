#include "common/options.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/file_names.h"
#include "common/init.h"
#include "common/misc.h"
#include "common/workers.h"

namespace veska {

namespace {

constexpr char kNone = kNoShortLetter;

// rumelvb's table; rumel's is the same without --predict.
const OptionSpec kVbTable[] = {
    {kOptTarget, "target", 'f', 1},
    {kOptSuffix, "suffix", 's', 1},
    {kOptNClass, "n-class", 'k', 1},
    {kOptNAttr, "n-attr", 'x', 1},
    {kOptGauss, "gauss", 'u', 1},
    {kOptId, "id", 'I', 1},
    {kOptIgnore, "ignore", 'y', 1},
    {kOptEval, "eval", 'E', 1},
    {kOptInput, "input", kNone, 1},
    {kOptOutput, "output", 'j', 1},
    {kOptSmoothC, "smooth-c", 'c', 1},
    {kOptSmoothA, "smooth-a", 'w', 1},
    {kOptSmoothMean, "smooth-mean", 'K', 1},
    {kOptSmoothVar, "smooth-var", 'L', 1},
    {kOptTau, "tau", 'T', 1},
    {kOptAlpha, "alpha", 'O', 1},
    {kOptEpsilon, "epsilon", 'e', 1},
    {kOptMaxIter, "max-iter", 'm', 1},
    {kOptSeed, "seed", 'r', 1},
    {kOptRestart, "restart", 'n', 1},
    {kOptMaxIterRestart, "max-iter-restart", 'l', 1},
    {kOptNoise, "noise", kNone, 1},
    {kOptNoiseGauss, "noise-gauss", kNone, 1},
    {kOptExtreme, "extreme", kNone, 1},
    {kOptRank, "rank", 'z', 1},
    {kOptItemp, "itemp", 'B', 1},
    {kOptNSm, "n-sm", 'o', 1},
    {kOptNCand, "n-cand", 'a', 1},
    {kOptNJsplit, "n-jsplit", 'G', 1},
    {kOptMinCParam, "min-c-param", kNone, 1},
    {kOptMinNewCParam, "min-new-c-param", kNone, 1},
    {kOptMinSmImp, "min-sm-imp", kNone, 1},
    {kOptPrecOut, "prec-out", kNone, 1},
    {kOptPrecMsg, "prec-msg", kNone, 1},
    {kOptWeightPurity, "weight-purity", kNone, 1},
    {kOptWeightWallance, "weight-wallance", kNone, 1},
    {kOptReadHparam, "read-hparam", 'H', 0},
    {kOptReadParam, "read-param", 'R', 0},
    {kOptAutoclass, "autoclass", 'A', 0},
    {kOptScore, "score", 'g', 1},
    {kOptInitC, "init-c", kNone, 1},
    {kOptInitA, "init-a", kNone, 1},
    {kOptStart, "start", kNone, 1},
    {kOptThreads, "threads", kNone, 1},
    {kOptLogScale, "log-scale", 'J', 0},
    {kOptMemProb, "mem-prob", 'D', 0},
    {kOptPredict, "predict", 'P', 0},
    {kOptUncompress, "uncompress", kNone, 0},
    {kOptVerbose, "verbose", kNone, 0},
    {kOptDaem, "daem", 'b', 0},
    {kOptNormJmerge, "norm-jmerge", kNone, 0},
    {kOptRegularStat, "regular-stat", kNone, 0},
    {kOptOccOrder, "occ-order", kNone, 0},
    {kOptHideAttr, "hide-attr", 'V', 0},
    {kOptHideRank, "hide-rank", kNone, 0},
    {kOptShowAttrMemp, "show-attr-memp", kNone, 0},
    {kOptShowAttrCluster, "show-attr-cluster", kNone, 0},
    {kOptSaveMsg, "save-msg", 'S', 0},
    {kOptVersion, "version", 'v', 0},
    {kOptHelp, "help", 'h', 0},
    {kOptHelpall, "helpall", 'X', 0},
    {-1, nullptr, kNone, 0},
};

std::vector<OptionSpec> make_mlmap_table() {
  std::vector<OptionSpec> table;
  for (const OptionSpec& o : kVbTable) {
    if (o.id != kOptPredict) table.push_back(o);
  }
  return table;
}

// The usage texts, byte for byte; printing turns each line end into CR LF.
const char* const kVbShortUsage = R"USAGE([Usage] rumelvb -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iter (-m) Max num. of EM iterations     [Iterate EM until convergence]
 --restart  (-n) Number of restarts                              [No restart]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --rank     (-z) Number of attribute values highly relevant to a class,
                 or threshold for the relevance (Ranking enabled)
                                                           [Ranking disabled]
Flags with no argument:
 --read-hparam (-H) Disable VBEM and read hyperparameters from a file
 --mem-prob    (-D) Compute and output the membership distributions
 --predict     (-P) Compute and output the predictive distributions
 --save-msg    (-S) Output the terminal messages to the files  [To stderr]
 --version     (-v) Print the version number
 --help        (-h) Print brief descriptions on major flags
 --helpall     (-X) Print brief descriptions on all flags
)USAGE";

const char* const kVbFullUsage = R"USAGE([Usage] rumelvb -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --input    (-i) File extension of the input files
                 (csv:comma-separated, txt:tab-separated)       [Auto-detect]
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --smooth-c (-c) Initial hyperparemters for the class attribute
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-a (-w) Initial hyperparameters for discrete attributes
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-mean (-K) Initial hyperparameters for means
 --smooth-var  (-L) Initial hyperparameters for variances
                    (sample:<val>, const:<val>, or other short-forms)
                                                                 [sample:1.0]
 --tau      (-T) Tau in the Normal-Wishart priors
 --alpha    (-O) Alpha in the Normal-Wishart priors
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iterate (-m) Max num. of EM iterations  [Iterate EM until convergence]
 --seed     (-r) Random seed                       [Returned value of time()]
 --restart  (-n) Number of restarts                              [No restart]
 --max-iter-restart (-l)
                 Max num. of preliminary VBEM iterations in random restart
                                             [Iterate VBEM until convergence]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --threads       Number of threads in the estimation
                                      [Number of CPUs the process may run on]
 --noise         Noises in initialization of categorical hyperparams
 --noise-gauss   Noises in initialization of hyperparams of Gaussian means
 --extreme       Threshold for judging extreme values                  [0.05]
 --rank  (-z)    Number of attribute values highly relevant to a class,
                 or threshold for the relevance (Ranking is enabled)
                                                        [Ranking is disabled]
 --itemp (-B) Binit:Brate
                 where Binit is the initial value of the inverse temperature,
                 and Brate is the update rate of the inverse temperature
                                                                    [0.1:1.5]
 --n-sm     (-o) Max num. of split-merge operations (SMEM enabled)
                                                              [SMEM disabled]
 --n-cand   (-a) Max num. of SM candidates to be examined          [No limit]
 --n-jsplit (-G) Max num. of split candidates to be examined       [No limit]
 --min-c-param
              Lower limit of prob. of the class to be split/merged [No limit]
 --min-new-c-param
              Lower limit of prob. of the splited/merged class     [No limit]
 --min-sm-imp Lower limit of improvement by spilt-merge oparations
                                     [Threshold of convergence (given by -e)]
 --prec-out  Number of significant digits of
               a floating point number in the output files               [12]
 --prec-msg  Number of digits after the decimal point of
               a floating point number in the terminal messages           [6]
 Flags with no argument:
 --read-hparam    (-H) Disable VBEM and read hyperparameters from a file
 --mem-prob       (-D) Compute and output the membership distributions
 --predict        (-P) Compute and output the predictive distributions
 --uncompress          Uncompress the cases having the same attribute values
 --verbose             Output the temporarily computed results to log file
 --daem           (-b) Enable DAEM
 --norm-jmerge         Normalize Jmerge
 --regular-stat        Ignore extreme values in getting sample means/covars
 --occ-order           Print attvals in the appearance order     [Lex. order]
 --hide-attr      (-V) Hide attribute values in the output files
 --hide-rank           Hide irrevant attribute values in ranking
 --show-attr-memp      Show the membership probabilities for attributes
 --show-attr-cluster   Show the clusters of attribute values
 --save-msg       (-S) Output the terminal messages to the files  [To stderr]
 --version        (-v) Print the version number
 --help           (-h) Print brief descriptions on major flags
 --helpall        (-X) Print brief descriptions on all flags
)USAGE";

const char* const kMlMapShortUsage = R"USAGE([Usage] rumel -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --smooth-c (-c) Smoothing constant for class parameters
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-a (-w) Smoothing constants for attribute parameters
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --tau      (-T) Tau in the Normal-Wishart priors
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iter (-m) Max number of EM iterations      [Iterate until convergence]
 --score    (-g) Model score (bic:BIC, cs:Cheeseman-Stutz)              [BIC]
                 [NOTE] AUTOCLASS is available only when smoothing is enabled
 --restart  (-n) Number of restarts                              [No restart]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --rank     (-z) Number of attvals highly relevant to a class, or threshold
                 for the relevance (Ranking enabled)    [Ranking is disabled]
Flags with no argument:
 --read-param  (-R) Disable EM and read paramters from a file
 --read-hparam (-H) Read hyperparameters from a file
 --autoclass   (-A) Set hyperparameters similarly to AutoClass
 --mem-prob    (-D) Compute and output the membership distributions
 --log-scale   (-J) Enable log-scale computation in ML/MAP estimation
 --save-msg    (-S) Output the messages to the files [To stderr]
 --version     (-v) Print the version number
 --help        (-h) Print brief descriptions on major flags
 --helpall     (-X) Print brief descriptions on all flags
)USAGE";

const char* const kMlMapFullUsage = R"USAGE([Usage] rumel -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --input    (-i) File extension of the input files
                 (csv:comma-separated, txt:tab-separated)       [Auto-detect]
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --smooth-c (-c) Smoothing constant for class parameters
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-a (-w) Smoothing constants for attribute parameters
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --tau      (-T) Tau in the Normal-Wishart priors
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --alpha    (-O) Alpha in the Normal-Wishart priors
 --smooth-mean (-K) Smoothing constant for means
 --smooth-var  (-L) Smoothing constant for variances
                    (sample:<val>, const:<val>, or other short-forms)
                                                                 [sample:1.0]
 --init-c        Initialization method for class
                 (random:Random, noisy_u:Noisy-uniform)    [Noisy-uniform]
 --init-a        Initialization method for attributes
                 (random:Random, noisy_u:Noisy-uniform,
                  v_freq:Value-frequency)                     [Noisy-uniform]
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iter (-m) Max number of EM iterations   [Iterate EM until convergence]
 --score    (-g) Model score (bic:BIC, cs:Cheeseman-Stutz)              [BIC]
                 [NOTE] AUTOCLASS is available only with smoothing enabled
 --seed     (-r) Random seed                       [Returned value of time()]
 --restart  (-n) Number of restarts                              [No restart]
 --max-iter-restart (-l)
                 Max number of preliminary EM iterations in random restart
                                               [Iterate EM until convergence]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --threads       Number of threads in the estimation
                                      [Number of CPUs the process may run on]
 --noise         Noises in initialization of categorical parameters
 --noise-gauss   Noises in initialization of means of Gaussians
 --extreme       Threshold for judging extreme values                  [0.05]
 --rank  (-z)    Number of attribute values highly relevant to a class,
                 or threshold for the relevance (Ranking is enabled)
                                                           [Ranking disabled]
 --itemp (-B) Binit:Brate
                 where Binit is the initial value of the inverse temperature,
                 and Brate is the update rate of the inverse temperature
                                                                    [0.1:1.5]
 --n-sm     (-o) Max number of split-merge operations (SMEM enabled)
                                                              [SMEM disabled]
 --n-cand   (-a) Max number of SM candidates to be examined        [No limit]
 --n-jsplit (-G) Max number of split candidates to be examined
                 for each pair being merged                        [No limit]
 --min-c-param
              Lower limit of prob. of the class to be split/merged [No limit]
 --min-new-c-param
              Lower limit of prob. of the splited/merged class     [No limit]
 --min-sm-imp Lower limit of improvement by spilt-merge oparations
                                     [Threshold of convergence (given by -e)]
 --prec-out  Number of significant digits of
               a floating point number in the output files               [12]
 --prec-msg  Number of digits after the decimal point of
               a floating point number in the terminal messages           [6]
Flags with no argument:
 --read-param     (-R) Disable EM and read paramters from a file
 --read-hparam    (-H) Read hyperparameters from a file
 --autoclass      (-A) Set hyperparameters similarly to AutoClass
 --mem-prob       (-D) Compute and output the membership distributions
 --log-scale      (-J) Enable log-scale computation in ML/MAP estimation
 --uncompress          Uncompress the cases having the same attribute values
 --verbose             Output the temporarily computed results to log file
 --daem           (-b) Enable DAEM
 --norm-jmerge         Normalize Jmerge
 --regular-stat        Ignore extreme values in getting sample means/covars
 --occ-order           Print attvals in the appearance order     [Lex. order]
 --hide-attr      (-V) Hide attribute values in the output files
 --hide-rank           Hide irrevant attribute values in ranking
 --show-attr-memp      Show the membership probabilities for attributes
 --show-attr-cluster   Show the clusters of attribute values
 --save-msg       (-S) Output the terminal messages to the files  [To stderr]
 --version        (-v) Print the version number
 --help           (-h) Print brief descriptions on major flags
 --helpall        (-X) Print brief descriptions on all flags
)USAGE";

[[noreturn]] void die_scan_error_stderr() {
  die_stderr("Unknown/illegal option specification: %s (Use -h for usage)\n", option_current_word());
}

// Unreachable in practice: pass 1 has already met every malformed word.
[[noreturn]] void die_scan_error() {
  die("Unknown/illegal option specification: %s (Use -h for usage)\n", option_current_word());
}

// Status 0, but through fatal_exit like every other end of the process, so
// that a handler installed there sees it too.
[[noreturn]] void print_and_exit(const std::string& text) {
  fputs(conv_msg(text.c_str()), stdout);
  fflush(stdout);
  fatal_exit(0);
}

Format parse_format(const char* value) {
  std::string name = value;
  lower_in_place(name.data());
  if (name == "csv") return Format::kCsv;
  if (name == "txt") return Format::kTxt;
  die_stderr("Unexpected file format: %s (Use -h for usage)\n", value);
}

// Runs one pass: every option word goes to `take`, which ignores the ones
// that belong to other passes.
template <typename Take>
void scan_pass(int argc, char** argv, const Settings& s, bool errors_to_stderr, Take take) {
  const OptionSpec* table = option_table(s.program);
  option_scan_reset();
  for (;;) {
    int id = option_scan_next(argc, argv, table);
    if (id == -1) return;
    if (id == -2) {
      if (errors_to_stderr) die_scan_error_stderr();
      die_scan_error();
    }
    if (id > 0) take(id, option_value());
  }
}

bool is_mlmap_only(int id) {
  return id == kOptAutoclass || id == kOptScore || id == kOptLogScale || id == kOptReadParam ||
         id == kOptInitC || id == kOptInitA;
}

// Options of pass 5 that set a flag or a plain number.
bool take_simple_option(int id, const char* value, Settings& s) {
  switch (id) {
    case kOptMaxIter: s.max_iter = parse_int(value); return true;
    case kOptRestart: s.restarts = parse_int(value); return true;
    case kOptMaxIterRestart: s.max_iter_restart = parse_int(value); return true;
    case kOptNSm: s.n_sm = parse_int(value); return true;
    case kOptNCand: s.n_cand = parse_int(value); return true;
    case kOptNJsplit: s.n_jsplit = parse_int(value); return true;
    case kOptPrecOut: s.prec_out = parse_int(value); return true;
    case kOptPrecMsg: s.prec_msg = parse_int(value); return true;
    case kOptSeed:
      s.seed = parse_uint(value);
      s.seed_given = true;
      return true;
    case kOptEpsilon: s.epsilon = parse_real(value); return true;
    case kOptAlpha: s.alpha = parse_real(value); return true;
    case kOptMinCParam: s.min_c_param = parse_real(value); return true;
    case kOptMinNewCParam: s.min_new_c_param = parse_real(value); return true;
    case kOptMinSmImp: s.min_sm_imp = parse_real(value); return true;
    case kOptNoise: s.noise = parse_real(value); return true;
    case kOptNoiseGauss: s.noise_gauss = parse_real(value); return true;
    case kOptWeightPurity: s.weight_purity = parse_real(value); return true;
    case kOptWeightWallance: s.weight_wallance = parse_real(value); return true;
    case kOptSmoothMean:
      s.smooth_mean = parse_real(value);
      s.smooth_mean_given = true;
      return true;
    case kOptMemProb: s.mem_prob = true; return true;
    case kOptPredict: s.predict = true; return true;
    case kOptUncompress: s.uncompress = true; return true;
    case kOptVerbose: s.verbose = true; return true;
    case kOptDaem: s.daem = true; return true;
    case kOptNormJmerge: s.norm_jmerge = true; return true;
    case kOptRegularStat: s.regular_stat = true; return true;
    case kOptOccOrder: s.lex_order = false; return true;
    case kOptHideAttr: s.hide_attr = true; return true;
    case kOptHideRank: s.hide_rank = true; return true;
    case kOptShowAttrMemp: s.show_attr_memp = true; return true;
    case kOptShowAttrCluster: s.show_attr_cluster = true; return true;
    default: return false;
  }
}

// Options of pass 5 whose values have their own handler.
bool take_value_option(int id, const char* value, Settings& s) {
  switch (id) {
    case kOptNClass: set_n_class(s, value); return true;
    case kOptGauss: add_gauss(s, value); return true;
    case kOptIgnore: add_ignored(s, value); return true;
    case kOptSmoothC: set_smooth_c(s, value); return true;
    case kOptSmoothA: set_smooth_a(s, value); return true;
    case kOptSmoothVar: set_smooth_var(s, value); return true;
    case kOptTau: set_tau(s, value); return true;
    case kOptRank: set_rank(s, value); return true;
    case kOptItemp: set_itemp(s, value); return true;
    case kOptExtreme: set_extreme(s, value); return true;
    case kOptStart: set_start(s, value); return true;
    default: return false;
  }
}

// rumel's own options of pass 5 (--autoclass and --read-param have their own
// passes).
void take_mlmap_option(int id, const char* value, Settings& s) {
  switch (id) {
    case kOptScore: set_score(s, value); break;
    case kOptInitC: set_init_c(s, value); break;
    case kOptInitA: set_init_a(s, value); break;
    case kOptLogScale: s.log_scale = true; break;
    case kOptReadHparam: s.read_hparam = true; break;
    default: break;
  }
}

}  // namespace

const OptionSpec* option_table(Program program) {
  static const std::vector<OptionSpec> mlmap_table = make_mlmap_table();
  return program == Program::kVb ? kVbTable : mlmap_table.data();
}

std::string option_label(OptionId id) { return get_option_str(id, kVbTable, false); }

const char* build_date() { return __DATE__; }

std::string version_line(Program program) {
  return std::string("VESKA version 0.7 (") + (program == Program::kVb ? "VB" : "ML+MAP") +
         ", built on " + build_date() + ")\n";
}

const char* usage_short(Program program) {
  return program == Program::kVb ? kVbShortUsage : kMlMapShortUsage;
}

const char* usage_full(Program program) {
  return program == Program::kVb ? kVbFullUsage : kMlMapFullUsage;
}

void option_pass_target(int argc, char** argv, Settings& s) {
  scan_pass(argc, argv, s, true, [&](int id, const char* value) {
    switch (id) {
      case kOptTarget: s.target = value; break;
      case kOptHelp: print_and_exit("\n" + version_line(s.program) + usage_short(s.program) + "\n");
      case kOptHelpall: print_and_exit("\n" + version_line(s.program) + usage_full(s.program) + "\n");
      case kOptVersion: print_and_exit(version_line(s.program));
      default: break;
    }
  });
  // Checked after the pass so that a help option anywhere still wins.
  if (s.target.empty()) {
    die_stderr("Missing or illegal %s option (Use -h for usage)\n", option_label(kOptTarget).c_str());
  }
  if (s.target.size() > kMaxTargetLength) {
    die_stderr("Too long value for %s option (at most %zu characters)\n",
               option_label(kOptTarget).c_str(), kMaxTargetLength);
  }
}

void option_pass_files(int argc, char** argv, Settings& s) {
  bool vb = s.program == Program::kVb;
  scan_pass(argc, argv, s, true, [&](int id, const char* value) {
    switch (id) {
      case kOptInput: s.input_format = parse_format(value); break;
      case kOptOutput: s.output_format = parse_format(value); break;
      case kOptSuffix:
        s.suffix = value;
        s.suffix_given = true;
        if (s.suffix.size() > kMaxSuffixLength) {
          die_stderr("Too long value for %s option (at most %zu characters)\n",
                     option_label(kOptSuffix).c_str(), kMaxSuffixLength);
        }
        break;
      case kOptSaveMsg: s.save_msg = true; break;
      case kOptThreads: set_threads(s, value); break;
      case kOptReadHparam:
        if (vb) s.run_estimation = false;
        break;
      case kOptReadParam:
        if (!vb) s.run_estimation = false;
        break;
      default: break;
    }
  });
  if (!s.threads_given) s.threads = available_cpus();
}

void option_pass_autoclass(int argc, char** argv, Settings& s) {
  scan_pass(argc, argv, s, false, [&](int id, const char*) {
    if (id == kOptAutoclass) set_autoclass(s);
  });
}

void option_pass_n_attr(int argc, char** argv, Settings& s) {
  scan_pass(argc, argv, s, false, [&](int id, const char* value) {
    if (id == kOptNAttr) s.n_attr = parse_int(value);
  });
  if (s.n_attr < 1) {
    die("Missing or illegal %s option (Use -h for usage)\n", option_label(kOptNAttr).c_str());
  }
  if (s.n_attr > kMaxAttributes) {
    die("Too large value for %s option (at most %d)\n", option_label(kOptNAttr).c_str(),
        kMaxAttributes);
  }
}

void option_pass_eval_id(int argc, char** argv, Settings& s) {
  scan_pass(argc, argv, s, false, [&](int id, const char* value) {
    if (id == kOptEval) {
      s.eval_attr = parse_int(value);
      s.eval_given = true;
    } else if (id == kOptId) {
      s.id_attr = parse_int(value);
      s.id_given = true;
    }
  });
}

void option_pass_rest(int argc, char** argv, Settings& s) {
  bool vb = s.program == Program::kVb;
  scan_pass(argc, argv, s, false, [&](int id, const char* value) {
    if (take_simple_option(id, value, s) || take_value_option(id, value, s)) return;
    if (vb && is_mlmap_only(id)) {
      // The value, if any, was consumed by the scanner and is ignored.
      msg_printf("Warning: %s not supported\n", option_current_word());
      return;
    }
    if (!vb) take_mlmap_option(id, value, s);
  });
}

void option_passes_after_open(int argc, char** argv, Settings& s) {
  if (s.program == Program::kMlMap) option_pass_autoclass(argc, argv, s);
  option_pass_n_attr(argc, argv, s);
  option_pass_eval_id(argc, argv, s);
  option_pass_rest(argc, argv, s);
}

}  // namespace veska

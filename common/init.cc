#include "common/init.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/misc.h"
#include "common/options.h"
#include "common/workers.h"

namespace veska {

namespace {

bool is_vb(const Settings& s) { return s.program == Program::kVb; }

std::string label(OptionId id) { return option_label(id); }

[[noreturn]] void die_illegal_value(OptionId id) {
  die("Illegal value for %s option\n", label(id).c_str());
}

[[noreturn]] void die_conflict(OptionId first, OptionId second) {
  die("Confliction between %s and %s options\n", label(first).c_str(), label(second).c_str());
}

// rumelvb reports the class-count and iteration checks on standard error;
// rumel reports every check through die.
[[noreturn]] __attribute__((format(printf, 2, 3))) void die_count_check(const Settings& s,
                                                                       const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[512];
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (is_vb(s)) die_stderr("%s", text);
  die("%s", text);
}

// Parts of `text` between the characters of `separators`, empty parts kept.
std::vector<std::string> split_at(const std::string& text, const char* separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (strchr(separators, c) != nullptr) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

size_t count_of(const std::string& text, const char* characters) {
  size_t n = 0;
  for (char c : text) n += strchr(characters, c) != nullptr ? 1 : 0;
  return n;
}

bool is_ignored(const Settings& s, long index) {
  return index >= 0 && index < static_cast<long>(s.ignored.size()) && s.ignored[index] != 0;
}

// ---- attribute index lists (--ignore, --gauss) ------------------------------

enum class ListKind { kIgnore, kGauss };

struct ListMessages {
  const char* malformed;     // two or more range marks in an item
  const char* reversed;      // start greater than end
  const char* out_of_range;  // index outside 0 .. n_attr - 1
};

const ListMessages& messages_for(ListKind kind) {
  static const ListMessages kIgnoreMessages = {
      "Illegal specification for ignored attribute(s) -- %s\n",
      "Illegal specification of ignored attributes -- %s\n",
      "Out-of-range specification of an ignored attribute -- %s\n"};
  static const ListMessages kGaussMessages = {
      "Illegal specification for continuous attribute(s) -- %s\n",
      "Illegal specification of continuous attributes -- %s\n",
      "Out-of-range specification of a continuous attribute -- %s\n"};
  return kind == ListKind::kIgnore ? kIgnoreMessages : kGaussMessages;
}

struct IndexRange {
  long first;
  long last;
};

// One item: "i", or a range "A<mark>B" whose open ends are 0 and n_attr - 1.
IndexRange parse_index_item(const Settings& s, const std::string& item, char mark, ListKind kind) {
  const ListMessages& m = messages_for(kind);
  size_t marks = 0;
  for (char c : item) marks += c == mark ? 1 : 0;
  if (marks == 0) {
    long i = parse_int(item.c_str());
    return {i, i};
  }
  if (marks > 1) die(m.malformed, item.c_str());
  size_t at = item.find(mark);
  std::string start = item.substr(0, at);
  std::string end = item.substr(at + 1);
  IndexRange r{0, static_cast<long>(s.n_attr) - 1};
  if (!start.empty()) r.first = parse_int(start.c_str());
  if (!end.empty()) r.last = parse_int(end.c_str());
  if (r.first > r.last) die(m.reversed, item.c_str());
  return r;
}

void check_index(const Settings& s, long index, const std::string& item, ListKind kind) {
  if (index < 0 || index >= s.n_attr) die(messages_for(kind).out_of_range, item.c_str());
  if (kind == ListKind::kIgnore) {
    if (s.id_given && index == s.id_attr) die_conflict(kOptId, kOptIgnore);
    if (s.eval_given && index == s.eval_attr) die_conflict(kOptEval, kOptIgnore);
  } else {
    if (s.id_given && index == s.id_attr) die_conflict(kOptGauss, kOptId);
    if (s.eval_given && index == s.eval_attr) die_conflict(kOptGauss, kOptEval);
    if (is_ignored(s, index)) die_conflict(kOptGauss, kOptIgnore);
  }
}

// The attribute indices of one group's text, each checked, in increasing
// order without repeats. `member` is scratch of n_attr zeros, left zeroed.
std::vector<int> resolve_group(const Settings& s, const std::string& spec, std::vector<char>& member) {
  std::vector<int> attrs;
  for (const std::string& item : split_at(spec, ",")) {
    IndexRange r = parse_index_item(s, item, '-', ListKind::kGauss);
    // Checking stops at the first bad index, so a huge range ends early.
    for (long i = r.first; i <= r.last; ++i) {
      check_index(s, i, item, ListKind::kGauss);
      if (member[static_cast<size_t>(i)] != 0) continue;
      member[static_cast<size_t>(i)] = 1;
      attrs.push_back(static_cast<int>(i));
    }
  }
  std::sort(attrs.begin(), attrs.end());
  for (int j : attrs) member[static_cast<size_t>(j)] = 0;
  return attrs;
}

// A smoothing constant that is "auto" or a number; rumel also allows 0.
SmoothConst parse_smoothing(const Settings& s, const char* text, bool* is_auto) {
  *is_auto = strcmp(text, "auto") == 0;
  if (*is_auto) return {kAutoValue, kModeAuto};
  double v = parse_real(text);
  bool ok = is_vb(s) ? v > 0.0 : v >= 0.0;
  if (!ok) die("Unexpected value -- %s\n", text);
  return {v, kModeValue};
}

}  // namespace

// ---- numbers -----------------------------------------------------------------

bool try_parse_int(const char* text, int* value) {
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

bool try_parse_real(const char* text, double* value) {
  // Only decimal and exponent notation: strtod would also take hexadecimal
  // numbers, infinities and NaN, which no setting can use.
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  if (*p == '+' || *p == '-') ++p;
  if (*p != '.' && (*p < '0' || *p > '9')) return false;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
  errno = 0;
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

int parse_int(const char* text) {
  if (*text == '\0') die("Null string specified for an integer\n");
  int v = 0;
  if (!try_parse_int(text, &v)) die("Couldn't parse as an integer -- %s\n", text);
  return v;
}

unsigned int parse_uint(const char* text) {
  if (*text == '\0') die("Null string specified for an unsigned integer\n");
  // strtoul would quietly wrap a negative number around.
  errno = 0;
  char* end = nullptr;
  unsigned long v = strtoul(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v > UINT_MAX || strchr(text, '-') != nullptr) {
    die("Couldn't parse as an unsigned integer -- %s\n", text);
  }
  return static_cast<unsigned int>(v);
}

double parse_real(const char* text) {
  if (*text == '\0') die("Null string specified for a floating-point number\n");
  double v = 0.0;
  if (!try_parse_real(text, &v)) die("Couldn't parse as floating-point number -- %s\n", text);
  return v;
}

// ---- option values ------------------------------------------------------------

void set_n_class(Settings& s, const char* value) {
  if (*value == '\0') die("Unexpected number of classes -- %s\n", value);
  int k = 0;
  if (try_parse_int(value, &k)) {
    s.n_class = k;
    s.k_range_given = false;
    return;
  }
  std::string text = value;
  if (count_of(text, ",-:") != 2) die_illegal_value(kOptNClass);
  std::vector<std::string> parts = split_at(text, ",-:");
  for (const std::string& part : parts) {
    if (part.size() > kMaxClassRangePart) die("Too long input for an integer: %s\n", value);
  }
  s.k_min = parse_int(parts[0].c_str());
  s.k_max = parse_int(parts[1].c_str());
  s.k_step = parse_int(parts[2].c_str());
  s.k_range_given = true;
}

void add_ignored(Settings& s, const char* value) {
  if (s.ignored.empty()) s.ignored.assign(static_cast<size_t>(s.n_attr), 0);
  s.ignore_given = true;
  for (const std::string& item : split_at(value, ",")) {
    IndexRange r = parse_index_item(s, item, '-', ListKind::kIgnore);
    for (long i = r.first; i <= r.last; ++i) {
      check_index(s, i, item, ListKind::kIgnore);
      s.ignored[static_cast<size_t>(i)] = 1;
    }
  }
}

namespace {
// Groups are disjoint and none is empty, so a list longer than n_attr can
// never resolve; refusing it at once also bounds the memory that repeated
// --gauss options can take.
void check_group_count(const Settings& s, long adding) {
  if (static_cast<long>(s.groups.size()) + adding > s.n_attr) {
    die("Too many Gaussian groups (more than the %d attributes)\n", s.n_attr);
  }
}
}  // namespace

void add_gauss(Settings& s, const char* value) {
  s.gauss_given = true;
  for (const std::string& piece : split_at(value, "#")) {
    size_t tildes = count_of(piece, "~");
    if (tildes > 1) die("Illegal specification for continuous attribute(s) -- %s\n", piece.c_str());
    if (tildes == 0) {
      // Resolved after all options, when every --ignore is known.
      check_group_count(s, 1);
      s.groups.push_back(GaussGroup{piece, {}});
      continue;
    }
    IndexRange r = parse_index_item(s, piece, '~', ListKind::kGauss);
    for (long i = r.first; i <= r.last; ++i) check_index(s, i, piece, ListKind::kGauss);
    check_group_count(s, r.last - r.first + 1);
    for (long i = r.first; i <= r.last; ++i) s.groups.push_back(GaussGroup{std::to_string(i), {}});
  }
}

void set_smooth_c(Settings& s, const char* value) {
  bool is_auto = false;
  SmoothConst c = parse_smoothing(s, value, &is_auto);
  s.smooth_c = c.value;
  s.smooth_c_mode = c.mode;
  if (is_auto) s.auto_used = true;
}

void set_smooth_a(Settings& s, const char* value) {
  std::vector<SmoothConst> list;
  for (const std::string& element : split_at(value, ",")) {
    if (element.size() > kMaxSmoothAElement) {
      die("Too long input for a floating-point number: %s\n", value);
    }
    bool is_auto = false;
    list.push_back(parse_smoothing(s, element.c_str(), &is_auto));
    if (is_auto) s.auto_used = true;
  }
  s.smooth_a = std::move(list);
}

void set_smooth_var(Settings& s, const char* value) {
  // A zero variance would make the prior covariance singular, so zero is
  // refused along with negative values.
  const char* colon = strchr(value, ':');
  int mode = kSmoothVarSample;
  double v = 1.0;
  if (colon != nullptr) {
    std::string kind(value, colon);
    if (kind == "sample") {
      mode = kSmoothVarSample;
    } else if (kind == "const") {
      mode = kSmoothVarConst;
    } else {
      die_illegal_value(kOptSmoothVar);
    }
    v = parse_real(colon + 1);
  } else if (strcmp(value, "sample") == 0) {
    mode = kSmoothVarSample;
  } else if (strcmp(value, "const") == 0) {
    mode = kSmoothVarConst;
  } else {
    v = parse_real(value);
  }
  if (!(v > 0.0)) die_illegal_value(kOptSmoothVar);
  s.smooth_var = v;
  s.smooth_var_mode = mode;
}

void set_tau(Settings& s, const char* value) {
  if (strcmp(value, "auto") == 0) {
    s.tau = kAutoValue;
    s.tau_mode = kModeAuto;
    s.auto_used = true;
    return;
  }
  double v = parse_real(value);
  if (v < 0.0) die_illegal_value(kOptTau);
  s.tau = v;
  s.tau_mode = kModeValue;
}

void set_rank(Settings& s, const char* value) {
  if (*value == '\0') die("Null string specified for a floating-point number\n");
  int count = 0;
  double threshold = 0.0;
  if (try_parse_int(value, &count) && count >= 0) {
    s.rank_count = count;
    s.rank_threshold_given = false;
  } else if (try_parse_real(value, &threshold) && threshold > 0.0 && threshold < 1.0) {
    s.rank_threshold = threshold;
    s.rank_threshold_given = true;
  } else {
    die("Illegal specification for ranking -- %s\n", value);
  }
  s.rank_given = true;
}

void set_itemp(Settings& s, const char* value) {
  std::string text = value;
  if (count_of(text, ",:") != 1) die("Illegal specification of the inverse temperature -- %s\n", value);
  std::vector<std::string> parts = split_at(text, ",:");
  for (const std::string& part : parts) {
    if (part.size() > kMaxItempPart) die("Too long input for a floating-point number: %s\n", value);
  }
  if (!parts[0].empty()) s.beta_init = parse_real(parts[0].c_str());
  if (!parts[1].empty()) s.beta_rate = parse_real(parts[1].c_str());
  if (!(s.beta_init > 0.0 && s.beta_init <= 1.0)) {
    die(conv_msg("Illegal value for the initial value of inverse temperature -- %.Nf\n"), s.beta_init);
  }
  if (!(s.beta_rate > 1.0)) {
    die(conv_msg("Illegal value for the increasing rate of inverse temperature -- %.Nf\n"), s.beta_rate);
  }
}

void set_extreme(Settings& s, const char* value) {
  double x = parse_real(value);
  if (!(x >= 0.0 && x <= 1.0)) die_illegal_value(kOptExtreme);
  s.extreme_low = x;
  s.extreme_high = 1.0 - x;
}

void set_threads(Settings& s, const char* value) {
  int n = 0;
  if (!try_parse_int(value, &n) || n < 1) {
    die_stderr("Illegal value for %s option\n", label(kOptThreads).c_str());
  }
  if (n > kMaxThreads) {
    die_stderr("Too large value for %s option (at most %d)\n", label(kOptThreads).c_str(),
               kMaxThreads);
  }
  s.threads = n;
  s.threads_given = true;
}

void set_start(Settings& s, const char* value) {
  std::string name = value;
  lower_in_place(name.data());
  if (name == "random") {
    s.start = kStartRandom;
  } else if (name == "kmeans") {
    s.start = kStartKmeans;
  } else {
    die("Unknown start method -- %s (Use -h for usage)\n", value);
  }
}

void set_score(Settings& s, const char* value) {
  std::string name = value;
  upper_in_place(name.data());
  if (name == "BIC") {
    s.score = kScoreBic;
  } else if (name == "CS" || name == "AUTOCLASS") {
    s.score = kScoreCs;
  } else {
    die_stderr("Unexpected information criterion: %s (Use -h for usage)\n", value);
  }
}

namespace {
void set_init_method(int* method, const char* value, bool value_frequency_allowed) {
  std::string name = value;
  lower_in_place(name.data());
  if (name == "random") {
    *method = kInitRandom;
  } else if (name == "noisy_u") {
    *method = kInitNoisyUniform;
  } else if (value_frequency_allowed && name == "v_freq") {
    *method = kInitValueFrequency;
  } else {
    die("Unknown initialization method -- %s (Use -h for usage)\n", value);
  }
}
}  // namespace

void set_init_c(Settings& s, const char* value) { set_init_method(&s.init_c, value, false); }
void set_init_a(Settings& s, const char* value) { set_init_method(&s.init_a, value, true); }

void set_autoclass(Settings& s) {
  s.smooth_c = kAutoValue;
  s.smooth_c_mode = kModeAuto;
  s.smooth_a.assign(1, SmoothConst{kAutoValue, kModeAuto});
  s.tau = kAutoValue;
  s.tau_mode = kModeAuto;
  s.score = kScoreCs;
  s.auto_used = true;
}

// ---- after all options ----------------------------------------------------------

void resolve_attributes(Settings& s, AttrModel& model) {
  int n_ignored = 0;
  for (int flag : s.ignored) n_ignored += flag != 0 ? 1 : 0;
  if (s.n_attr - (s.id_given ? 1 : 0) - (s.eval_given ? 1 : 0) - n_ignored <= 0) {
    die("No descriptive attributes\n");
  }

  std::vector<int> groups_of(static_cast<size_t>(s.n_attr), 0);
  std::vector<char> member(static_cast<size_t>(s.n_attr), 0);
  for (GaussGroup& g : s.groups) {
    g.attrs = resolve_group(s, g.spec, member);
    for (int j : g.attrs) ++groups_of[static_cast<size_t>(j)];
  }
  for (int j = 0; j < s.n_attr; ++j) {
    if (groups_of[static_cast<size_t>(j)] > 1) die("Overlapping continuous attrubute: %d\n", j);
  }

  model.n_attr = s.n_attr;
  model.groups = s.groups;
  model.n_groups = static_cast<int>(s.groups.size());
  model.n_continuous = 0;
  for (const GaussGroup& g : s.groups) model.n_continuous += g.size();
  int n_discrete = s.n_attr - model.n_continuous - (s.eval_given ? 1 : 0) - (s.id_given ? 1 : 0) -
                   n_ignored;
  // Only an out-of-range or shared --id/--eval can push this below zero, and
  // validate_settings rejects those.
  model.n_discrete = n_discrete > 0 ? n_discrete : 0;
  model.n_descriptive = model.n_continuous + model.n_discrete;
  model.has_discrete = model.n_discrete > 0;

  model.attrs.assign(static_cast<size_t>(s.n_attr), Attribute{});
  for (int j = 0; j < s.n_attr; ++j) {
    Attribute& a = model.attrs[static_cast<size_t>(j)];
    if (s.id_given && j == s.id_attr) {
      a.role = AttrRole::kId;
    } else if (s.eval_given && j == s.eval_attr) {
      a.role = AttrRole::kAnswer;
    } else if (is_ignored(s, j)) {
      a.role = AttrRole::kIgnored;
    }
  }
  for (int g = 0; g < model.n_groups; ++g) {
    const std::vector<int>& attrs = s.groups[static_cast<size_t>(g)].attrs;
    for (size_t p = 0; p < attrs.size(); ++p) {
      Attribute& a = model.attrs[static_cast<size_t>(attrs[p])];
      a.role = AttrRole::kContinuous;
      a.group = g;
      a.position = static_cast<int>(p);
    }
  }
  model.discrete_attr.clear();
  for (int j = 0; j < s.n_attr; ++j) {
    Attribute& a = model.attrs[static_cast<size_t>(j)];
    if (a.role != AttrRole::kDiscrete) continue;
    a.position = static_cast<int>(model.discrete_attr.size());
    model.discrete_attr.push_back(j);
  }
}

namespace {

void expand_smooth_a(Settings& s, int n_discrete) {
  size_t n = static_cast<size_t>(n_discrete);
  if (s.smooth_a.empty()) {
    s.smooth_a.assign(n, SmoothConst{is_vb(s) ? 1.0 : 0.0, kModeValue});
  } else if (s.smooth_a.size() == 1) {
    s.smooth_a.assign(n, s.smooth_a[0]);
  } else if (s.smooth_a.size() != n) {
    die("Too many or too few smoothing constants for %s\n", label(kOptSmoothA).c_str());
  }
}

void check_gauss_prior(Settings& s, const AttrModel& model) {
  // rumelvb always puts the Normal-Wishart prior on the blocks; rumel only
  // when tau is positive or "auto".
  bool prior = is_vb(s) || s.tau > 0.0 || s.tau_mode == kModeAuto;
  if (prior) {
    bool bad_alpha = s.alpha < 0.0;
    if (s.alpha > 0.0) {
      for (const GaussGroup& g : model.groups) {
        // rumelvb accepts alpha equal to the block size; rumel needs more.
        bool too_small = is_vb(s) ? s.alpha < g.size() : s.alpha <= g.size();
        bad_alpha = bad_alpha || too_small;
      }
    }
    if (bad_alpha) die("Missing or illegal value for %s option\n", label(kOptAlpha).c_str());
  }
  if (!(s.smooth_var > 0.0)) die_illegal_value(kOptSmoothVar);
  if (is_vb(s)) {
    // "auto" is stored as -1, so this also refuses tau auto.
    if (s.tau < 0.0) die_illegal_value(kOptTau);
    if (s.tau < 0.001) s.tau = 0.001;
  } else {
    if (s.tau_mode == kModeValue && s.tau < 0.0) die_illegal_value(kOptTau);
    s.gauss_prior_used = prior;
  }
}

void check_class_count(const Settings& s) {
  if (s.k_range_given) {
    if (s.k_min < 2 || s.k_max < 1 || s.k_step < 1 || s.k_min > s.k_max) {
      die_count_check(s, "Illegal value for %s option (Use -h for usage)\n", label(kOptNClass).c_str());
    }
    return;
  }
  // rumel takes the class count from the hyperparameter file when none is given.
  if (!is_vb(s) && s.read_hparam && s.n_class == 0) return;
  if (s.n_class < 2) {
    die_count_check(s, "Missing or illegal %s option (Use -h for usage)\n", label(kOptNClass).c_str());
  }
}

void check_iterations(const Settings& s) {
  if (s.max_iter < 0 || s.max_iter_restart < 0) {
    die_count_check(s, "Illegal value for the number of iterations\n");
  }
  if (s.max_iter > kMaxIterLimit) {
    die_count_check(s, "Maximum number of iterations cannot exceed %d\n", kMaxIterLimit);
  }
  if (s.restarts < 1) die_count_check(s, "Illegal value for the number of initial parameter sets\n");
  if (s.n_jsplit < 0) {
    die_count_check(s, "Illegal value for the number of split candidate to be examined\n");
  }
  if (s.min_c_param < 0.0) {
    die_count_check(s, "Illegal value for the lower limit of prob. of the class to be split/merge\n");
  }
  if (!(s.min_new_c_param > 0.0)) {
    die_count_check(s,
                    "Illegal value for the lower limit of updated prob. of the splited/merged class\n");
  }
}

}  // namespace

void validate_settings(Settings& s, AttrModel& model) {
  resolve_attributes(s, model);
  if (model.n_discrete > 0) expand_smooth_a(s, model.n_discrete);
  if (model.n_groups > 0) check_gauss_prior(s, model);

  if (s.id_given && (s.id_attr < 0 || s.id_attr >= s.n_attr)) die_illegal_value(kOptId);
  if (s.eval_given && (s.eval_attr < 0 || s.eval_attr >= s.n_attr)) die_illegal_value(kOptEval);
  if (s.id_given && s.eval_given && s.id_attr == s.eval_attr) die_conflict(kOptId, kOptEval);
  if (s.ignore_given) {
    if (s.id_given && is_ignored(s, s.id_attr)) die_conflict(kOptId, kOptIgnore);
    if (s.eval_given && is_ignored(s, s.eval_attr)) die_conflict(kOptIgnore, kOptEval);
  }

  if (s.run_estimation) check_class_count(s);
  check_iterations(s);
  // The log gets a row per operation number whether it ran or not.
  if (s.n_sm > kMaxSmOperations) {
    die("Illegal value for %s option: the number of split-merge operations cannot exceed %d\n",
        label(kOptNSm).c_str(), kMaxSmOperations);
  }
  // Negative noise can push a starting pseudo count or probability to zero
  // or below; refused before any file is read.
  if (s.noise < 0.0) die_illegal_value(kOptNoise);

  s.cluster_criterion = "MEMBERSHIP_DIST";
  s.rank_measure = "MEMBERSHIP_DIST";
  if (s.min_sm_imp < 0.0) s.min_sm_imp = 10.0 * s.epsilon;

  if (s.eval_given) {
    if (s.weight_purity < 0.0) die_illegal_value(kOptWeightPurity);
    if (s.weight_wallance < 0.0) die_illegal_value(kOptWeightWallance);
  }
  // Wider precisions would overflow the fixed text areas of the conversions.
  if (s.prec_out < kMinPrecision || s.prec_out > kMaxPrecision) die_illegal_value(kOptPrecOut);
  if (s.prec_msg < kMinPrecision || s.prec_msg > kMaxPrecision) die_illegal_value(kOptPrecMsg);

  if (!is_vb(s)) {
    s.score_name = s.score == kScoreCs ? "Cheeseman-Stutz score" : "BIC";
    static const char* const kInitNames[] = {"", "RANDOM", "NOISY_UNIFORM", "WORD_FREQ"};
    s.init_c_name = kInitNames[s.init_c];
    s.init_a_name = kInitNames[s.init_a];
  }

  // A later explicit value may have replaced every "auto".
  s.auto_used = s.smooth_c_mode == kModeAuto || s.tau_mode == kModeAuto;
  for (const SmoothConst& c : s.smooth_a) s.auto_used = s.auto_used || c.mode == kModeAuto;
}

bool compresses_cases(const Settings& s) { return !s.uncompress && !s.id_given && s.groups.empty(); }

bool resolve_auto_smoothing(Settings& s, const AttrModel& model, int K) {
  bool discrete = model.n_discrete > 0;
  bool gauss = model.n_groups > 0;
  size_t n_constants = discrete ? s.smooth_a.size() : 0;
  if (discrete || gauss) {
    if (s.smooth_c_mode == kModeAuto) s.smooth_c = 1.0 / K;
  }
  for (size_t k = 0; k < n_constants; ++k) {
    SmoothConst& c = s.smooth_a[k];
    if (c.mode != kModeAuto) continue;
    int n_values = k < model.values.size() ? model.values[k].n_values : 0;
    // An attribute with no observed value has no parameters to smooth.
    c.value = n_values > 0 ? 1.0 / n_values : 1.0;
  }
  if (gauss && s.tau_mode == kModeAuto) s.tau = 1.0 / K;

  bool prior = !is_vb(s) && s.gauss_prior_used;
  bool any = s.smooth_c > 0.0 || (gauss && prior);
  bool all = s.smooth_c > 0.0 && (!gauss || prior);
  for (size_t k = 0; k < n_constants; ++k) {
    any = any || s.smooth_a[k].value > 0.0;
    all = all && s.smooth_a[k].value > 0.0;
  }
  s.any_smoothing = any;
  s.all_smoothing = all;
  if (!is_vb(s) && s.score == kScoreCs && !all) {
    die("Couldn't use the AUTOCLASS mode unless all smoothing constant > 0\n");
  }
  return s.auto_used;
}

}  // namespace veska

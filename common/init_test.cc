#include "common/init.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

Settings settings_for(Program program, int n_attr) {
  Settings s = Settings::defaults(program);
  s.n_attr = n_attr;
  s.n_class = 2;
  return s;
}

// The message of a step that must fail through die (log and message stream).
std::string failure(const std::function<void()>& fn) {
  auto r = run_capturing(fn);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.log, r.msg);
  return r.msg;
}

TEST(ParseNumbers, AcceptWholeNumbersOnly) {
  EXPECT_EQ(parse_int("42"), 42);
  EXPECT_EQ(parse_int(" +7"), 7);
  EXPECT_EQ(parse_int("-5"), -5);
  EXPECT_EQ(parse_uint("4294967295"), 4294967295U);
  EXPECT_DOUBLE_EQ(parse_real("1e-6"), 1e-6);
  EXPECT_DOUBLE_EQ(parse_real("-.5"), -0.5);

  EXPECT_EQ(failure([] { parse_int(""); }), "Null string specified for an integer\n");
  EXPECT_EQ(failure([] { parse_int("4x"); }), "Couldn't parse as an integer -- 4x\n");
  EXPECT_EQ(failure([] { parse_int("99999999999"); }), "Couldn't parse as an integer -- 99999999999\n");
  EXPECT_EQ(failure([] { parse_uint(""); }), "Null string specified for an unsigned integer\n");
  EXPECT_EQ(failure([] { parse_uint("-1"); }), "Couldn't parse as an unsigned integer -- -1\n");
  EXPECT_EQ(failure([] { parse_uint("4294967296"); }),
            "Couldn't parse as an unsigned integer -- 4294967296\n");
  EXPECT_EQ(failure([] { parse_real(""); }), "Null string specified for a floating-point number\n");
  for (const char* bad : {"abc", "1.5 ", "nan", "inf", "0x10", "1e999", " "}) {
    EXPECT_EQ(failure([&] { parse_real(bad); }),
              std::string("Couldn't parse as floating-point number -- ") + bad + "\n");
  }
}

TEST(ClassCount, SingleValueOrRangeWithAnySeparator) {
  Settings s = settings_for(Program::kVb, 3);
  set_n_class(s, "5");
  EXPECT_EQ(s.n_class, 5);
  EXPECT_FALSE(s.k_range_given);
  for (const char* range : {"2:10:2", "2-10-2", "2,10,2"}) {
    set_n_class(s, range);
    EXPECT_TRUE(s.k_range_given);
    EXPECT_EQ(s.k_min, 2);
    EXPECT_EQ(s.k_max, 10);
    EXPECT_EQ(s.k_step, 2);
  }
  EXPECT_EQ(failure([&] { set_n_class(s, "2:10"); }), "Illegal value for --n-class (-k) option\n");
  EXPECT_EQ(failure([&] { set_n_class(s, ""); }), "Unexpected number of classes -- \n");
  EXPECT_EQ(failure([&] { set_n_class(s, "2::1"); }), "Null string specified for an integer\n");
  EXPECT_EQ(failure([&] { set_n_class(s, "2:x:1"); }), "Couldn't parse as an integer -- x\n");
  std::string long_part = "2:" + std::string(12, '9') + ":1";
  EXPECT_EQ(failure([&] { set_n_class(s, long_part.c_str()); }),
            "Too long input for an integer: " + long_part + "\n");
}

TEST(IgnoreList, NumbersRangesAndChecks) {
  Settings s = settings_for(Program::kVb, 8);
  add_ignored(s, "1,3-4");
  add_ignored(s, "6-");  // a later --ignore adds to the flags
  EXPECT_EQ(s.ignored, (std::vector<int>{0, 1, 0, 1, 1, 0, 1, 1}));
  Settings t = settings_for(Program::kVb, 4);
  add_ignored(t, "-2");
  EXPECT_EQ(t.ignored, (std::vector<int>{1, 1, 1, 0}));
  add_ignored(t, "-");
  EXPECT_EQ(t.ignored, (std::vector<int>{1, 1, 1, 1}));

  EXPECT_EQ(failure([&] { add_ignored(s, "1--2"); }),
            "Illegal specification for ignored attribute(s) -- 1--2\n");
  EXPECT_EQ(failure([&] { add_ignored(s, "4-2"); }), "Illegal specification of ignored attributes -- 4-2\n");
  EXPECT_EQ(failure([&] { add_ignored(s, "2,8"); }), "Out-of-range specification of an ignored attribute -- 8\n");
  EXPECT_EQ(failure([&] { add_ignored(s, "1,,2"); }), "Null string specified for an integer\n");
  s.id_given = true;
  s.id_attr = 5;
  EXPECT_EQ(failure([&] { add_ignored(s, "0-7"); }), "Confliction between --id (-I) and --ignore (-y) options\n");
  s.id_given = false;
  s.eval_given = true;
  s.eval_attr = 2;
  EXPECT_EQ(failure([&] { add_ignored(s, "2"); }), "Confliction between --eval (-E) and --ignore (-y) options\n");
}

// Resolves a fresh model from the settings and returns its groups.
std::vector<std::vector<int>> groups_of(Settings& s) {
  AttrModel m;
  resolve_attributes(s, m);
  std::vector<std::vector<int>> out;
  for (const GaussGroup& g : m.groups) out.push_back(g.attrs);
  return out;
}

TEST(GaussSpec, GroupsFromListsRangesAndRuns) {
  using G = std::vector<std::vector<int>>;
  Settings s = settings_for(Program::kVb, 10);
  add_gauss(s, "3,5,4,3");
  EXPECT_EQ(groups_of(s), (G{{3, 4, 5}}));
  s = settings_for(Program::kVb, 10);
  add_gauss(s, "3#4#5");
  EXPECT_EQ(groups_of(s), (G{{3}, {4}, {5}}));
  s = settings_for(Program::kVb, 10);
  add_gauss(s, "3~5");
  EXPECT_EQ(groups_of(s), (G{{3}, {4}, {5}}));
  s = settings_for(Program::kVb, 10);
  add_gauss(s, "0-2#5,7");
  add_gauss(s, "8~");  // repeated options append groups
  EXPECT_EQ(groups_of(s), (G{{0, 1, 2}, {5, 7}, {8}, {9}}));

  s = settings_for(Program::kVb, 10);
  EXPECT_EQ(failure([&] { add_gauss(s, "1~2~3"); }),
            "Illegal specification for continuous attribute(s) -- 1~2~3\n");
  EXPECT_EQ(failure([&] { add_gauss(s, "5~3"); }), "Illegal specification of continuous attributes -- 5~3\n");
  EXPECT_EQ(failure([&] { add_gauss(s, "8~12"); }),
            "Out-of-range specification of a continuous attribute -- 8~12\n");
  for (const char* empty_item : {"3,,4", "3,", "3##4"}) {
    Settings t = settings_for(Program::kVb, 10);
    add_gauss(t, empty_item);
    EXPECT_EQ(failure([&] { groups_of(t); }), "Null string specified for an integer\n") << empty_item;
  }
  Settings t = settings_for(Program::kVb, 10);
  add_gauss(t, "1,2#2,3");
  EXPECT_EQ(failure([&] { groups_of(t); }), "Overlapping continuous attrubute: 2\n");
  t = settings_for(Program::kVb, 10);
  add_gauss(t, "1-1-2");
  EXPECT_EQ(failure([&] { groups_of(t); }), "Illegal specification for continuous attribute(s) -- 1-1-2\n");
}

// Repeated runs over every attribute once took memory without bound (a few
// KiB of command line, gigabytes of groups); a list that could never
// resolve is refused as soon as it outnumbers the attributes.
TEST(GaussSpec, GroupsNeverOutnumberTheAttributes) {
  const char* too_many = "Too many Gaussian groups (more than the 4 attributes)\n";
  Settings s = settings_for(Program::kVb, 4);
  add_gauss(s, "~");
  EXPECT_EQ(s.groups.size(), 4u);
  EXPECT_EQ(failure([&] { add_gauss(s, "~"); }), too_many);
  EXPECT_EQ(s.groups.size(), 4u);
  s = settings_for(Program::kVb, 4);
  add_gauss(s, "0#1#2");
  EXPECT_EQ(failure([&] { add_gauss(s, "3#0"); }), too_many);
  s = settings_for(Program::kVb, 4);
  add_gauss(s, "0#1");
  EXPECT_EQ(failure([&] { add_gauss(s, "1~3"); }), too_many);
  // Index errors of a run still come first.
  EXPECT_EQ(failure([&] { add_gauss(s, "2~9"); }),
            "Out-of-range specification of a continuous attribute -- 2~9\n");
}

TEST(GaussSpec, ConflictsWhicheverOptionComesFirst) {
  const char* conflict = "Confliction between --gauss (-u) and --ignore (-y) options\n";
  Settings s = settings_for(Program::kVb, 8);
  add_ignored(s, "4");
  EXPECT_EQ(failure([&] { add_gauss(s, "3~5"); }), conflict);  // a run is checked at once
  s = settings_for(Program::kVb, 8);
  add_gauss(s, "3~5");
  add_ignored(s, "4");
  EXPECT_EQ(failure([&] { groups_of(s); }), conflict);
  s = settings_for(Program::kVb, 8);
  s.id_given = true;
  s.id_attr = 0;
  add_gauss(s, "0-2");
  EXPECT_EQ(failure([&] { groups_of(s); }), "Confliction between --gauss (-u) and --id (-I) options\n");
}

TEST(Smoothing, ClassAndAttributeConstants) {
  Settings s = settings_for(Program::kVb, 3);
  set_smooth_c(s, "auto");
  EXPECT_EQ(s.smooth_c_mode, kModeAuto);
  EXPECT_TRUE(s.auto_used);
  set_smooth_c(s, "0.5");
  EXPECT_EQ(s.smooth_c, 0.5);
  EXPECT_EQ(s.smooth_c_mode, kModeValue);
  EXPECT_EQ(failure([&] { set_smooth_c(s, "0"); }), "Unexpected value -- 0\n");
  Settings ml = settings_for(Program::kMlMap, 3);
  set_smooth_c(ml, "0");  // rumel: 0 means no smoothing
  EXPECT_EQ(ml.smooth_c, 0.0);
  EXPECT_EQ(failure([&] { set_smooth_c(ml, "-1"); }), "Unexpected value -- -1\n");

  set_smooth_a(s, "1,auto,2.5");
  ASSERT_EQ(s.smooth_a.size(), 3u);
  EXPECT_EQ(s.smooth_a[1].mode, kModeAuto);
  EXPECT_EQ(s.smooth_a[2].value, 2.5);
  set_smooth_a(s, "3");  // replaces the list
  EXPECT_EQ(s.smooth_a.size(), 1u);
  EXPECT_EQ(failure([&] { set_smooth_a(s, "1,,2"); }), "Null string specified for a floating-point number\n");
  EXPECT_EQ(failure([&] { set_smooth_a(s, "1,-2"); }), "Unexpected value -- -2\n");
  std::string long_element = "1," + std::string(60, '1');
  EXPECT_EQ(failure([&] { set_smooth_a(s, long_element.c_str()); }),
            "Too long input for a floating-point number: " + long_element + "\n");
}

TEST(Smoothing, VarianceForms) {
  Settings s = settings_for(Program::kVb, 3);
  set_smooth_var(s, "const");
  EXPECT_EQ(s.smooth_var_mode, kSmoothVarConst);
  EXPECT_EQ(s.smooth_var, 1.0);
  set_smooth_var(s, "0.5");
  EXPECT_EQ(s.smooth_var_mode, kSmoothVarSample);
  EXPECT_EQ(s.smooth_var, 0.5);
  set_smooth_var(s, "const:2");
  EXPECT_EQ(s.smooth_var_mode, kSmoothVarConst);
  EXPECT_EQ(s.smooth_var, 2.0);
  const char* illegal = "Illegal value for --smooth-var (-L) option\n";
  for (const char* bad : {"var:1", "-1", "0", "sample:0", "const:-2"}) {
    EXPECT_EQ(failure([&] { set_smooth_var(s, bad); }), illegal) << bad;
  }
  EXPECT_EQ(failure([&] { set_smooth_var(s, "sample:"); }),
            "Null string specified for a floating-point number\n");
  EXPECT_EQ(failure([&] { set_smooth_var(s, "sample:x"); }), "Couldn't parse as floating-point number -- x\n");
}

TEST(OptionValues, TauRankItempExtreme) {
  Settings s = settings_for(Program::kVb, 3);
  set_tau(s, "auto");
  EXPECT_EQ(s.tau_mode, kModeAuto);
  set_tau(s, "0");
  EXPECT_EQ(s.tau_mode, kModeValue);
  EXPECT_EQ(failure([&] { set_tau(s, "-0.1"); }), "Illegal value for --tau (-T) option\n");

  set_rank(s, "0.2");
  EXPECT_TRUE(s.rank_threshold_given);
  EXPECT_EQ(s.rank_threshold, 0.2);
  set_rank(s, "10");
  EXPECT_TRUE(s.rank_given);
  EXPECT_FALSE(s.rank_threshold_given);
  EXPECT_EQ(s.rank_count, 10);
  EXPECT_EQ(failure([&] { set_rank(s, ""); }), "Null string specified for a floating-point number\n");
  for (const char* bad : {"1.0", "-0.5", "-3", "x"}) {
    EXPECT_EQ(failure([&] { set_rank(s, bad); }), std::string("Illegal specification for ranking -- ") + bad + "\n");
  }

  set_itemp(s, ":1.5");
  EXPECT_EQ(s.beta_init, 0.1);
  EXPECT_EQ(s.beta_rate, 1.5);
  set_itemp(s, "0.5,");
  EXPECT_EQ(s.beta_init, 0.5);
  EXPECT_EQ(s.beta_rate, 1.5);
  EXPECT_EQ(failure([&] { set_itemp(s, "0.5"); }), "Illegal specification of the inverse temperature -- 0.5\n");
  EXPECT_EQ(failure([&] { set_itemp(s, "0.5:2:3"); }),
            "Illegal specification of the inverse temperature -- 0.5:2:3\n");
  EXPECT_EQ(failure([&] { set_itemp(s, "0:2"); }),
            "Illegal value for the initial value of inverse temperature -- 0.000000\r\n");
  EXPECT_EQ(failure([&] { set_itemp(s, "0.5:1"); }),
            "Illegal value for the increasing rate of inverse temperature -- 1.000000\r\n");
  std::string long_part = "0." + std::string(54, '1') + ":2";
  EXPECT_EQ(failure([&] { set_itemp(s, long_part.c_str()); }),
            "Too long input for a floating-point number: " + long_part + "\n");

  set_extreme(s, "0.1");
  EXPECT_EQ(s.extreme_low, 0.1);
  EXPECT_EQ(s.extreme_high, 0.9);
  EXPECT_EQ(failure([&] { set_extreme(s, "1.5"); }), "Illegal value for --extreme option\n");
}

TEST(OptionValues, RumelScoreAndInitialisation) {
  Settings s = settings_for(Program::kMlMap, 3);
  for (const char* cs : {"cs", "Cs", "AUTOCLASS"}) {
    set_score(s, "bic");
    set_score(s, cs);
    EXPECT_EQ(s.score, kScoreCs) << cs;
  }
  EXPECT_EXIT(set_score(s, "aic"), ::testing::ExitedWithCode(1),
              "^Unexpected information criterion: aic \\(Use -h for usage\\)\n$");
  set_init_a(s, "V_FREQ");
  EXPECT_EQ(s.init_a, kInitValueFrequency);
  set_init_c(s, "Random");
  EXPECT_EQ(s.init_c, kInitRandom);
  EXPECT_EQ(failure([&] { set_init_c(s, "v_freq"); }),
            "Unknown initialization method -- v_freq (Use -h for usage)\n");
}

TEST(ResolveAttributes, RolesPositionsAndCounts) {
  // 0 id, 1 discrete, 2-3 block 0, 4 ignored, 5 discrete, 6 answer, 7 block 1
  Settings s = settings_for(Program::kVb, 8);
  s.id_given = true;
  s.id_attr = 0;
  s.eval_given = true;
  s.eval_attr = 6;
  add_ignored(s, "4");
  add_gauss(s, "3,2#7");
  AttrModel m;
  resolve_attributes(s, m);
  EXPECT_EQ(m.n_groups, 2);
  EXPECT_EQ(m.n_continuous, 3);
  EXPECT_EQ(m.n_discrete, 2);
  EXPECT_EQ(m.n_descriptive, 5);
  EXPECT_TRUE(m.has_discrete);
  EXPECT_EQ(m.discrete_attr, (std::vector<int>{1, 5}));
  EXPECT_EQ(m.attrs[0].role, AttrRole::kId);
  EXPECT_EQ(m.attrs[4].role, AttrRole::kIgnored);
  EXPECT_EQ(m.attrs[6].role, AttrRole::kAnswer);
  EXPECT_EQ(m.attrs[5].position, 1);
  EXPECT_EQ(m.attrs[3].role, AttrRole::kContinuous);
  EXPECT_EQ(m.attrs[3].group, 0);
  EXPECT_EQ(m.attrs[3].position, 1);
  EXPECT_EQ(m.attrs[7].group, 1);

  Settings all_ignored = settings_for(Program::kVb, 3);
  add_ignored(all_ignored, "-");
  EXPECT_EQ(failure([&] { resolve_attributes(all_ignored, m); }), "No descriptive attributes\n");
}

// Runs validate_settings on a copy and returns the failure text.
std::string validation_failure(Settings s) {
  return failure([&] {
    AttrModel m;
    validate_settings(s, m);
  });
}

TEST(ValidateSettings, SmoothingExpansionAndGaussianPrior) {
  Settings s = settings_for(Program::kVb, 3);
  AttrModel m;
  set_smooth_a(s, "0.5");
  validate_settings(s, m);
  ASSERT_EQ(s.smooth_a.size(), 3u);
  EXPECT_EQ(s.smooth_a[2].value, 0.5);
  EXPECT_DOUBLE_EQ(s.min_sm_imp, 10 * s.epsilon);
  EXPECT_EQ(s.cluster_criterion, "MEMBERSHIP_DIST");

  Settings d = settings_for(Program::kMlMap, 2);
  validate_settings(d, m);
  EXPECT_EQ(d.smooth_a[1].value, 0.0);  // rumel's default constant
  EXPECT_EQ(d.score_name, "BIC");
  EXPECT_EQ(d.init_a_name, "NOISY_UNIFORM");

  Settings two = settings_for(Program::kVb, 3);
  set_smooth_a(two, "1,2");
  EXPECT_EQ(validation_failure(two), "Too many or too few smoothing constants for --smooth-a (-w)\n");

  Settings g = settings_for(Program::kVb, 4);
  add_gauss(g, "0-2");
  validate_settings(g, m);
  EXPECT_EQ(g.tau, 0.001);  // raised for the blocks
  g = settings_for(Program::kVb, 4);
  add_gauss(g, "0-2");
  g.alpha = 3;  // equal to the block size is enough in rumelvb
  validate_settings(g, m);
  g.alpha = 2.5;
  EXPECT_EQ(validation_failure(g), "Missing or illegal value for --alpha (-O) option\n");
  g.alpha = 0;
  set_tau(g, "auto");
  EXPECT_EQ(validation_failure(g), "Illegal value for --tau (-T) option\n");

  Settings r = settings_for(Program::kMlMap, 4);
  add_gauss(r, "0-2");
  r.alpha = 3;
  validate_settings(r, m);  // tau 0: no prior, alpha unchecked
  EXPECT_FALSE(r.gauss_prior_used);
  EXPECT_EQ(r.tau, 0.0);
  r.tau = 0.5;
  EXPECT_EQ(validation_failure(r), "Missing or illegal value for --alpha (-O) option\n");
}

TEST(ValidateSettings, AttributeIndicesAndWeights) {
  Settings s = settings_for(Program::kVb, 4);
  s.id_given = true;
  s.id_attr = 4;
  EXPECT_EQ(validation_failure(s), "Illegal value for --id (-I) option\n");
  s.id_attr = 1;
  s.eval_given = true;
  s.eval_attr = -1;
  EXPECT_EQ(validation_failure(s), "Illegal value for --eval (-E) option\n");
  s.eval_attr = 1;
  EXPECT_EQ(validation_failure(s), "Confliction between --id (-I) and --eval (-E) options\n");
  s.eval_attr = 2;
  s.weight_wallance = -1;
  EXPECT_EQ(validation_failure(s), "Illegal value for --weight-wallance option\n");
  s = settings_for(Program::kVb, 4);
  s.prec_out = 0;
  EXPECT_EQ(validation_failure(s), "Illegal value for --prec-out option\n");
  s.prec_out = 12;
  s.prec_msg = 37;
  EXPECT_EQ(validation_failure(s), "Illegal value for --prec-msg option\n");
}

// rumelvb reports class-count and iteration checks on standard error only.
void expect_stderr_failure(Settings s, const char* message) {
  AttrModel m;
  EXPECT_EXIT(validate_settings(s, m), ::testing::ExitedWithCode(1), std::string("^") + message + "$")
      << message;
}

TEST(ValidateSettings, ClassCountAndIterationChecks) {
  Settings s = settings_for(Program::kVb, 3);
  s.n_class = 1;
  expect_stderr_failure(s, "Missing or illegal --n-class \\(-k\\) option \\(Use -h for usage\\)\n");
  s.run_estimation = false;  // --read-hparam needs no K
  AttrModel m;
  validate_settings(s, m);
  s = settings_for(Program::kVb, 3);
  set_n_class(s, "1:4:1");
  expect_stderr_failure(s, "Illegal value for --n-class \\(-k\\) option \\(Use -h for usage\\)\n");
  set_n_class(s, "5:4:1");
  expect_stderr_failure(s, "Illegal value for --n-class \\(-k\\) option \\(Use -h for usage\\)\n");
  set_n_class(s, "2:4:1");
  s.max_iter = 10001;
  expect_stderr_failure(s, "Maximum number of iterations cannot exceed 10000\n");
  s.max_iter = 100;
  s.max_iter_restart = -1;
  expect_stderr_failure(s, "Illegal value for the number of iterations\n");
  s.max_iter_restart = 0;
  s.restarts = 0;
  expect_stderr_failure(s, "Illegal value for the number of initial parameter sets\n");
  s.restarts = 1;
  s.min_new_c_param = 0;
  expect_stderr_failure(s, "Illegal value for the lower limit of updated prob. of the splited/merged class\n");
  s.min_new_c_param = 0.001;
  s.noise = -0.01;
  EXPECT_EQ(validation_failure(s), "Illegal value for --noise option\n");
  s.noise = 0.0;
  s.n_sm = kMaxSmOperations + 1;
  EXPECT_EQ(validation_failure(s), "Illegal value for --n-sm (-o) option: the number of split-merge "
                                   "operations cannot exceed 10000\n");

  // rumel reports them through die and accepts a missing K with --read-hparam.
  Settings r = settings_for(Program::kMlMap, 3);
  r.n_class = 0;
  EXPECT_EQ(validation_failure(r), "Missing or illegal --n-class (-k) option (Use -h for usage)\n");
  r.read_hparam = true;
  validate_settings(r, m);
}

TEST(AutoSmoothing, ResolvedPerClassCount) {
  Settings s = settings_for(Program::kVb, 2);
  set_smooth_c(s, "auto");
  set_smooth_a(s, "auto,2");
  AttrModel m;
  validate_settings(s, m);
  m.values.resize(2);
  m.values[0].n_values = 4;
  EXPECT_TRUE(resolve_auto_smoothing(s, m, 5));
  EXPECT_DOUBLE_EQ(s.smooth_c, 0.2);
  EXPECT_DOUBLE_EQ(s.smooth_a[0].value, 0.25);
  EXPECT_EQ(s.smooth_a[1].value, 2.0);
  EXPECT_TRUE(s.all_smoothing);
  EXPECT_TRUE(resolve_auto_smoothing(s, m, 4));  // still "auto" for the next K
  EXPECT_DOUBLE_EQ(s.smooth_c, 0.25);

  // An explicit value after "auto" leaves nothing to resolve.
  Settings e = settings_for(Program::kVb, 2);
  set_smooth_c(e, "auto");
  set_smooth_c(e, "1");
  validate_settings(e, m);
  EXPECT_FALSE(resolve_auto_smoothing(e, m, 3));

  Settings r = settings_for(Program::kMlMap, 2);
  set_score(r, "cs");
  validate_settings(r, m);
  EXPECT_EQ(failure([&] { resolve_auto_smoothing(r, m, 3); }),
            "Couldn't use the AUTOCLASS mode unless all smoothing constant > 0\n");
  set_autoclass(r);
  validate_settings(r, m);
  resolve_auto_smoothing(r, m, 3);
  EXPECT_TRUE(r.all_smoothing);
}

}  // namespace
}  // namespace veska

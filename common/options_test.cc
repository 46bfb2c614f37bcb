#include "common/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

// A command line as argc/argv, program name first.
struct Args {
  explicit Args(std::vector<std::string> words) : words_(std::move(words)) {
    words_.insert(words_.begin(), "prog");
    for (std::string& w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

// Passes 1 and 2 and the passes after the log is open.
Settings run_passes(Program program, std::vector<std::string> words) {
  Args a(std::move(words));
  Settings s = Settings::defaults(program);
  option_pass_target(a.argc(), a.argv(), s);
  option_pass_files(a.argc(), a.argv(), s);
  option_passes_after_open(a.argc(), a.argv(), s);
  return s;
}

TEST(OptionTexts, VersionLineAndUsageHeads) {
  std::string date = build_date();
  EXPECT_TRUE(::testing::internal::RE::FullMatch(date, "[A-Z][a-z][a-z] [ 123][0-9] [0-9][0-9][0-9][0-9]"))
      << date;
  EXPECT_EQ(version_line(Program::kVb), "VESKA version 0.7 (VB, built on " + date + ")\n");
  EXPECT_EQ(version_line(Program::kMlMap), "VESKA version 0.7 (ML+MAP, built on " + date + ")\n");
  EXPECT_EQ(std::string(usage_full(Program::kMlMap)).rfind("[Usage] rumel -f basename", 0), 0u);
  EXPECT_NE(std::string(usage_full(Program::kVb)).find(" --max-iterate (-m) Max num."), std::string::npos);
  EXPECT_EQ(option_label(kOptTarget), "--target (-f)");
  EXPECT_EQ(option_label(kOptInput), "--input");  // the usage's "(-i)" is no option
}

TEST(OptionTables, RumelHasNoPredict) {
  auto has = [](Program p, int id) {
    for (const OptionSpec* o = option_table(p); o->id >= 0; ++o) {
      if (o->id == id) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(Program::kVb, kOptPredict));
  EXPECT_FALSE(has(Program::kMlMap, kOptPredict));
  EXPECT_TRUE(has(Program::kMlMap, kOptHelpall));
}

TEST(OptionPasses, FirstPassRoutes) {
  auto pass1 = [](std::vector<std::string> words) {
    Args a(std::move(words));
    Settings s = Settings::defaults(Program::kVb);
    option_pass_target(a.argc(), a.argv(), s);
  };
  // The first informational option wins over later faulty words.
  EXPECT_EXIT(pass1({"-v", "--bogus"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(pass1({"--bogus", "-v"}), ::testing::ExitedWithCode(1),
              "^Unknown/illegal option specification: --bogus \\(Use -h for usage\\)\n$");
  EXPECT_EXIT(pass1({"-k", "2"}), ::testing::ExitedWithCode(1),
              "^Missing or illegal --target \\(-f\\) option \\(Use -h for usage\\)\n$");
  EXPECT_EXIT(pass1({"-f", std::string(513, 'a')}), ::testing::ExitedWithCode(1),
              "^Too long value for --target \\(-f\\) option \\(at most 512 characters\\)\n$");
  Args ok({"-f", std::string(512, 'a')});
  Settings s;
  option_pass_target(ok.argc(), ok.argv(), s);
  EXPECT_EQ(s.target.size(), 512u);
}

// The help and version exits end through fatal_exit, so a handler installed
// there (tests, fuzz targets) sees them with status 0 instead of losing the
// process.
TEST(OptionPasses, InformationalExitGoesThroughTheFatalHandler) {
  for (const char* word : {"-h", "--helpall", "-v"}) {
    Args a({word});
    Settings s = Settings::defaults(Program::kMlMap);
    testing::FatalResult r = run_capturing([&] { option_pass_target(a.argc(), a.argv(), s); });
    EXPECT_TRUE(r.exited) << word;
    EXPECT_EQ(r.status, 0) << word;
  }
}

TEST(OptionPasses, FileOptions) {
  auto pass2 = [](std::vector<std::string> words) {
    Args a(std::move(words));
    Settings s = Settings::defaults(Program::kVb);
    option_pass_files(a.argc(), a.argv(), s);
    return s;
  };
  Settings s = pass2({"--input", "CSV", "-j", "Txt", "-S", "-H", "-s", "r1"});
  EXPECT_EQ(s.input_format, Format::kCsv);
  EXPECT_EQ(s.output_format, Format::kTxt);
  EXPECT_TRUE(s.save_msg);
  EXPECT_FALSE(s.run_estimation);
  EXPECT_EQ(s.suffix, "r1");
  EXPECT_EXIT(pass2({"--input", "xls"}), ::testing::ExitedWithCode(1),
              "^Unexpected file format: xls \\(Use -h for usage\\)\n$");
  EXPECT_EXIT(pass2({"-s", std::string(512, 's')}), ::testing::ExitedWithCode(1),
              "^Too long value for --suffix \\(-s\\) option \\(at most 511 characters\\)\n$");
}

TEST(OptionPasses, ValuesInCommandLineOrder) {
  Settings s = run_passes(Program::kVb, {"-e", "0.1", "-f", "t", "plain", "-e", "-0.5", "-x", "5", "-y", "1",
                                         "-", "-y", "2", "--seed", "7", "-P", "--occ-order", "--"});
  EXPECT_EQ(s.epsilon, -0.5);  // the last value counts
  EXPECT_EQ(s.ignored, (std::vector<int>{0, 1, 1, 0, 0}));  // --ignore accumulates
  EXPECT_EQ(s.seed, 7u);
  EXPECT_TRUE(s.seed_given);
  EXPECT_TRUE(s.predict);
  EXPECT_FALSE(s.lex_order);
}

TEST(OptionPasses, IdAndEvalAreKnownBeforeIgnore) {
  auto r = run_capturing([] { run_passes(Program::kVb, {"-f", "t", "-y", "2", "-x", "4", "-E", "2"}); });
  EXPECT_EQ(r.msg, "Confliction between --eval (-E) and --ignore (-y) options\n");
  r = run_capturing([] { run_passes(Program::kVb, {"-f", "t", "-k", "2"}); });
  EXPECT_EQ(r.msg, "Missing or illegal --n-attr (-x) option (Use -h for usage)\n");
  r = run_capturing([] { run_passes(Program::kVb, {"-f", "t", "-x", "131073"}); });
  EXPECT_EQ(r.msg, "Too large value for --n-attr (-x) option (at most 131072)\n");
}

TEST(OptionPasses, RumelOnlyOptionsInRumelvbWarn) {
  Settings s;
  auto r = run_capturing([&] {
    s = run_passes(Program::kVb, {"-f", "t", "-x", "3", "--score", "cs", "-A", "--init-a", "x", "-e", "0.2"});
  });
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.msg,
            "Warning: --score not supported\r\nWarning: -A not supported\r\n"
            "Warning: --init-a not supported\r\n");
  EXPECT_EQ(s.score, kScoreBic);
  EXPECT_EQ(s.epsilon, 0.2);
}

TEST(OptionPasses, StartMethodInBothPrograms) {
  for (Program p : {Program::kVb, Program::kMlMap}) {
    EXPECT_EQ(run_passes(p, {"-f", "t", "-x", "3"}).start, kStartRandom);
    EXPECT_EQ(run_passes(p, {"-f", "t", "-x", "3", "--start", "KMeans"}).start, kStartKmeans);
    EXPECT_EQ(run_passes(p, {"-f", "t", "-x", "3", "--start", "kmeans", "--start", "random"}).start,
              kStartRandom);
    auto r = run_capturing([&] { run_passes(p, {"-f", "t", "-x", "3", "--start", "ward"}); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.msg, "Unknown start method -- ward (Use -h for usage)\n");
    // Long name only, listed in every usage text.
    EXPECT_EXIT(run_passes(p, {"-f", "t", "-start", "kmeans"}), ::testing::ExitedWithCode(1),
                "^Unknown/illegal option specification: -start \\(Use -h for usage\\)\n$");
    const std::string entry =
        " --start         Starting point of every restart\n"
        "                 (random:Random, kmeans:K-means partition)           [Random]\n";
    EXPECT_NE(std::string(usage_short(p)).find(entry), std::string::npos);
    EXPECT_NE(std::string(usage_full(p)).find(entry), std::string::npos);
  }
  EXPECT_EQ(option_label(kOptStart), "--start");
}

TEST(OptionPasses, RumelAutoclassYieldsToExplicitValues) {
  Settings s = run_passes(Program::kMlMap, {"-f", "t", "-x", "3", "-c", "0.5", "-A", "-g", "bic", "-R"});
  EXPECT_EQ(s.smooth_c, 0.5);
  EXPECT_EQ(s.smooth_c_mode, kModeValue);
  EXPECT_EQ(s.tau_mode, kModeAuto);
  EXPECT_EQ(s.score, kScoreBic);
  EXPECT_FALSE(s.run_estimation);
  EXPECT_EXIT(run_passes(Program::kMlMap, {"-f", "t", "-P"}), ::testing::ExitedWithCode(1),
              "^Unknown/illegal option specification: -P \\(Use -h for usage\\)\n$");
}

}  // namespace
}  // namespace veska

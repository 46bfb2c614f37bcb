#include "output/print_common.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/misc.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

// Attribute model with the given roles; continuous attributes go into the
// given groups (attribute lists in increasing order).
AttrModel make_model(const std::vector<AttrRole>& roles,
                     const std::vector<std::vector<int>>& groups = {}) {
  AttrModel m;
  m.n_attr = static_cast<int>(roles.size());
  m.attrs.resize(roles.size());
  for (size_t j = 0; j < roles.size(); ++j) {
    m.attrs[j].role = roles[j];
    if (roles[j] == AttrRole::kDiscrete) {
      m.attrs[j].position = m.n_discrete++;
      m.discrete_attr.push_back(static_cast<int>(j));
    }
  }
  for (size_t g = 0; g < groups.size(); ++g) {
    GaussGroup group;
    group.attrs = groups[g];
    for (size_t p = 0; p < groups[g].size(); ++p) {
      Attribute& a = m.attrs[groups[g][p]];
      a.group = static_cast<int>(g);
      a.position = static_cast<int>(p);
      ++m.n_continuous;
    }
    m.groups.push_back(group);
  }
  m.n_groups = static_cast<int>(groups.size());
  m.n_descriptive = m.n_discrete + m.n_continuous;
  m.has_discrete = m.n_discrete > 0;
  return m;
}

Settings base_settings(Program program, int n_attr, int n_discrete) {
  Settings s = Settings::defaults(program);
  s.target = "data";
  s.n_attr = n_attr;
  s.n_class = 3;
  s.seed = 12345;
  s.input_format = Format::kCsv;
  s.output_format = Format::kCsv;
  s.files.cases = "data_freq.csv";
  s.files.hparam = "data_hparam.csv";
  s.files.param = "data_param.csv";
  s.files.memp = "data_memp.csv";
  s.files.predict = "data_predict.csv";
  s.files.cluster = "data_cluster.csv";
  s.files.rank = "data_rank.csv";
  s.files.eval = "data_eval.csv";
  s.files.log = "data_log.csv";
  s.files.msg = "data_msg.txt";
  s.smooth_a.assign(static_cast<size_t>(n_discrete), SmoothConst{s.smooth_c, kModeValue});
  s.min_sm_imp = 10 * s.epsilon;
  return s;
}

class PrintSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
  }
  void TearDown() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
  }

  std::string write(const Settings& s, const AttrModel& m) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
    print_settings(f.get(), s, m);
    std::string out;
    rewind(f.get());
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return out;
  }
};

// The lines of one data matrix, from its ID line to the next ID line.
std::string section(const std::string& text, const std::string& id) {
  std::string open = "#### ID:" + id + "\r\n";
  size_t at = text.find(open);
  if (at == std::string::npos) return "";
  size_t end = text.find("#### ID:", at + open.size());
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::vector<std::string> ids(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = text.find("#### ID:"); at != std::string::npos;
       at = text.find("#### ID:", at + 1)) {
    out.push_back(text.substr(at + 8, text.find("\r\n", at) - at - 8));
  }
  return out;
}

TEST_F(PrintSettings, DefaultsOfADiscreteVbRun) {
  AttrModel m = make_model({AttrRole::kDiscrete, AttrRole::kDiscrete, AttrRole::kDiscrete});
  Settings s = base_settings(Program::kVb, 3, 3);
  EXPECT_EQ(write(s, m),
            "#### ID:SETTING-VERSION\r\n#### Version\r\n####\r\n0.7\r\n"
            "#### ID:SETTING-FILE\r\n#### Input/Output, Contents, Filename\r\n####\r\n"
            "Input,Cases,data_freq.csv\r\n"
            "Output,Hyperparameters,data_hparam.csv\r\n"
            "Output,Clusters,data_cluster.csv\r\n"
            "Output,Logs,data_log.csv\r\n"
            "#### ID:SETTING-FUNCTION\r\n#### Major function, Enabled/Disabled\r\n####\r\n"
            "Reading hyperparameters,Disabled\r\n"
            "Member distributions,Disabled\r\n"
            "Predictive distributions,Disabled\r\n"
            "Clustering,Enabled\r\n"
            "Relevance analysis,Disabled\r\n"
            "Model selection,Disabled\r\n"
            "Deterministic annealing EM,Disabled\r\n"
            "Split-merge EM,Disabled\r\n"
            "Evaluation,Disabled\r\n"
            "#### ID:SETTING-MODEL-BASE\r\n#### Model specification\r\n####\r\n"
            "Num of classes,3\r\n"
            "Num of attributes,3\r\n"
            "Num of discrete attributes,3\r\n"
            "Num of continuous attributes,0\r\n"
            "ID attribute,(none)\r\n"
            "Answer class attribute,(none)\r\n"
            "Ignored attributes,(none)\r\n"
            "Discrete attributes,0,1,2\r\n"
            "Continuous attributes,(none)\r\n"
            "#### ID:SETTING-MODEL-HPARAM\r\n#### Hyperparameter, Value\r\n####\r\n"
            "Pseudo count [class],1\r\n"
            "Pseudo count [attr 0],1\r\n"
            "Pseudo count [attr 1],1\r\n"
            "Pseudo count [attr 2],1\r\n"
            "Prior Tau,0\r\n"
            "Prior Alpha,Dimension + 1e-06\r\n"
            "Prior Mean,Sample mean\r\n"
            "Prior Sigma,Sample covariances multiplied by 1\r\n"
            "#### ID:SETTING-EM\r\n#### Control parameter, Value\r\n####\r\n"
            "Random seed,12345\r\n"
            "Threshold for convergence,0.001\r\n"
            "Max num Of EM iterations,3000\r\n"
            "Random restarts,Disabled\r\n"
            "Noises in initialization of categorical hyperparameters,0.1\r\n"
            "Noises in initialization of hyperparameters of Gaussian means,0.1\r\n"
            "Threshold for extreme values (Min.),0.05\r\n"
            "Threshold for extreme values (Max.),0.95\r\n"
            "#### ID:SETTING-INOUT\r\n#### Control parameter, Value\r\n####\r\n"
            "Target,data\r\n"
            "Suffix,(none)\r\n"
            "Input file extension,csv\r\n"
            "Output file extension,csv\r\n"
            "#### ID:SETTING-MISC\r\n#### Control parameter, Value\r\n####\r\n"
            "Ignoring extreme values when computing sample means/covars,Disabled\r\n"
            "Writing attvals in lexicographical order,Enabled\r\n"
            "Uncompressing identical objects,Disabled\r\n"
            "Saving messages,Disabled\r\n"
            "Being verbose,Disabled\r\n"
            "Showing attvals,Enabled\r\n"
            "Showing membership probs. for attributes,Disabled\r\n"
            "Showing clusters of attvals,Disabled\r\n"
            "Precision of float-point numbers [file output],12\r\n"
            "Precision of float-point numbers [terminal message],6\r\n");
}

// Every optional section and row switched on, tab output, 5 digits.
class PrintSettingsAllOn : public PrintSettings {
 protected:
  void SetUp() override {
    PrintSettings::SetUp();
    set_output_delimiter('\t');
    set_conv_precision(6, 5);
    // 0 id, 1 discrete, 2 ignored, 3 and 5 one block, 4 discrete, 6 block,
    // 7 answer class.
    model = make_model({AttrRole::kId, AttrRole::kDiscrete, AttrRole::kIgnored,
                        AttrRole::kContinuous, AttrRole::kDiscrete, AttrRole::kContinuous,
                        AttrRole::kContinuous, AttrRole::kAnswer},
                       {{3, 5}, {6}});
    s = base_settings(Program::kVb, 8, 2);
    s.k_range_given = true;
    s.k_min = 2, s.k_max = 6, s.k_step = 2;
    s.id_given = true, s.id_attr = 0;
    s.eval_given = true, s.eval_attr = 7;
    s.mem_prob = s.predict = s.save_msg = s.verbose = s.hide_attr = true;
    s.uncompress = s.regular_stat = s.show_attr_memp = s.show_attr_cluster = true;
    s.lex_order = false;
    s.rank_given = s.rank_threshold_given = s.hide_rank = true;
    s.rank_threshold = 0.2;
    s.daem = true, s.beta_init = 0.25, s.beta_rate = 1.5;
    s.n_sm = 4, s.n_cand = 7, s.n_jsplit = 2, s.norm_jmerge = true;
    s.min_c_param = 0.01, s.min_new_c_param = 0.02, s.min_sm_imp = 0.123456789;
    s.restarts = 5, s.max_iter_restart = 20, s.max_iter = 500, s.epsilon = 1e-7;
    s.noise = 0.3, s.noise_gauss = 0.4, s.extreme_low = 0.1, s.extreme_high = 0.9;
    s.weight_purity = 2.0 / 3.0, s.weight_wallance = 0.5;
    s.suffix_given = true, s.suffix = "run1";
    s.output_format = Format::kTxt;
    s.prec_out = 5, s.prec_msg = 3;
    s.smooth_c_mode = kModeAuto, s.smooth_c = kAutoValue;
    s.smooth_a = {SmoothConst{kAutoValue, kModeAuto}, SmoothConst{0.123456789, kModeValue}};
    s.tau = 0.001, s.alpha = 3.5;
    s.smooth_mean_given = true, s.smooth_mean = -2.5;
    s.smooth_var_mode = kSmoothVarConst, s.smooth_var = 4.0;
    s.seed = 4000000000u;
    s.start = kStartKmeans;
  }
  AttrModel model;
  Settings s;
};

TEST_F(PrintSettingsAllOn, EveryOptionalSectionInOrder) {
  std::string text = write(s, model);
  EXPECT_EQ(ids(text),
            (std::vector<std::string>{"SETTING-VERSION", "SETTING-FILE", "SETTING-FUNCTION",
                                      "SETTING-MODEL-BASE", "SETTING-MODEL-HPARAM", "SETTING-EM",
                                      "SETTING-SELECT", "SETTING-RANK", "SETTING-DAEM",
                                      "SETTING-SMEM", "SETTING-EVAL", "SETTING-INOUT",
                                      "SETTING-MISC"}));
  EXPECT_EQ(section(text, "SETTING-FILE"),
            "#### ID:SETTING-FILE\r\n#### Input/Output, Contents, Filename\r\n####\r\n"
            "Input\tCases\tdata_freq.csv\r\n"
            "Output\tHyperparameters\tdata_hparam.csv\r\n"
            "Output\tMember distributions\tdata_memp.csv\r\n"
            "Output\tPredictive distributions\tdata_predict.csv\r\n"
            "Output\tClusters\tdata_cluster.csv\r\n"
            "Output\tRankings\tdata_rank.csv\r\n"
            "Output\tEvaluation results\tdata_eval.csv\r\n"
            "Output\tLogs\tdata_log.csv\r\n"
            "Output\tMessage logs\tdata_msg.txt\r\n");
  EXPECT_EQ(section(text, "SETTING-FUNCTION"),
            "#### ID:SETTING-FUNCTION\r\n#### Major function, Enabled/Disabled\r\n####\r\n"
            "Reading hyperparameters\tDisabled\r\n"
            "Member distributions\tEnabled\r\n"
            "Predictive distributions\tEnabled\r\n"
            "Clustering\tEnabled\r\n"
            "Relevance analysis\tEnabled\r\n"
            "Model selection\tEnabled\r\n"
            "Deterministic annealing EM\tEnabled\r\n"
            "Split-merge EM\tEnabled\r\n"
            "Evaluation\tEnabled\r\n");
  EXPECT_EQ(section(text, "SETTING-MODEL-BASE"),
            "#### ID:SETTING-MODEL-BASE\r\n#### Model specification\r\n####\r\n"
            "Num of classes [min]\t2\r\n"
            "Num of classes [max]\t6\r\n"
            "Num of classes [step]\t2\r\n"
            "Num of attributes\t8\r\n"
            "Num of discrete attributes\t2\r\n"
            "Num of continuous attributes\t3\r\n"
            "ID attribute\t0\r\n"
            "Answer class attribute\t7\r\n"
            "Ignored attributes\t2\r\n"
            "Discrete attributes\t1\t4\r\n"
            "Continuous attributes\t3\t5\t6\r\n"
            "Attributes in Gauss0\t3\t5\r\n"
            "Attributes in Gauss1\t6\r\n"
            "Dimension of Gauss0\t2\r\n"
            "Dimension of Gauss1\t1\r\n");
  EXPECT_EQ(section(text, "SETTING-MODEL-HPARAM"),
            "#### ID:SETTING-MODEL-HPARAM\r\n#### Hyperparameter, Value\r\n####\r\n"
            "Pseudo count [class]\tAutoClass\r\n"
            "Pseudo count [attr 1]\tAutoClass\r\n"
            "Pseudo count [attr 4]\t0.12346\r\n"
            "Prior Tau\t0.001\r\n"
            "Prior Alpha\t3.5\r\n"
            "Prior Mean\t-2.5\r\n"
            "Prior Sigma\tDiagonal with all elements (variances) being 4\r\n");
  EXPECT_EQ(section(text, "SETTING-EM"),
            "#### ID:SETTING-EM\r\n#### Control parameter, Value\r\n####\r\n"
            "Random seed\t4000000000\r\n"
            "Threshold for convergence\t1e-07\r\n"
            "Max num Of EM iterations\t500\r\n"
            "Random restarts\tEnabled\r\n"
            "Num. of restarts\t5\r\n"
            "Max num of EM iterations in restarts\t20\r\n"
            "Initial state\tK-means\r\n"
            "Noises in initialization of categorical hyperparameters\t0.3\r\n"
            "Noises in initialization of hyperparameters of Gaussian means\t0.4\r\n"
            "Threshold for extreme values (Min.)\t0.1\r\n"
            "Threshold for extreme values (Max.)\t0.9\r\n");
  EXPECT_EQ(section(text, "SETTING-SELECT"),
            "#### ID:SETTING-SELECT\r\n#### Control parameter, Value\r\n####\r\n"
            "Model score\tVariational free energy\r\n");
  EXPECT_EQ(section(text, "SETTING-RANK"),
            "#### ID:SETTING-RANK\r\n#### Control parameter, Value\r\n####\r\n"
            "Hiding less relevant cases/attvals\tEnabled\r\n"
            "Threshold for relevant cases/attvals\t0.2\r\n");
  EXPECT_EQ(section(text, "SETTING-DAEM"),
            "#### ID:SETTING-DAEM\r\n#### Control parameter, Value\r\n####\r\n"
            "Initial value of inverse temperature\t0.25\r\n"
            "Update rate of inverse temperature\t1.5\r\n");
  EXPECT_EQ(section(text, "SETTING-SMEM"),
            "#### ID:SETTING-SMEM\r\n#### Control parameter, Value\r\n####\r\n"
            "Num of split-merge operations\t4\r\n"
            "Max num of split-merge candidates\t7\r\n"
            "Max num of split candidates\t2\r\n"
            "Normalization of J-merge\tEnabled\r\n"
            "Min class prob. before split-merge operation [0: No limit]\t0.01\r\n"
            "Min class prob. after split-merge operation [0: No limit]\t0.02\r\n"
            "Min improvement\t0.12346\r\n");
  EXPECT_EQ(section(text, "SETTING-EVAL"),
            "#### ID:SETTING-EVAL\r\n#### Control parameter, Value\r\n####\r\n"
            "Weight in F-measure of Purity\t0.66667\r\n"
            "Weight in F-measure of Wallance's measures\t0.5\r\n");
  EXPECT_EQ(section(text, "SETTING-INOUT"),
            "#### ID:SETTING-INOUT\r\n#### Control parameter, Value\r\n####\r\n"
            "Target\tdata\r\n"
            "Suffix\trun1\r\n"
            "Input file extension\tcsv\r\n"
            "Output file extension\ttxt\r\n");
  EXPECT_EQ(section(text, "SETTING-MISC"),
            "#### ID:SETTING-MISC\r\n#### Control parameter, Value\r\n####\r\n"
            "Ignoring extreme values when computing sample means/covars\tEnabled\r\n"
            "Writing attvals in lexicographical order\tDisabled\r\n"
            "Uncompressing identical objects\tEnabled\r\n"
            "Saving messages\tEnabled\r\n"
            "Being verbose\tEnabled\r\n"
            "Showing attvals\tDisabled\r\n"
            "Showing membership probs. for attributes\tEnabled\r\n"
            "Showing clusters of attvals\tEnabled\r\n"
            "Precision of float-point numbers [file output]\t5\r\n"
            "Precision of float-point numbers [terminal message]\t3\r\n");
}

TEST_F(PrintSettingsAllOn, RankCountAndReadHparam) {
  s.rank_threshold_given = false;
  s.rank_count = 10;
  s.run_estimation = false;
  std::string text = write(s, model);
  EXPECT_EQ(section(text, "SETTING-RANK"),
            "#### ID:SETTING-RANK\r\n#### Control parameter, Value\r\n####\r\n"
            "Hiding less relevant cases/attvals\tEnabled\r\n"
            "Num of relevant cases/attvals\t10\r\n");
  // Hyperparameters come from the file: no prior or EM settings.
  EXPECT_EQ(section(text, "SETTING-MODEL-HPARAM"), "");
  EXPECT_EQ(section(text, "SETTING-EM"), "");
  EXPECT_NE(text.find("Input\tHyperparameters\tdata_hparam.csv\r\n"), std::string::npos);
  EXPECT_NE(text.find("Reading hyperparameters\tEnabled\r\n"), std::string::npos);
}

TEST_F(PrintSettings, MlMapDifferences) {
  AttrModel m = make_model({AttrRole::kDiscrete, AttrRole::kContinuous, AttrRole::kAnswer,
                            AttrRole::kDiscrete},
                           {{1}});
  m.names_read = true;
  const char* names[] = {"colour", "size", "class", "shape"};
  const DeclaredType types[] = {DeclaredType::kValueList, DeclaredType::kReal, DeclaredType::kEval,
                                DeclaredType::kNominal};
  for (int j = 0; j < 4; ++j) {
    m.attrs[j].has_name = true;
    m.attrs[j].name = names[j];
    m.attrs[j].declared = types[j];
  }
  Settings s = base_settings(Program::kMlMap, 4, 2);
  s.eval_given = true, s.eval_attr = 2;
  s.read_hparam = true;
  s.k_range_given = true, s.k_min = 2, s.k_max = 3, s.k_step = 1;
  s.score = kScoreCs, s.score_name = "Cheeseman-Stutz score";
  s.init_c_name = "RANDOM", s.init_a_name = "WORD_FREQ";
  s.log_scale = true;
  s.mem_prob = true;
  s.predict = true;  // not a rumel option: no row for it
  std::string text = write(s, m);
  EXPECT_EQ(ids(text),
            (std::vector<std::string>{"SETTING-VERSION", "SETTING-FILE", "SETTING-FUNCTION",
                                      "SETTING-MODEL-BASE", "SETTING-MODEL-NAME", "SETTING-EM",
                                      "SETTING-SELECT", "SETTING-EVAL", "SETTING-INOUT",
                                      "SETTING-MISC"}));
  EXPECT_EQ(section(text, "SETTING-FILE"),
            "#### ID:SETTING-FILE\r\n#### Input/Output, Contents, Filename\r\n####\r\n"
            "Input,Cases,data_freq.csv\r\n"
            "Output,Parameters,data_param.csv\r\n"
            "Input,Hyperparameters,data_hparam.csv\r\n"
            "Output,Member distributions,data_memp.csv\r\n"
            "Output,Clusters,data_cluster.csv\r\n"
            "Output,Evaluation results,data_eval.csv\r\n"
            "Output,Logs,data_log.csv\r\n");
  EXPECT_EQ(section(text, "SETTING-FUNCTION"),
            "#### ID:SETTING-FUNCTION\r\n#### Major function, Enabled/Disabled\r\n####\r\n"
            "Reading parameters,Disabled\r\n"
            "Reading hyperparameters,Enabled\r\n"
            "Member distributions,Enabled\r\n"
            "Clustering,Enabled\r\n"
            "Relevance analysis,Disabled\r\n"
            "Model selection,Enabled\r\n"
            "Deterministic annealing EM,Disabled\r\n"
            "Split-merge EM,Disabled\r\n"
            "Evaluation,Enabled\r\n");
  EXPECT_EQ(section(text, "SETTING-MODEL-NAME"),
            "#### ID:SETTING-MODEL-NAME\r\n#### Attr. ID, Attr. name, Attr. type\r\n####\r\n"
            "0,colour,discrete (explicitly given)\r\n"
            "1,size,continuous (real)\r\n"
            "2,class,answer class\r\n"
            "3,shape,discrete (as-is)\r\n");
  EXPECT_EQ(section(text, "SETTING-EM"),
            "#### ID:SETTING-EM\r\n#### Control parameter, Value\r\n####\r\n"
            "Random seed,12345\r\n"
            "Threshold for convergence,0.001\r\n"
            "Max num Of EM iterations,3000\r\n"
            "Random restarts,Disabled\r\n"
            "Initialization method for class,RANDOM\r\n"
            "Initialization method for discrete attributes,WORD_FREQ\r\n"
            "Noises in initialization of categorical parameters,0.1\r\n"
            "Noises in initialization of means of Gaussians,0.1\r\n"
            "Threshold for extreme values (Min.),0.05\r\n"
            "Threshold for extreme values (Max.),0.95\r\n");
  EXPECT_EQ(section(text, "SETTING-SELECT"),
            "#### ID:SETTING-SELECT\r\n#### Control parameter, Value\r\n####\r\n"
            "Model score,Cheeseman-Stutz score\r\n");
  EXPECT_EQ(section(text, "SETTING-MISC").find("####\r\nLog-scale computation,Enabled\r\nIgnoring"),
            std::string("#### ID:SETTING-MISC\r\n#### Control parameter, Value\r\n").size());

  // Without a hyperparameter file the prior settings are shown, and BIC is named.
  s.read_hparam = false;
  s.score = kScoreBic, s.score_name = "BIC";
  s.smooth_a = {SmoothConst{0.0, kModeValue}, SmoothConst{0.0, kModeValue}};
  text = write(s, m);
  EXPECT_EQ(section(text, "SETTING-MODEL-HPARAM"),
            "#### ID:SETTING-MODEL-HPARAM\r\n#### Hyperparameter, Value\r\n####\r\n"
            "Pseudo count [class],0\r\n"
            "Pseudo count [attr 0],0\r\n"
            "Pseudo count [attr 3],0\r\n"
            "Prior Tau,0\r\n"
            "Prior Alpha,Dimension + 1e-06\r\n"
            "Prior Mean,Sample mean\r\n"
            "Prior Sigma,Sample covariances multiplied by 1\r\n");
  EXPECT_NE(text.find("Model score,BIC\r\n"), std::string::npos);
}

TEST_F(PrintSettings, UnknownDeclaredTypeIsInternalError) {
  AttrModel m = make_model({AttrRole::kDiscrete, AttrRole::kDiscrete});
  m.names_read = true;
  m.attrs[0].has_name = m.attrs[1].has_name = true;
  m.attrs[0].name = "a", m.attrs[1].name = "b";
  m.attrs[0].declared = DeclaredType::kNominal;  // the second is left undeclared
  Settings s = base_settings(Program::kMlMap, 2, 2);
  auto r = run_capturing([&] { write(s, m); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error: unknown name type 0\n");
}

}  // namespace
}  // namespace veska

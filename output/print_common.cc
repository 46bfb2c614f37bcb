#include "output/print_common.h"

#include <vector>

#include "common/misc.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

bool is_vb(const Settings& s) { return s.program == Program::kVb; }

const char* format_name(Format f) {
  switch (f) {
    case Format::kCsv:
      return "csv";
    case Format::kTxt:
      return "txt";
    default:
      die("Internal error: file format not decided before writing the settings\n");
  }
}

// The usual two columns of the control-parameter data matrices.
void control_header(FILE* log, const char* id) {
  set_matrix_id("%s", id);
  add_column_name("Control parameter");
  add_column_name("Value");
  print_header(log);
}

// A row made of a label followed by attribute indices, or "label,(none)".
void index_row(FILE* log, const char* label, const std::vector<int>& indices) {
  add_field(label);
  if (indices.empty()) add_field("(none)");
  for (int j : indices) add_field_int(j);
  end_row(log);
}

std::vector<int> attributes_with_role(const AttrModel& model, AttrRole role) {
  std::vector<int> out;
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role == role) out.push_back(j);
  }
  return out;
}

void print_version(FILE* log) {
  set_matrix_id("SETTING-VERSION");
  add_column_name("Version");
  print_header(log);
  print_row(log, "0.7");
}

void print_files(FILE* log, const Settings& s) {
  const FileNames& f = s.files;
  set_matrix_id("SETTING-FILE");
  add_column_name("Input/Output");
  add_column_name("Contents");
  add_column_name("Filename");
  print_header(log);
  print_row(log, "Input,Cases,%s", f.cases.c_str());
  if (is_vb(s)) {
    print_row(log, s.run_estimation ? "Output,Hyperparameters,%s" : "Input,Hyperparameters,%s",
              f.hparam.c_str());
  } else {
    print_row(log, s.run_estimation ? "Output,Parameters,%s" : "Input,Parameters,%s",
              f.param.c_str());
    if (s.read_hparam) print_row(log, "Input,Hyperparameters,%s", f.hparam.c_str());
  }
  if (s.mem_prob) print_row(log, "Output,Member distributions,%s", f.memp.c_str());
  if (is_vb(s) && s.predict) {
    print_row(log, "Output,Predictive distributions,%s", f.predict.c_str());
  }
  print_row(log, "Output,Clusters,%s", f.cluster.c_str());
  if (s.rank_given) print_row(log, "Output,Rankings,%s", f.rank.c_str());
  if (s.eval_given) print_row(log, "Output,Evaluation results,%s", f.eval.c_str());
  print_row(log, "Output,Logs,%s", f.log.c_str());
  if (s.save_msg) print_row(log, "Output,Message logs,%s", f.msg.c_str());
}

void print_functions(FILE* log, const Settings& s) {
  set_matrix_id("SETTING-FUNCTION");
  add_column_name("Major function");
  add_column_name("Enabled/Disabled");
  print_header(log);
  if (is_vb(s)) {
    print_row(log, "Reading hyperparameters,%s", enabled_str(!s.run_estimation));
  } else {
    print_row(log, "Reading parameters,%s", enabled_str(!s.run_estimation));
    print_row(log, "Reading hyperparameters,%s", enabled_str(s.read_hparam));
  }
  print_row(log, "Member distributions,%s", enabled_str(s.mem_prob));
  if (is_vb(s)) print_row(log, "Predictive distributions,%s", enabled_str(s.predict));
  print_row(log, "Clustering,%s", enabled_str(1));  // clustering always runs
  print_row(log, "Relevance analysis,%s", enabled_str(s.rank_given));
  print_row(log, "Model selection,%s", enabled_str(s.k_range_given));
  print_row(log, "Deterministic annealing EM,%s", enabled_str(s.daem));
  print_row(log, "Split-merge EM,%s", enabled_str(s.n_sm >= 1));
  print_row(log, "Evaluation,%s", enabled_str(s.eval_given));
}

void print_model_base(FILE* log, const Settings& s, const AttrModel& model) {
  set_matrix_id("SETTING-MODEL-BASE");
  add_column_name("Model specification");
  print_header(log);
  if (s.k_range_given) {
    print_row(log, "Num of classes [min],%d", s.k_min);
    print_row(log, "Num of classes [max],%d", s.k_max);
    print_row(log, "Num of classes [step],%d", s.k_step);
  } else {
    print_row(log, "Num of classes,%d", s.n_class);
  }
  print_row(log, "Num of attributes,%d", s.n_attr);
  print_row(log, "Num of discrete attributes,%d", model.n_discrete);
  print_row(log, "Num of continuous attributes,%d", model.n_continuous);
  if (s.id_given) {
    print_row(log, "ID attribute,%d", s.id_attr);
  } else {
    print_row(log, "ID attribute,(none)");
  }
  if (s.eval_given) {
    print_row(log, "Answer class attribute,%d", s.eval_attr);
  } else {
    print_row(log, "Answer class attribute,(none)");
  }
  index_row(log, "Ignored attributes", attributes_with_role(model, AttrRole::kIgnored));
  index_row(log, "Discrete attributes", attributes_with_role(model, AttrRole::kDiscrete));
  index_row(log, "Continuous attributes", attributes_with_role(model, AttrRole::kContinuous));
  for (size_t g = 0; g < model.groups.size(); ++g) {
    add_field_fmt("Attributes in Gauss%d", static_cast<int>(g));
    for (int j : model.groups[g].attrs) add_field_int(j);
    end_row(log);
  }
  for (size_t g = 0; g < model.groups.size(); ++g) {
    print_row(log, "Dimension of Gauss%d,%d", static_cast<int>(g), model.groups[g].size());
  }
}

// The declared type of a names-file line as SETTING-MODEL-NAME shows it.
const char* declared_type_text(DeclaredType type) {
  switch (type) {
    case DeclaredType::kId:
      return "case identifier";
    case DeclaredType::kEval:
      return "answer class";
    case DeclaredType::kIgnored:
      return "ignored";
    case DeclaredType::kInteger:
      return "continuous (integer)";
    case DeclaredType::kReal:
      return "continuous (real)";
    case DeclaredType::kNominal:
      return "discrete (as-is)";
    case DeclaredType::kValueList:
      return "discrete (explicitly given)";
    default:
      die("Internal error: unknown name type %d\n", static_cast<int>(type));
  }
}

void print_model_names(FILE* log, const AttrModel& model) {
  set_matrix_id("SETTING-MODEL-NAME");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Attr. type");
  print_header(log);
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    print_row(log, "%d,%s,%s", j, attr_name(model, j),
              declared_type_text(model.attrs[j].declared));
  }
}

void print_model_hparam(FILE* log, const Settings& s, const AttrModel& model) {
  set_matrix_id("SETTING-MODEL-HPARAM");
  add_column_name("Hyperparameter");
  add_column_name("Value");
  print_header(log);
  if (s.smooth_c_mode == kModeAuto) {
    print_row(log, "Pseudo count [class],AutoClass");
  } else {
    print_row(log, "Pseudo count [class],%.Ng", s.smooth_c);
  }
  std::vector<int> discrete = attributes_with_role(model, AttrRole::kDiscrete);
  if (s.smooth_a.size() < discrete.size()) {
    die("Internal error: smoothing constants not expanded before writing the settings\n");
  }
  for (size_t k = 0; k < discrete.size(); ++k) {
    if (s.smooth_a[k].mode == kModeAuto) {
      print_row(log, "Pseudo count [attr %d],AutoClass", discrete[k]);
    } else {
      print_row(log, "Pseudo count [attr %d],%.Ng", discrete[k], s.smooth_a[k].value);
    }
  }
  if (s.tau_mode == kModeAuto) {
    print_row(log, "Prior Tau,AutoClass");
  } else {
    print_row(log, "Prior Tau,%.Ng", s.tau);
  }
  if (s.alpha > 0) {
    print_row(log, "Prior Alpha,%.Ng", s.alpha);
  } else {
    print_row(log, "Prior Alpha,Dimension + %.Ng", 1e-6);
  }
  if (s.smooth_mean_given) {
    print_row(log, "Prior Mean,%.Ng", s.smooth_mean);
  } else {
    print_row(log, "Prior Mean,Sample mean");
  }
  if (s.smooth_var_mode == kSmoothVarConst) {
    print_row(log, "Prior Sigma,Diagonal with all elements (variances) being %.Ng", s.smooth_var);
  } else {
    print_row(log, "Prior Sigma,Sample covariances multiplied by %.Ng", s.smooth_var);
  }
}

void print_em(FILE* log, const Settings& s) {
  control_header(log, "SETTING-EM");
  // Unsigned, as --seed takes it: the logged seed must be usable to rerun.
  print_row(log, "Random seed,%u", s.seed);
  print_row(log, "Threshold for convergence,%.Ng", s.epsilon);
  print_row(log, "Max num Of EM iterations,%d", s.max_iter);
  print_row(log, "Random restarts,%s", enabled_str(s.restarts >= 2));
  if (s.restarts >= 2) {
    print_row(log, "Num. of restarts,%d", s.restarts);
    print_row(log, "Max num of EM iterations in restarts,%d", s.max_iter_restart);
  }
  // Only the data-driven start is named: the default keeps the rows as they were.
  if (s.start == kStartKmeans) print_row(log, "Initial state,K-means");
  if (is_vb(s)) {
    print_row(log, "Noises in initialization of categorical hyperparameters,%.Ng", s.noise);
    print_row(log, "Noises in initialization of hyperparameters of Gaussian means,%.Ng",
              s.noise_gauss);
  } else {
    print_row(log, "Initialization method for class,%s", s.init_c_name.c_str());
    print_row(log, "Initialization method for discrete attributes,%s", s.init_a_name.c_str());
    print_row(log, "Noises in initialization of categorical parameters,%.Ng", s.noise);
    print_row(log, "Noises in initialization of means of Gaussians,%.Ng", s.noise_gauss);
  }
  print_row(log, "Threshold for extreme values (Min.),%.Ng", s.extreme_low);
  print_row(log, "Threshold for extreme values (Max.),%.Ng", s.extreme_high);
}

void print_select(FILE* log, const Settings& s) {
  control_header(log, "SETTING-SELECT");
  if (is_vb(s)) {
    print_row(log, "Model score,Variational free energy");
  } else {
    print_row(log, "Model score,%s", s.score_name.c_str());
  }
}

void print_rank(FILE* log, const Settings& s) {
  control_header(log, "SETTING-RANK");
  print_row(log, "Hiding less relevant cases/attvals,%s", enabled_str(s.hide_rank));
  if (s.rank_threshold_given) {
    print_row(log, "Threshold for relevant cases/attvals,%.Ng", s.rank_threshold);
  } else {
    print_row(log, "Num of relevant cases/attvals,%d", s.rank_count);
  }
}

void print_daem(FILE* log, const Settings& s) {
  control_header(log, "SETTING-DAEM");
  print_row(log, "Initial value of inverse temperature,%.Ng", s.beta_init);
  print_row(log, "Update rate of inverse temperature,%.Ng", s.beta_rate);
}

void print_smem(FILE* log, const Settings& s) {
  control_header(log, "SETTING-SMEM");
  print_row(log, "Num of split-merge operations,%d", s.n_sm);
  print_row(log, "Max num of split-merge candidates,%d", s.n_cand);
  print_row(log, "Max num of split candidates,%d", s.n_jsplit);
  print_row(log, "Normalization of J-merge,%s", enabled_str(s.norm_jmerge));
  print_row(log, "Min class prob. before split-merge operation [0: No limit],%.Ng", s.min_c_param);
  print_row(log, "Min class prob. after split-merge operation [0: No limit],%.Ng",
            s.min_new_c_param);
  print_row(log, "Min improvement,%.Ng", s.min_sm_imp);
}

void print_eval(FILE* log, const Settings& s) {
  control_header(log, "SETTING-EVAL");
  print_row(log, "Weight in F-measure of Purity,%.Ng", s.weight_purity);
  print_row(log, "Weight in F-measure of Wallance's measures,%.Ng", s.weight_wallance);
}

void print_inout(FILE* log, const Settings& s) {
  control_header(log, "SETTING-INOUT");
  print_row(log, "Target,%s", s.target.c_str());
  if (s.suffix_given) {
    print_row(log, "Suffix,%s", s.suffix.c_str());
  } else {
    print_row(log, "Suffix,(none)");
  }
  print_row(log, "Input file extension,%s", format_name(s.input_format));
  print_row(log, "Output file extension,%s", format_name(s.output_format));
}

void print_misc(FILE* log, const Settings& s) {
  control_header(log, "SETTING-MISC");
  if (!is_vb(s)) print_row(log, "Log-scale computation,%s", enabled_str(s.log_scale));
  print_row(log, "Ignoring extreme values when computing sample means/covars,%s",
            enabled_str(s.regular_stat));
  print_row(log, "Writing attvals in lexicographical order,%s", enabled_str(s.lex_order));
  print_row(log, "Uncompressing identical objects,%s", enabled_str(s.uncompress));
  print_row(log, "Saving messages,%s", enabled_str(s.save_msg));
  print_row(log, "Being verbose,%s", enabled_str(s.verbose));
  print_row(log, "Showing attvals,%s", enabled_str(!s.hide_attr));
  print_row(log, "Showing membership probs. for attributes,%s", enabled_str(s.show_attr_memp));
  print_row(log, "Showing clusters of attvals,%s", enabled_str(s.show_attr_cluster));
  print_row(log, "Precision of float-point numbers [file output],%d", s.prec_out);
  print_row(log, "Precision of float-point numbers [terminal message],%d", s.prec_msg);
}

}  // namespace

void print_settings(FILE* log, const Settings& s, const AttrModel& model) {
  print_version(log);
  print_files(log, s);
  print_functions(log, s);
  print_model_base(log, s, model);
  if (!is_vb(s) && model.names_read) print_model_names(log, model);
  // The prior hyperparameters matter only when they are not read from a file.
  bool hparam_from_file = is_vb(s) ? !s.run_estimation : s.read_hparam;
  if (!hparam_from_file) print_model_hparam(log, s, model);
  if (s.run_estimation) print_em(log, s);
  if (s.k_range_given) print_select(log, s);
  if (s.rank_given) print_rank(log, s);
  if (s.daem) print_daem(log, s);
  if (s.n_sm >= 1) print_smem(log, s);
  if (s.eval_given) print_eval(log, s);
  print_inout(log, s);
  print_misc(log, s);
  fflush(log);
}

}  // namespace veska

#include "output/print_data.h"

#include <utility>

#include "common/init.h"
#include "common/misc.h"
#include "data/check_ids.h"
#include "data/line_reader.h"
#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

// The number of case lines (entries before compression): every line of the
// case file but the comments. The case table keeps only the merged entries.
int count_case_lines(const Settings& s) {
  FilePtr file = open_for_reading(s.files.cases);
  if (file == nullptr) die("Couldn't open %s\n", s.files.cases.c_str());
  LineReader reader(std::move(file), s.files.cases, check_id::kCasesLongLine);
  int n = 0;
  while (reader.next()) {
    if (reader.text()[0] != '#') ++n;
  }
  return n;
}

bool is_vb(const Settings& s) { return s.program == Program::kVb; }

void print_answer_classes(FILE* log, const AttrModel& model) {
  set_matrix_id("ANS-CLASS");
  add_column_name("Answer class");
  add_column_name("Num of occurrences");
  print_header(log);
  for (int c = 0; c < model.n_answers; ++c) {
    print_row(log, "%s,%d", model.answer_names[c].c_str(), model.answer_entries[c]);
  }
}

void print_value_frequencies(FILE* log, const Settings& s, const AttrModel& model, int j) {
  const DiscreteValues& v = model.values[model.attrs[j].position];
  set_matrix_id("FREQ-CAT%d", j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("ID of attr. value x%d", j);
  add_column_name("Attr. value x%d", j);
  add_column_name(is_vb(s) ? "#occurrences N(x%d)" : "Num. of occurrences N(x%d)", j);
  print_header(log);
  for (int code : v.order) {
    print_row(log, "%d,%s,%d,%s,%ld", j, attr_name(model, j), code, v.names[code].c_str(),
              static_cast<long>(v.freq[code]));
  }
}

void print_case_frequencies(FILE* log, const Settings& s, const AttrModel& model,
                            const CaseTable& table) {
  set_matrix_id("FREQ-CASE");
  add_column_name("Case ID");
  if (s.eval_given) add_column_name("Answer class");
  add_values_column(s);
  add_column_name(is_vb(s) ? "#occurrences N(x)" : "Num. of occurrences N(x)");
  print_header(log);
  for (int e = 0; e < table.n_entries; ++e) {
    const CaseEntry& entry = table.entries[e];
    add_field(case_id_str(model, entry, e));
    if (s.eval_given) add_field(answer_str(model, entry));
    add_value_fields(s, model, entry);
    add_field_int(entry.total);
    end_row(log);
  }
}

// Missing-value counts of the attributes of one kind, when any is missing.
void print_missing(FILE* log, const AttrModel& model, const CaseTable& table, AttrRole role,
                   const char* id) {
  set_matrix_id("%s", id);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Num. of missing values");
  add_column_name("Ratio of missing values");
  print_header(log);
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role != role) continue;
    long missing = table.missing_total[j];
    print_row(log, "%d,%s,%ld,%.Ng", j, attr_name(model, j), missing,
              static_cast<double>(missing) / table.n_cases);
  }
}

}  // namespace

void print_case_summaries(FILE* log, const Settings& settings, const AttrModel& model,
                          const CaseTable& table) {
  if (settings.eval_given) print_answer_classes(log, model);
  if (settings.verbose) {
    for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
      if (model.attrs[j].role == AttrRole::kDiscrete) {
        print_value_frequencies(log, settings, model, j);
      }
    }
    print_case_frequencies(log, settings, model, table);
  }
  fflush(log);
}

std::vector<int> class_counts(const Settings& settings) {
  std::vector<int> ks;
  if (!settings.k_range_given) {
    ks.push_back(settings.n_class);
    return ks;
  }
  for (int k = settings.k_min; k <= settings.k_max; k += settings.k_step) ks.push_back(k);
  return ks;
}

ParamCount param_count(const AttrModel& model, int K) {
  long values_less_one = 0;  // per class: free value probabilities of all discrete attributes
  for (const DiscreteValues& v : model.values) values_less_one += v.n_values - 1;
  long block_params = 0;  // per class: mean and covariance entries of all blocks
  for (const GaussGroup& g : model.groups) {
    long d = g.size();
    block_params += d + d * (d - 1) / 2;
  }
  return ParamCount{K - 1L, K * values_less_one, K * block_params};
}

void print_data_size(FILE* log, const Settings& settings, const AttrModel& model,
                     const CaseTable& table, const std::vector<int>& ks) {
  bool vb = is_vb(settings);
  set_matrix_id("DATASIZE");
  add_column_name("Total num. of cases");
  add_column_name(vb ? "#entries [original]" : "Num. of entries [original]");
  if (!settings.uncompress) {
    add_column_name(vb ? "#entries [multiple occurences compressed]"
                       : "Num. of entries [multiple occurences compressed]");
  }
  print_header(log);
  // Without compression every line is an entry of its own.
  int n_lines = compresses_cases(settings) ? count_case_lines(settings) : table.n_entries;
  if (settings.uncompress) {
    print_row(log, "%d,%d", table.n_cases, n_lines);
  } else {
    print_row(log, "%d,%d,%d", table.n_cases, n_lines, table.n_entries);
  }

  set_matrix_id("PARAMSIZE");
  add_column_name("Num. of classes");
  add_column_name("Num. of class params");
  add_column_name("Num. of params for discrete attrs");
  add_column_name("Num. of params for continuous attrs");
  add_column_name("Total num. of params");
  print_header(log);
  for (int k : ks) {
    ParamCount c = param_count(model, k);
    print_row(log, "%d,%ld,%ld,%ld,%ld", k, c.classes, c.discrete, c.continuous, c.total());
  }

  if (model.n_discrete > 0 && table.disc_missing_sum > 0) {
    print_missing(log, model, table, AttrRole::kDiscrete, "NUM-MISSING-CAT");
  }
  if (model.n_continuous > 0 && table.gauss_missing_sum > 0) {
    print_missing(log, model, table, AttrRole::kContinuous, "NUM-MISSING-GAUSS");
  }
  fflush(log);
}

void print_auto_smoothing(FILE* log, const Settings& s, const AttrModel& model, int K) {
  set_matrix_id("AUTO-SMOOTH-CLASS-K%d", K);
  add_column_name("Num. of classes");
  add_column_name(is_vb(s) ? "Class smoothing constant"
                           : "Class smoothing constant [based on AutoClass]");
  print_header(log);
  print_row(log, "%d,%.Ng", K, s.smooth_c);
  if (model.n_discrete > 0) {
    set_matrix_id("AUTO-SMOOTH-CAT-K%d", K);
    add_column_name("Num. of classes");
    add_column_name("Attr. ID");
    add_column_name("Attr. name");
    add_column_name("Attr. smoothing constant [based on AutoClass]");
    print_header(log);
    for (int pos = 0; pos < model.n_discrete; ++pos) {
      const int j = model.discrete_attr[pos];
      print_row(log, "%d,%d,%s,%.Ng", K, j, attr_name(model, j), s.smooth_a[pos].value);
    }
  }
  fflush(log);
}

}  // namespace veska

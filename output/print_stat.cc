#include "output/print_stat.h"

#include <cmath>

#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

namespace {

// Regular statistics that too few occurrences support are NaN; the file
// shows them as unknown.
void add_stat_field(double x) {
  if (std::isnan(x)) {
    add_field("?");
  } else {
    add_field_real(x);
  }
}

void print_basic_discrete(FILE* log, const AttrModel& model, const SampleStats& stats) {
  set_matrix_id("STAT-BASIC-CAT");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Num. of distinct values");
  add_column_name("Mode value");
  add_column_name("Mode count");
  add_note("Only for discrete attributes");
  print_header(log);
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role != AttrRole::kDiscrete) continue;
    const AttrStat& s = stats.attrs[j];
    print_row(log, "%d,%s,%d,%s,%ld", j, attr_name(model, j), s.n_values, s.mode.c_str(),
              s.mode_count);
  }
}

void print_basic_continuous(FILE* log, const AttrModel& model, const SampleStats& stats) {
  set_matrix_id("STAT-BASIC-GAUSS");
  for (const char* column :
       {"Gauss ID", "Attr. ID", "Attr. name", "Min.", "Mean", "Median", "Max.", "Var.", "Std."}) {
    add_column_name("%s", column);
  }
  add_note("Only for continuous attributes");
  print_header(log);
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role != AttrRole::kContinuous) continue;
    const AttrStat& s = stats.attrs[j];
    print_row(log, "%d,%d,%s,%.Ng,%.Ng,%.Ng,%.Ng,%.Ng,%.Ng", model.attrs[j].group, j,
              attr_name(model, j), s.min, s.mean, s.median, s.max, s.variance, s.sd);
  }

  set_matrix_id("STAT-PERCENTILE");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Percent");
  add_column_name("Percentile");
  add_note("Only for continuous attributes");
  print_header(log);
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role != AttrRole::kContinuous) continue;
    for (int i = 0; i < 9; ++i) {
      print_row(log, "%d,%s,%d,%.Ng", j, attr_name(model, j), kPercentLevels[i],
                stats.attrs[j].percentiles[i]);
    }
  }
}

void print_means(FILE* log, const AttrModel& model, const SampleStats& stats) {
  set_matrix_id("STAT-GAUSS-MEAN");
  add_column_name("Gauss ID");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Mean");
  print_header(log);
  for (int g = 0; g < model.n_groups; ++g) {
    const std::vector<int>& members = model.groups[g].attrs;
    for (int a = 0; a < static_cast<int>(members.size()); ++a) {
      print_row(log, "%d,%d,%s,%.Ng", g, members[a], attr_name(model, members[a]),
                (*stats.groups[g].sample_mean)[a]);
    }
  }
}

// The upper triangle of each group's matrix, row by row. `which` picks the
// matrix of a group.
template <typename Pick>
void print_covariances(FILE* log, const AttrModel& model, const char* id, const char* note,
                       const SampleStats& stats, Pick which) {
  set_matrix_id("%s", id);
  for (const char* column :
       {"Gauss ID", "Attr. ID", "Attr. ID", "Attr. name", "Attr. name", "(Co)Variance"}) {
    add_column_name("%s", column);
  }
  if (note != nullptr) add_note("%s", note);
  print_header(log);
  for (int g = 0; g < model.n_groups; ++g) {
    const std::vector<int>& members = model.groups[g].attrs;
    const Matrix& m = *which(stats.groups[g]);
    for (int a = 0; a < static_cast<int>(members.size()); ++a) {
      for (int b = a; b < static_cast<int>(members.size()); ++b) {
        add_field_int(g);
        add_field_int(members[a]);
        add_field_int(members[b]);
        // One name at a time: attr_name's text lasts until its next call.
        add_field(attr_name(model, members[a]));
        add_field(attr_name(model, members[b]));
        add_stat_field(m[a][b]);
        end_row(log);
      }
    }
  }
}

constexpr const char* kRegularNote = "These are the statistics when ignoring extreme values";

void print_regular(FILE* log, const Settings& settings, const AttrModel& model,
                   const SampleStats& stats) {
  set_matrix_id("STAT-REGULAR-Q");
  add_column_name("Q-min.");
  add_column_name("Q-max.");
  add_note("The values below Q-min. or above Q-max. are considered as extreme values");
  print_header(log);
  print_row(log, "%.Ng,%.Ng", settings.extreme_low, settings.extreme_high);

  set_matrix_id("STAT-REGULAR-MEAN");
  for (const char* column : {"Gauss ID", "Attr. ID", "Attr. name", "Min.", "Mean", "Max."}) {
    add_column_name("%s", column);
  }
  add_note("%s", kRegularNote);
  print_header(log);
  for (int g = 0; g < model.n_groups; ++g) {
    const GroupStats& gs = stats.groups[g];
    const std::vector<int>& members = model.groups[g].attrs;
    for (int a = 0; a < static_cast<int>(members.size()); ++a) {
      add_field_int(g);
      add_field_int(members[a]);
      add_field(attr_name(model, members[a]));
      add_stat_field((*gs.reg_min)[a]);
      add_stat_field((*gs.reg_mean)[a]);
      add_stat_field((*gs.reg_max)[a]);
      end_row(log);
    }
  }

  print_covariances(log, model, "STAT-REGULAR-COVAR", kRegularNote, stats,
                    [](const GroupStats& gs) { return gs.reg_covar; });
}

}  // namespace

void print_statistics(FILE* log, const Settings& settings, const AttrModel& model,
                      const SampleStats& stats) {
  if (model.n_discrete > 0) print_basic_discrete(log, model, stats);
  if (model.n_continuous > 0) {
    print_basic_continuous(log, model, stats);
    print_means(log, model, stats);
    print_covariances(log, model, "STAT-GAUSS-COVAR", nullptr, stats,
                      [](const GroupStats& gs) { return gs.sample_covar; });
    print_regular(log, settings, model, stats);
  }
  fflush(log);
}

}  // namespace veska

#include "output/print_fit_tables.h"

#include "output/section_writer.h"

namespace veska {

void print_learning_curve(FILE* log, const char* id, int K, std::span<const TitledColumn> columns,
                          int rows) {
  set_matrix_id(id, K);
  add_column_name("Num. of classes");
  add_column_name("Num. of updates");
  for (const TitledColumn& c : columns) add_column_name("%s", c.title);
  print_header(log);
  for (int i = 0; i < rows; ++i) {
    add_field_int(K);
    add_field_int(i);
    for (const TitledColumn& c : columns) add_field_real(c.values[static_cast<size_t>(i)]);
    end_row(log);
  }
  fflush(log);
}

void print_score_table(FILE* log, std::span<const int> ks, std::span<const ScoreColumn> columns,
                       const char* criterion, int k_opt) {
  set_matrix_id("SCORE");
  add_column_name("Num. of classes");
  for (const ScoreColumn& c : columns) add_column_name("%s", c.title);
  if (criterion != nullptr) add_note("Selected criterion = %s", criterion);
  add_note("Optimal num. of classes = %d", k_opt);
  print_header(log);
  for (size_t i = 0; i < ks.size(); ++i) {
    add_field_int(ks[i]);
    for (const ScoreColumn& c : columns) {
      if (c.computed.empty() || c.computed[i]) {
        add_field_real(c.values[i]);
      } else {
        add_field("N/A");
      }
    }
    end_row(log);
  }
  fflush(log);
}

void print_seeds(FILE* log, bool per_k, int K, int best_restart,
                 const std::vector<RestartRecord>& runs, const char* objective_column) {
  if (per_k) {
    set_matrix_id("SEED-K%d", K);
  } else {
    set_matrix_id("SEED");
  }
  add_column_name("Num. of classes");
  add_column_name("Restart");
  add_column_name("Random seed");
  add_column_name("Num. of updates");
  add_column_name("%s", objective_column);
  add_note("Best seed = %d", best_restart);
  print_header(log);
  for (int r = 0; r < static_cast<int>(runs.size()); ++r) {
    const RestartRecord& run = runs[static_cast<size_t>(r)];
    if (run.seeded) {
      print_row(log, "%d,%d,%u,%d,%.Ng", K, r, static_cast<unsigned>(run.seed), run.updates,
                run.objective);
    } else {
      print_row(log, "%d,%d,N/A,%d,%.Ng", K, r, run.updates, run.objective);
    }
  }
  fflush(log);
}

}  // namespace veska

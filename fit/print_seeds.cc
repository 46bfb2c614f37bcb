#include "fit/print_seeds.h"

#include "output/section_writer.h"

namespace veska {

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

#include "vb/print_vb_smem.h"

#include "output/section_writer.h"

namespace veska {

namespace {

const SmemOperation& operation(const std::vector<SmemOperation>& ops, int o) {
  static const SmemOperation none;
  return static_cast<size_t>(o) < ops.size() ? ops[static_cast<size_t>(o)] : none;
}

}  // namespace

void print_smem_updates(FILE* log, int K, int n_sm, const std::vector<SmemOperation>& ops) {
  set_matrix_id("SMEM-STAT-EM-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Num. of split-merge operations");
  add_column_name("Num. of updates in partial EM");
  add_column_name("Num. of updates in full EM");
  print_header(log);
  for (long long i = 0; i <= n_sm; ++i) {  // n_sm may be the largest int
    const int o = static_cast<int>(i);
    const SmemOperation& op = operation(ops, o);
    if (o == 0) {
      print_row(log, "%d,%d,N/A,%d", K, o, op.updates);
    } else {
      print_row(log, "%d,%d,%d,%d", K, o, op.partial_updates, op.updates - op.partial_updates);
    }
  }
  fflush(log);
}

void print_smem_free_energy(FILE* log, int K, bool daem, const std::vector<SmemOperation>& ops) {
  set_matrix_id("FREE-ENERGY-SMEM-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Num. of split-merge operations");
  add_column_name("Num. of updates");
  add_column_name("Variational free energy");
  if (daem) add_column_name("Inverse temperature");
  print_header(log);
  for (int o = 0; o < static_cast<int>(ops.size()); ++o) {
    const SmemOperation& op = ops[static_cast<size_t>(o)];
    for (int t = 0; t < op.updates; ++t) {
      if (daem) {
        print_row(log, "%d,%d,%d,%.Ng,%.Ng", K, o, t, op.history.at(t),
                  op.history.beta_at(t));
      } else {
        print_row(log, "%d,%d,%d,%.Ng", K, o, t, op.history.at(t));
      }
    }
  }
  fflush(log);
}

void print_smem_candidates(FILE* log, int K, int n_sm, const std::vector<SmemOperation>& ops) {
  set_matrix_id("SMEM-STAT-SM-K%d", K);
  add_column_name("Num. of classes");
  add_column_name("Num. of split-merge operations");
  add_column_name("Num. of rejected candidates");
  add_column_name("Num. of ignored candidates");
  print_header(log);
  // Operation o (from 1) is the row numbered o - 1.
  for (long long i = 1; i <= n_sm; ++i) {
    const int o = static_cast<int>(i);
    const SmemOperation& op = operation(ops, o);
    print_row(log, "%d,%d,%d,%d", K, o - 1, op.rejected, op.ignored);
  }
  fflush(log);
}

}  // namespace veska

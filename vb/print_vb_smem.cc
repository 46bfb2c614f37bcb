#include "vb/print_vb_smem.h"

#include "output/section_writer.h"

namespace veska {


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


}  // namespace veska

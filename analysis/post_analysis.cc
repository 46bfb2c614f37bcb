#include "analysis/post_analysis.h"

#include "analysis/cluster.h"
#include "analysis/print_membership.h"
#include "analysis/rank.h"
#include "common/misc.h"

namespace veska {

void analyse_memberships(const AnalysisInput& in, const PostAnalysisSteps& steps) {
  if (in.settings.mem_prob) write_membership_file(in);
  if (steps.done_after_membership_file) msg_printf("done\n");
  if (steps.between) steps.between();
  cluster_cases(in);
  if (in.settings.rank_given) rank_relevant(in);
}

}  // namespace veska

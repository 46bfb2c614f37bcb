#include "data/start_partition.h"

#include "common/misc.h"
#include "data/kmeans_start.h"

namespace veska {

std::vector<int> start_partition(const Settings& settings, const AttrModel& model,
                                 const CaseTable& cases, const SampleStats& stats, int K) {
  switch (settings.start) {
    case kStartRandom: return {};
    case kStartKmeans: return kmeans_partition(model, cases, stats, K);
    default: die("Internal error: unexpected start method\n");
  }
}

}  // namespace veska

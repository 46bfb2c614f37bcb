// The post-analysis of a chosen model, in the order both clustering programs
// write it: the membership file (with --mem-prob), the engine's own step
// (rumelvb's predictive file), the clustering with its evaluation, then the
// ranking (with --rank). An engine only turns its model into Memberships.
#pragma once

#include <functional>

#include "analysis/memberships.h"

namespace veska {

struct PostAnalysisSteps {
  // Ends, after the membership file, the "Computing ..." line the engine
  // began before computing the memberships.
  bool done_after_membership_file = false;
  // Runs between the membership file and the clustering; may be empty.
  std::function<void()> between;
};

void analyse_memberships(const AnalysisInput& in, const PostAnalysisSteps& steps = {});

}  // namespace veska

// For the VB engine's tests: the data sets of tests/support/case_data.h
// with the engine's context over them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/case_data.h"
#include "vb/vb_state.h"

namespace veska::testing {

class VbData : public CaseData {
 public:
  VbData(const std::string& csv, int n_attr, const std::vector<std::string>& gauss,
         const std::function<void(Settings&)>& tweak = {})
      : CaseData(csv, n_attr, gauss, tweak),
        views(build_entry_views(cases, model)),
        ctx(std::make_unique<VbContext>(VbContext{settings, model, cases, stats, views})) {}

  EntryViews views;
  std::unique_ptr<VbContext> ctx;
};

}  // namespace veska::testing

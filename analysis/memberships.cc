#include "analysis/memberships.h"

namespace veska {

MembershipNeeds analysis_needs(const Settings& settings) {
  MembershipNeeds needs;
  needs.densities = settings.mem_prob || settings.verbose;
  needs.share = true;
  return needs;
}

Memberships allocate_memberships(const AttrModel& model, int n_entries, int K,
                                 const MembershipNeeds& needs, bool skip_case) {
  const size_t k = static_cast<size_t>(K);
  const size_t per_entry = static_cast<size_t>(n_entries) * k;
  Memberships m;
  m.K = K;
  m.n_entries = n_entries;
  m.with_densities = needs.densities;
  m.blocks_share_case = needs.blocks && needs.share && model.n_discrete == 0 && model.n_groups == 1;
  m.p_class.assign(k, 0.0);
  if (!skip_case) {
    if (needs.densities) {
      m.p_component.assign(per_entry, 0.0);
      m.p_marginal.assign(static_cast<size_t>(n_entries), 0.0);
    }
    m.p_case.assign(per_entry, 0.0);
  }
  m.values.resize(static_cast<size_t>(model.n_discrete));
  for (int pos = 0; pos < model.n_discrete; ++pos) {
    ValueMemberships& v = m.values[static_cast<size_t>(pos)];
    v.n_values = model.values[static_cast<size_t>(pos)].n_values;
    const size_t nv = static_cast<size_t>(v.n_values);
    v.p_value_given_class.assign(k * nv, 0.0);
    v.p_value.assign(nv, 0.0);
    v.p_class_given_value.assign(nv * k, 0.0);
  }
  m.blocks.resize(static_cast<size_t>(model.n_groups));
  if (!needs.blocks || m.blocks_share_case) return m;
  for (BlockMemberships& b : m.blocks) {
    if (needs.densities) {
      b.p_block_given_class.assign(per_entry, 0.0);
      b.p_block.assign(static_cast<size_t>(n_entries), 0.0);
    }
    b.p_class_given_block.assign(per_entry, 0.0);
  }
  return m;
}

}  // namespace veska

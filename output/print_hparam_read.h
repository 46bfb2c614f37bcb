// What reading a hyperparameter file adds to the log: the value codes the
// file gave each discrete attribute's values.
#pragma once

#include <cstdio>

#include "common/attributes.h"

namespace veska {

// ATTVAL%d per discrete attribute (in attribute order): one row per value,
// its code and name, in the attribute's display order. Flushes the log.
void print_attribute_values(FILE* log, const AttrModel& model);

}  // namespace veska

// Texts of attribute names and case values as the data matrices show them.
// Each returns text that stays valid until the next call of the same function.
#pragma once

#include "common/attributes.h"

namespace veska {

// The name from the names file when one was read, else "X" and the index.
const char* attr_name(const AttrModel& model, int j);

}  // namespace veska

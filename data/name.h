// The names file: one line per attribute giving its name and declared type,
// checked against the roles the options gave, and the fixed value lists of
// discrete attributes.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// Reads settings.files.names into the model (names, types, value lists) when
// the file can be opened; a missing file is not an error and leaves
// names_read unset. Needs the roles already resolved.
void read_names(const Settings& settings, AttrModel& model);

}  // namespace veska

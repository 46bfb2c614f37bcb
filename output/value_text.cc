#include "output/value_text.h"

#include <cstdio>

namespace veska {

const char* attr_name(const AttrModel& model, int j) {
  static char fallback[16];
  if (model.names_read && j >= 0 && j < static_cast<int>(model.attrs.size()) &&
      model.attrs[j].has_name) {
    return model.attrs[j].name.c_str();
  }
  snprintf(fallback, sizeof fallback, "X%d", j);
  return fallback;
}

}  // namespace veska

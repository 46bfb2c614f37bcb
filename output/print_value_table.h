// The shape shared by every per-class table of a discrete attribute's
// values (HPARAM-CAT%d, PARAM-CAT%d, PI-CAT%d, EXPECT-CAT%d, PREDICT-CAT%d):
// columns "Attr. ID", "Attr. name", "Class k", "Attr. value x%d" and the
// value's own column; rows per class (outer) and value in display order.
#pragma once

#include <cstdio>
#include <functional>

#include "common/attributes.h"

namespace veska {

// `id_format` and `column_format` take the attribute index ("PARAM-CAT%d",
// "Attr. parameter P(x%d|k)"); value_of(k, code) gives each cell.
void print_value_table(FILE* file, const char* id_format, const char* column_format,
                       const AttrModel& model, int pos, int K,
                       const std::function<double(int k, int code)>& value_of);

}  // namespace veska

// The shapes shared by the per-class tables of a model: a discrete
// attribute's values (HPARAM-CAT%d, PARAM-CAT%d, PI-CAT%d, EXPECT-CAT%d,
// PREDICT-CAT%d: columns "Attr. ID", "Attr. name", "Class k", "Attr. value
// x%d" and the value's own column; rows per class, then value in display
// order), and a Gaussian block's means and (co)variances (the -GAUSS-MEAN%d
// and -GAUSS-COVAR%d tables: per class, per attribute or upper-triangle
// pair of the block).
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

// "Gauss ID", "Class k" (or the other way round with `class_first`),
// "Attr. ID", "Attr. name", "Mean"; mean_of(k, a) for block position a.
void print_block_means(FILE* file, const char* id_format, const AttrModel& model, int g, int K,
                       bool class_first, const std::function<double(int k, int a)>& mean_of);
// The same two first columns, "Attr. ID" twice, "Attr. name" twice and
// "(Co)Variance"; value_of(k, a, b) for positions a <= b.
void print_block_covariances(FILE* file, const char* id_format, const AttrModel& model, int g,
                             int K, bool class_first,
                             const std::function<double(int k, int a, int b)>& value_of);

}  // namespace veska

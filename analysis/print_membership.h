// The membership data matrices (MEMBER-CASE, MEMBER-CAT%d, MEMBER-GAUSS%d)
// and the class and value probability tables that open them (PARAM-CLASS,
// PARAM-CAT%d, and the same shapes under other IDs and labels).
#pragma once

#include <cstdio>
#include <vector>

#include "analysis/memberships.h"

namespace veska {

// One row "%d,%.Ng" per class: `id` with the columns "Class k" and `label`.
void print_class_probs(FILE* file, const char* id, const char* label,
                       const std::vector<double>& p_class);

// Per class (outer) and value in display order (inner): j, name, k, value
// name, P(v|k). `id_format` and `label_format` take the attribute index j
// ("PARAM-CAT%d", "Attr. parameter P(x%d|k)").
void print_value_probs(FILE* file, const char* id_format, const char* label_format,
                       const AttrModel& model, int pos, const ValueMemberships& v, int K);

// PARAM-CLASS and PARAM-CAT%d for every discrete attribute; flushes.
void print_class_parameters(FILE* file, const AttrModel& model, const Memberships& mem);

// MEMBER-CASE: per entry (outer) and class (inner). Flushes.
void print_member_case(FILE* file, const AnalysisInput& in);
// MEMBER-CAT%d for every discrete attribute, then MEMBER-GAUSS%d for every
// block. Flushes.
void print_member_attributes(FILE* file, const AnalysisInput& in);

// The membership file: MEMBER-CASE and, with --show-attr-memp, the
// attribute data matrices. A file that cannot be created is fatal.
void write_membership_file(const AnalysisInput& in);

}  // namespace veska

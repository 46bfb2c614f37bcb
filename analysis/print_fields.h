// The optional "Answer class" column and field of the post-analysis data
// matrices: present only with an answer-class attribute (--eval).
#pragma once

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

void add_answer_column(const Settings& settings);
void add_answer_field(const Settings& settings, const AttrModel& model, const CaseEntry& entry);

}  // namespace veska

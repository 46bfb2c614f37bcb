#include "analysis/print_fields.h"

#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

void add_answer_column(const Settings& settings) {
  if (settings.eval_given) add_column_name("Answer class");
}

void add_answer_field(const Settings& settings, const AttrModel& model, const CaseEntry& entry) {
  if (settings.eval_given) add_field(answer_str(model, entry));
}

}  // namespace veska

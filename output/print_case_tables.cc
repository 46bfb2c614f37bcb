#include "output/print_case_tables.h"

#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

void print_complete_probs(FILE* log, const Settings& s, const AttrModel& model,
                          const CaseTable& cases, int K,
                          const std::function<double(int k, int n)>& value_of) {
  set_matrix_id("COMP");
  add_column_name("Class k");
  add_column_name("Case ID");
  add_values_column(s);
  add_column_name("Complete data prob. P(k,x)");
  print_header(log);
  for (int k = 0; k < K; ++k) {
    for (int n = 0; n < cases.n_entries; ++n) {
      add_field_int(k);
      add_case_fields(s, model, cases.entries[static_cast<size_t>(n)], n);
      add_field_real(value_of(k, n));
      end_row(log);
    }
  }
  fflush(log);
}

void print_incomplete_probs(FILE* log, const Settings& s, const AttrModel& model,
                            const CaseTable& cases, const std::function<double(int n)>& value_of) {
  set_matrix_id("INCOMP");
  add_column_name("Case ID");
  add_values_column(s);
  add_column_name("Incomplete data prob. P(x)");
  print_header(log);
  for (int n = 0; n < cases.n_entries; ++n) {
    add_case_fields(s, model, cases.entries[static_cast<size_t>(n)], n);
    add_field_real(value_of(n));
    end_row(log);
  }
  fflush(log);
}

void print_conditional_probs(FILE* log, const Settings& s, const AttrModel& model,
                             const CaseTable& cases, int K,
                             const std::function<double(int k, int n)>& value_of) {
  set_matrix_id("COND");
  add_column_name("Case ID");
  add_values_column(s);
  if (s.program == Program::kVb) {
    add_column_name("Class k");
    add_column_name("Conditional prob. P(k|x)");
  } else {
    add_column_name("Class k, Conditional prob. P(k|x)");
  }
  print_header(log);
  for (int n = 0; n < cases.n_entries; ++n) {
    for (int k = 0; k < K; ++k) {
      add_case_fields(s, model, cases.entries[static_cast<size_t>(n)], n);
      add_field_int(k);
      add_field_real(value_of(k, n));
      end_row(log);
    }
  }
  fflush(log);
}

}  // namespace veska

#include "output/print_hparam_read.h"

#include "output/section_writer.h"

namespace veska {

void print_attribute_values(FILE* log, const AttrModel& model) {
  for (int j : model.discrete_attr) {
    const DiscreteValues& v = model.values[static_cast<size_t>(model.attrs[static_cast<size_t>(j)].position)];
    set_matrix_id("ATTVAL%d", j);
    add_column_name("ID for the attribute value");
    add_column_name("Attr. value x%d", j);
    print_header(log);
    for (int code : v.order) print_row(log, "%d,%s", code, v.names[static_cast<size_t>(code)].c_str());
  }
  fflush(log);
}

}  // namespace veska

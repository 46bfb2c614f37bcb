#include "output/print_value_table.h"

#include <string>

#include "output/section_writer.h"
#include "output/value_text.h"

namespace veska {

void print_value_table(FILE* file, const char* id_format, const char* column_format,
                       const AttrModel& model, int pos, int K,
                       const std::function<double(int k, int code)>& value_of) {
  const int j = model.discrete_attr[static_cast<size_t>(pos)];
  const DiscreteValues& values = model.values[static_cast<size_t>(pos)];
  const std::string name = attr_name(model, j);
  set_matrix_id(id_format, j);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Class k");
  add_column_name("Attr. value x%d", j);
  add_column_name(column_format, j);
  print_header(file);
  for (int k = 0; k < K; ++k) {
    for (int code : values.order) {
      print_row(file, "%d,%s,%d,%s,%.Ng", j, name.c_str(), k,
                values.names[static_cast<size_t>(code)].c_str(), value_of(k, code));
    }
  }
}

}  // namespace veska

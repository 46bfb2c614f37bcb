#include "output/print_value_table.h"

#include <string>
#include <vector>

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

namespace {

void add_block_class_columns(bool class_first) {
  add_column_name(class_first ? "Class k" : "Gauss ID");
  add_column_name(class_first ? "Gauss ID" : "Class k");
}

}  // namespace

void print_block_means(FILE* file, const char* id_format, const AttrModel& model, int g, int K,
                       bool class_first, const std::function<double(int k, int a)>& mean_of) {
  const std::vector<int>& attrs = model.groups[static_cast<size_t>(g)].attrs;
  set_matrix_id(id_format, g);
  add_block_class_columns(class_first);
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Mean");
  print_header(file);
  for (int k = 0; k < K; ++k) {
    for (int a = 0; a < static_cast<int>(attrs.size()); ++a) {
      print_row(file, "%d,%d,%d,%s,%.Ng", class_first ? k : g, class_first ? g : k,
                attrs[static_cast<size_t>(a)], attr_name(model, attrs[static_cast<size_t>(a)]),
                mean_of(k, a));
    }
  }
}

void print_block_covariances(FILE* file, const char* id_format, const AttrModel& model, int g,
                             int K, bool class_first,
                             const std::function<double(int k, int a, int b)>& value_of) {
  const std::vector<int>& attrs = model.groups[static_cast<size_t>(g)].attrs;
  const int d = static_cast<int>(attrs.size());
  // attr_name reuses one area for unnamed attributes; a row shows two names.
  std::vector<std::string> names;
  for (int j : attrs) names.push_back(attr_name(model, j));
  set_matrix_id(id_format, g);
  add_block_class_columns(class_first);
  add_column_name("Attr. ID");
  add_column_name("Attr. ID");
  add_column_name("Attr. name");
  add_column_name("Attr. name");
  add_column_name("(Co)Variance");
  print_header(file);
  for (int k = 0; k < K; ++k) {
    for (int a = 0; a < d; ++a) {
      for (int b = a; b < d; ++b) {
        print_row(file, "%d,%d,%d,%d,%s,%s,%.Ng", class_first ? k : g, class_first ? g : k,
                  attrs[static_cast<size_t>(a)], attrs[static_cast<size_t>(b)],
                  names[static_cast<size_t>(a)].c_str(), names[static_cast<size_t>(b)].c_str(),
                  value_of(k, a, b));
      }
    }
  }
}

}  // namespace veska

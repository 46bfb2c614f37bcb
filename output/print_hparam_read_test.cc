#include "output/print_hparam_read.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/misc.h"
#include "data/test_model.h"
#include "output/section_writer.h"

namespace veska {
namespace {

std::string written(const AttrModel& model) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
  print_attribute_values(f.get(), model);
  std::string out;
  rewind(f.get());
  for (int c = fgetc(f.get()); c != EOF; c = fgetc(f.get())) out.push_back(static_cast<char>(c));
  return out;
}

// Value codes are the file's order; rows follow the display order, and the
// data matrix carries the attribute's index, not its discrete position.
TEST(PrintAttributeValues, OneDataMatrixPerDiscreteAttributeInDisplayOrder) {
  set_conv_precision(6, 12);
  set_output_delimiter('\t');
  section_writer_init();
  AttrModel model = testing::make_model(testing::Roles(4).group({0}).ignore(2));
  DiscreteValues& x1 = model.values[0];
  x1.names = {"b", "a,c"};
  x1.order = {1, 0};
  DiscreteValues& x3 = model.values[1];
  x3.names = {"z"};
  x3.order = {0};
  EXPECT_EQ(written(model),
            "#### ID:ATTVAL1\r\n#### ID for the attribute value, Attr. value x1\r\n####\r\n"
            "1\ta,c\r\n0\tb\r\n"
            "#### ID:ATTVAL3\r\n#### ID for the attribute value, Attr. value x3\r\n####\r\n"
            "0\tz\r\n");
  set_output_delimiter(',');
}

}  // namespace
}  // namespace veska

#include "data/name.h"

#include <gtest/gtest.h>

#include <string>

#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

class NamesFile : public ::testing::Test {
 protected:
  // Reads `text` as the names file of a model with roles `r`.
  testing::FatalResult read(const std::string& text, const Roles& r) {
    write_file(path_, text);
    model_ = make_model(r);
    Settings s = make_settings(dir_.file("d_freq.csv"), path_);
    return run_capturing([&] { read_names(s, model_); });
  }
  // The line error text for line `line` of the names file.
  std::string line_error(int line, int id, const std::string& message) {
    return "[" + path_ + ", Line " + std::to_string(line) + ", ID:" + std::to_string(id) + "] " +
           message + "\n";
  }

  TempDir dir_;
  std::string path_ = dir_.file("d_name.txt");
  AttrModel model_;
};

TEST_F(NamesFile, ReadsNamesTypesAndValueLists) {
  Roles r = Roles(5).id(0).eval(4).group({2});
  auto res = read(
      "# attributes of d\n"
      "\n"
      "  \t\r\n"
      "key id\n"
      "colour\t{red, green ,blue,red}\n"
      "  size   real  \r\n"
      "a#b  \tnominal\n"
      "class\teval\n"
      "# trailing comment\n",
      r);
  ASSERT_FALSE(res.exited) << res.msg;
  EXPECT_EQ(res.msg, "Reading names from " + path_ + "...done\r\n");
  EXPECT_EQ(res.log, "");
  EXPECT_TRUE(model_.names_read);
  EXPECT_EQ(model_.attrs[0].name, "key");
  EXPECT_EQ(model_.attrs[0].declared, DeclaredType::kId);
  EXPECT_EQ(model_.attrs[1].name, "colour");
  EXPECT_EQ(model_.attrs[1].type, "{red, green ,blue,red}");
  EXPECT_EQ(model_.attrs[2].name, "size");
  EXPECT_EQ(model_.attrs[2].declared, DeclaredType::kReal);
  EXPECT_EQ(model_.attrs[3].name, "a#b");  // "#" after the first character is text
  EXPECT_EQ(model_.attrs[4].declared, DeclaredType::kEval);
  for (const Attribute& a : model_.attrs) EXPECT_TRUE(a.has_name);

  const DiscreteValues& colour = model_.values[0];
  EXPECT_TRUE(colour.fixed);
  EXPECT_EQ(strtab_count(colour.table), 3);  // a repeated name keeps its first code
  EXPECT_EQ(strtab_lookup(colour.table, "red"), 0);
  EXPECT_EQ(strtab_lookup(colour.table, "green"), 1);
  EXPECT_EQ(strtab_lookup(colour.table, "blue"), 2);
  EXPECT_FALSE(model_.values[1].fixed);  // "nominal" collects values from the cases
}

TEST_F(NamesFile, ValueListDropsWhiteSpaceAndReadsToFirstBrace) {
  auto res = read("town {New York, Bad\tEms}x}\n", Roles(1));
  ASSERT_FALSE(res.exited) << res.msg;
  EXPECT_EQ(strtab_lookup(model_.values[0].table, "NewYork"), 0);
  EXPECT_EQ(strtab_lookup(model_.values[0].table, "BadEms"), 1);
  EXPECT_EQ(strtab_count(model_.values[0].table), 2);
}

TEST_F(NamesFile, MissingFileIsNotAnError) {
  model_ = make_model(Roles(2));
  Settings s = make_settings(dir_.file("d_freq.csv"), dir_.file("absent_name.txt"));
  auto res = run_capturing([&] { read_names(s, model_); });
  EXPECT_FALSE(res.exited);
  EXPECT_EQ(res.msg, "");
  EXPECT_FALSE(model_.names_read);
  EXPECT_FALSE(model_.attrs[0].has_name);
}

TEST_F(NamesFile, LineErrors) {
  Roles two(2);
  auto res = read("# c\na nominal\ncolour\n", two);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.log, line_error(3, 101, "Unexpected format") + "colour\r\n");
  // The message stream has the same text after the progress message.
  EXPECT_EQ(res.msg, "Reading names from " + path_ + "..." + res.log);

  // Keywords are exact and case-sensitive; the caret marks the type.
  res = read("a\tReal\n", two);
  EXPECT_EQ(res.log, line_error(1, 102, "Unexpected attribute spec") + "a\tReal\r\n  ^\n");
  res = read("a  {x\n", two);
  EXPECT_EQ(res.log, line_error(1, 102, "Unexpected attribute spec") + "a  {x\r\n   ^\n");

  res = read("a nominal\nb nominal\n\nc nominal\n", two);
  EXPECT_EQ(res.log, line_error(4, 103, "Too many attribute names") + "c nominal\r\n");

  // The last line read is cited, comment or not, with a line end added.
  res = read("a nominal\n# end", two);
  EXPECT_EQ(res.log, line_error(2, 104, "Too few attribute names") + "# end\r\n");
  res = read("", two);
  EXPECT_EQ(res.log, line_error(0, 104, "Too few attribute names"));

  res = read("a {x,,y}\nb nominal\n", two);
  EXPECT_EQ(res.log, line_error(1, 106, "Empty value name") + "a {x,,y}\r\n     ^\n");
  res = read("a {}\nb nominal\n", two);
  EXPECT_EQ(res.log, line_error(1, 106, "Empty value name") + "a {}\r\n   ^\n");
  res = read("a { x , }\nb nominal\n", two);
  EXPECT_EQ(res.log, line_error(1, 106, "Empty value name") + "a { x , }\r\n        ^\n");

  res = read(std::string("a nominal\0junk\nb nominal\n", 24), two);
  EXPECT_EQ(res.log, line_error(1, 107, "Unexpected CR or NUL character inside the line") +
                         "a nominal junk\r\n         ^\n");

  std::string name256(256, 'v');
  res = read("a {" + name256 + "}\nb nominal\n", two);
  EXPECT_FALSE(res.exited) << res.msg;
  res = read("a {w," + name256 + "x}\nb nominal\n", two);
  EXPECT_EQ(res.log, line_error(1, 105, "Too long value name") + "a {w," + name256 + "x}\r\n" +
                         std::string(5, ' ') + "^\n");
}

TEST_F(NamesFile, TypeMustMatchTheRole) {
  Roles r = Roles(3).id(0).ignore(2);
  auto res = read("key nominal\n", r);
  EXPECT_EQ(res.log, "Inconsistent attribute type for `key'\n");
  res = read("key id\nx real\n", r);  // real but not in a group
  EXPECT_EQ(res.log, "Inconsistent attribute type for `x'\n");
  res = read("key id\nx eval\n", r);
  EXPECT_EQ(res.log, "Inconsistent attribute type for `x'\n");
  res = read("key id\nx {a}\ny nominal\n", r);
  EXPECT_EQ(res.log, "Inconsistent attribute type for `y'\n");
  res = read("key id\nx {a}\ny ignored\n", r);
  EXPECT_FALSE(res.exited) << res.msg;
  Roles g = Roles(2).group({0, 1});
  res = read("p integer\nq nominal\n", g);
  EXPECT_EQ(res.log, "Inconsistent attribute type for `q'\n");
  res = read("p integer\nq real\n", g);
  EXPECT_FALSE(res.exited) << res.msg;
}

TEST_F(NamesFile, OverlongLineIsALineError) {
  std::string longest = "a nominal" + std::string(131071 - 9, ' ');
  auto res = read(longest + "\n", Roles(1));
  EXPECT_FALSE(res.exited) << res.msg.substr(0, 200);
  std::string over = "# c\na nominal" + std::string(131072 - 9, ' ') + "\r\n";
  res = read(over, Roles(1));
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.log, line_error(2, 100, "Too long line (more than 131071 characters)") +
                         "a nominal" + std::string(80 - 9, ' ') + "...\r\n");
}

}  // namespace
}  // namespace veska

#include "prep/import.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "data/name.h"
#include "data/read_freq.h"
#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::Roles;

PrepSettings settings(const std::vector<std::string>& roles = {}) {
  PrepSettings s;
  s.table = "t.csv";
  s.target = "out";
  for (size_t i = 0; i + 1 < roles.size(); i += 2) {
    const std::string& option = roles[i];
    const std::string& value = roles[i + 1];
    if (option == "--class") s.class_given = true, s.class_column = value;
    if (option == "--id") s.id_given = true, s.id_column = value;
    if (option == "--ignore") s.ignored.push_back(value);
    if (option == "--nominal") s.nominal.push_back(value);
  }
  return s;
}

// A spreadsheet export: byte-order mark, semicolons, CR LF, quotes, empty
// cells and the missing marks.
const char kExport[] =
    "\xEF\xBB\xBF" "id;city;n;x;code;cls\r\n"
    "a1;\"New York, NY\";3;1.5;007;yes\r\n"
    "a2;;4;NA;12;no\r\n"
    "\r\n"
    "a3;Boston;?;-2e1;x;\r\n";

TEST(Import, TypesRolesAndTheCommandLine) {
  const std::string cases =
      "a1,New_York_NY,3,1.5,007,yes\r\n"
      "a2,?,4,?,12,no\r\n"
      "a3,Boston,?,-2e1,x,?\r\n";
  const std::string names = "id\tid\r\ncity\tnominal\r\nn\tinteger\r\nx\treal\r\ncode\tnominal\r\ncls\teval\r\n";
  // By header name and by index alike.
  for (auto roles : {std::vector<std::string>{"--id", "id", "--class", "cls"},
                     std::vector<std::string>{"--class", "5", "--id", " 0 "}}) {
    ImportResult r = import_table(settings(roles), kExport);
    EXPECT_EQ(r.cases, cases);
    EXPECT_EQ(r.names, names);
    EXPECT_EQ(r.rumelvb_command, "rumelvb -f out -k 2:5:1 -x 6 -u 2-3 -E 5 -I 0 --seed 1");
    EXPECT_NE(r.report.find("(semicolon-separated, header row)"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("  city: \"New York, NY\" -> New_York_NY\n"), std::string::npos);
    EXPECT_NE(r.report.find("\n  rumel -f out -k 2:5:1 -x 6 -u 2-3 -E 5 -I 0 --seed 1\n"), std::string::npos);
  }
  // A given delimiter that does not split the rows leaves one column.
  PrepSettings comma = settings();
  comma.delimiter = ',';
  EXPECT_EQ(import_table(comma, "a;b\n1;2\n").names, "a;b\tnominal\r\n");
}

TEST(Import, ForcedNominalIgnoredAndEmptyColumnsWithoutHeader) {
  PrepSettings s = settings({"--nominal", "1", "--ignore", "3"});
  s.header = false;
  s.target = "my data/t";
  ImportResult r = import_table(s, "1,2,,x\n3,4,,y\n");
  EXPECT_EQ(r.cases, "1,2\r\n3,4\r\n");
  EXPECT_EQ(r.names, "X0\tinteger\r\nX1\tnominal\r\n");
  EXPECT_EQ(r.rumelvb_command, "rumelvb -f 'my data/t' -k 2:5:1 -x 2 -u 0 --seed 1");
  EXPECT_NE(r.report.find("column 2 -> left out: no value in any row"), std::string::npos) << r.report;
  // A single value in a continuous column: warned, since its covariance is singular.
  EXPECT_NE(import_table(settings(), "a,b\n1,x\n1,y\n").report.find("Warning: column 0 holds one value only"),
            std::string::npos);
}

TEST(Import, UnsafeAndRepeatedColumnNames) {
  ImportResult r = import_table(settings(), " a b ,#c,,a_b,a b\n1,2,3,4,5\n6,7,8,9,10\n");
  EXPECT_EQ(r.names, "a_b\tinteger\r\n_#c\tinteger\r\nX2\tinteger\r\na_b~2\tinteger\r\na_b~3\tinteger\r\n");
  EXPECT_NE(r.report.find("  name of column 0: \"a b\" -> a_b\n"), std::string::npos) << r.report;
  // A repeated name cannot pick a column; its index can.
  EXPECT_EQ(import_table(settings({"--ignore", "0,2"}), "a b,x,a b\n1,2,3\n").names, "x\tinteger\r\n");
}

TEST(Import, UncompressWhenEqualRowsHaveDifferentClasses) {
  const char* table = "a,b,cls\nx,y,yes\nx,y,no\nx,?,no\n";
  EXPECT_NE(import_table(settings({"--class", "cls"}), table).rumelvb_command.find(" --uncompress"),
            std::string::npos);
  // Rows with a missing value, an ID or a continuous column are never merged.
  for (auto t : {"a,b,cls\nx,?,yes\nx,?,no\nx,y,no\n", "a,b,cls\nx,1,yes\nx,1,no\n"}) {
    EXPECT_EQ(import_table(settings({"--class", "cls"}), t).rumelvb_command.find("uncompress"), std::string::npos) << t;
  }
  EXPECT_EQ(import_table(settings({"--class", "cls", "--id", "a"}), "a,b,cls\nx,y,yes\nz,y,no\n")
                .rumelvb_command.find("uncompress"),
            std::string::npos);
}

// The files read back by the clustering programs' own readers hold every
// distinct text as its own value, however unsafe it was.
TEST(Import, FilesReadBackWithOneValuePerDistinctText) {
  std::vector<std::string> texts = {"New York, NY", "New_York_NY", "New  York", "#hash", " lead", "lead",
                                    "tab\there", "\"q, uoted\"", "line\r\nbreak", std::string(300, 'v') + "1",
                                    std::string(300, 'v') + "2", "N A", "?x"};
  std::string table = "name,value,weight\n";
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string quoted;
    for (char c : texts[i]) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    table += "\"" + quoted + "\",v" + std::to_string(i % 3) + "," + std::to_string(0.25 * i) + "\n";
  }
  table += "NA,v0,\n";
  ImportResult r = import_table(settings(), table);
  testing::TempDir dir;
  testing::write_file(dir.file("t_freq.csv"), r.cases);
  testing::write_file(dir.file("t_name.txt"), r.names);
  Settings s = testing::make_settings(dir.file("t_freq.csv"), dir.file("t_name.txt"));
  AttrModel model = testing::make_model(Roles(3).group({2}));
  CaseTable cases;
  auto res = testing::run_capturing([&] {
    read_names(s, model);
    cases = read_cases(s, model);
  });
  ASSERT_FALSE(res.exited) << res.log << r.cases;
  EXPECT_EQ(cases.n_cases, static_cast<int>(texts.size()) + 1);
  std::set<std::string> distinct(texts.begin(), texts.end());
  distinct.erase(" lead");  // the same text as "lead" once trimmed
  EXPECT_EQ(model.values[0].n_values, static_cast<int>(distinct.size()));
  EXPECT_EQ(model.values[1].n_values, 3);
  EXPECT_EQ(cases.missing_total[0], 1);
  EXPECT_EQ(cases.missing_total[2], 1);
  EXPECT_EQ(cases.entries[5].values(0)[0], 1.25);
}

// Bad tables and bad options, run as a user would: the message and status 1.
TEST(Import, EveryFaultEndsWithItsMessage) {
  testing::TempDir dir;
  struct Case {
    std::string table;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"a,b\n1,\"x\n", {}, "[t.csv, Line 2, Column 2 (b)] quoted field without its closing quote\n"},
      {"a,b\n1,\"x\"y\n", {}, "[t.csv, Line 2, Column 2 (b)] text after the closing quote of a quoted field\n"},
      {std::string("a,b\n1,\0\n", 8), {}, "[t.csv, Line 2, Column 2 (b)] NUL byte: this is not a text table\n"},
      {"a,b\n1,2,3\n", {}, "[t.csv, Line 2, Column 3] 3 fields where the first row has 2\n"},
      {"a,b\n1,2\n\n1\n", {}, "[t.csv, Line 4, Column 2 (b)] 1 field where the first row has 2\n"},
      {"i,x\n1,2\n,3\n", {"--id", "i"}, "[t.csv, Line 3, Column 1 (i)] missing case ID\n"},
      {"i,x\n1,2\n2,3\n 1 ,4\n", {"--id", "i"}, "[t.csv, Line 4, Column 1 (i)] duplicate case ID 1 (first on line 2)\n"},
      {"", {}, "[t.csv] The table is empty\n"},
      {"\n\n", {}, "[t.csv] The table is empty\n"},
      {"a,b\n", {}, "[t.csv] The table has no data rows\n"},
      {"\xFF\xFE" "a\0,\0", {}, "[t.csv] UTF-16 text: save the table as UTF-8\n"},
      {"a,b\n1,2\n", {"--class", "a", "--ignore", "b"},
       "[t.csv] No column left to cluster: every column is the class, the ID, ignored or empty\n"},
      {"a,b\n1,2\n", {"--class", "c"}, "No column c for --class: the table has columns 0 to 1 and their header names\n"},
      {"a,b\n1,2\n", {"--id", "2"}, "No column 2 for --id: the table has columns 0 to 1 and their header names\n"},
      {"a,a\n1,2\n", {"--id", "a"}, "Column name a given to --id is ambiguous (columns 0 and 1): give its index\n"},
      {"a,b\n1,2\n", {"--id", "a", "--class", "0"}, "Column 0 is given to --class and to --id\n"},
      {"a,b\n1,2\n", {"--ignore", "b,"}, "Empty column name given to --ignore\n"},
      {"a,b\n1,2\n", {"-d", "pipe"}, "Unexpected delimiter: pipe (comma, tab or semicolon; use -h for usage)\n"},
      {"a\n1\n", {"-x"}, "Unknown/illegal option specification: -x (Use -h for usage)\n"},
      {"a\n1\n", {"other.csv"}, "More than one table given: t.csv and other.csv (Use -h for usage)\n"},
  };
  for (const Case& c : cases) {
    testing::write_file(dir.file("t.csv"), c.table);
    std::vector<std::string> args = {"t.csv", "-f", "out"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    testing::RunResult r = testing::run_program("rumelprep", args, dir.path());
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(testing::read_file(dir.file("out_freq.csv")), "") << "nothing written on a fault";
  }
  EXPECT_EQ(testing::run_program("rumelprep", {"t.csv"}, dir.path()).err,
            "Missing or illegal --target (-f) option (Use -h for usage)\n");
  EXPECT_EQ(testing::run_program("rumelprep", {"-f", "x"}, dir.path()).err, "No table specified (Use -h for usage)\n");
  EXPECT_EQ(testing::run_program("rumelprep", {"none.csv", "-f", "x"}, dir.path()).err, "Couldn't open none.csv\n");
  // A line longer than the case reader takes.
  std::string wide;
  for (int i = 0; i < 70000; ++i) wide += i > 0 ? ",1" : "1";
  testing::write_file(dir.file("wide.csv"), wide + "\n");
  testing::RunResult r = testing::run_program("rumelprep", {"wide.csv", "-f", "w", "--no-header"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[wide.csv, Line 1] The case line would be 139999 characters long; the case reader takes 131071\n");
}

}  // namespace
}  // namespace veska

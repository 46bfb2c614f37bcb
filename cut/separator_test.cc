#include "cut/separator.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace veska {
namespace {

// Two matrices of interest after a stray line, as the clustering programs
// write them (CR LF).
const std::string kSectioned =
    "stray line\r\n"
    "#### ID:SETTING-VERSION\r\n####\r\nVersion,0.7\r\n"
    "#### ID:HPARAM-CLASS\r\n#### Class, Value\r\n#### -- note\r\n####\r\n0,3.5\r\n1,2.5\r\n"
    "#### ID:HPARAM-CAT1\r\n####\r\n0,a,1.5\r\n";

std::string bare_lf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

std::string read_all(FILE* f) {
  std::string text;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

// stdout of one input run through separate_input.
std::string separate(const CutSettings& s, const std::string& input, bool show_name = false,
                     const std::string& name = "a_log.csv") {
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  fwrite(input.data(), 1, input.size(), in);
  rewind(in);
  separate_input(s, name, in, show_name, out, err);
  std::string text = read_all(out);
  fclose(in);
  fclose(out);
  fclose(err);
  return text;
}

CutSettings viewing(const std::string& key) {
  CutSettings s;
  s.list_mode = false;
  s.view = true;
  s.id_given = !key.empty();
  s.id = key;
  return s;
}

TEST(SeparatorTest, ListsIds) {
  CutSettings s;
  const std::string ids = "SETTING-VERSION\nHPARAM-CLASS\nHPARAM-CAT1\n";
  EXPECT_EQ(separate(s, kSectioned), ids);
  EXPECT_EQ(separate(s, bare_lf(kSectioned)), ids);
  EXPECT_EQ(separate(s, kSectioned, true, "-"),
            "(stdin): SETTING-VERSION\n(stdin): HPARAM-CLASS\n(stdin): HPARAM-CAT1\n");
  EXPECT_EQ(separate(s, "#### ID:A", true, "x.csv"), "x.csv: A\n");
  EXPECT_EQ(separate(s, "no header\r\n####\r\n"), "");
}

TEST(SeparatorTest, ViewsSelectedMatricesWithCrLf) {
  const std::string hparam =
      "#### ID:HPARAM-CLASS\r\n#### Class, Value\r\n#### -- note\r\n####\r\n0,3.5\r\n1,2.5\r\n"
      "#### ID:HPARAM-CAT1\r\n####\r\n0,a,1.5\r\n";
  CutSettings s = viewing("HPARAM");
  EXPECT_EQ(separate(s, kSectioned), hparam);
  EXPECT_EQ(separate(s, bare_lf(kSectioned)), hparam);

  s.match = MatchCriterion::kExact;
  EXPECT_EQ(separate(s, kSectioned), "");
  s.id = "HPARAM-CAT1";
  EXPECT_EQ(separate(s, kSectioned, true, "-"),
            "(stdin): #### ID:HPARAM-CAT1\r\n(stdin): ####\r\n(stdin): 0,a,1.5\r\n");

  CutSettings all = viewing("");
  EXPECT_EQ(separate(all, kSectioned), kSectioned.substr(12));  // not the stray line
}

TEST(SeparatorTest, DroppingHeadOrBody) {
  CutSettings s = viewing("CLASS");
  s.del_head = true;
  EXPECT_EQ(separate(s, kSectioned), "0,3.5\r\n1,2.5\r\n");
  s.del_head = false;
  s.del_body = true;
  EXPECT_EQ(separate(s, kSectioned), "#### ID:HPARAM-CLASS\r\n#### Class, Value\r\n#### -- note\r\n####\r\n");
}

TEST(SeparatorTest, WritesOneFilePerMatrix) {
  testing::TempDir dir;
  CutSettings s;
  s.list_mode = false;
  s.prefix = dir.file("r");
  s.ext = "csv";
  s.del_head = true;  // the header line still opens each file
  EXPECT_EQ(separate(s, kSectioned), "");
  EXPECT_EQ(testing::read_file(dir.file("r_SETTING-VERSION.csv")), "#### ID:SETTING-VERSION\r\nVersion,0.7\r\n");
  EXPECT_EQ(testing::read_file(dir.file("r_HPARAM-CAT1.csv")), "#### ID:HPARAM-CAT1\r\n0,a,1.5\r\n");
}

}  // namespace
}  // namespace veska

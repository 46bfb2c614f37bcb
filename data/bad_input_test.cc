// Arbitrary bytes in a names or case file end in a table or in a message
// with status 1: never a crash or an access out of bounds (run under the
// sanitizers to see the latter).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "data/name.h"
#include "data/read_freq.h"
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

// Random text biased toward the characters the readers give meaning to.
std::string random_text(std::mt19937& rng, size_t max_length) {
  static const std::string alphabet = "ab?NA#01.e-+,\t \r\n{}x\xE9";
  std::uniform_int_distribution<size_t> length(0, max_length);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()));
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(length(rng), '\0');
  for (char& c : s) {
    int k = pick(rng);
    c = k == static_cast<int>(alphabet.size()) ? static_cast<char>(byte(rng)) : alphabet[static_cast<size_t>(k)];
  }
  return s;
}

TEST(BadInput, RandomCaseFilesEndInATableOrAMessage) {
  TempDir dir;
  std::mt19937 rng(12345);
  const Roles roles[] = {Roles(3), Roles(3).eval(2), Roles(4).id(0).group({2}),
                         Roles(3).group({0, 1}).ignore(2)};
  int tables = 0;
  for (int round = 0; round < 400; ++round) {
    const Roles& r = roles[round % 4];
    Settings s = make_settings(dir.file("r_freq.csv"), "", round % 8 < 4 ? Format::kCsv : Format::kTxt);
    s.uncompress = round % 3 == 0;
    write_file(s.files.cases, random_text(rng, 200));
    AttrModel model = make_model(r);
    CaseTable table;
    auto res = run_capturing([&] { table = read_cases(s, model); });
    if (res.exited) {
      ASSERT_EQ(res.status, 1);
      ASSERT_FALSE(res.log.empty());
      continue;
    }
    ++tables;
    // A table that was built is consistent.
    long sum = 0;
    for (const CaseEntry& e : table.entries) {
      sum += e.total;
      for (size_t k = 0; k < e.codes().size(); ++k) {
        int code = e.codes()[k];
        ASSERT_TRUE(code == kCodeMissing || (code >= 0 && code < model.values[k].n_values));
        ASSERT_EQ(e.disc_missing()[k], code == kCodeMissing ? 1 : 0);
      }
    }
    ASSERT_EQ(sum, table.n_cases);
  }
  EXPECT_GT(tables, 0);
}

TEST(BadInput, RandomNamesFilesEndInNamesOrAMessage) {
  TempDir dir;
  std::mt19937 rng(777);
  const char* lines[] = {"a nominal\n", "b\treal\n", "c {x, y}\n", "# c\n", "d eval\n", "\n"};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 5);
    for (int i = 0; i < n; ++i) {
      text += rng() % 2 == 0 ? std::string(lines[rng() % 6]) : random_text(rng, 40);
    }
    Settings s = make_settings(dir.file("r_freq.csv"), dir.file("r_name.txt"));
    write_file(s.files.names, text);
    AttrModel model = make_model(Roles(3).group({1}).eval(2));
    auto res = run_capturing([&] { read_names(s, model); });
    if (res.exited) {
      ASSERT_EQ(res.status, 1);
      ASSERT_FALSE(res.log.empty());
    } else {
      ASSERT_TRUE(model.names_read);
    }
  }
}

}  // namespace
}  // namespace veska

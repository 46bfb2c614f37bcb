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

// Random text made of the pieces the readers give meaning to, with now and
// then an arbitrary byte.
std::string random_text(std::mt19937& rng, size_t max_pieces) {
  static const char* const pieces[] = {"a", "b", "?", "NA", "#", "0", "1", ".", "e", "-", "+",
                                       ",", "\t", " ", "\n", "\r\n", "{", "}", "x", "\xE9"};
  constexpr size_t kPieces = sizeof pieces / sizeof pieces[0];
  std::uniform_int_distribution<size_t> count(0, max_pieces);
  std::uniform_int_distribution<size_t> pick(0, kPieces * 20);
  std::string s;
  for (size_t n = count(rng); n > 0; --n) {
    size_t k = pick(rng);
    if (k < kPieces * 19) {
      s += pieces[k % kPieces];
    } else {
      s += static_cast<char>(rng() & 0xff);
    }
  }
  return s;
}

// Lines of n_fields plausible values, then a few random edits.
std::string mutated_cases(std::mt19937& rng, int n_fields, char delimiter) {
  static const char* const values[] = {"a", "b", "?", "NA", "1.5", "-2e3", "0", "7", "x y"};
  std::string s;
  for (int line = static_cast<int>(rng() % 6); line > 0; --line) {
    int n = n_fields + static_cast<int>(rng() % 2);  // sometimes a count column
    for (int f = 0; f < n; ++f) {
      if (f > 0) s += delimiter;
      s += values[rng() % 9];
    }
    s += rng() % 4 == 0 ? "\r\n" : "\n";
  }
  for (int edits = static_cast<int>(rng() % 3); edits > 0 && !s.empty(); --edits) {
    size_t at = rng() % s.size();
    std::string piece = random_text(rng, 2);
    if (rng() % 2 == 0) {
      s.insert(at, piece);
    } else {
      s.replace(at, 1, piece);
    }
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
    int n_fields = r.n_attr;
    char delimiter = s.input_format == Format::kTxt ? '\t' : ',';
    write_file(s.files.cases, round % 2 == 0 ? random_text(rng, 200)
                                             : mutated_cases(rng, n_fields, delimiter));
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
  RecordProperty("tables", tables);
  EXPECT_GE(tables, 10);
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

#include "data/entry_views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::TempDir;
using testing::write_file;

using Ints = std::vector<int>;

// Two discrete attributes (0, 1) and the blocks {2, 4} and {3}, with values
// missing in either kind; the views are checked against values worked out
// by hand from the lines.
TEST(EntryViews, CellsCountsCompletenessAndMissingBlocks) {
  TempDir dir;
  const std::string path = dir.file("d_freq.csv");
  write_file(path,
             "a,x,1,2,3\n"
             "b,?,1,?,3\n"
             "a,y,?,5,6,2\n"
             "b,x,1,2,3\n");
  Settings settings = make_settings(path);
  AttrModel model = make_model(Roles(5).group({2, 4}).group({3}));
  testing::StreamCapture quiet;
  const CaseTable cases = read_cases(settings, model);
  ASSERT_EQ(cases.n_entries, 4);

  const EntryViews v = build_entry_views(cases, model);
  EXPECT_EQ(v.n_entries, 4);
  EXPECT_EQ(v.cat_offset, (Ints{0, 2}));  // {a, b} then {x, y}
  EXPECT_EQ(v.cat_stride, 4);
  EXPECT_EQ(v.entry_cells, (Ints{0, 2, 1, kMissingCell, 0, 3, 1, 2}));
  EXPECT_EQ(v.entry_count, (std::vector<int>{1, 1, 2, 1}));
  for (int n = 0; n < 4; ++n) EXPECT_EQ(v.blocks_complete(n), n == 0 || n == 3) << n;
  EXPECT_EQ(v.block_offset, (Ints{0, 2}));
  ASSERT_EQ(v.block_missing_entries.size(), 2u);
  EXPECT_EQ(v.block_missing_entries[0], (Ints{2}));
  EXPECT_EQ(v.block_missing_entries[1], (Ints{1}));
  // One pattern per block: {2, 4} missing its first member, {3} all of it.
  ASSERT_EQ(v.block_patterns[0].size(), 1u);
  EXPECT_EQ(v.block_patterns[0][0].observed, (Ints{1}));
  EXPECT_EQ(v.block_patterns[0][0].missing, (Ints{0}));
  ASSERT_EQ(v.block_patterns[1].size(), 1u);
  EXPECT_EQ(v.block_patterns[1][0].observed, (Ints{}));
  EXPECT_EQ(v.block_patterns[1][0].missing, (Ints{0}));
  EXPECT_EQ(v.entry_pattern, (Ints{kNoPattern, kNoPattern, kNoPattern, 0, 0, kNoPattern,
                                   kNoPattern, kNoPattern}));
  for (int n = 0; n < 4; ++n) {
    const CaseEntry& e = cases.entries[static_cast<size_t>(n)];
    for (int b = 0; b < 2; ++b) {
      EXPECT_EQ(v.reals_of(n) + v.block_offset[static_cast<size_t>(b)],
                e.values(b).data());
    }
  }
}

// Each block's entries with a missing value, grouped by pattern (in order of
// first appearance) and in entry order within a pattern.
TEST(EntryViews, PatternEntriesGroupTheMissingEntriesByPattern) {
  TempDir dir;
  const std::string path = dir.file("d_freq.csv");
  write_file(path,
             "a,x,?,1,5\n"   // block {2, 4}: pattern 0 (second observed)
             "a,x,1,2,?\n"   // pattern 1 (first observed)
             "a,x,3,3,4\n"   // complete
             "a,x,?,4,6\n"   // pattern 0
             "a,x,?,?,?\n"   // pattern 2 (none observed); block {3} missing
             "a,x,2,5,?\n");  // pattern 1
  Settings settings = make_settings(path);
  AttrModel model = make_model(Roles(5).group({2, 4}).group({3}));
  testing::StreamCapture quiet;
  const CaseTable cases = read_cases(settings, model);
  ASSERT_EQ(cases.n_entries, 6);
  const EntryViews v = build_entry_views(cases, model);
  ASSERT_EQ(v.block_patterns[0].size(), 3u);
  EXPECT_EQ(v.pattern_entries[0], (Ints{0, 3, 1, 5, 4}));
  EXPECT_EQ(v.pattern_start[0], (Ints{0, 2, 4, 5}));
  EXPECT_EQ(v.pattern_entries[1], (Ints{4}));
  EXPECT_EQ(v.pattern_start[1], (Ints{0, 1}));
}

}  // namespace
}  // namespace veska

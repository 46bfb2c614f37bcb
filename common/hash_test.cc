#include "common/hash.h"

#include <gtest/gtest.h>

#include <string>

namespace veska {
namespace {

TEST(StrTable, IdsInFirstInsertionOrderWithCounts) {
  StrTable t;
  EXPECT_EQ(strtab_insert(t, "a"), 0);
  EXPECT_EQ(strtab_insert(t, "b"), 1);
  EXPECT_EQ(strtab_insert(t, "a"), 0);
  EXPECT_EQ(strtab_count(t), 2);
  EXPECT_EQ(t.nodes[0].count, 2);
  EXPECT_EQ(t.nodes[1].count, 1);
  EXPECT_EQ(strtab_lookup(t, "b"), 1);
  EXPECT_EQ(strtab_lookup(t, "c"), -1);
  // Letter case and embedded bytes matter.
  EXPECT_EQ(strtab_lookup(t, "A"), -1);
  EXPECT_EQ(strtab_insert(t, std::string("a\0b", 3)), 2);
  EXPECT_EQ(strtab_lookup(t, std::string("a\0c", 3)), -1);
  strtab_bump(t, 1);
  EXPECT_EQ(t.nodes[1].count, 2);
}

TEST(StrTable, HashUsesSignedBytes) {
  EXPECT_EQ(strtab_hash("", 0), 0u);
  EXPECT_EQ(strtab_hash("ab", 2), 97u * 'a' + 'b');
  // 0xE9 counts as -23.
  EXPECT_EQ(strtab_hash("\xE9", 1), static_cast<uint32_t>(-23));
  EXPECT_EQ(strtab_hash("\xE9x", 2), static_cast<uint32_t>(-23) * 97u + 'x');
}

TEST(StrTable, MostFrequentBreaksTiesByByteOrder) {
  StrTable t;
  const std::string* text = nullptr;
  long count = 0;
  strtab_most_frequent(t, &text, &count);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(count, -1);
  for (const char* s : {"b", "a", "b", "a"}) strtab_insert(t, s);
  strtab_most_frequent(t, &text, &count);
  EXPECT_EQ(*text, "a");
  EXPECT_EQ(count, 2);
  // Bytes above 127 sort after ASCII.
  StrTable u;
  strtab_insert(u, "\xE9");
  strtab_insert(u, "z");
  strtab_most_frequent(u, &text, &count);
  EXPECT_EQ(*text, "z");
}

TEST(StrTable, GrowthKeepsIdsAndTexts) {
  StrTable t;
  const int n = 20000;
  for (int i = 0; i < n; ++i) ASSERT_EQ(strtab_insert(t, "v" + std::to_string(i)), i);
  EXPECT_GT(t.size, kStrTableInitialSize);
  // Sizes follow 997, 1995, 3991, ...
  int size = kStrTableInitialSize;
  while (size < t.size) size = 2 * size + 1;
  EXPECT_EQ(size, t.size);
  EXPECT_LE(t.occupied * 4, t.size * 3);
  auto texts = strtab_texts(t);
  ASSERT_EQ(static_cast<int>(texts.size()), n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(*texts[static_cast<size_t>(i)], "v" + std::to_string(i));
    ASSERT_EQ(strtab_lookup(t, "v" + std::to_string(i)), i);
  }
  // Every node sits, once, in the bucket its hash names.
  int occupied = 0;
  int linked = 0;
  for (int b = 0; b < t.size; ++b) {
    int head = t.buckets[static_cast<size_t>(b)];
    if (head != -1) ++occupied;
    for (int id = head; id != -1; id = t.nodes[static_cast<size_t>(id)].next) {
      const StrNode& node = t.nodes[static_cast<size_t>(id)];
      ASSERT_EQ(strtab_hash(node.text.data(), node.text.size()) % static_cast<uint32_t>(t.size),
                static_cast<uint32_t>(b));
      ++linked;
    }
  }
  EXPECT_EQ(occupied, t.occupied);
  EXPECT_EQ(linked, n);
}

TEST(StrTable, FreeEmptiesAndTableStaysUsable) {
  StrTable t;
  strtab_insert(t, "x");
  strtab_free(t);
  EXPECT_EQ(strtab_count(t), 0);
  EXPECT_EQ(strtab_lookup(t, "x"), -1);
  EXPECT_EQ(strtab_insert(t, "y"), 0);
  EXPECT_EQ(t.size, kStrTableInitialSize);
}

}  // namespace
}  // namespace veska

#include "prep/cell_text.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace veska {
namespace {

TEST(CellText, MissingNumbersAndIntegers) {
  for (const char* t : {"", "?", "NA", "NaN"}) EXPECT_TRUE(is_missing_cell(t)) << t;
  for (const char* t : {"na", "N/A", "0", "-"}) EXPECT_FALSE(is_missing_cell(t)) << t;
  for (const char* t : {"0", "-1.5", "+2", ".5", "5.", "1e3", "2.5E-3", "007"}) {
    EXPECT_TRUE(is_finite_number(t)) << t;
  }
  // Not numbers here, though strtod takes some of them.
  for (const char* t : {".", "-", "1e", "e3", "1.2.3", "0x1A", "inf", "nan", "1,5", "1 000", "1e999", "--1",
                        "3a"}) {
    EXPECT_FALSE(is_finite_number(t)) << t;
  }
  for (const char* t : {"0", "-12", "+3", "007"}) EXPECT_TRUE(is_integer_text(t)) << t;
  for (const char* t : {"", "-", "1.0", "1e3"}) EXPECT_FALSE(is_integer_text(t)) << t;
  EXPECT_EQ(trim_cell(" \t a b \r\n"), "a b");
  EXPECT_EQ(trim_cell("   "), "");
}

TEST(CellText, SafeTokens) {
  EXPECT_EQ(safe_token("New York, NY"), "New_York_NY");
  EXPECT_EQ(safe_token("#1"), "_#1");
  EXPECT_EQ(safe_token("a\tb\r\nc"), "a_b_c");
  EXPECT_EQ(safe_token("plain-text;ok\"quoted\""), "plain-text;ok\"quoted\"");
  EXPECT_EQ(safe_token(""), "");
  // Cut at 256 bytes without splitting a two-byte character.
  std::string long_text = "x" + std::string(200, 'a');
  for (int i = 0; i < 40; ++i) long_text += "\xC3\xA9";  // é
  std::string cut = safe_token(long_text);
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_EQ(cut, long_text.substr(0, 255));

  // Any bytes: the token has none of the characters the files cannot hold.
  std::mt19937 gen(5);
  for (int n = 0; n < 2000; ++n) {
    std::string text(gen() % 300, '\0');
    for (char& c : text) c = static_cast<char>(gen() % 2 ? "#, \t\r\na\x01\x7f"[gen() % 9] : gen() % 256);
    std::string t = safe_token(text);
    EXPECT_LE(t.size(), kMaxTokenLength);
    EXPECT_TRUE(t.empty() || t[0] != '#');
    for (unsigned char c : t) EXPECT_FALSE(c == ',' || c == ' ' || c < 0x20 || c == 0x7f) << text;
  }
}

TEST(CellText, TokenMapKeepsDistinctTextsApart) {
  TokenMap map;
  EXPECT_EQ(map.token("New York"), "New_York");
  EXPECT_EQ(map.token("New_York"), "New_York~2");
  EXPECT_EQ(map.token("New  York"), "New_York~3");
  EXPECT_EQ(map.token("New York"), "New_York");  // same text, same token
  std::string a = std::string(256, 'a') + "1", b = std::string(256, 'a') + "2";
  EXPECT_EQ(map.token(a), std::string(256, 'a'));
  EXPECT_EQ(map.token(b), std::string(254, 'a') + "~2");  // the mark fits in 256
  EXPECT_EQ(map.size(), 5u);
  auto changed = map.changed();
  ASSERT_EQ(changed.size(), 5u);  // in order of first appearance
  EXPECT_EQ(changed[0], (std::pair<std::string, std::string>{"New York", "New_York"}));
  EXPECT_EQ(changed[1], (std::pair<std::string, std::string>{"New_York", "New_York~2"}));
  EXPECT_EQ(changed[3].first, a);

  // Property: over texts made of few characters, distinct texts keep
  // distinct tokens.
  TokenMap small;
  std::mt19937 gen(9);
  std::set<std::string> texts, tokens;
  for (int n = 0; n < 3000; ++n) {
    std::string text(1 + gen() % 4, ' ');
    for (char& c : text) c = "a_, "[gen() % 4];
    texts.insert(text);
    tokens.insert(small.token(text));
  }
  EXPECT_EQ(texts.size(), tokens.size());
  EXPECT_EQ(small.size(), texts.size());
}

}  // namespace
}  // namespace veska

#include "cut/id_match.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

TEST(IdMatchTest, Criteria) {
  using M = MatchCriterion;
  // criterion, key, ID, selected
  struct Case {
    M m;
    const char* key;
    const char* id;
    bool selected;
  } cases[] = {
      {M::kInfix, "HPARAM", "HPARAM-CLASS", true}, {M::kInfix, "HPARAM", "X-HPARAM-CAT1", true},
      {M::kInfix, "HPARAM", "hparam-class", false}, {M::kInfix, "PARAM", "SETTING", false},
      {M::kExact, "HPARAM", "HPARAM", true},       {M::kExact, "HPARAM", "HPARAM-CLASS", false},
      {M::kPrefix, "PI", "PI-CLASS", true},        {M::kPrefix, "PI", "X-PI", false},
      {M::kPrefix, "AB", "XAB-AB", false},         {M::kSuffix, "AB", "X-AB", true},
      {M::kSuffix, "AB", "AB", true},              {M::kSuffix, "AB", "AB-X", false},
      {M::kSuffix, "AB", "AB-AB", false},  // only the first occurrence counts
      {M::kInfix, "", "ANY", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(id_matches(c.m, c.key, c.id), c.selected) << static_cast<int>(c.m) << " " << c.key << " " << c.id;
  }
}

TEST(IdMatchTest, ParseCriterion) {
  MatchCriterion m = MatchCriterion::kInfix;
  EXPECT_TRUE(parse_match_criterion("suffix", &m));
  EXPECT_EQ(m, MatchCriterion::kSuffix);
  EXPECT_TRUE(parse_match_criterion("exact", &m));
  EXPECT_EQ(m, MatchCriterion::kExact);
  EXPECT_FALSE(parse_match_criterion("Exact", &m));  // callers lower-case first
  EXPECT_FALSE(parse_match_criterion("", &m));
  EXPECT_EQ(m, MatchCriterion::kExact);
}

}  // namespace
}  // namespace veska

#include "cut/id_match.h"

namespace veska {

bool parse_match_criterion(std::string_view text, MatchCriterion* criterion) {
  if (text == "exact") {
    *criterion = MatchCriterion::kExact;
  } else if (text == "infix") {
    *criterion = MatchCriterion::kInfix;
  } else if (text == "prefix") {
    *criterion = MatchCriterion::kPrefix;
  } else if (text == "suffix") {
    *criterion = MatchCriterion::kSuffix;
  } else {
    return false;
  }
  return true;
}

bool id_matches(MatchCriterion criterion, std::string_view key, std::string_view id) {
  if (criterion == MatchCriterion::kExact) return id == key;
  size_t first = id.find(key);
  if (first == std::string_view::npos) return false;
  switch (criterion) {
    case MatchCriterion::kPrefix:
      return first == 0;
    case MatchCriterion::kSuffix:
      // A later occurrence that would end at the last character is not
      // looked for: AB-AB does not match the suffix AB.
      return first + key.size() == id.size();
    default:
      return true;
  }
}

}  // namespace veska

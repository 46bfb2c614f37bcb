// Which data matrices a --view or --output key selects.
#pragma once

#include <string_view>

namespace veska {

enum class MatchCriterion { kInfix = 0, kExact = 1, kPrefix = 2, kSuffix = 3 };

// "exact", "infix", "prefix" or "suffix" (already lower-cased); false for
// anything else.
bool parse_match_criterion(std::string_view text, MatchCriterion* criterion);

// Whether the matrix ID is selected by the (upper-cased) key. Prefix and
// suffix look only at the first occurrence of the key in the ID.
bool id_matches(MatchCriterion criterion, std::string_view key, std::string_view id);

}  // namespace veska

// Check IDs of the data readers' line errors: each check site has its own
// number, so a reported ID points at exactly one test in the code.
#pragma once

namespace veska::check_id {

// Names file.
constexpr int kNamesLongLine = 100;
constexpr int kNamesFormat = 101;
constexpr int kNamesSpec = 102;
constexpr int kNamesTooMany = 103;
constexpr int kNamesTooFew = 104;
constexpr int kNamesLongValue = 105;
constexpr int kNamesEmptyValue = 106;
constexpr int kNamesInnerBreak = 107;

// Case file.
constexpr int kCasesLongLine = 200;
constexpr int kCasesTooMany = 201;
constexpr int kCasesTooFew = 202;
constexpr int kCasesEmptyValue = 203;
constexpr int kCasesCountFormat = 204;
constexpr int kCasesCountPositive = 205;
constexpr int kCasesCountLarge = 206;
constexpr int kCasesRealFormat = 207;
constexpr int kCasesRealRange = 208;
constexpr int kCasesLongValue = 209;
constexpr int kCasesLongId = 210;
constexpr int kCasesLongAnswer = 211;
constexpr int kCasesUnknownValue = 212;
constexpr int kCasesDuplicateId = 213;
constexpr int kCasesAnswerConflict = 214;
constexpr int kCasesTooManyCases = 215;
constexpr int kCasesInnerBreak = 216;

}  // namespace veska::check_id

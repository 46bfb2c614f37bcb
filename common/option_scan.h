// The command-line scanner shared by all three programs.
//
// Each pass over the command line calls option_scan_reset() and then
// option_scan_next() until it returns -1. Short options cannot be grouped and
// a value is never glued to its option: the value is always the next word,
// and that word must not itself look like an option (a negative number does
// not).
#pragma once

#include <string>

namespace veska {

// Short letter of options that have none; no command-line letter matches it.
constexpr char kNoShortLetter = '\0';

// One entry of a program's option table; the table ends with an entry whose
// id is negative.
struct OptionSpec {
  int id;                 // returned by option_scan_next (1 and up)
  const char* long_name;  // matched after "--", exactly and case-sensitively
  char short_letter;      // matched after "-"; kNoShortLetter if none
  int takes_argument;     // 1: the next word is the value; 0: a flag
};

// Longest kept copies: the current word (for messages) and a value word.
constexpr size_t kMaxCurrentWord = 255;
constexpr size_t kMaxOptionValue = 65535;

// Next word to scan is argv[1].
void option_scan_reset();

// Scans the next word: -1 when none is left; -2 for an unknown or malformed
// option or a missing value; 0 for a word that is not an option (its text
// becomes the option value); else the option's id (with its value stored when
// it takes one). A value word longer than kMaxOptionValue ends the process
// with a message on standard error and exit status 1.
int option_scan_next(int argc, char** argv, const OptionSpec* table);

// The word last scanned, cut to kMaxCurrentWord characters.
const char* option_current_word();
// The value of the last option (or the non-option word).
const char* option_value();
// A second copy of the value that handlers may change in place.
char* option_value_mutable();

// "--long (-s)", or "--long" when the option has no short letter or long_only
// is set; empty for an id that is not in the table.
std::string get_option_str(int id, const OptionSpec* table, bool long_only);

}  // namespace veska

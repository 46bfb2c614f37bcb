// The settings of one rumelcut run and the command line that fills them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cut/id_match.h"

namespace veska {

// Longest input name, output prefix, suffix and requested ID, and the longest
// --ext value; longer ones are refused rather than cut.
constexpr size_t kMaxCutText = 1023;
constexpr size_t kMaxExtension = 9;

enum class CutMode { kList, kView, kOutput };

struct CutSettings {
  std::vector<std::string> inputs;  // "-" is the standard input
  std::string prefix = "out";
  bool suffix_given = false;
  std::string suffix;
  bool ext_given = false;
  std::string ext;  // filled in before output mode runs, when not given
  bool id_given = false;
  std::string id;  // upper-cased once the command line is read
  bool view = false;
  bool list_mode = true;
  MatchCriterion match = MatchCriterion::kInfix;
  bool del_head = false;
  bool del_body = false;
  bool hide_file = false;

  CutMode mode() const {
    if (list_mode) return CutMode::kList;
    return view ? CutMode::kView : CutMode::kOutput;
  }
};

enum class CutParseResult { kRun, kExit };

// Reads the command line into *settings. --help and --version write their
// text to `out` and return kExit. Every error ends the process with its
// message on standard error and exit status 1.
CutParseResult parse_cut_options(int argc, char** argv, CutSettings* settings, FILE* out);

const char* cut_version_line();  // "VESKA version 0.7 (built on <date>)\n"
std::string cut_usage_text();    // version line followed by the usage

}  // namespace veska

#include "cut/cut_options.h"

#include <cstring>

#include "common/misc.h"
#include "common/option_scan.h"

namespace veska {

namespace {

enum CutOptionId {
  kDelHead = 1,
  kDelBody = 2,
  kExt = 3,
  kTarget = 4,
  kHelp = 5,
  kMatch = 6,
  kOutput = 7,
  kSuffix = 10,
  kView = 11,
  kVersion = 12,
  kHideFile = 13,
};

// In the order the scanner searches it.
const OptionSpec kCutOptions[] = {
    {kDelHead, "del-head", 'd', 0},   {kDelBody, "del-body", 'D', 0},
    {kExt, "ext", 'e', 1},            {kTarget, "target", 'f', 1},
    {kHideFile, "hide-file", 'F', 0}, {kHelp, "help", 'h', 0},
    {kMatch, "match", 'm', 1},        {kOutput, "output", 'o', 1},
    {kSuffix, "suffix", 's', 1},      {kView, "view", 'v', 1},
    {kVersion, "version", kNoShortLetter, 0}, {-1, nullptr, kNoShortLetter, 0},
};

const char kUsage[] =
    "[Usage] rumelcut OPTIONS FILE [FILE ...]\n"
    "Flags with an argument:\n"
    " --target (-f) Common prefix of the output file(s)\n"
    " --suffix (-s) Common suffix of the output file(s)\n"
    " --ext    (-e) File extension of the output file(s)\n"
    " --view   (-v) ID of the data matrix to display\n"
    " --output (-o) ID of the data matrix to save\n"
    " --match  (-m) Matching criterion for --view and --output\n"
    "              (exact, infix, prefix and suffix) [Default: infix]\n"
    "Flags with no argument:\n"
    " --del-head  (-d) Show only data matrices\n"
    " --del-body  (-D) Show only header parts\n"
    " --hide-file (-F) Hide filenames\n"
    " --help      (-h) Print this message\n";

// The option's value, refused when it is longer than `limit`.
std::string limited_value(int id, size_t limit) {
  const char* value = option_value();
  if (strlen(value) > limit) {
    die_stderr("Too long argument of %s (at most %zu characters)\n",
               get_option_str(id, kCutOptions, false).c_str(), limit);
  }
  return value;
}

}  // namespace

const char* cut_version_line() { return "VESKA version 0.7 (built on " __DATE__ ")\n"; }

std::string cut_usage_text() { return std::string(cut_version_line()) + kUsage; }

CutParseResult parse_cut_options(int argc, char** argv, CutSettings* settings, FILE* out) {
  CutSettings& s = *settings;
  option_scan_reset();
  for (;;) {
    int id = option_scan_next(argc, argv, kCutOptions);
    switch (id) {
      case -1:
        if (s.inputs.empty()) die_stderr("No input file specified (Use -h for usage)\n");
        upper_in_place(s.id.data());
        return CutParseResult::kRun;
      case -2:
        die_stderr("Unknown/illegal option specification: %s (Use -h for usage)\n",
                   option_current_word());
      case 0:
        if (strlen(option_value()) > kMaxCutText) {
          die_stderr("Too long file name (at most %zu characters): %.64s...\n", kMaxCutText,
                     option_value());
        }
        s.inputs.emplace_back(option_value());
        break;
      case kDelHead:
        s.del_head = true;
        break;
      case kDelBody:
        s.del_body = true;
        break;
      case kExt:
        s.ext = limited_value(id, kMaxExtension);
        s.ext_given = true;
        break;
      case kTarget:
        s.prefix = limited_value(id, kMaxCutText);
        s.list_mode = false;
        break;
      case kHideFile:
        s.hide_file = true;
        break;
      case kHelp:
        fprintf(out, "\n%s\n", cut_usage_text().c_str());
        return CutParseResult::kExit;
      case kMatch:
        lower_in_place(option_value_mutable());
        if (!parse_match_criterion(option_value_mutable(), &s.match)) {
          die_stderr("Unknown matching criterion -- %s (Use for usage)\n", option_value());
        }
        break;
      case kOutput:
        s.id = limited_value(id, kMaxCutText);
        s.id_given = true;
        s.list_mode = false;
        break;
      case kSuffix:
        s.suffix = limited_value(id, kMaxCutText);
        s.suffix_given = true;
        break;
      case kView:
        s.id = limited_value(id, kMaxCutText);
        s.id_given = true;
        s.view = true;
        s.list_mode = false;
        break;
      case kVersion:
        fputs(cut_version_line(), out);
        return CutParseResult::kExit;
      default:
        die_stderr("Internal error: unhandled option %d\n", id);
    }
  }
}

}  // namespace veska

#include "prep/prep_options.h"

#include <cctype>
#include <string_view>

#include "common/misc.h"
#include "common/option_scan.h"

namespace veska {

namespace {

enum PrepOptionId {
  kTarget = 1,
  kDelimiter,
  kNoHeader,
  kClass,
  kId,
  kIgnore,
  kNominal,
  kHelp,
  kVersion,
};

// Short letters as in rumelvb where the meaning is the same.
const OptionSpec kPrepOptions[] = {
    {kTarget, "target", 'f', 1},
    {kDelimiter, "delimiter", 'd', 1},
    {kNoHeader, "no-header", kNoShortLetter, 0},
    {kClass, "class", 'E', 1},
    {kId, "id", 'I', 1},
    {kIgnore, "ignore", 'y', 1},
    {kNominal, "nominal", kNoShortLetter, 1},
    {kHelp, "help", 'h', 0},
    {kVersion, "version", 'v', 0},
    {-1, nullptr, kNoShortLetter, 0},
};

const char kUsage[] =
    "[Usage] rumelprep [option...] TABLE -f basename\n"
    "Writes basename_freq.csv and basename_name.txt from a delimited table\n"
    "and prints the rumelvb and rumel command lines that fit it.\n"
    "Flags with an argument:\n"
    " --target    (-f) Prefix of the files to write                   [Required]\n"
    " --delimiter (-d) comma, tab or semicolon                     [Auto-detect]\n"
    " --class     (-E) Column of the answer class (name or index from 0)\n"
    " --id        (-I) Column of the case IDs (name or index from 0)\n"
    " --ignore    (-y) Columns left out (comma-separated names or indices)\n"
    " --nominal        Columns taken as nominal even when they hold numbers\n"
    "Flags with no argument:\n"
    " --no-header      The first row holds data, not column names\n"
    " --version   (-v) Print the version number\n"
    " --help      (-h) Print this message\n";

void append_list(std::vector<std::string>* list) { list->push_back(option_value()); }

char delimiter_of(std::string value) {
  for (char& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (value == "comma" || value == ",") return ',';
  if (value == "tab" || value == "\t") return '\t';
  if (value == "semicolon" || value == ";") return ';';
  die_stderr("Unexpected delimiter: %s (comma, tab or semicolon; use -h for usage)\n", option_value());
}

}  // namespace

const char* prep_version_line() { return "VESKA version 0.7 (table import, built on " __DATE__ ")\n"; }

PrepParseResult parse_prep_options(int argc, char** argv, PrepSettings* s, FILE* out) {
  option_scan_reset();
  for (int id; (id = option_scan_next(argc, argv, kPrepOptions)) != -1;) {
    switch (id) {
      case -2:
        die_stderr("Unknown/illegal option specification: %s (Use -h for usage)\n", option_current_word());
      case 0:
        if (!s->table.empty()) {
          die_stderr("More than one table given: %s and %s (Use -h for usage)\n", s->table.c_str(),
                     option_value());
        }
        s->table = option_value();
        if (s->table.empty()) die_stderr("Empty table name (Use -h for usage)\n");
        break;
      case kTarget: s->target = option_value(); break;
      case kDelimiter: s->delimiter = delimiter_of(option_value()); break;
      case kNoHeader: s->header = false; break;
      case kClass:
        s->class_given = true;
        s->class_column = option_value();
        break;
      case kId:
        s->id_given = true;
        s->id_column = option_value();
        break;
      case kIgnore: append_list(&s->ignored); break;
      case kNominal: append_list(&s->nominal); break;
      case kHelp:
        fprintf(out, "\n%s%s\n", prep_version_line(), kUsage);
        return PrepParseResult::kDone;
      case kVersion:
        fputs(prep_version_line(), out);
        return PrepParseResult::kDone;
      default: break;
    }
  }
  if (s->table.empty()) die_stderr("No table specified (Use -h for usage)\n");
  if (s->target.empty()) {
    die_stderr("Missing or illegal %s option (Use -h for usage)\n",
               get_option_str(kTarget, kPrepOptions, false).c_str());
  }
  return PrepParseResult::kRun;
}

}  // namespace veska

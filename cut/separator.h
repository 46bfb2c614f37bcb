// The three things rumelcut does with the data matrices of its inputs: list
// their IDs, show the selected ones, or write each selected one to a file.
#pragma once

#include <cstdio>
#include <string>

#include "cut/cut_options.h"

namespace veska {

// Processes one input read from `in`. `name` is the input as named on the
// command line ("-" for the standard input); with show_name every printed
// line starts with "<name>: " ("(stdin): "). IDs and viewed lines go to
// `out`, "Output: " notices to `err`; output files are written under the
// names of output_path. Errors end the process with status 1.
void separate_input(const CutSettings& settings, const std::string& name, FILE* in,
                    bool show_name, FILE* out, FILE* err);

// The whole run over settings->inputs: opens them all, settles the output
// extension, processes them in order and closes them.
void run_separator(CutSettings* settings, FILE* out, FILE* err);

}  // namespace veska

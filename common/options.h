// The option vocabulary of the two clustering programs (rumelvb and rumel),
// their usage and version texts, and the option passes that fill Settings.
//
// Options are taken up in passes over the whole command line because some
// values are needed before others can be interpreted (the target before any
// file is opened, --n-attr before attribute lists, --id/--eval before
// --ignore). Each pass rescans from the first word.
#pragma once

#include <string>

#include "common/option_scan.h"
#include "common/settings.h"

namespace veska {

// Scanner identifiers. One numbering serves both tables; rumel's table simply
// has no --predict entry.
enum OptionId {
  kOptTarget = 1,
  kOptSuffix,
  kOptNClass,
  kOptNAttr,
  kOptGauss,
  kOptId,
  kOptIgnore,
  kOptEval,
  kOptInput,
  kOptOutput,
  kOptSmoothC,
  kOptSmoothA,
  kOptSmoothMean,
  kOptSmoothVar,
  kOptTau,
  kOptAlpha,
  kOptEpsilon,
  kOptMaxIter,
  kOptSeed,
  kOptRestart,
  kOptMaxIterRestart,
  kOptNoise,
  kOptNoiseGauss,
  kOptExtreme,
  kOptRank,
  kOptItemp,
  kOptNSm,
  kOptNCand,
  kOptNJsplit,
  kOptMinCParam,
  kOptMinNewCParam,
  kOptMinSmImp,
  kOptPrecOut,
  kOptPrecMsg,
  kOptWeightPurity,
  kOptWeightWallance,
  kOptReadHparam,
  kOptReadParam,
  kOptAutoclass,
  kOptScore,
  kOptInitC,
  kOptInitA,
  kOptStart,
  kOptThreads,
  kOptLogScale,
  kOptMemProb,
  kOptPredict,
  kOptUncompress,
  kOptVerbose,
  kOptDaem,
  kOptNormJmerge,
  kOptRegularStat,
  kOptOccOrder,
  kOptHideAttr,
  kOptHideRank,
  kOptShowAttrMemp,
  kOptShowAttrCluster,
  kOptSaveMsg,
  kOptVersion,
  kOptHelp,
  kOptHelpall,
};

const OptionSpec* option_table(Program program);

// Display name for messages, "--n-class (-k)" or "--noise". Every option
// named in a message has the same letter in both programs.
std::string option_label(OptionId id);

// "May  2 2011": the date this binary was built.
const char* build_date();
// "VESKA version 0.7 (VB, built on <date>)\n" (ML+MAP for rumel).
std::string version_line(Program program);
const char* usage_short(Program program);
const char* usage_full(Program program);

// Pass 1: --target, and the first of --help/--helpall/--version, which
// prints to standard output and exits 0. Errors go to standard error.
void option_pass_target(int argc, char** argv, Settings& s);
// Pass 2: --input, --output, --suffix, --save-msg, --threads (else the CPUs
// the process may use) and the option that skips the estimation. Errors go
// to standard error.
void option_pass_files(int argc, char** argv, Settings& s);
// rumel only: --autoclass, before the explicit smoothing options.
void option_pass_autoclass(int argc, char** argv, Settings& s);
// Pass 3: --n-attr (required, at least 1).
void option_pass_n_attr(int argc, char** argv, Settings& s);
// Pass 4: --eval and --id.
void option_pass_eval_id(int argc, char** argv, Settings& s);
// Pass 5: every other option, in command-line order.
void option_pass_rest(int argc, char** argv, Settings& s);

// The passes that run once the log and message streams are open: rumel's
// --autoclass pass, then passes 3, 4 and 5.
void option_passes_after_open(int argc, char** argv, Settings& s);

}  // namespace veska

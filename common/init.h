// Option values into settings: number parsing, one handler per option value,
// the attribute roles, the validation of the whole combination, and the
// per-K resolution of "auto" smoothing constants.
//
// Every malformed value is fatal through `die` (the log and message streams
// are open by the time values are interpreted), except the few checks that
// the run reports on standard error (see validate_settings).
#pragma once

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// Longest accepted text of one part of a class range and of an --itemp part.
constexpr size_t kMaxClassRangePart = 11;
constexpr size_t kMaxItempPart = 55;
// Longest element of a --smooth-a list.
constexpr size_t kMaxSmoothAElement = 59;
// A case line holds at most 131,071 characters, hence at most this many
// fields; a larger --n-attr could never match a case file.
constexpr int kMaxAttributes = 131072;
// Digits of reals in messages and files.
constexpr int kMinPrecision = 1;
constexpr int kMaxPrecision = 36;

// Whole text must be one number (leading white space allowed); fatal otherwise.
int parse_int(const char* text);
unsigned int parse_uint(const char* text);
double parse_real(const char* text);  // finite decimal or exponent notation

// The same checks without the fatal exit: false when text is not a number.
bool try_parse_int(const char* text, int* value);
bool try_parse_real(const char* text, double* value);

// ---- handlers of single option values --------------------------------------

void set_n_class(Settings& s, const char* value);
void add_ignored(Settings& s, const char* value);
void add_gauss(Settings& s, const char* value);
void set_smooth_c(Settings& s, const char* value);
void set_smooth_a(Settings& s, const char* value);
void set_smooth_var(Settings& s, const char* value);
void set_tau(Settings& s, const char* value);
void set_rank(Settings& s, const char* value);
void set_itemp(Settings& s, const char* value);
void set_extreme(Settings& s, const char* value);
// --start: "random" or "kmeans", any letter case.
void set_start(Settings& s, const char* value);
// --threads: 1 to kMaxThreads. Checked before any file is opened, so its
// errors go to standard error.
void set_threads(Settings& s, const char* value);
// rumel: the model score, any letter case. Unknown names go
// to standard error.
void set_score(Settings& s, const char* value);
// rumel: --init-c / --init-a, any letter case.
void set_init_c(Settings& s, const char* value);
void set_init_a(Settings& s, const char* value);
// rumel: --autoclass makes every smoothing constant "auto" and selects the
// Cheeseman-Stutz score.
void set_autoclass(Settings& s);

// ---- after all options --------------------------------------------------------

// Roles, Gaussian groups and counts of the attribute model from the options.
void resolve_attributes(Settings& s, AttrModel& model);

// Checks the option combination and completes the derived settings
// (including resolve_attributes). In rumelvb the class-count and iteration
// checks report on standard error; everything else goes through `die`.
void validate_settings(Settings& s, AttrModel& model);

// Whether identical cases are merged into one entry while reading.
bool compresses_cases(const Settings& s);

// Replaces the "auto" constants for class count K; each discrete attribute's
// constant comes from its number of distinct values (model.values[k].n_values,
// known once the cases are read). Also sets any_smoothing and all_smoothing.
// Returns true when some constant is "auto": the caller then writes the
// AUTO-SMOOTH-CLASS-K%d and AUTO-SMOOTH-CAT-K%d data matrices to the log.
bool resolve_auto_smoothing(Settings& s, const AttrModel& model, int K);

}  // namespace veska

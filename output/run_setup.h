// The start-up and close-down steps both clustering programs share: the
// process-wide work areas, the log and message streams, the version line,
// the conversions fixed by the final options, and the string tables that
// reading fills.
#pragma once

#include <cstdio>

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// Conversion buffers, section writer, matrix store; closing also joins the
// worker pool's threads (the run starts them once the options are read).
void open_work_areas();
void close_work_areas();

// What a run opens: the log, and with --save-msg the message file.
struct RunStreams {
  FILE* log = nullptr;
  FILE* msg = nullptr;
};
// Opens both (binary: the conversions write every line end as CR LF), makes
// them the process-wide streams and writes the version line.
RunStreams open_run_streams(const Settings& settings);
void close_run_streams(RunStreams& streams);

// Digits of reals and the delimiter of the output files.
void fix_conversions(const Settings& settings);

void create_hash_tables(const Settings& settings, AttrModel& model);
void free_hash_tables(AttrModel& model);

}  // namespace veska

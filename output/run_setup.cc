#include "output/run_setup.h"

#include <string>

#include "common/hash.h"
#include "common/matrix_store.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/workers.h"
#include "output/section_writer.h"

namespace veska {

namespace {

FILE* open_for_writing(const std::string& name) {
  FILE* f = fopen(name.c_str(), "wb");
  if (f == nullptr) die_stderr("Couldn't open %s\n", name.c_str());
  return f;
}

}  // namespace

void open_work_areas() {
  if (!conv_buffers_init()) die_stderr("Couldn't allocate memory for buffers\n");
  section_writer_init();
  store_init();
}

void close_work_areas() {
  stop_workers();
  store_shutdown();
  conv_buffers_free();
  section_writer_free();
}

RunStreams open_run_streams(const Settings& s) {
  RunStreams r;
  r.log = open_for_writing(s.files.log);
  set_log_stream(r.log);
  if (s.save_msg) {
    r.msg = open_for_writing(s.files.msg);
    set_msg_stream(r.msg);
  }
  FILE* msg = msg_stream();
  fputs(conv_msg(version_line(s.program).c_str()), msg);
  fflush(msg);
  return r;
}

void close_run_streams(RunStreams& r) {
  fclose(r.log);
  set_log_stream(nullptr);
  r.log = nullptr;
}

void fix_conversions(const Settings& s) {
  set_conv_precision(s.prec_msg, s.prec_out);
  set_output_delimiter(s.output_format == Format::kTxt ? '\t' : ',');
}

void create_hash_tables(const Settings& s, AttrModel& model) {
  create_value_tables(model);
  for (DiscreteValues& v : model.values) strtab_init(v.table);
  if (s.id_given) strtab_init(model.case_ids);
  if (s.eval_given) strtab_init(model.answer_classes);
}

void free_hash_tables(AttrModel& model) {
  for (DiscreteValues& v : model.values) strtab_free(v.table);
  strtab_free(model.case_ids);
  strtab_free(model.answer_classes);
}

}  // namespace veska

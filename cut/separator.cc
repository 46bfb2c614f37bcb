#include "cut/separator.h"

#include <memory>
#include <vector>

#include "common/misc.h"
#include "cut/line_end.h"
#include "cut/line_kind.h"
#include "cut/line_reader.h"
#include "cut/output_name.h"

namespace veska {

namespace {

// Closes what the separator opened; the standard input stays open.
struct StreamCloser {
  void operator()(FILE* f) const {
    if (f != nullptr && f != stdin) fclose(f);
  }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

void put(FILE* f, std::string_view bytes) { fwrite(bytes.data(), 1, bytes.size(), f); }

// The per-input state: whether the current data matrix is selected and the
// file it is being written to.
class InputSeparator {
 public:
  InputSeparator(const CutSettings& settings, const std::string& name, bool show_name, FILE* out,
                 FILE* err)
      : s_(settings), out_(out), err_(err) {
    if (show_name) name_prefix_ = (name == "-" ? std::string("(stdin)") : name) + ": ";
  }

  void process(FILE* in) {
    LineReader reader(in);
    std::string id;
    while (reader.next()) {
      std::string_view line = reader.line();
      LineKind kind = classify_line(line, &id);
      if (kind == LineKind::kHeader) {
        on_header(line, id);
      } else if (inside_matrix_) {
        bool dropped = kind == LineKind::kHeaderPart ? s_.del_head : s_.del_body;
        if (!dropped) write_line(line);
      }
    }
    close_output();
  }

 private:
  void on_header(std::string_view line, const std::string& id) {
    if (s_.mode() == CutMode::kList) {
      put(out_, name_prefix_);
      put(out_, id);
      put(out_, "\n");
      return;
    }
    close_output();
    inside_matrix_ = false;
    if (s_.id_given && !id_matches(s_.match, s_.id, id)) return;

    if (s_.mode() == CutMode::kView) {
      if (!s_.del_head) write_line(line);
    } else {
      output_path_ = output_path(s_, id);
      if (!s_.del_body) {
        put(err_, "Output: ");
        put(err_, name_prefix_);
        put(err_, output_path_);
        put(err_, "\n");
        fflush(err_);
      }
      file_.reset(fopen(output_path_.c_str(), "wb"));
      if (!file_) die_stderr("Couldn't open %s\n", output_path_.c_str());
      // The header line opens every file, even with --del-head.
      write_line(line);
    }
    inside_matrix_ = true;
  }

  void write_line(std::string_view line) {
    convert_line_end(line, &converted_);
    if (file_) {
      put(file_.get(), converted_);
    } else {
      put(out_, name_prefix_);
      put(out_, converted_);
    }
  }

  void close_output() {
    if (!file_) return;
    FILE* f = file_.release();
    bool failed = ferror(f) != 0;
    if (fclose(f) != 0) failed = true;
    if (failed) die_stderr("Couldn't write %s\n", output_path_.c_str());
  }

  const CutSettings& s_;
  FILE* out_;
  FILE* err_;
  std::string name_prefix_;  // "<name>: " when names are shown, else empty
  bool inside_matrix_ = false;
  Stream file_;
  std::string output_path_;
  std::string converted_;
};

}  // namespace

void separate_input(const CutSettings& settings, const std::string& name, FILE* in,
                    bool show_name, FILE* out, FILE* err) {
  InputSeparator(settings, name, show_name, out, err).process(in);
  if (ferror(in)) die_stderr("Couldn't read %s\n", name == "-" ? "(stdin)" : name.c_str());
}

void run_separator(CutSettings* settings, FILE* out, FILE* err) {
  std::vector<Stream> inputs;
  for (const std::string& name : settings->inputs) {
    if (name == "-") {
      inputs.emplace_back(stdin);
      continue;
    }
    inputs.emplace_back(fopen(name.c_str(), "rb"));
    if (!inputs.back()) die_stderr("Couldn't open %s\n", name.c_str());
  }
  if (settings->mode() == CutMode::kOutput && !settings->ext_given) {
    settings->ext = common_extension(settings->inputs);
  }
  bool show_name = settings->inputs.size() >= 2 && !settings->hide_file;
  for (size_t i = 0; i < inputs.size(); ++i) {
    separate_input(*settings, settings->inputs[i], inputs[i].get(), show_name, out, err);
  }
}

}  // namespace veska

// Helpers for tests: capture what the programs write to the log and message
// streams, and observe fatal exits in-process.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace veska::testing {

// Thrown by the fatal handler that FatalCapture installs.
struct FatalExit : std::runtime_error {
  explicit FatalExit(int s) : std::runtime_error("fatal exit"), status(s) {}
  int status;
};

// Redirects the log and message streams (and the fatal exit) for its
// lifetime; restores the previous streams afterwards.
class StreamCapture {
 public:
  StreamCapture();
  ~StreamCapture();
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;
  std::string log();  // everything written to the log stream so far
  std::string msg();  // everything written to the message stream so far

 private:
  FILE* log_;
  FILE* msg_;
  FILE* old_log_;
  FILE* old_msg_;
};

// Result of running code that is expected to end on a fatal path.
struct FatalResult {
  bool exited = false;  // a fatal exit happened
  int status = 0;
  std::string log;  // log stream text
  std::string msg;  // message stream text
};

// Runs fn with the streams captured and fatal exits turned into FatalExit.
FatalResult run_capturing(const std::function<void()>& fn);

// Reads a whole file (binary); empty string if it does not exist.
std::string read_file(const std::string& path);
// What `write` writes to a fresh temporary stream.
std::string written_by(const std::function<void(FILE*)>& write);
// The lines of a text whose lines end in CR LF, without their ends.
std::vector<std::string> lines_of(const std::string& text);
// Writes a whole file (binary).
void write_file(const std::string& path, const std::string& bytes);

// A fresh empty directory under the system temp dir, removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Result of running a built program.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs VESKA_BIN_DIR/<program> with args in directory cwd; stdin from the
// given text (empty: /dev/null).
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::string& stdin_text = "");

// Directory of the repo (VESKA_SOURCE_DIR), for the shipped examples.
std::string source_dir();

}  // namespace veska::testing

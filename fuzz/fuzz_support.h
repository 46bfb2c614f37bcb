// What every fuzz target shares: the fatal exit turned into an exception that
// the target catches, quiet log and message streams, and input files kept in
// memory (the readers take file names).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/misc.h"

namespace veska::fuzz {

// Thrown in place of the process exit, so one run's fatal path ends only that
// run. Everything on the way up is unwound: memory not owned by an object
// shows up as a leak.
struct FatalExit {
  int status;
};

inline void throw_fatal(int status) { throw FatalExit{status}; }

// Called once from LLVMFuzzerInitialize: fatal exits throw, and the log and
// message streams go nowhere (the messages are the programs' business, not
// the fuzzer's) unless VESKA_FUZZ_VERBOSE is set, for replaying an input.
inline void init_quiet_fatal() {
  set_fatal_handler(throw_fatal);
  if (getenv("VESKA_FUZZ_VERBOSE") == nullptr) {
    FILE* null = fopen("/dev/null", "wb");
    if (null == nullptr) abort();
    set_log_stream(null);
    set_msg_stream(null);
  }
  if (!conv_buffers_init()) abort();
}

// Runs fn; a fatal exit is an expected outcome of bad input.
template <typename Fn>
void run_guarded(Fn fn) {
  try {
    fn();
  } catch (const FatalExit&) {
  }
}

// An input file that lives in memory: a memfd reached through its /proc path,
// rewritten for every run.
class MemFile {
 public:
  explicit MemFile(const char* label) {
    fd_ = memfd_create(label, 0);
    if (fd_ < 0) abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  void write(std::string_view bytes) {
    if (ftruncate(fd_, 0) != 0) abort();
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n <= 0) abort();
      done += static_cast<size_t>(n);
    }
  }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// The input as text, split once at the first `marker`: the part before and
// the part after. Without the marker, `before` is absent.
struct SplitInput {
  bool has_before = false;
  std::string_view before;
  std::string_view after;
};

inline SplitInput split_at_marker(std::string_view text, std::string_view marker) {
  SplitInput s;
  size_t at = text.find(marker);
  if (at == std::string_view::npos) {
    s.after = text;
  } else {
    s.has_before = true;
    s.before = text.substr(0, at);
    s.after = text.substr(at + marker.size());
  }
  return s;
}

// NUL-separated words as a command line; argv[0] is the program name.
class ArgList {
 public:
  ArgList(const char* program, std::string_view words) {
    words_.emplace_back(program);
    size_t start = 0;
    while (start < words.size()) {
      size_t end = words.find('\0', start);
      if (end == std::string_view::npos) end = words.size();
      words_.emplace_back(words.substr(start, end - start));
      start = end + 1;
    }
    for (std::string& w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

}  // namespace veska::fuzz

#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/misc.h"

namespace veska::testing {

namespace {

void throwing_handler(int status) { throw FatalExit(status); }

std::string slurp(FILE* f) {
  fflush(f);
  long end = ftell(f);
  std::string text(static_cast<size_t>(end), '\0');
  rewind(f);
  size_t got = fread(text.data(), 1, text.size(), f);
  text.resize(got);
  fseek(f, 0, SEEK_END);
  return text;
}

}  // namespace

StreamCapture::StreamCapture()
    : log_(tmpfile()), msg_(tmpfile()), old_log_(log_stream()), old_msg_(msg_stream()) {
  set_log_stream(log_);
  set_msg_stream(msg_);
  set_fatal_handler(throwing_handler);
}

StreamCapture::~StreamCapture() {
  set_fatal_handler(nullptr);
  set_log_stream(old_log_);
  set_msg_stream(old_msg_ == stderr ? nullptr : old_msg_);
  fclose(log_);
  fclose(msg_);
}

std::string StreamCapture::log() { return slurp(log_); }
std::string StreamCapture::msg() { return slurp(msg_); }

FatalResult run_capturing(const std::function<void()>& fn) {
  FatalResult result;
  StreamCapture capture;
  try {
    fn();
  } catch (const FatalExit& e) {
    result.exited = true;
    result.status = e.status;
  }
  result.log = capture.log();
  result.msg = capture.msg();
  return result;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string written_by(const std::function<void(FILE*)>& write) {
  FILE* f = std::tmpfile();
  write(f);
  std::rewind(f);
  std::string out;
  for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
  std::fclose(f);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "veska-XXXXXX").string();
  char* made = mkdtemp(templ.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string source_dir() {
  const char* dir = getenv("VESKA_SOURCE_DIR");
  return dir != nullptr ? dir : VESKA_DEFAULT_SOURCE_DIR;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::string& stdin_text) {
  const char* bin_dir = getenv("VESKA_BIN_DIR");
  std::string exe = std::string(bin_dir != nullptr ? bin_dir : VESKA_DEFAULT_BIN_DIR) + "/" + program;
  TempDir io;
  std::string in_path = io.file("stdin");
  std::string out_path = io.file("stdout");
  std::string err_path = io.file("stderr");
  write_file(in_path, stdin_text);

  RunResult result;
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (freopen(in_path.c_str(), "rb", stdin) == nullptr) _exit(127);
    if (freopen(out_path.c_str(), "wb", stdout) == nullptr) _exit(127);
    if (freopen(err_path.c_str(), "wb", stderr) == nullptr) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

}  // namespace veska::testing

// rumelreport's readers and page: the files of one run, read and drawn.
//
// Input: the log, the model file (written as both the hyperparameter and the
// parameter file), the cluster, evaluation and rank files, separated by NUL
// bytes; a part left out is a file that does not exist. The files live in a
// scratch directory, rewritten for every run.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "report/html_page.h"
#include "report/read_run.h"

using namespace veska;

namespace {

std::string g_dir;
std::string g_base;
const char* const kKinds[] = {"log", "hparam", "param", "cluster", "eval", "rank"};

void remove_scratch() {
  for (const char* kind : kKinds) unlink((g_base + "_" + kind + ".csv").c_str());
  rmdir(g_dir.c_str());
}

void put(const std::string& path, std::string_view bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  const char* root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_dir = std::string(root) + "/veska-fuzz-report-" + std::to_string(getpid());
  if (mkdir(g_dir.c_str(), 0700) != 0) abort();
  g_base = g_dir + "/run";
  atexit(remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const char* kinds[] = {"log", "hparam", "cluster", "eval", "rank"};
  size_t at = 0;
  for (const char* kind : kinds) {
    std::string path = g_base + "_" + kind + ".csv";
    std::string param = g_base + "_param.csv";
    if (at > input.size()) {
      unlink(path.c_str());
      if (std::string_view(kind) == "hparam") unlink(param.c_str());
      continue;
    }
    size_t end = input.find('\0', at);
    if (end == std::string_view::npos) end = input.size();
    std::string_view part = input.substr(at, end - at);
    put(path, part);
    if (std::string_view(kind) == "hparam") put(param, part);
    at = end + 1;
  }
  fuzz::run_guarded([] {
    ReportSettings settings;
    settings.base = g_base;
    settings.max_points = 50;
    RunData run = read_run(settings);
    std::string page = render_page(run, settings);
    if (page.size() < 20) abort();
  });
  return 0;
}

// rumelcut: its command line, then the line classifier and the list, view and
// output modes over one input.
//
// Input: the command words separated by NUL bytes, two NUL bytes, then the
// content of the input file. Every FILE word reads that content (at most
// three of them); output files go to a scratch directory whatever --target
// says, and are removed after each run.
#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cut/cut_options.h"
#include "cut/output_name.h"
#include "cut/separator.h"
#include "fuzz/fuzz_support.h"

using namespace veska;

namespace {

fuzz::MemFile* g_input;
FILE* g_null;
std::string g_scratch;

void clear_scratch() {
  DIR* dir = opendir(g_scratch.c_str());
  if (dir == nullptr) abort();
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(g_scratch + "/" + name);
  }
  closedir(dir);
  for (const std::string& path : names) unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_quiet_fatal();
  g_input = new fuzz::MemFile("cut-input");
  g_null = fopen("/dev/null", "wb");
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string templ = std::string(base) + "/veska-fuzz-cut-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr || g_null == nullptr) abort();
  g_scratch = templ;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::SplitInput parts = fuzz::split_at_marker(text, std::string_view("\0\0", 2));
  g_input->write(parts.after);
  fuzz::ArgList args("rumelcut", parts.before);

  fuzz::run_guarded([&] {
    CutSettings s;
    if (parse_cut_options(args.argc(), args.argv(), &s, g_null) != CutParseResult::kRun) return;
    if (s.mode() == CutMode::kOutput && !s.ext_given) {
      s.ext = common_extension(s.inputs);
      s.ext_given = true;
    }
    size_t n_inputs = s.inputs.size() < 3 ? s.inputs.size() : 3;
    s.inputs.assign(n_inputs, g_input->path());
    s.prefix = g_scratch + "/out";
    run_separator(&s, g_null, g_null);
  });
  clear_scratch();
  return 0;
}

#include "analysis/output_file.h"

#include "common/misc.h"

namespace veska {

OutputFile::OutputFile(const std::string& name) : file_(fopen(name.c_str(), "wb")) {
  if (file_ == nullptr) die("Couldn't open %s\n", name.c_str());
}

OutputFile::~OutputFile() { fclose(file_); }

}  // namespace veska

// An output file of the post-analysis, created in binary mode (the writer
// decides every byte) and closed when it goes out of scope. A file that
// cannot be created ends the run with "Couldn't open %s\n".
#pragma once

#include <cstdio>
#include <string>

namespace veska {

class OutputFile {
 public:
  explicit OutputFile(const std::string& name);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  FILE* get() const { return file_; }

 private:
  FILE* file_;
};

}  // namespace veska

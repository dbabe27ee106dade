#include "tests/support/trace_file.h"

#include <stdlib.h>

#include <filesystem>

#include "tests/support/files.h"

namespace corvale_test {

TraceFile::TraceFile() : path_(dir_.file("Parser.trc")) {
  setenv("FIXTRACEFILE", path_.c_str(), 1);
}

bool TraceFile::exists() const {
  return std::filesystem::exists(path_);
}

std::string TraceFile::contents() const {
  return readFile(path_);
}

std::vector<std::string> TraceFile::lines() const {
  return readLines(path_);
}

const char* const kTraceSwitchVariables[5] = {"FIXTRACEALL", "FIXTRACEMGMT", "FIXTRACEMODULE",
                                              "FIXTRACEPARSER", "FIXTRACEWRITE"};

void clearTraceSwitchVariables() {
  for (const char* name : kTraceSwitchVariables) unsetenv(name);
}

}  // namespace corvale_test

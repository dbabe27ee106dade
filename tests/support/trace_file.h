// The diagnostic build's trace file for one test: a file name in a scratch folder of its own, set
// as FIXTRACEFILE for the life of the object (the trace creates the file itself when it opens
// it); the folder and the file go at the end. Also the variables that set the trace switches at
// start, so that a test can start from none of them set.
#ifndef CORVALE_TESTS_SUPPORT_TRACE_FILE_H
#define CORVALE_TESTS_SUPPORT_TRACE_FILE_H

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace corvale_test {

class TraceFile {
 public:
  TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  const std::string& path() const { return path_; }
  bool exists() const;
  std::string contents() const;
  // The file's lines without their "\n"; a last line without "\n" is kept as well.
  std::vector<std::string> lines() const;

 private:
  TempDir dir_;
  std::string path_;
};

// FIXTRACEALL, FIXTRACEMGMT, FIXTRACEMODULE, FIXTRACEPARSER and FIXTRACEWRITE.
extern const char* const kTraceSwitchVariables[5];
// Unsets every one of them.
void clearTraceSwitchVariables();

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_TRACE_FILE_H

// Helpers shared by the plug-in's tests: a temporary trace file named through FIXTRACEFILE, and
// FIX messages with a correct CheckSum.
#ifndef CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H
#define CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "broker/broker.h"

// Some tests link the plug-in's modules of each build in turn; their suite names carry the build,
// so that the cases of the two builds are told apart.
#if defined(CORVALE_DIAGNOSTIC) && CORVALE_DIAGNOSTIC
#define BUILD_SUITE(name) Diagnostic##name
#else
#define BUILD_SUITE(name) Production##name
#endif

namespace corvale_test {

// A fresh file name in the temporary directory, set as FIXTRACEFILE for the life of the object;
// the file is removed at the end.
class TraceFile {
 public:
  TraceFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/corvale-trace-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    path_ = name.data();
    std::remove(path_.c_str());  // the trace opens (creates) it itself
    setenv("FIXTRACEFILE", path_.c_str(), 1);
  }
  ~TraceFile() { std::remove(path_.c_str()); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  const std::string& path() const { return path_; }
  bool exists() const { return std::ifstream(path_).good(); }

  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The file's lines without their "\n"; a last line without "\n" is kept as well.
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::string text = contents();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      result.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return result;
  }

 private:
  std::string path_;
};

// "8=<begin>" SOH body, then the CheckSum trailer computed over everything before it, as bytes
// of the code page.
inline std::string fixMessage(const std::string& body, const std::string& begin = "FIX.4.2",
                              int codePage = 437) {
  std::string message = broker::fromUnicode(broker::utf16("8=" + begin + "\x01" + body), codePage);
  unsigned sum = 0;
  for (unsigned char c : message) sum += c;
  char trailer[16];
  std::snprintf(trailer, sizeof trailer, "10=%03u\x01", sum % 256);
  return message + broker::fromUnicode(broker::utf16(trailer), codePage);
}

}  // namespace corvale_test

#endif  // CORVALE_TESTS_PLUGIN_PLUGIN_TEST_SUPPORT_H

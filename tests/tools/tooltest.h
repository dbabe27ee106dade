// Helpers for driving the console tools in-process: a scratch folder that is the current
// directory while a test runs (the tools name their reports after relative paths), and a run that
// captures the console. Files are read and written with tests/support/files.h.
#ifndef CORVALE_TESTS_TOOLS_TOOLTEST_H
#define CORVALE_TESTS_TOOLS_TOOLTEST_H

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace tooltest {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode;
  std::string console;
};

// Runs a tool's body with argv = {program, args...}; the console is captured.
template <typename Tool>
ToolRun runTool(Tool tool, const char* program, const std::vector<std::string>& args) {
  std::vector<const char*> argv = {program};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::FILE* console = std::tmpfile();
  const int code = tool(static_cast<int>(argv.size()), argv.data(), console);
  std::fflush(console);
  std::rewind(console);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, console)) > 0) text.append(buffer, n);
  std::fclose(console);
  return {code, text};
}

// A fresh folder, current while the test runs, removed afterwards.
class ScratchDir : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(previous_); }

  corvale_test::TempDir dir_;
  fs::path previous_;
};

}  // namespace tooltest

#endif  // CORVALE_TESTS_TOOLS_TOOLTEST_H

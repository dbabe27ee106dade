// Helpers for driving the console tools in-process: a scratch folder that is the current
// directory while a test runs (the tools name their reports after relative paths), file helpers,
// and a run that captures the console.
#ifndef CORVALE_TESTS_TOOLS_TOOLTEST_H
#define CORVALE_TESTS_TOOLS_TOOLTEST_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

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
    std::string pattern = (fs::temp_directory_path() / "corvale-tools-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  fs::path dir_;
  fs::path previous_;
};

}  // namespace tooltest

#endif  // CORVALE_TESTS_TOOLS_TOOLTEST_H

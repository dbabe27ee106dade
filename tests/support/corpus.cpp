#include "tests/support/corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace corvale_test {

namespace fs = std::filesystem;

std::string projectCorpusDir() {
  return CORVALE_SOURCE_DIR "/tests/codec/data/corpus";
}

std::string fullCorpusDir() {
  const char* folder = std::getenv("CORVALE_CORPUS_DIR");
  return folder != nullptr ? folder : "";
}

std::vector<std::string> corpusFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const fs::path& sub : {fs::path(folder), fs::path(folder) / "ext"}) {
    if (!fs::is_directory(sub)) continue;
    for (const auto& entry : fs::directory_iterator(sub)) {
      if (entry.is_regular_file() && entry.path().extension() == ".fix") {
        files.push_back(entry.path().string());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> readMessages(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::vector<std::string> messages;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) messages.push_back(line);
  }
  return messages;
}

std::string beginStringOf(std::string_view message) {
  if (!message.starts_with("8=")) return "";
  const size_t end = message.find('\x01');
  return std::string(message.substr(2, end == std::string_view::npos ? end : end - 2));
}

}  // namespace corvale_test

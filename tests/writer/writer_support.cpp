#include "writer_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace writer_test {

const std::vector<Build>& builds() {
  static const std::vector<Build> all = {{"diagnostic", CORVALE_PLUGIN_DIAGNOSTIC},
                                         {"production", CORVALE_PLUGIN_PRODUCTION}};
  return all;
}

std::string shippedMetadata() {
  return CORVALE_BUILD_MTX_DIR;
}
std::string fixtureMetadata() {
  return WRITER_FIXTURE_MTX_DIR;
}
std::string projectCorpus() {
  return WRITER_CORPUS_DIR;
}

std::unique_ptr<broker::Plugin> loadPlugin(const std::string& path, const std::string& metadataDir,
                                           const std::string& traceFile) {
  setenv("FIXMETADIR", metadataDir.c_str(), 1);
  const std::string trace =
      traceFile.empty() ? (fs::path(testing::TempDir()) / "no-such-folder" / "Parser.trc").string()
                        : traceFile;
  setenv("FIXTRACEFILE", trace.c_str(), 1);
  broker::setLogToStderr(false);
  return std::make_unique<broker::Plugin>(path);
}

void traceOff(const broker::Plugin& plugin) {
  broker::Parser parser(plugin, "FIX");
  parser.parse("00000000TRACEOFF", {.messageSet = "SYSTMGMT", .ccsid = 437}).complete();
}

std::string soh(std::string_view text) {
  std::string bytes(text);
  std::replace(bytes.begin(), bytes.end(), '|', '\x01');
  return bytes;
}

std::string fixMessage(std::string_view beginString, std::string_view body) {
  std::string message = "8=" + std::string(beginString) + "\x01" +
                        "9=" + std::to_string(body.size()) + "\x01" + soh(body);
  unsigned sum = 0;
  for (unsigned char c : message) sum += c;
  char trailer[16];
  std::snprintf(trailer, sizeof trailer, "10=%03u\x01", sum % 256);
  return message + trailer;
}

std::vector<std::string> readMessages(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::vector<std::string> messages;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) messages.push_back(line);
  return messages;
}

std::vector<std::string> corpusFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const fs::path& sub : {fs::path(folder), fs::path(folder) / "ext"}) {
    if (!fs::is_directory(sub)) continue;
    for (const auto& entry : fs::directory_iterator(sub))
      if (entry.is_regular_file() && entry.path().extension() == ".fix")
        files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string beginStringOf(std::string_view message) {
  if (!message.starts_with("8=")) return "";
  const size_t end = message.find('\x01');
  return std::string(message.substr(2, end == std::string_view::npos ? end : end - 2));
}

int checkCorpusRoundTrip(broker::Parser& parser, broker::Parser& other,
                         const std::vector<std::string>& files) {
  int checked = 0;
  int mismatches = 0;
  for (const std::string& file : files) {
    const std::vector<std::string> messages = readMessages(file);
    for (size_t i = 0; i < messages.size(); ++i) {
      const std::string& message = messages[i];
      const std::string where = file + " line " + std::to_string(i + 1);
      ++checked;
      if (beginStringOf(message) == "FIX.3.9") {
        broker::Message parsed = parser.parse(message);
        try {
          parser.write(parsed);
          ADD_FAILURE() << where << ": a level without metadata was written";
        } catch (const broker::Error& e) {
          EXPECT_EQ(e.number, 0xCFFF0016u) << where;
          EXPECT_EQ(e.inserts, std::vector<std::string>{"FIX39"}) << where;
        }
        continue;
      }
      for (broker::Parser* writer : {&parser, &other}) {
        std::string written;
        try {
          broker::Message parsed = parser.parse(message);
          written = writer->write(parsed);
        } catch (const broker::Error& e) {
          written = std::string("error ") + e.what();
        }
        if (written != message && ++mismatches <= 10)
          ADD_FAILURE() << where << (writer == &parser ? "" : " (other parser)")
                        << "\n  read:    " << message << "\n  written: " << written;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  return checked;
}

}  // namespace writer_test

#include "mgmt_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace mgmt_test {

namespace {

std::string withSoh(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '|') c = '\x01';
  }
  return out;
}

std::string checksumText(std::string_view bytes) {
  unsigned sum = 0;
  for (unsigned char c : bytes) sum += c;
  char text[8];
  std::snprintf(text, sizeof text, "%03u", sum % 256);
  return text;
}

}  // namespace

std::string fixMessage(std::string_view beginString, std::string_view body) {
  const std::string items = withSoh(body);
  std::string message = "8=" + std::string(beginString) + '\x01' +
                        "9=" + std::to_string(items.size()) + '\x01' + items;
  return message + "10=" + checksumText(message) + '\x01';
}

std::string withWrongChecksum(std::string message) {
  // The three digits sit just before the final SOH; moving the first one by 5 (mod 10) changes
  // the number by 500 mod 1000, so it can no longer equal the sum (0 to 255).
  char& digit = message[message.size() - 4];
  digit = static_cast<char>('0' + (digit - '0' + 5) % 10);
  return message;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvale-mgmt-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void stageMetadata(const std::string& dir, const std::vector<std::string>& names) {
  const std::filesystem::path source = std::filesystem::path(CORVALE_BUILD_MTX_DIR) / "FIX42.mtx";
  for (const std::string& name : names) {
    std::filesystem::copy_file(source, std::filesystem::path(dir) / (name + ".mtx"),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

void setEnv(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

LoadedPlugin::LoadedPlugin(const std::string& path, const std::vector<std::string>& levels,
                           const std::vector<std::pair<std::string, std::string>>& environment)
    : traceFile_(scratch_.file("Parser.trc")) {
  stageMetadata(scratch_.path(), levels);
  setEnv("FIXMETADIR", scratch_.path());
  setEnv("FIXTRACEFILE", traceFile_);
  for (const auto& [name, value] : environment) setEnv(name.c_str(), value);
  plugin_ = std::make_unique<broker::Plugin>(path);
}

std::string renderChildren(const broker::Element& element, int depth) {
  std::string out;
  for (broker::Element child = element.firstChild(); child; child = child.nextSibling()) {
    out += std::string(depth, ' ') + child.nameUtf8();
    if (child.type() == CCI_ELEMENT_TYPE_NAME_VALUE &&
        child.valueType() == CCI_ELEMENT_TYPE_UTF16) {
      out += "=" + child.text();
    } else if (child.type() != CCI_ELEMENT_TYPE_NAME) {
      out += "?" + std::to_string(child.type());
    }
    if (!child.completePrevious() || !child.completeNext()) out += "!";
    out += "\n";
    out += renderChildren(child, depth + 1);
  }
  return out;
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

broker::Message sendManagement(broker::Parser& parser, std::string_view text, int ccsid) {
  const std::string bytes =
      ccsid == 437 ? std::string(text) : broker::fromUnicode(broker::toUnicode(text, 437), ccsid);
  return parser.parse(bytes, {.messageSet = "SYSTMGMT", .ccsid = ccsid});
}

std::string reply(broker::Parser& parser, std::string_view text, int ccsid) {
  broker::Message message = sendManagement(parser, text, ccsid);
  std::string tree = renderChildren(message.body());
  EXPECT_TRUE(message.body().completePrevious()) << text;
  EXPECT_TRUE(message.body().completeNext()) << text;
  return tree;
}

}  // namespace mgmt_test

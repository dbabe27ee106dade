#include "mgmt_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace mgmt_test {

std::string withWrongChecksum(std::string message) {
  // The three digits sit just before the final SOH; moving the first one by 5 (mod 10) changes
  // the number by 500 mod 1000, so it can no longer equal the sum (0 to 255).
  char& digit = message[message.size() - 4];
  digit = static_cast<char>('0' + (digit - '0' + 5) % 10);
  return message;
}

void stageMetadata(const std::string& dir, const std::vector<std::string>& names) {
  const std::filesystem::path source =
      std::filesystem::path(corvale_test::shippedMetadataDir()) / "FIX42.mtx";
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
  corvale_test::setPluginEnvironment(scratch_.path(), traceFile_);
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

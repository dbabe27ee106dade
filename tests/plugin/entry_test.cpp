// The plug-in as a broker loads it: both builds of Corvale.lil register one factory with two
// classes sharing one table, survive a failing factory creation, and release what their contexts
// hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "broker/broker.h"
#include "plugin/corvale.h"
#include "tests/support/fix_messages.h"
#include "tests/support/plugin_builds.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::PluginBuild;
using corvale_test::soh;
using corvale_test::TraceFile;
using corvale_test::withCheckSum;

class PluginEntryTest : public ::testing::TestWithParam<PluginBuild> {
 protected:
  void SetUp() override {
    setenv("FIXMETADIR", CORVALE_BUILD_MTX_DIR, 1);
    setenv("FIXTRACEALL", "1", 1);
  }
  TraceFile trace_;
};

TEST_P(PluginEntryTest, OneFactoryTwoClassesOneTable) {
  broker::Plugin plugin(GetParam().path);
  ASSERT_NE(plugin.factory(), nullptr);
  EXPECT_EQ(plugin.factoryName(), "CorvaleFactory");
  EXPECT_EQ(plugin.classNames(), (std::vector<std::string>{"FIX", "FIXONLY"}));

  const CpiFunctionTable* table = plugin.functionTable("FIX");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(plugin.functionTable("FIXONLY"), table);
  EXPECT_NE(table->cpiCreateContext, nullptr);
  EXPECT_NE(table->cpiDeleteContext, nullptr);
  EXPECT_NE(table->cpiParseBuffer, nullptr);
  EXPECT_NE(table->cpiParseFirstChild, nullptr);
  EXPECT_NE(table->cpiParseLastChild, nullptr);
  EXPECT_NE(table->cpiParseLeftSibling, nullptr);
  EXPECT_NE(table->cpiParseRightSibling, nullptr);
  EXPECT_NE(table->cpiWriteBuffer, nullptr);
  for (int slot = 9; slot <= 14; ++slot) {
    EXPECT_EQ(table->reserved[slot - 9], nullptr) << "slot " << slot;
  }
  ASSERT_NE(table->cpiAlwaysTrue, nullptr);
  EXPECT_EQ(table->cpiAlwaysTrue(), 1);

  // Both classes reach the same callbacks; the class shows only in the context.
  const std::string heartbeat = withCheckSum(soh("8=FIX.4.2|9=5|35=0|"));
  for (const char* className : {"FIX", "FIXONLY"}) {
    SCOPED_TRACE(className);
    broker::Parser parser(plugin, className);
    broker::Message message = parser.parse(heartbeat);
    EXPECT_EQ(message.parsedLength(), static_cast<int>(heartbeat.size()));
    const ParserContext* context = static_cast<const ParserContext*>(parser.context());
    EXPECT_STREQ(context->iRootName, className);
    EXPECT_EQ(context->iNotFixOnly, std::string(className) == "FIX" ? 1 : 0);
  }
}

TEST_P(PluginEntryTest, FailingFactoryCreationDefinesNoClass) {
  broker::failNextFactoryCreation();
  broker::Plugin plugin(GetParam().path);
  EXPECT_EQ(plugin.factory(), nullptr);
  EXPECT_TRUE(plugin.classNames().empty());
  EXPECT_EQ(plugin.functionTable("FIX"), nullptr);
  EXPECT_THROW(broker::Parser(plugin, "FIX"), broker::UsageError);
  if (GetParam().diagnostic) {
    std::vector<std::string> lines = trace_.lines();
    std::regex failure(R"(Unable to create parser factory, rc=[1-9][0-9]*)");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return std::regex_match(line, failure);
    })) << trace_.contents();
  }
}

TEST_P(PluginEntryTest, TraceFileOnlyInTheDiagnosticBuild) {
  broker::Plugin plugin(GetParam().path);
  if (!GetParam().diagnostic) {
    EXPECT_FALSE(trace_.exists());
    return;
  }
  std::vector<std::string> lines = trace_.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Starting trace!!! - Corvale level 1.00 ", 0), 0u) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(Trace settings are debug=1, Parser=1, )"
                                                    R"(Writes=1, Modules=1, Mgmt=1 )"
                                                    R"(debugfile=0x[0-9a-f]+)")))
      << lines[1];
}

// Under the address sanitizer a leak of the text or of open repeating groups fails this.
TEST_P(PluginEntryTest, ParserDeletedWithOpenGroupsReleasesThem) {
  broker::Plugin plugin(GetParam().path);
  const std::string order =
      withCheckSum(soh("8=FIX.4.4|9=60|35=D|453=2|448=P1|447=D|452=1|448=P2|447=D|452=3|55=ACME|"));
  auto parser = std::make_unique<broker::Parser>(plugin, "FIX");
  broker::Message message = parser->parse(order);
  broker::Element element = message.body().firstChild();
  // The first group instance is the first folder among the children.
  while (element && element.type() != CCI_ELEMENT_TYPE_NAME) element = element.nextSibling();
  ASSERT_TRUE(element) << "no repeating group parsed";
  ASSERT_TRUE(element.firstChild());
  const ParserContext* context = static_cast<const ParserContext*>(parser->context());
  EXPECT_NE(context->iText, nullptr);
  EXPECT_NE(context->iRepeat, nullptr);
  parser.reset();
}

INSTANTIATE_TEST_SUITE_P(Builds, PluginEntryTest, ::testing::ValuesIn(corvale_test::pluginBuilds()),
                         corvale_test::PluginBuildName());

}  // namespace

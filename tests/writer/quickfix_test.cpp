// An independent check of the written messages: QuickFIX reads them with the matching data
// dictionary, with BodyLength and CheckSum validation on.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "broker/broker.h"
#include "quickfix_check.h"
#include "writer_support.h"

namespace writer_test {
namespace {

using broker::Element;

// The dictionaries QuickFIX reads a message with, chosen by its BeginString.
struct Dictionaries {
  std::string session;
  std::string application;
};
Dictionaries dictionariesFor(const std::string& beginString) {
  const std::string dir = WRITER_DICTIONARY_DIR;
  if (beginString == "FIXT.1.1") return {dir + "/FIXT11.xml", dir + "/FIX50SP2.xml"};
  std::string level = beginString;
  level.erase(std::remove(level.begin(), level.end(), '.'), level.end());
  return {dir + "/" + level + ".xml", dir + "/" + level + ".xml"};
}

std::string rejection(const std::string& message, bool fullValidation) {
  const Dictionaries d = dictionariesFor(beginStringOf(message));
  return quickfixRejection(message, d.session, d.application, fullValidation);
}

class QuickFixTest : public testing::TestWithParam<PluginBuild> {
 protected:
  void SetUp() override {
    plugin_ = loadPlugin(GetParam().path, shippedMetadataDir());
    traceOff(*plugin_);
    parser_ = std::make_unique<broker::Parser>(*plugin_, "FIX");
  }
  std::unique_ptr<broker::Plugin> plugin_;
  std::unique_ptr<broker::Parser> parser_;
};

void standardHeader(const Element& body, const char* beginString, const char* msgType) {
  body.addText("BeginString", beginString);
  body.addText("MsgType", msgType);
  body.addText("SenderCompID", "SENDER");
  body.addText("TargetCompID", "TARGET");
  body.addInteger("MsgSeqNum", 7);
  body.addTimestamp("SendingTime", {2026, 12, 11, 10, 0, 0.0f});
}

struct BuiltMessage {
  const char* what;
  std::function<void(const Element&)> build;
};

const BuiltMessage kBuilt[] = {
    {"FIX.4.2 order with values of every type and XmlData",
     [](const Element& b) {
       standardHeader(b, "FIX.4.2", "D");
       b.addInteger("XmlDataLen", 1);  // wrong on purpose: the writer sets the real length
       b.addText("XmlData", u"<order id=\"1\">\u00e9</order>");
       b.addText("ClOrdID", "C-1");
       b.addText("HandlInst", "1");
       const Element exec = b.addFolder("ExecInst");
       exec.addText("Val", "1");
       exec.addText("Val", "2");
       b.addText("Symbol", "IBM");
       b.addText("Side", "1");
       b.addTimestamp("TransactTime", {2026, 12, 11, 9, 59, 58.5f});
       b.addInteger("OrderQty", 100);
       b.addText("OrdType", "2");
       b.addReal("Price", 10.25);
       b.addText("Text", std::string(10000, 't'));
     }},
    {"FIX.4.4 order with nested repeating groups",
     [](const Element& b) {
       standardHeader(b, "FIX.4.4", "D");
       b.addText("ClOrdID", "C-2");
       b.addInteger("NoPartyIDs", 2);
       for (const char* id : {"P1", "P2"}) {
         const Element party = b.addFolder("PartyIDs");
         party.addText("PartyID", id);
         party.addText("PartyIDSource", "D");
         party.addInteger("PartyRole", 1);
         party.addInteger("NoPartySubIDs", 1);
         const Element sub = party.addFolder("PartySubIDs");
         sub.addText("PartySubID", "S");
         sub.addInteger("PartySubIDType", 1);
       }
       b.addText("Symbol", "IBM");
       b.addText("Side", "2");
       b.addTimestamp("TransactTime", {2026, 12, 11, 9, 59, 58.0f});
       b.addReal("OrderQty", 5.5);
       b.addText("OrdType", "1");
     }},
    {"FIX.4.4 logon with raw data holding SOH",
     [](const Element& b) {
       standardHeader(b, "FIX.4.4", "A");
       b.addInteger("EncryptMethod", 0);
       b.addInteger("HeartBtInt", 30);
       b.addInteger("RawDataLength", 99);  // wrong on purpose
       b.addBytes("RawData", {'a', 0x01, 'b', 0x01, '=', 'c'});
       b.addBoolean("ResetSeqNumFlag", true);
     }},
};

TEST_P(QuickFixTest, BuiltMessagesAreValidForQuickFix) {
  for (const BuiltMessage& built : kBuilt) {
    broker::Message message = parser_->createMessage();
    built.build(message.body());
    const std::string written = parser_->write(message);
    EXPECT_EQ(rejection(written, true), "") << built.what << "\n" << written;
  }
}

// The check is not vacuous: QuickFIX rejects a written message whose BodyLength or CheckSum is
// off by one.
TEST_P(QuickFixTest, QuickFixChecksBodyLengthAndChecksum) {
  broker::Message message = parser_->createMessage();
  kBuilt[0].build(message.body());
  const std::string written = parser_->write(message);
  ASSERT_EQ(rejection(written, false), "");
  std::string badSum = written;
  badSum[badSum.size() - 2] =
      badSum[badSum.size() - 2] == '9' ? '0' : badSum[badSum.size() - 2] + 1;
  EXPECT_NE(rejection(badSum, false), "");
  std::string badLength = written;
  const size_t digit = badLength.find(
                           "\x01"
                           "9=") +
                       3;
  badLength[digit] = badLength[digit] == '9' ? '1' : badLength[digit] + 1;
  EXPECT_NE(rejection(badLength, false), "");
}

// Parsed corpus messages (FIX.4.0 to FIXT.1.1) with one more field: BodyLength and CheckSum
// must be worked out anew. Messages that QuickFIX itself does not read are left out.
TEST_P(QuickFixTest, ChangedCorpusMessagesAreReadByQuickFix) {
  std::map<std::string, int> checked;  // messages checked per BeginString
  for (const std::string& file : corpusFiles(projectCorpusDir())) {
    for (const std::string& input : readMessages(file)) {
      const std::string beginString = beginStringOf(input);
      if (beginString == "FIX.3.9" || !rejection(input, false).empty()) continue;
      broker::Message parsed = parser_->parse(input);
      parsed.complete();
      parsed.body().addText("FX5000", "added by the writer");
      const std::string written = parser_->write(parsed);
      ASSERT_NE(written, input);
      EXPECT_EQ(rejection(written, false), "") << file << "\n" << written;
      ++checked[beginString];
    }
  }
  for (const char* level : {"FIX.4.0", "FIX.4.1", "FIX.4.2", "FIX.4.3", "FIX.4.4", "FIXT.1.1"})
    EXPECT_GT(checked[level], 10) << level;
}

INSTANTIATE_TEST_SUITE_P(Builds, QuickFixTest, testing::ValuesIn(pluginBuilds()),
                         PluginBuildName());

}  // namespace
}  // namespace writer_test

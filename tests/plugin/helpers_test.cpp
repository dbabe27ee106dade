// Element and property helpers: rendering values as text, finding siblings by name, reading the
// message properties and the root element's name.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "broker/broker.h"
#include "plugin/corvale.h"
#include "plugin/parsubs.h"
#include "plugin/trace.h"
#include "plugin_test_support.h"
#include "tests/support/fix_messages.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::TraceFile;

// A parser of the plug-in's in-process entry with a framed FIX message attached, so that the
// helpers that ask the parser for its message have one.
class BUILD_SUITE(HelpersTest) : public ::testing::Test {
 protected:
  void attach(const broker::Properties& properties, const std::string& className = "FIX") {
    message_.reset();
    parser_ = std::make_unique<broker::Parser>(plugin_, className);
    int codePage = properties.hasCcsid && properties.ccsid != 0 ? properties.ccsid : 437;
    message_ = std::make_unique<broker::Message>(parser_->parse(
        corvale_test::withCheckSumIn(broker::utf16(corvale_test::soh("8=FIX.4.2|35=0|")), codePage),
        properties));
  }
  void SetUp() override { attach({}); }

  TraceFile trace_;
  broker::Plugin plugin_{&bipGetParserFactory};
  std::unique_ptr<broker::Parser> parser_;
  std::unique_ptr<broker::Message> message_;
};

struct Rendered {
  std::string text;
  int result;
  bool operator==(const Rendered&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rendered& r) {
  return out << '"' << r.text << "\" result " << r.result;
}

// Renders into a buffer of exactly size bytes followed by guard bytes that must stay untouched.
Rendered render(CciElement* element, int size, int codePage = 437) {
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size) + 8]);
  std::memset(buffer.get(), '#', static_cast<size_t>(size) + 8);
  int result = elementValueToText(buffer.get(), size, element, codePage);
  EXPECT_EQ(std::string(buffer.get() + size, 8), "########") << "written past the buffer";
  EXPECT_LT(std::strlen(buffer.get()), static_cast<size_t>(size));
  return {buffer.get(), result};
}

TEST_F(BUILD_SUITE(HelpersTest), ElementValueToTextRendersEveryValueType) {
  broker::Element body = message_->body();
  struct Case {
    const char* label;
    std::function<broker::Element()> make;
    int size;
    int codePage;
    Rendered expected;
  };
  const Case cases[] = {
      {"true", [&] { return body.addBoolean("B", true); }, 8, 437, {"Y", 0}},
      {"false", [&] { return body.addBoolean("B", false); }, 2, 437, {"N", 0}},
      {"integer", [&] { return body.addInteger("I", -42); }, 16, 437, {"-42", 0}},
      {"integer cut", [&] { return body.addInteger("I", 1234567); }, 4, 437, {"123", 0}},
      {"integer, room for nothing", [&] { return body.addInteger("I", 5); }, 1, 437, {"", 0}},
      {"real 2.5", [&] { return body.addReal("R", 2.5); }, 32, 437, {"2.5", 0}},
      {"real 1.05", [&] { return body.addReal("R", 1.05); }, 32, 437, {"1.05", 0}},
      {"real 3.0", [&] { return body.addReal("R", 3.0); }, 32, 437, {"3", 0}},
      {"real 2.3", [&] { return body.addReal("R", 2.3); }, 32, 437, {"2.299999", 0}},
      {"real -1.5", [&] { return body.addReal("R", -1.5); }, 32, 437, {"-1.5", 0}},
      {"real 0.000001", [&] { return body.addReal("R", 0.000001); }, 32, 437, {"0.000001", 0}},
      {"real 0.0000001", [&] { return body.addReal("R", 0.0000001); }, 32, 437, {"0", 0}},
      {"real 1e20", [&] { return body.addReal("R", 1e20); }, 32, 437, {"100000000000000000000", 0}},
      {"characters", [&] { return body.addText("C", "hello"); }, 32, 437, {"hello", 0}},
      {"characters cut", [&] { return body.addText("C", "hello"); }, 3, 437, {"he", 0}},
      {"characters in 500",
       [&] { return body.addText("C", "hello"); },
       32,
       500,
       {"\x88\x85\x93\x93\x96", 0}},
      {"time",
       [&] {
         return body.addTime("T", {9, 5, 7.9f});
       },
       32,
       437,
       {"09:05:07", 0}},
      {"date",
       [&] {
         return body.addDate("D", {2001, 4, 17});
       },
       32,
       437,
       {"20010417", 0}},
      {"timestamp",
       [&] {
         return body.addTimestamp("S", {2001, 4, 17, 9, 5, 7.9f});
       },
       32,
       437,
       {"20010417-09:05:07", 0}},
      {"timestamp cut",
       [&] {
         return body.addTimestamp("S", {2001, 4, 17, 9, 5, 7.9f});
       },
       9,
       437,
       {"20010417", 0}},
      {"byte array",
       [&] {
         return body.addBytes("A", {1, 2, 3});
       },
       32,
       437,
       {"", 1}},
      {"folder without a value", [&] { return body.addFolder("F"); }, 32, 437, {"", 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(render(c.make().handle(), c.size, c.codePage), c.expected);
  }
  EXPECT_EQ(render(nullptr, 8), (Rendered{"", 1}));
}

TEST_F(BUILD_SUITE(HelpersTest), NameElementRendersItsValueChild) {
  int rc = 0;
  broker::Element folder = message_->body().addFolder("Folder");
  CciElement* value =
      cpiCreateAndInitializeElement(&rc, parser_->handle(), CCI_ELEMENT_TYPE_VALUE, nullptr, 1, 1);
  ASSERT_EQ(rc, 0);
  cpiSetElementIntegerValue(&rc, value, 77);
  cpiAddAsFirstChild(&rc, folder.handle(), value);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(valueElementOf(folder.handle()), value);
  EXPECT_EQ(render(folder.handle(), 8), (Rendered{"77", 0}));

  // A name element whose first child is a name-value element has no value of its own.
  broker::Element other = message_->body().addFolder("Other");
  other.addInteger("Inner", 5);
  EXPECT_EQ(valueElementOf(other.handle()), nullptr);
  EXPECT_EQ(render(other.handle(), 8), (Rendered{"", 1}));
}

TEST_F(BUILD_SUITE(HelpersTest), TwoDigitSeconds) {
  const std::pair<double, const char*> cases[] = {{7.9, "07"},   {0.0, "00"},  {59.999, "59"},
                                                  {123.0, "12"}, {-5.0, "-5"}, {1e300, "00"}};
  for (const auto& [seconds, expected] : cases) {
    char text[3] = {'?', '?', '?'};
    twoDigitSeconds(text, seconds);
    EXPECT_STREQ(text, expected) << seconds;
  }
}

TEST_F(BUILD_SUITE(HelpersTest), FindNextElement) {
  broker::Element body = message_->body();
  broker::Element a = body.addText("A", "1");
  body.addText(std::string(100, 'L'), "a name longer than the search buffer");
  broker::Element c = body.addText("C", "3");
  broker::Element a2 = body.addText("A", "4");
  EXPECT_EQ(findNextElement(a.handle(), u"A"), a.handle());
  EXPECT_EQ(findNextElement(a.handle(), u"C"), c.handle());
  EXPECT_EQ(findNextElement(c.handle(), u"A"), a2.handle());
  EXPECT_EQ(findNextElement(a.handle(), u"Z"), nullptr);
  EXPECT_EQ(findNextElement(nullptr, u"A"), nullptr);
}

TEST_F(BUILD_SUITE(HelpersTest), MessageProperties) {
  struct Case {
    broker::Properties properties;
    int codedCharSetId;
  };
  const Case cases[] = {
      {{.messageSet = "", .ccsid = 500, .hasCcsid = true}, 500},
      {{.messageSet = "", .ccsid = 437, .hasCcsid = false}, 0},  // missing
      {{.messageSet = "", .ccsid = 0, .hasCcsid = true}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codedCharSetId);
    attach(c.properties);
    EXPECT_EQ(getCodedCharSetId(parser_->handle()), c.codedCharSetId);
  }

  attach({.messageSet = "ABCDEFGHIJ"});
  char text[33];
  getMessageSet(parser_->handle(), text, sizeof text);
  EXPECT_STREQ(text, "ABCDEFGHIJ");
  getMessageSet(parser_->handle(), text, 5);
  EXPECT_STREQ(text, "ABCD");
  EXPECT_NE(findProperty(parser_->handle(), u"MessageSet"), nullptr);
  EXPECT_EQ(findProperty(parser_->handle(), u"NoSuchProperty"), nullptr);
  EXPECT_EQ(findProperty(nullptr, u"MessageSet"), nullptr);
  getMessageSet(nullptr, text, sizeof text);
  EXPECT_STREQ(text, "");
}

TEST_F(BUILD_SUITE(HelpersTest), RootName) {
  char name[33];
  getRootName(parser_->handle(), name, sizeof name);
  EXPECT_STREQ(name, "FIX");
  attach({}, "FIXONLY");
  getRootName(parser_->handle(), name, sizeof name);
  EXPECT_STREQ(name, "FIXONLY");
  getRootName(parser_->handle(), name, 4);
  EXPECT_STREQ(name, "FIX");
  getRootName(nullptr, name, sizeof name);
  EXPECT_STREQ(name, "");
}

TEST(BUILD_SUITE(Versions), EachModuleNamesItsBuild) {
#if CORVALE_DIAGNOSTIC
  const std::pair<const char*, std::string> cases[] = {
      {corvaleVersion(), "Corvale V1.0 Debug version ("},
      {parsubsVersion(), "parsubs V1.0 Debug version ("},
      {traceVersion(), "trace V1.0 debug build ("},
  };
#else
  const std::pair<const char*, std::string> cases[] = {
      {corvaleVersion(), "Corvale V1.0 Release version ("},
      {parsubsVersion(), "parsubs V1.0 Release version ("},
      {traceVersion(), "trace V1.0 release build ("},
  };
#endif
  // The compiler's date and time: "Apr 17 2001 07:49:13" (a one-digit day is blank-padded).
  const std::regex stamp(R"([A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\))");
  for (const auto& [version, prefix] : cases) {
    std::string text = version;
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_TRUE(std::regex_match(text.substr(prefix.size()), stamp)) << text;
  }
}

}  // namespace

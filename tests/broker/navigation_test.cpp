// On-demand navigation driving a parser's callbacks, the callback boundary (exceptions, lost
// parses), parse and write through the C++ API, and parsers on several threads.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "broker/broker.h"
#include "tests/broker/scriptparser.h"

namespace {

using scriptparser::Context;

class BrokerNavigationTest : public ::testing::Test {
 protected:
  broker::Plugin plugin{scriptparser::getParserFactory};
  broker::Parser parser{plugin, "SCRIPT"};

  static Context& contextOf(const broker::Parser& p) { return *static_cast<Context*>(p.context()); }
  // The callbacks made since the message was handed over (cpiParseBuffer's own call left out).
  std::vector<std::string> navigationCalls() const {
    const auto& calls = contextOf(parser).calls;
    auto start = calls.begin();
    for (auto it = calls.begin(); it != calls.end(); ++it)
      if (it->rfind("buffer:", 0) == 0) start = it + 1;
    return std::vector<std::string>(start, calls.end());
  }
};

using Calls = std::vector<std::string>;

// Walks from the body with a list of steps (F first child, L last child, N next sibling, P
// previous sibling, U parent), each from the element the previous step reached; records the
// name reached or "-" for none.
std::string walk(broker::Element from, const std::string& steps) {
  std::string reached;
  for (char step : steps) {
    switch (step) {
      case 'F':
        from = from.firstChild();
        break;
      case 'L':
        from = from.lastChild();
        break;
      case 'N':
        from = from.nextSibling();
        break;
      case 'P':
        from = from.previousSibling();
        break;
      case 'U':
        from = from.parent();
        break;
    }
    reached += (reached.empty() ? "" : " ") + (from ? from.nameUtf8() : std::string("-"));
    if (!from) break;
  }
  return reached;
}

TEST_F(BrokerNavigationTest, WalkingDrivesTheCallbacksUntilTheAnswerIsSettled) {
  struct Case {
    const char* what;
    const char* script;
    const char* steps;
    const char* reached;
    Calls calls;
  } cases[] = {
      {"first child parses one item", "a=1;b=2;c=3", "F", "a", {"first:SCRIPT"}},
      {"next siblings, one item each, then the end",
       "a=1;b=2;c=3",
       "FNNN",
       "a b c -",
       {"first:SCRIPT", "right:a", "right:b", "right:c"}},
      {"last child parses to the end",
       "a=1;b=2;c=3",
       "L",
       "c",
       {"last:SCRIPT", "last:SCRIPT", "last:SCRIPT", "last:SCRIPT"}},
      {"previous siblings of a parsed folder need no call",
       "a=1;b=2;c=3",
       "LPPP",
       "c b a -",
       {"last:SCRIPT", "last:SCRIPT", "last:SCRIPT", "last:SCRIPT"}},
      {"into a folder", "f{;x=1;};y=2", "FFN", "f x -", {"first:SCRIPT", "first:f", "right:x"}},
      {"back to the parent needs no call",
       "f{;x=1;};y=2",
       "FFU",
       "f x f",
       {"first:SCRIPT", "first:f"}},
      {"passing an unwalked folder parses its contents",
       "f{;x=1;};y=2",
       "FNN",
       "f y -",
       {"first:SCRIPT", "right:f", "right:f", "right:f", "right:y"}},
      {"an empty folder", "f{;};y=2", "FF", "f -", {"first:SCRIPT", "first:f"}},
      {"an empty message", "", "F", "-", {"first:SCRIPT"}},
      {"a callback that makes no progress is called twice, then given up",
       "a=1;?",
       "FN",
       "a -",
       {"first:SCRIPT", "right:a", "right:a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    broker::Message m = parser.parse(c.script);
    EXPECT_EQ(walk(m.body(), c.steps), c.reached);
    EXPECT_EQ(navigationCalls(), c.calls);
  }
}

TEST_F(BrokerNavigationTest, RawNavigationNeverCallsTheParser) {
  broker::Message m = parser.parse("a=1;b=2");
  int rc = -1;
  EXPECT_EQ(cpiFirstChild(&rc, m.body().handle()), nullptr);
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_FALSE(m.body().rawLastChild());
  EXPECT_EQ(navigationCalls(), Calls{});
  // Once parsed, raw navigation sees what on-demand navigation built.
  broker::Element a = m.body().firstChild();
  EXPECT_EQ(m.body().rawFirstChild(), a);
  EXPECT_FALSE(a.rawNextSibling());
  EXPECT_EQ(navigationCalls(), Calls{"first:SCRIPT"});
}

TEST_F(BrokerNavigationTest, AnEarlierMessageIsLostOnceTheParserMovesOn) {
  // Each way of moving on gives the message that the parser then serves (kept alive).
  struct Case {
    const char* what;
    std::function<broker::Message(broker::Parser&)> moveOn;
  } cases[] = {
      {"next message parsed", [](broker::Parser& p) { return p.parse("z=9;y=8"); }},
      {"another message written",
       [](broker::Parser& p) {
         broker::Message built = p.createMessage();
         built.body().addText("z", "9");
         EXPECT_EQ(p.write(built), "z=9;");
         return built;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    broker::Message first = parser.parse("a=1;b=2;c=3");
    broker::Element a = first.body().firstChild();
    const broker::Message next = c.moveOn(parser);
    const size_t callsBefore = contextOf(parser).calls.size();
    // What was built stays readable ...
    EXPECT_EQ(a.nameUtf8(), "a");
    EXPECT_EQ(a.text(), "1");
    EXPECT_EQ(first.body().rawFirstChild(), a);
    // ... but the rest can no longer be parsed, and the parser is not called for it.
    EXPECT_THROW(a.nextSibling(), broker::UsageError);
    int rc = -1;
    EXPECT_EQ(cniLastChild(&rc, first.body().handle()), nullptr);
    EXPECT_EQ(rc, CCI_PARSE_LOST);
    EXPECT_THROW(parser.write(first), broker::UsageError);
    EXPECT_EQ(contextOf(parser).calls.size(), callsBefore);
    // Complete parts still answer.
    EXPECT_EQ(a.firstChild(), broker::Element());
  }
}

TEST_F(BrokerNavigationTest, AMessageOutlivingItsParserIsLostNotBroken) {
  auto owner = std::make_unique<broker::Parser>(plugin, "SCRIPT");
  broker::Message m = owner->parse("a=1;b=2");
  broker::Element a = m.body().firstChild();
  const int deletedBefore = scriptparser::deletedContexts();
  owner.reset();
  EXPECT_EQ(scriptparser::deletedContexts(), deletedBefore + 1);
  EXPECT_EQ(a.text(), "1");
  EXPECT_THROW(a.nextSibling(), broker::UsageError);
}

TEST_F(BrokerNavigationTest, AnExceptionInCpiParseBufferFailsTheParse) {
  try {
    (void)parser.parse("!;a=1", {"SET", 819, true});
    FAIL() << "no exception";
  } catch (const broker::Error& e) {
    EXPECT_EQ(e.type, CCI_EXCEPTION_TYPE_PARSER);
    EXPECT_EQ(e.number, scriptparser::kScriptError);
    EXPECT_EQ(e.sourceFile, "scriptparser");
    EXPECT_EQ(e.function, "raise");
    EXPECT_EQ(e.messageSource, u"script");
    EXPECT_EQ(e.traceText, "Bad start\n");
    EXPECT_EQ(e.inserts, (std::vector<std::string>{"item", "0"}));
  }
  // The parser goes on with the next message.
  broker::Message next = parser.parse("a=1");
  EXPECT_EQ(walk(next.body(), "FN"), "a -");
}

TEST_F(BrokerNavigationTest, AnExceptionInANavigationCallbackFailsTheMessage) {
  broker::Message m = parser.parse("a=1;!;b=2");
  broker::Element a = m.body().firstChild();
  ASSERT_TRUE(a);
  EXPECT_EQ(m.failure(), nullptr);
  try {
    (void)a.nextSibling();
    FAIL() << "no exception";
  } catch (const broker::Error& e) {
    EXPECT_EQ(e.number, scriptparser::kScriptError);
    EXPECT_EQ(e.inserts, (std::vector<std::string>{"item", "4"}));
    EXPECT_STREQ(e.what(), "0xC0DE0001: Bad item [item, 4]");
  }
  ASSERT_NE(m.failure(), nullptr);
  EXPECT_EQ(m.failure()->number, scriptparser::kScriptError);
  const Calls callsAfterFailure = navigationCalls();

  // The failed message keeps raising its error, without calling the parser again.
  int rc = -1;
  EXPECT_EQ(cniNextSibling(&rc, a.handle()), nullptr);
  EXPECT_EQ(rc, CCI_PARSER_EXCEPTION);
  EXPECT_THROW(m.body().lastChild(), broker::Error);
  EXPECT_THROW(m.complete(), broker::Error);
  EXPECT_THROW(parser.write(m), broker::Error);
  EXPECT_EQ(navigationCalls(), callsAfterFailure);
  // What was built stays; the parser goes on with the next message.
  EXPECT_EQ(a.text(), "1");
  broker::Message next = parser.parse("b=2");
  EXPECT_EQ(walk(next.body(), "FN"), "b -");
}

TEST_F(BrokerNavigationTest, ParseStartsAtTheOffset) {
  broker::Message m = parser.parse("junk|a=1;b=2", {}, 5);
  EXPECT_EQ(m.parsedLength(), 7);
  EXPECT_EQ(contextOf(parser).bufferSize, 12);
  EXPECT_EQ(contextOf(parser).text, "a=1;b=2");
  EXPECT_EQ(walk(m.body(), "FNN"), "a b -");
  for (int offset : {-1, 13}) {
    SCOPED_TRACE(offset);
    EXPECT_THROW((void)parser.parse("junk|a=1;b=2", {}, offset), broker::UsageError);
  }
}

TEST_F(BrokerNavigationTest, WriteCompletesTheParseAndReportsTheOutputSize) {
  const std::string script = "a=1;f{;x=2;g{;};};b=3;";
  broker::Message m = parser.parse(script);
  EXPECT_EQ(parser.write(m), script);
  // Every append was visible to cpiBufferSize at once.
  EXPECT_EQ(contextOf(parser).outputSizes, (std::vector<int>{4, 7, 11, 14, 16, 18, 22}));
  // The written message was parsed completely first.
  EXPECT_EQ(walk(m.body(), "LPP"), "b f a");
  EXPECT_TRUE(m.body().completeNext());
}

TEST_F(BrokerNavigationTest, WriteOnAnotherParserInstance) {
  broker::Parser writer(plugin, "OTHER");
  broker::Message m = parser.parse("a=1;f{;x=2;}");
  (void)m.body().firstChild();
  EXPECT_EQ(writer.write(m), "a=1;f{;x=2;};");
  // The writer saw the message's own root element; the message stays with its parser.
  EXPECT_EQ(contextOf(writer).calls, Calls{"write:SCRIPT"});
  EXPECT_EQ(walk(m.body(), "FNF"), "a f x");
  // The writer can write again, and its own messages are unaffected.
  broker::Message built = writer.createMessage();
  EXPECT_EQ(built.body().nameUtf8(), "OTHER");
  built.body().addFolder("g").addText("y", "5");
  EXPECT_EQ(writer.write(built), "g{;y=5;};");
}

TEST_F(BrokerNavigationTest, AnExceptionInTheWriteReachesTheCaller) {
  broker::Message m = parser.parse("a=1;bad=2");
  try {
    (void)parser.write(m);
    FAIL() << "no exception";
  } catch (const broker::Error& e) {
    EXPECT_EQ(e.number, scriptparser::kWriteError);
    EXPECT_EQ(e.inserts, (std::vector<std::string>{"item", "bad"}));
  }
  // The tree is intact and the parser writes the next message.
  EXPECT_EQ(walk(m.body(), "FN"), "a bad");
  broker::Message good = parser.parse("c=3");
  EXPECT_EQ(parser.write(good), "c=3;");
}

TEST_F(BrokerNavigationTest, BitStreamsFollowTheAttachedMessage) {
  broker::Parser idle(plugin, "SCRIPT");
  int rc = -1;
  EXPECT_EQ(cpiBufferSize(&rc, idle.handle()), 0);
  EXPECT_EQ(rc, CCI_NO_MESSAGE);
  EXPECT_EQ(cpiBufferPointer(&rc, idle.handle()), nullptr);
  EXPECT_EQ(rc, CCI_NO_MESSAGE);
  EXPECT_EQ(cpiRootElement(&rc, idle.handle()), nullptr);
  EXPECT_EQ(rc, CCI_NO_MESSAGE);

  broker::Message m = parser.parse("a=1");
  EXPECT_EQ(cpiBufferSize(&rc, parser.handle()), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cpiBufferPointer(&rc, parser.handle())), 3),
            "a=1");
  EXPECT_EQ(cpiRootElement(&rc, parser.handle()), m.body().handle());
  // Appending belongs to a write.
  const uint8_t byte = 'x';
  EXPECT_EQ(cpiAppendToBuffer(&rc, parser.handle(), &byte, 1), 0);
  EXPECT_EQ(rc, CCI_NO_MESSAGE);

  for (CciParser* bad :
       {static_cast<CciParser*>(nullptr), reinterpret_cast<CciParser*>(m.body().handle())}) {
    cpiBufferSize(&rc, bad);
    EXPECT_EQ(rc, CCI_INV_PARSER_OBJECT);
    cpiBufferPointer(&rc, bad);
    EXPECT_EQ(rc, CCI_INV_PARSER_OBJECT);
    cpiAppendToBuffer(&rc, bad, &byte, 1);
    EXPECT_EQ(rc, CCI_INV_PARSER_OBJECT);
    cpiRootElement(&rc, bad);
    EXPECT_EQ(rc, CCI_INV_PARSER_OBJECT);
  }
}

TEST_F(BrokerNavigationTest, DestroyingAMessageDetachesItFromItsParser) {
  { broker::Message m = parser.parse("a=1"); }
  int rc = -1;
  EXPECT_EQ(cpiRootElement(&rc, parser.handle()), nullptr);
  EXPECT_EQ(rc, CCI_NO_MESSAGE);
}

TEST_F(BrokerNavigationTest, ParserInstancesOnSeveralThreads) {
  broker::setLogToStderr(false);
  constexpr int kThreads = 4;
  constexpr int kMessages = 50;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        broker::Parser own(plugin, t % 2 ? "SCRIPT" : "OTHER");
        for (int i = 0; i < kMessages; ++i) {
          std::ostringstream script;
          script << "t=" << t << ";f{;i=" << i << ";};e=\xE9;";
          const std::string bytes = script.str();
          broker::Message m = own.parse(bytes, {"", 819, true});
          if (walk(m.body(), "FNF") != "t f i") failures[t] += "walk ";
          if (own.write(m) != bytes) failures[t] += "write ";
          if (broker::toUnicode(bytes, 1047).size() != bytes.size()) failures[t] += "convert ";
          int rc = 0;
          cciLog(&rc, CCI_LOG_TYPE_ERROR, "thread", t, "f", u"src", 1, "text", nullptr);
        }
      } catch (const std::exception& e) {
        failures[t] += e.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
  EXPECT_EQ(broker::logEvents().size(), size_t{kThreads * kMessages});
}

}  // namespace

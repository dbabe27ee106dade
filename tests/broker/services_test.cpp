// Exceptions, the log, the class registry and loading plug-ins.
#include <gtest/gtest.h>

#include <functional>

#include "broker/broker.h"
#include "tests/broker/scriptparser.h"

namespace {

TEST(BrokerServicesTest, ThrowExceptionCarriesEveryArgumentAndItsInsertsInOrder) {
  struct Case {
    std::vector<std::string> inserts;
    const char* what;
  } cases[] = {
      {{}, "0xCFFF000D: Message too short"},
      {{"12", "34", "x y"}, "0xCFFF000D: Message too short [12, 34, x y]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int rc = -1;
    try {
      if (c.inserts.empty())
        cciThrowException(&rc, 3, "fixsub", 42, "validateCheckSum", u"fixerr", 0xCFFF000D,
                          "Message too short\n", nullptr);
      cciThrowException(&rc, 3, "fixsub", 42, "validateCheckSum", u"fixerr", 0xCFFF000D,
                        "Message too short\n", c.inserts[0].c_str(), c.inserts[1].c_str(),
                        c.inserts[2].c_str(), nullptr);
    } catch (const broker::Error& e) {
      EXPECT_EQ(e.type, 3);
      EXPECT_EQ(e.sourceFile, "fixsub");
      EXPECT_EQ(e.line, 42);
      EXPECT_EQ(e.function, "validateCheckSum");
      EXPECT_EQ(e.messageSource, u"fixerr");
      EXPECT_EQ(e.number, 0xCFFF000Du);
      EXPECT_EQ(e.traceText, "Message too short\n");
      EXPECT_EQ(e.inserts, c.inserts);
      EXPECT_STREQ(e.what(), c.what);
      EXPECT_EQ(e.describe(), c.what);
      continue;
    }
    ADD_FAILURE() << "cciThrowException returned";
  }
}

TEST(BrokerServicesTest, LogKeepsEventsInOrderAndEchoesThemOnRequest) {
  broker::clearLog();
  broker::setLogToStderr(false);
  int rc = -1;
  testing::internal::CaptureStderr();
  cciLog(&rc, CCI_LOG_TYPE_ERROR, "metadata", 7, "traceError", u"fixerr", 0x8FFF0001,
         "Unable to open\n", "Unable to open\n", nullptr);
  EXPECT_EQ(rc, CCI_SUCCESS);
  broker::setLogToStderr(true);
  cciLog(&rc, 1, nullptr, 0, nullptr, nullptr, 5, "second\nline", nullptr);
  const std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(echoed, "broker log (type 1): 0x00000005: second line\n");

  const std::vector<broker::LogEvent> events = broker::logEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, CCI_LOG_TYPE_ERROR);
  EXPECT_EQ(events[0].sourceFile, "metadata");
  EXPECT_EQ(events[0].line, 7);
  EXPECT_EQ(events[0].function, "traceError");
  EXPECT_EQ(events[0].messageSource, u"fixerr");
  EXPECT_EQ(events[0].number, 0x8FFF0001u);
  EXPECT_EQ(events[0].traceText, "Unable to open\n");
  EXPECT_EQ(events[0].inserts, std::vector<std::string>{"Unable to open\n"});
  EXPECT_EQ(events[1].number, 5u);
  EXPECT_EQ(events[1].sourceFile, "");
  EXPECT_TRUE(events[1].inserts.empty());
  broker::clearLog();
  EXPECT_TRUE(broker::logEvents().empty());
}

TEST(BrokerServicesTest, PluginLoadedByPathRegistersItsClasses) {
  broker::Plugin plugin(SCRIPT_PLUGIN);
  ASSERT_NE(plugin.factory(), nullptr);
  EXPECT_EQ(plugin.factoryName(), "ScriptFactory");
  EXPECT_EQ(plugin.classNames(), (std::vector<std::string>{"SCRIPT", "OTHER"}));
  ASSERT_NE(plugin.functionTable("SCRIPT"), nullptr);
  EXPECT_EQ(plugin.functionTable("SCRIPT"), plugin.functionTable("OTHER"));
  EXPECT_EQ(plugin.functionTable("FIX"), nullptr);
  EXPECT_EQ(plugin.path(), SCRIPT_PLUGIN);

  // The library's entry point ran once: a second load shares the factory.
  broker::Plugin again(SCRIPT_PLUGIN);
  EXPECT_EQ(again.factory(), plugin.factory());
  EXPECT_EQ(again.classNames().size(), 2u);

  broker::Parser parser(plugin, "OTHER");
  broker::Message m = parser.parse("a=1;f{;b=2;}");
  EXPECT_EQ(m.body().nameUtf8(), "OTHER");
  EXPECT_EQ(parser.write(m), "a=1;f{;b=2;};");
}

TEST(BrokerServicesTest, PluginsThatCannotBeLoadedAreNamedInTheError) {
  struct Case {
    const char* path;
    const char* reason;
  } cases[] = {
      {"/nonexistent/Corvale.lil", "/nonexistent/Corvale.lil"},
      {"libm.so.6", "bipGetParserFactory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      broker::Plugin plugin(c.path);
      ADD_FAILURE() << "loaded";
    } catch (const broker::UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

TEST(BrokerServicesTest, AFailedFactoryCreationDefinesNoClass) {
  // An entry point of its own, which no other test has loaded yet.
  const BipGetParserFactoryFn entry = [] { return scriptparser::getParserFactory(); };
  broker::failNextFactoryCreation();
  broker::Plugin failed(entry);
  EXPECT_EQ(failed.factory(), nullptr);
  EXPECT_TRUE(failed.classNames().empty());
  EXPECT_EQ(failed.factoryName(), "");
  EXPECT_THROW(broker::Parser(failed, "SCRIPT"), broker::UsageError);
  // The hook fails one creation only; loading again calls the entry point again.
  broker::Plugin loaded(entry);
  EXPECT_NE(loaded.factory(), nullptr);
  EXPECT_EQ(loaded.classNames().size(), 2u);
}

TEST(BrokerServicesTest, ClassRegistryChecksItsArguments) {
  int rc = -1;
  EXPECT_EQ(cpiCreateParserFactory(&rc, nullptr), nullptr);
  EXPECT_EQ(rc, CCI_INV_DATA_POINTER);
  CciFactory* factory = cpiCreateParserFactory(&rc, u"TestFactory");
  ASSERT_EQ(rc, CCI_SUCCESS);
  ASSERT_NE(factory, nullptr);

  static CpiFunctionTable withReserved = scriptparser::functionTable();
  withReserved.reserved[2] = [] {};
  alignas(16) unsigned char junk[64] = {};
  struct Case {
    const char* what;
    CciFactory* factory;
    const char16_t* name;
    const CpiFunctionTable* table;
    int rc;
  } cases[] = {
      {"first definition", factory, u"A", &scriptparser::functionTable(), CCI_SUCCESS},
      {"second class, same table", factory, u"B", &scriptparser::functionTable(), CCI_SUCCESS},
      {"same name again", factory, u"A", &scriptparser::functionTable(), CCI_INV_ARGUMENT},
      {"empty name", factory, u"", &scriptparser::functionTable(), CCI_INV_ARGUMENT},
      {"reserved slot filled", factory, u"C", &withReserved, CCI_INV_ARGUMENT},
      {"null name", factory, nullptr, &scriptparser::functionTable(), CCI_INV_DATA_POINTER},
      {"null table", factory, u"D", nullptr, CCI_INV_DATA_POINTER},
      {"null factory", nullptr, u"E", &scriptparser::functionTable(), CCI_INV_FACTORY_OBJECT},
      {"not a factory", reinterpret_cast<CciFactory*>(junk), u"F", &scriptparser::functionTable(),
       CCI_INV_FACTORY_OBJECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int status = -1;
    cpiDefineParserClass(&status, c.factory, c.name, c.table);
    EXPECT_EQ(status, c.rc);
  }
}

TEST(BrokerServicesTest, ParserInstancesCreateAndDeleteTheirContexts) {
  broker::Plugin plugin(scriptparser::getParserFactory);
  EXPECT_THROW(broker::Parser(plugin, "NOSUCHCLASS"), broker::UsageError);
  const int deletedBefore = scriptparser::deletedContexts();
  {
    broker::Parser a(plugin, "SCRIPT");
    broker::Parser b(plugin, "SCRIPT");
    EXPECT_NE(a.context(), nullptr);
    EXPECT_NE(a.context(), b.context());
    EXPECT_EQ(a.className(), "SCRIPT");
  }
  EXPECT_EQ(scriptparser::deletedContexts(), deletedBefore + 2);
}

}  // namespace

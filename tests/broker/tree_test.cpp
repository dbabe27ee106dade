// Element trees through the C functions a plug-in calls: building, links, values, names,
// completion bits, properties, and refusals of bad handles and buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "broker/broker.h"
#include "tests/broker/scriptparser.h"

namespace {

// A parser with an (empty, fully parsed) message attached, so that elements can be created.
class BrokerTreeTest : public ::testing::Test {
 protected:
  broker::Plugin plugin{scriptparser::getParserFactory};
  broker::Parser parser{plugin, "SCRIPT"};
  broker::Message message = parser.parse("");

  CciElement* make(int type, const char16_t* name, int completePrevious = 1, int completeNext = 1) {
    int rc = -1;
    CciElement* e = cpiCreateAndInitializeElement(&rc, parser.handle(), type, name,
                                                  completePrevious, completeNext);
    EXPECT_EQ(rc, CCI_SUCCESS);
    return e;
  }
  CciElement* body() { return message.body().handle(); }
};

// The children of parent as names, read forwards and backwards with raw navigation; each child
// must name parent as its parent.
std::string childNames(CciElement* parent) {
  int rc = 0;
  std::string forward, backward;
  for (CciElement* e = cpiFirstChild(&rc, parent); e; e = cpiNextSibling(&rc, e)) {
    EXPECT_EQ(cpiParent(&rc, e), parent);
    forward += broker::Element(e).nameUtf8();
  }
  for (CciElement* e = cpiLastChild(&rc, parent); e; e = cpiPreviousSibling(&rc, e))
    backward.insert(0, broker::Element(e).nameUtf8());
  EXPECT_EQ(forward, backward);
  return forward;
}

TEST_F(BrokerTreeTest, AddFunctionsLinkChildrenInOrder) {
  int rc = -1;
  CciElement* a = make(CCI_ELEMENT_TYPE_NAME, u"a");
  CciElement* b = make(CCI_ELEMENT_TYPE_NAME, u"b");
  CciElement* c = make(CCI_ELEMENT_TYPE_NAME, u"c");
  CciElement* d = make(CCI_ELEMENT_TYPE_NAME, u"d");
  CciElement* e = make(CCI_ELEMENT_TYPE_NAME, u"e");
  cpiAddAsLastChild(&rc, body(), b);
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(childNames(body()), "b");
  cpiAddAsFirstChild(&rc, body(), a);
  EXPECT_EQ(rc, CCI_SUCCESS);
  cpiAddAsLastChild(&rc, body(), d);
  EXPECT_EQ(rc, CCI_SUCCESS);
  cpiAddAfter(&rc, b, c);  // in the middle
  EXPECT_EQ(rc, CCI_SUCCESS);
  cpiAddAfter(&rc, d, e);  // at the end: becomes the last child
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(childNames(body()), "abcde");
  EXPECT_EQ(cpiLastChild(&rc, body()), e);

  // A detached element with children can be added whole.
  CciElement* f = make(CCI_ELEMENT_TYPE_NAME, u"f");
  CciElement* g = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"g");
  cpiAddAsFirstChild(&rc, f, g);
  cpiAddAsFirstChild(&rc, a, f);
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(childNames(a), "f");
  EXPECT_EQ(childNames(f), "g");
}

TEST_F(BrokerTreeTest, AddFunctionsRefuseLinksThatWouldBreakTheTree) {
  broker::Parser other(plugin, "SCRIPT");
  broker::Message otherMessage = other.parse("");
  int rc = 0;
  CciElement* foreign =
      cpiCreateAndInitializeElement(&rc, other.handle(), CCI_ELEMENT_TYPE_NAME, u"x", 1, 1);
  CciElement* attached = make(CCI_ELEMENT_TYPE_NAME, u"attached");
  cpiAddAsLastChild(&rc, body(), attached);
  CciElement* outer = make(CCI_ELEMENT_TYPE_NAME, u"outer");
  CciElement* inner = make(CCI_ELEMENT_TYPE_NAME, u"inner");
  cpiAddAsLastChild(&rc, outer, inner);
  CciElement* detached = make(CCI_ELEMENT_TYPE_NAME, u"detached");
  CciElement* loose = make(CCI_ELEMENT_TYPE_NAME, u"loose");
  CciElement* root = message.root().handle();

  struct Case {
    const char* what;
    std::function<void(int*)> add;
    int rc;
  } cases[] = {
      {"child already attached", [&](int* r) { cpiAddAsLastChild(r, outer, attached); },
       CCI_INV_ARGUMENT},
      {"child is the message root", [&](int* r) { cpiAddAsFirstChild(r, outer, root); },
       CCI_INV_ARGUMENT},
      {"parent inside the child", [&](int* r) { cpiAddAsLastChild(r, inner, outer); },
       CCI_INV_ARGUMENT},
      {"element under itself", [&](int* r) { cpiAddAsLastChild(r, detached, detached); },
       CCI_INV_ARGUMENT},
      {"child of another message", [&](int* r) { cpiAddAsLastChild(r, body(), foreign); },
       CCI_INV_ARGUMENT},
      {"sibling of the root", [&](int* r) { cpiAddAfter(r, root, detached); }, CCI_INV_ARGUMENT},
      {"sibling of a detached element", [&](int* r) { cpiAddAfter(r, loose, detached); },
       CCI_INV_ARGUMENT},
      {"sibling inside itself", [&](int* r) { cpiAddAfter(r, inner, outer); }, CCI_INV_ARGUMENT},
      {"null child", [&](int* r) { cpiAddAsLastChild(r, body(), nullptr); },
       CCI_INV_ELEMENT_OBJECT},
      {"null parent", [&](int* r) { cpiAddAsFirstChild(r, nullptr, detached); },
       CCI_INV_ELEMENT_OBJECT},
      {"null new sibling", [&](int* r) { cpiAddAfter(r, attached, nullptr); },
       CCI_INV_ELEMENT_OBJECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int status = -1;
    c.add(&status);
    EXPECT_EQ(status, c.rc);
  }
  // Nothing was linked by the refused calls.
  EXPECT_EQ(childNames(body()), "attached");
  EXPECT_EQ(childNames(outer), "inner");
  EXPECT_EQ(childNames(detached), "");
  EXPECT_EQ(cpiParent(&rc, outer), nullptr);
  EXPECT_EQ(childNames(root), std::string("Properties") + "SCRIPT");
}

// One row per value type: a setter, and a check of what the getters give back.
TEST_F(BrokerTreeTest, EachValueTypeIsKeptAndOnlyItsOwnGetterAnswers) {
  const CciTime time{9, 5, 7.5f};
  const CciDate date{2001, 4, 17};
  const CciTimestamp stamp{2024, 2, 29, 23, 59, 59.25f};
  uint8_t bytes[] = {0, 1, 0xFF};
  const CciByteArray array{bytes, 3};
  struct Case {
    int valueType;
    std::function<void(int*, CciElement*)> set;
    std::function<void(CciElement*)> check;
  } cases[] = {
      {CCI_ELEMENT_TYPE_BOOLEAN, [](int* r, CciElement* e) { cpiSetElementBooleanValue(r, e, 7); },
       [](CciElement* e) {
         int rc = -1;
         EXPECT_EQ(cpiElementBooleanValue(&rc, e), 1);
         EXPECT_EQ(rc, CCI_SUCCESS);
       }},
      {CCI_ELEMENT_TYPE_INTEGER,
       [](int* r, CciElement* e) { cpiSetElementIntegerValue(r, e, INT64_MIN); },
       [](CciElement* e) {
         int rc = -1;
         EXPECT_EQ(cpiElementIntegerValue(&rc, e), INT64_MIN);
         EXPECT_EQ(rc, CCI_SUCCESS);
       }},
      {CCI_ELEMENT_TYPE_DECIMAL, [](int* r, CciElement* e) { cpiSetElementRealValue(r, e, -2.5); },
       [](CciElement* e) {
         int rc = -1;
         EXPECT_EQ(cpiElementRealValue(&rc, e), -2.5);
         EXPECT_EQ(rc, CCI_SUCCESS);
       }},
      {CCI_ELEMENT_TYPE_UTF16,
       [](int* r, CciElement* e) { cpiSetElementCharacterValue(r, e, u"x\0y", 3); },
       [](CciElement* e) {
         EXPECT_EQ(broker::Element(e).characterValue(), std::u16string(u"x\0y", 3));
       }},
      {CCI_ELEMENT_TYPE_TIME,
       [&](int* r, CciElement* e) { cpiSetElementTimeValue(r, e, &time, CCI_ELEMENT_TYPE_TIME); },
       [](CciElement* e) {
         int rc = -1;
         const CciTime t = cpiElementTimeValue(&rc, e);
         EXPECT_EQ(rc, CCI_SUCCESS);
         EXPECT_EQ(t.hour, 9);
         EXPECT_EQ(t.minute, 5);
         EXPECT_EQ(t.seconds, 7.5f);
       }},
      {CCI_ELEMENT_TYPE_GMTTIME,
       [&](int* r, CciElement* e) {
         cpiSetElementTimeValue(r, e, &time, CCI_ELEMENT_TYPE_GMTTIME);
       },
       [](CciElement* e) { EXPECT_EQ(broker::Element(e).timeValue().minute, 5); }},
      {CCI_ELEMENT_TYPE_DATE, [&](int* r, CciElement* e) { cpiSetElementDateValue(r, e, &date); },
       [](CciElement* e) {
         const CciDate d = broker::Element(e).dateValue();
         EXPECT_EQ(d.year, 2001);
         EXPECT_EQ(d.month, 4);
         EXPECT_EQ(d.day, 17);
       }},
      {CCI_ELEMENT_TYPE_TIMESTAMP,
       [&](int* r, CciElement* e) {
         cpiSetElementTimestampValue(r, e, &stamp, CCI_ELEMENT_TYPE_TIMESTAMP);
       },
       [](CciElement* e) {
         const CciTimestamp t = broker::Element(e).timestampValue();
         EXPECT_EQ(t.year, 2024);
         EXPECT_EQ(t.day, 29);
         EXPECT_EQ(t.hour, 23);
         EXPECT_EQ(t.seconds, 59.25f);
       }},
      {CCI_ELEMENT_TYPE_GMTTIMESTAMP,
       [&](int* r, CciElement* e) {
         cpiSetElementTimestampValue(r, e, &stamp, CCI_ELEMENT_TYPE_GMTTIMESTAMP);
       },
       [](CciElement* e) { EXPECT_EQ(broker::Element(e).timestampValue().minute, 59); }},
      {CCI_ELEMENT_TYPE_BYTEARRAY,
       [&](int* r, CciElement* e) { cpiSetElementByteArrayValue(r, e, &array); },
       [](CciElement* e) {
         EXPECT_EQ(broker::Element(e).bytes(), (std::vector<uint8_t>{0, 1, 0xFF}));
       }},
  };
  // Every getter, with the value types it accepts.
  struct Getter {
    const char* name;
    std::function<void(int*, CciElement*)> get;
    int accepts1, accepts2;
  } getters[] = {
      {"boolean", [](int* r, CciElement* e) { cpiElementBooleanValue(r, e); },
       CCI_ELEMENT_TYPE_BOOLEAN, CCI_ELEMENT_TYPE_BOOLEAN},
      {"integer", [](int* r, CciElement* e) { cpiElementIntegerValue(r, e); },
       CCI_ELEMENT_TYPE_INTEGER, CCI_ELEMENT_TYPE_INTEGER},
      {"real", [](int* r, CciElement* e) { cpiElementRealValue(r, e); }, CCI_ELEMENT_TYPE_DECIMAL,
       CCI_ELEMENT_TYPE_DECIMAL},
      {"date", [](int* r, CciElement* e) { cpiElementDateValue(r, e); }, CCI_ELEMENT_TYPE_DATE,
       CCI_ELEMENT_TYPE_DATE},
      {"time", [](int* r, CciElement* e) { cpiElementTimeValue(r, e); }, CCI_ELEMENT_TYPE_TIME,
       CCI_ELEMENT_TYPE_GMTTIME},
      {"timestamp", [](int* r, CciElement* e) { cpiElementTimestampValue(r, e); },
       CCI_ELEMENT_TYPE_TIMESTAMP, CCI_ELEMENT_TYPE_GMTTIMESTAMP},
      {"characters",
       [](int* r, CciElement* e) {
         CciChar buffer[8];
         cpiElementCharacterValue(r, e, buffer, 8);
       },
       CCI_ELEMENT_TYPE_UTF16, CCI_ELEMENT_TYPE_UTF16},
      {"bytes",
       [](int* r, CciElement* e) {
         CciByteArray value{};
         cpiElementByteArrayValue(r, e, &value);
       },
       CCI_ELEMENT_TYPE_BYTEARRAY, CCI_ELEMENT_TYPE_BYTEARRAY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.valueType);
    CciElement* e = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"v");
    int rc = -1;
    EXPECT_EQ(cniElementValueType(&rc, e), CCI_ELEMENT_TYPE_UNKNOWN);
    c.set(&rc, e);
    ASSERT_EQ(rc, CCI_SUCCESS);
    EXPECT_EQ(cniElementValueType(&rc, e), c.valueType);
    c.check(e);
    for (const Getter& g : getters) {
      SCOPED_TRACE(g.name);
      int status = -1;
      g.get(&status, e);
      const bool accepted = c.valueType == g.accepts1 || c.valueType == g.accepts2;
      EXPECT_EQ(status, accepted ? CCI_SUCCESS : CCI_INV_VALUE_TYPE);
    }
  }
}

TEST_F(BrokerTreeTest, ValuesAreCopiedIntoTheMessage) {
  CciElement* text = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"text");
  CciElement* data = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"data");
  std::u16string source = u"abc";
  std::vector<uint8_t> bytes = {1, 2, 3};
  int rc = -1;
  cpiSetCharacterValueFromBuffer(&rc, text, source.data(), 3);
  const CciByteArray array{bytes.data(), 3};
  cpiSetElementByteArrayValue(&rc, data, &array);
  source.assign(u"zzz");
  bytes.assign({9, 9, 9});
  EXPECT_EQ(broker::Element(text).characterValue(), u"abc");
  CciByteArray out{};
  EXPECT_EQ(cpiElementByteArrayValue(&rc, data, &out), 3);
  EXPECT_NE(out.pointer, bytes.data());
  EXPECT_EQ(std::vector<uint8_t>(out.pointer, out.pointer + out.size),
            (std::vector<uint8_t>{1, 2, 3}));
  // A later value replaces the earlier one, type included.
  cpiSetElementIntegerValue(&rc, text, 42);
  EXPECT_EQ(cniElementValueType(&rc, text), CCI_ELEMENT_TYPE_INTEGER);
  EXPECT_EQ(broker::Element(text).integerValue(), 42);
}

// Names and character values are copied with the same rules: at most size - 1 units and a zero,
// the full length returned, CCI_INV_DATA_BUFLEN when it did not fit, nothing written beyond size.
TEST_F(BrokerTreeTest, TextBuffersGetWhatFitsAndTheFullLength) {
  CciElement* e = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"Field");
  int rc = -1;
  cpiSetElementCharacterValue(&rc, e, u"Value", 5);
  using Read = int (*)(int*, CciElement*, CciChar*, int);
  const Read reads[] = {cpiElementName, cpiElementCharacterValue};
  struct Case {
    int size;
    bool nullBuffer;
    int rc;
    int result;
    size_t copied;  // units of the text before the zero; -1: buffer untouched
  } cases[] = {
      {6, false, CCI_SUCCESS, 5, 5},
      {5, false, CCI_INV_DATA_BUFLEN, 5, 4},
      {1, false, CCI_INV_DATA_BUFLEN, 5, 0},
      {0, true, CCI_INV_DATA_BUFLEN, 5, size_t(-1)},
      {-1, false, CCI_INV_ARGUMENT, 0, size_t(-1)},
      {4, true, CCI_INV_DATA_POINTER, 0, size_t(-1)},
  };
  for (Read read : reads) {
    const std::u16string text = read == cpiElementName ? u"Field" : u"Value";
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << broker::utf8(text) << " size " << c.size);
      CciChar buffer[10];
      std::fill(std::begin(buffer), std::end(buffer), u'#');
      int status = -1;
      EXPECT_EQ(read(&status, e, c.nullBuffer ? nullptr : buffer, c.size), c.result);
      EXPECT_EQ(status, c.rc);
      if (c.copied == size_t(-1)) {
        EXPECT_EQ(std::u16string(buffer, 10), std::u16string(10, u'#'));
        continue;
      }
      EXPECT_EQ(std::u16string(buffer), text.substr(0, c.copied));
      for (int i = c.size; i < 10; ++i) EXPECT_EQ(buffer[i], u'#') << i;
    }
  }
}

TEST_F(BrokerTreeTest, CompletionBitsAreKeptPerElement) {
  int rc = -1;
  CciElement* e = make(CCI_ELEMENT_TYPE_NAME, u"e", 0, 1);
  EXPECT_EQ(cpiElementCompletePrevious(&rc, e), 0);
  EXPECT_EQ(cpiElementCompleteNext(&rc, e), 1);
  cpiSetElementCompletePrevious(&rc, e, 5);  // any non-zero sets the bit
  cpiSetElementCompleteNext(&rc, e, 0);
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(cpiElementCompletePrevious(&rc, e), 1);
  EXPECT_EQ(cpiElementCompleteNext(&rc, e), 0);

  // Root and Properties are complete; a parsed body starts incomplete, a built one complete.
  broker::Message parsed = parser.parse("a=1");
  broker::Message built = parser.createMessage();
  struct Case {
    const char* what;
    broker::Element element;
    bool complete;
  } cases[] = {{"root", parsed.root(), true},
               {"properties", parsed.properties(), true},
               {"parsed body", parsed.body(), false},
               {"built body", built.body(), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.element.completePrevious(), c.complete);
    EXPECT_EQ(c.element.completeNext(), c.complete);
  }
}

TEST_F(BrokerTreeTest, MessageTreeHoldsPropertiesThenTheParserRoot) {
  struct Case {
    broker::Properties properties;
    const char* tree;  // names and character values below Root
    const char* seen;  // what the plug-in read: MessageSet / CodedCharSetId
  } cases[] = {
      {{"", 437, true}, "Properties(MessageSet='' CodedCharSetId='437') SCRIPT", "''/'437'"},
      {{"SYSTMGMT", 500, true},
       "Properties(MessageSet='SYSTMGMT' CodedCharSetId='500') SCRIPT",
       "'SYSTMGMT'/'500'"},
      {{"", 437, false}, "Properties(MessageSet='') SCRIPT", "''/'(none)'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tree);
    broker::Message m = parser.parse("a=1", c.properties);
    std::string tree;
    for (broker::Element e = m.root().rawFirstChild(); e; e = e.rawNextSibling()) {
      if (!tree.empty()) tree += " ";
      tree += e.nameUtf8();
      if (e == m.properties()) {
        tree += "(";
        for (broker::Element p = e.rawFirstChild(); p; p = p.rawNextSibling()) {
          EXPECT_EQ(p.type(), CCI_ELEMENT_TYPE_NAME_VALUE);
          tree += (p == e.rawFirstChild() ? "" : " ") + p.nameUtf8() + "='" + p.text() + "'";
        }
        tree += ")";
      }
    }
    EXPECT_EQ(tree, c.tree);
    EXPECT_EQ(m.root().nameUtf8(), "Root");
    EXPECT_EQ(m.body(), m.root().rawLastChild());
    auto* context = static_cast<scriptparser::Context*>(parser.context());
    EXPECT_EQ(context->rootName, "SCRIPT");
    EXPECT_EQ("'" + context->messageSet + "'/'" + context->codedCharSetId + "'", c.seen);
  }
}

TEST_F(BrokerTreeTest, CreateElementChecksItsArguments) {
  broker::Parser idle(plugin, "SCRIPT");  // no message yet
  struct Case {
    const char* what;
    CciParser* parser;
    int type;
    const char16_t* name;
    int rc;
  } cases[] = {
      {"value without a name", parser.handle(), CCI_ELEMENT_TYPE_VALUE, nullptr, CCI_SUCCESS},
      {"folder without a name", parser.handle(), CCI_ELEMENT_TYPE_NAME, nullptr,
       CCI_INV_DATA_POINTER},
      {"unknown element type", parser.handle(), 0x04000000, u"x", CCI_INV_ARGUMENT},
      {"parser without a message", idle.handle(), CCI_ELEMENT_TYPE_NAME, u"x", CCI_NO_MESSAGE},
      {"null parser", nullptr, CCI_ELEMENT_TYPE_NAME, u"x", CCI_INV_PARSER_OBJECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int rc = -1;
    CciElement* e = cpiCreateAndInitializeElement(&rc, c.parser, c.type, c.name, 1, 1);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(e != nullptr, c.rc == CCI_SUCCESS);
  }
}

// Every element function refuses a null handle and a pointer to something that is not an
// element; a null return-code pointer is tolerated.
TEST_F(BrokerTreeTest, BadHandlesAreRefusedWithoutACrash) {
  alignas(16) unsigned char junk[256];
  std::memset(junk, 0x5A, sizeof junk);
  CciElement* bogus = reinterpret_cast<CciElement*>(junk);
  CciElement* good = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"good");
  const CciTime time{};
  const CciDate date{};
  const CciTimestamp stamp{};
  const CciByteArray bytes{};
  using Call = std::function<void(int*, CciElement*)>;
  const std::vector<std::pair<const char*, Call>> calls = {
      {"cpiParent", [](int* r, CciElement* e) { cpiParent(r, e); }},
      {"cpiFirstChild", [](int* r, CciElement* e) { cpiFirstChild(r, e); }},
      {"cpiLastChild", [](int* r, CciElement* e) { cpiLastChild(r, e); }},
      {"cpiNextSibling", [](int* r, CciElement* e) { cpiNextSibling(r, e); }},
      {"cpiPreviousSibling", [](int* r, CciElement* e) { cpiPreviousSibling(r, e); }},
      {"cniFirstChild", [](int* r, CciElement* e) { cniFirstChild(r, e); }},
      {"cniLastChild", [](int* r, CciElement* e) { cniLastChild(r, e); }},
      {"cniNextSibling", [](int* r, CciElement* e) { cniNextSibling(r, e); }},
      {"cniPreviousSibling", [](int* r, CciElement* e) { cniPreviousSibling(r, e); }},
      {"cpiElementName",
       [](int* r, CciElement* e) {
         CciChar b[4];
         cpiElementName(r, e, b, 4);
       }},
      {"cpiElementType", [](int* r, CciElement* e) { cpiElementType(r, e); }},
      {"cniElementValueType", [](int* r, CciElement* e) { cniElementValueType(r, e); }},
      {"cpiElementCompletePrevious",
       [](int* r, CciElement* e) { cpiElementCompletePrevious(r, e); }},
      {"cpiElementCompleteNext", [](int* r, CciElement* e) { cpiElementCompleteNext(r, e); }},
      {"cpiElementBooleanValue", [](int* r, CciElement* e) { cpiElementBooleanValue(r, e); }},
      {"cpiElementIntegerValue", [](int* r, CciElement* e) { cpiElementIntegerValue(r, e); }},
      {"cpiElementRealValue", [](int* r, CciElement* e) { cpiElementRealValue(r, e); }},
      {"cpiElementDateValue", [](int* r, CciElement* e) { cpiElementDateValue(r, e); }},
      {"cpiElementTimeValue", [](int* r, CciElement* e) { cpiElementTimeValue(r, e); }},
      {"cpiElementTimestampValue", [](int* r, CciElement* e) { cpiElementTimestampValue(r, e); }},
      {"cpiElementCharacterValue",
       [](int* r, CciElement* e) {
         CciChar b[4];
         cpiElementCharacterValue(r, e, b, 4);
       }},
      {"cpiElementByteArrayValue",
       [](int* r, CciElement* e) {
         CciByteArray v;
         cpiElementByteArrayValue(r, e, &v);
       }},
      {"cpiAddAsFirstChild (parent)",
       [&](int* r, CciElement* e) { cpiAddAsFirstChild(r, e, good); }},
      {"cpiAddAsLastChild (child)",
       [&](int* r, CciElement* e) { cpiAddAsLastChild(r, body(), e); }},
      {"cpiAddAfter", [&](int* r, CciElement* e) { cpiAddAfter(r, e, good); }},
      {"cpiSetCharacterValueFromBuffer",
       [](int* r, CciElement* e) { cpiSetCharacterValueFromBuffer(r, e, u"x", 1); }},
      {"cpiSetElementCharacterValue",
       [](int* r, CciElement* e) { cpiSetElementCharacterValue(r, e, u"x", 1); }},
      {"cpiSetElementByteArrayValue",
       [&](int* r, CciElement* e) { cpiSetElementByteArrayValue(r, e, &bytes); }},
      {"cpiSetElementBooleanValue",
       [](int* r, CciElement* e) { cpiSetElementBooleanValue(r, e, 1); }},
      {"cpiSetElementIntegerValue",
       [](int* r, CciElement* e) { cpiSetElementIntegerValue(r, e, 1); }},
      {"cpiSetElementRealValue", [](int* r, CciElement* e) { cpiSetElementRealValue(r, e, 1); }},
      {"cpiSetElementDateValue",
       [&](int* r, CciElement* e) { cpiSetElementDateValue(r, e, &date); }},
      {"cpiSetElementTimeValue",
       [&](int* r, CciElement* e) { cpiSetElementTimeValue(r, e, &time, CCI_ELEMENT_TYPE_TIME); }},
      {"cpiSetElementTimestampValue",
       [&](int* r, CciElement* e) {
         cpiSetElementTimestampValue(r, e, &stamp, CCI_ELEMENT_TYPE_TIMESTAMP);
       }},
      {"cpiSetElementCompletePrevious",
       [](int* r, CciElement* e) { cpiSetElementCompletePrevious(r, e, 1); }},
      {"cpiSetElementCompleteNext",
       [](int* r, CciElement* e) { cpiSetElementCompleteNext(r, e, 1); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    for (CciElement* handle : {static_cast<CciElement*>(nullptr), bogus}) {
      int rc = -1;
      call(&rc, handle);
      EXPECT_EQ(rc, CCI_INV_ELEMENT_OBJECT);
      call(nullptr, handle);
    }
  }
  // The C++ API turns them into UsageError.
  EXPECT_THROW(broker::Element().firstChild(), broker::UsageError);
  EXPECT_THROW(broker::Element(bogus).name(), broker::UsageError);
}

TEST_F(BrokerTreeTest, BadValueArgumentsAreRefused) {
  CciElement* e = make(CCI_ELEMENT_TYPE_NAME_VALUE, u"e");
  const CciTime time{};
  const CciTimestamp stamp{};
  const CciByteArray nullBytes{nullptr, 2};
  const CciByteArray negative{reinterpret_cast<uint8_t*>(&e), -1};
  struct Case {
    const char* what;
    std::function<void(int*)> call;
    int rc;
  } cases[] = {
      {"characters null", [&](int* r) { cpiSetElementCharacterValue(r, e, nullptr, 2); },
       CCI_INV_DATA_POINTER},
      {"characters null, none", [&](int* r) { cpiSetElementCharacterValue(r, e, nullptr, 0); },
       CCI_SUCCESS},
      {"characters negative count", [&](int* r) { cpiSetCharacterValueFromBuffer(r, e, u"x", -1); },
       CCI_INV_ARGUMENT},
      {"byte array record null", [&](int* r) { cpiSetElementByteArrayValue(r, e, nullptr); },
       CCI_INV_DATA_POINTER},
      {"byte array pointer null", [&](int* r) { cpiSetElementByteArrayValue(r, e, &nullBytes); },
       CCI_INV_DATA_POINTER},
      {"byte array negative size", [&](int* r) { cpiSetElementByteArrayValue(r, e, &negative); },
       CCI_INV_ARGUMENT},
      {"date null", [&](int* r) { cpiSetElementDateValue(r, e, nullptr); }, CCI_INV_DATA_POINTER},
      {"time null", [&](int* r) { cpiSetElementTimeValue(r, e, nullptr, CCI_ELEMENT_TYPE_TIME); },
       CCI_INV_DATA_POINTER},
      {"time of a date type",
       [&](int* r) { cpiSetElementTimeValue(r, e, &time, CCI_ELEMENT_TYPE_DATE); },
       CCI_INV_ARGUMENT},
      {"timestamp null",
       [&](int* r) { cpiSetElementTimestampValue(r, e, nullptr, CCI_ELEMENT_TYPE_TIMESTAMP); },
       CCI_INV_DATA_POINTER},
      {"timestamp of a time type",
       [&](int* r) { cpiSetElementTimestampValue(r, e, &stamp, CCI_ELEMENT_TYPE_TIME); },
       CCI_INV_ARGUMENT},
      {"byte array read into null", [&](int* r) { cpiElementByteArrayValue(r, e, nullptr); },
       CCI_INV_DATA_POINTER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int rc = -1;
    c.call(&rc);
    EXPECT_EQ(rc, c.rc);
  }
}

TEST_F(BrokerTreeTest, BuildingThroughTheCppApi) {
  broker::Message m = parser.createMessage();
  broker::Element body = m.body();
  broker::Element folder = body.addFolder("Group");
  folder.addText("Text", "caf\xC3\xA9");
  folder.addInteger("Int", -7);
  folder.addReal("Real", 1.25);
  folder.addBoolean("Bool", true);
  folder.addBytes("Bytes", {0, 200});
  folder.addDate("Date", {1999, 12, 31});
  folder.addTime("Time", {1, 2, 3.0f});
  folder.addTimestamp("Stamp", {1999, 12, 31, 1, 2, 3.0f});

  EXPECT_EQ(folder.type(), CCI_ELEMENT_TYPE_NAME);
  EXPECT_TRUE(folder.completePrevious() && folder.completeNext());
  std::vector<std::string> names;
  for (broker::Element e = folder.firstChild(); e; e = e.nextSibling()) {
    names.push_back(e.nameUtf8());
    EXPECT_EQ(e.type(), CCI_ELEMENT_TYPE_NAME_VALUE);
    EXPECT_EQ(e.parent(), folder);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Text", "Int", "Real", "Bool", "Bytes", "Date", "Time",
                                             "Stamp"}));
  broker::Element text = folder.firstChild();
  EXPECT_EQ(text.characterValue(), u"caf\u00e9");
  EXPECT_EQ(text.text(), "caf\xC3\xA9");
  EXPECT_EQ(text.nextSibling().integerValue(), -7);
  EXPECT_EQ(text.nextSibling().nextSibling().realValue(), 1.25);
  EXPECT_EQ(folder.lastChild().timestampValue().year, 1999);
  EXPECT_EQ(folder.lastChild().previousSibling().timeValue().hour, 1);
  EXPECT_THROW(text.integerValue(), broker::UsageError);
  EXPECT_THROW(folder.characterValue(), broker::UsageError);
}

}  // namespace

#include "tests/broker/scriptparser.h"

#include <atomic>
#include <string_view>

namespace scriptparser {

namespace {

std::atomic<int> deleted{0};

std::u16string widen(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string narrow(std::u16string_view text) {
  std::string result;
  for (char16_t c : text) result += static_cast<char>(c);
  return result;
}

std::string nameOf(CciElement* element) {
  int rc = 0;
  CciChar buffer[256];
  cpiElementName(&rc, element, buffer, 256);
  return rc == 0 ? narrow(buffer) : std::string("?");
}

std::string valueOf(CciElement* element) {
  int rc = 0;
  CciChar buffer[256];
  cpiElementCharacterValue(&rc, element, buffer, 256);
  return rc == 0 ? narrow(buffer) : std::string();
}

[[noreturn]] void raise(unsigned number, const char* text, const std::string& position) {
  int rc = 0;
  cciThrowException(&rc, CCI_EXCEPTION_TYPE_PARSER, "scriptparser", __LINE__, "raise", u"script",
                    number, text, "item", position.c_str(), nullptr);
}

void setComplete(CciElement* element) {
  int rc = 0;
  cpiSetElementCompletePrevious(&rc, element, 1);
  cpiSetElementCompleteNext(&rc, element, 1);
}

void addChild(Context& context, CciElement* child) {
  int rc = 0;
  if (!cpiFirstChild(&rc, context.current)) cpiSetElementCompletePrevious(&rc, context.current, 1);
  cpiAddAsLastChild(&rc, context.current, child);
}

// Parses the next item of the script.
void parseItem(CciParser* parser, Context& context) {
  if (!context.current) return;
  int rc = 0;
  if (context.index >= context.text.size()) {
    for (CciElement* open = context.current; open; open = cpiParent(&rc, open)) {
      setComplete(open);
      if (open == context.root) break;
    }
    context.current = nullptr;
    return;
  }
  size_t end = context.text.find(';', context.index);
  if (end == std::string::npos) end = context.text.size();
  const std::string item = context.text.substr(context.index, end - context.index);
  if (item == "?") return;  // stalls: nothing consumed, nothing changed
  const size_t position = context.index;
  context.index = end + 1;
  if (item == "!") raise(kScriptError, "Bad item\n", std::to_string(position));
  if (item == "}") {
    setComplete(context.current);
    context.current = cpiParent(&rc, context.current);
    return;
  }
  if (!item.empty() && item.back() == '{') {
    const std::u16string name = widen(item.substr(0, item.size() - 1));
    CciElement* folder =
        cpiCreateAndInitializeElement(&rc, parser, CCI_ELEMENT_TYPE_NAME, name.c_str(), 0, 0);
    addChild(context, folder);
    context.current = folder;
    return;
  }
  const size_t equals = item.find('=');
  const std::u16string name = widen(item.substr(0, equals));
  const std::u16string value = widen(equals == std::string::npos ? "" : item.substr(equals + 1));
  CciElement* element =
      cpiCreateAndInitializeElement(&rc, parser, CCI_ELEMENT_TYPE_NAME_VALUE, name.c_str(), 1, 1);
  cpiSetElementCharacterValue(&rc, element, value.data(), static_cast<int>(value.size()));
  addChild(context, element);
}

void navigation(const char* kind, CciParser* parser, CciContext* context, CciElement* element) {
  auto& c = *static_cast<Context*>(context);
  c.calls.push_back(std::string(kind) + ":" + nameOf(element));
  parseItem(parser, c);
}

CciContext* createContext(CciParser*) {
  return new Context;
}

void deleteContext(CciParser*, CciContext* context) {
  delete static_cast<Context*>(context);
  ++deleted;
}

// Finds a property through the broker, as a plug-in reads it.
std::string property(CciParser* parser, std::u16string_view name) {
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  CciElement* message = cpiParent(&rc, root);
  CciElement* folder = cniFirstChild(&rc, message);
  for (CciElement* e = cniFirstChild(&rc, folder); e; e = cniNextSibling(&rc, e))
    if (nameOf(e) == narrow(name)) return valueOf(e);
  return "(none)";
}

int parseBuffer(CciParser* parser, CciContext* context, int offset) {
  auto& c = *static_cast<Context*>(context);
  c.calls.push_back("buffer:" + std::to_string(offset));
  int rc = 0;
  c.bufferSize = cpiBufferSize(&rc, parser);
  const uint8_t* bytes = cpiBufferPointer(&rc, parser);
  c.text.assign(reinterpret_cast<const char*>(bytes) + offset,
                static_cast<size_t>(c.bufferSize - offset));
  c.index = 0;
  c.root = cpiRootElement(&rc, parser);
  c.current = c.root;
  c.rootName = nameOf(c.root);
  c.messageSet = property(parser, u"MessageSet");
  c.codedCharSetId = property(parser, u"CodedCharSetId");
  if (!c.text.empty() && c.text[0] == '!') raise(kScriptError, "Bad start\n", "0");
  return c.bufferSize - offset;
}

void append(CciParser* parser, Context& context, const std::string& text) {
  int rc = 0;
  cpiAppendToBuffer(&rc, parser, reinterpret_cast<const uint8_t*>(text.data()),
                    static_cast<int>(text.size()));
  context.outputSizes.push_back(cpiBufferSize(&rc, parser));
}

void writeChildren(CciParser* parser, Context& context, CciElement* folder) {
  int rc = 0;
  for (CciElement* e = cniFirstChild(&rc, folder); e; e = cniNextSibling(&rc, e)) {
    const std::string name = nameOf(e);
    if (name == "bad") raise(kWriteError, "Cannot write\n", name);
    if (cpiElementType(&rc, e) == CCI_ELEMENT_TYPE_NAME) {
      append(parser, context, name + "{;");
      writeChildren(parser, context, e);
      append(parser, context, "};");
    } else {
      append(parser, context, name + "=" + valueOf(e) + ";");
    }
  }
}

int writeBuffer(CciParser* parser, CciContext* context) {
  auto& c = *static_cast<Context*>(context);
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  c.calls.push_back("write:" + nameOf(root));
  c.outputSizes.clear();
  writeChildren(parser, c, root);
  return cpiBufferSize(&rc, parser);
}

unsigned char alwaysTrue() {
  return 1;
}

const CpiFunctionTable table = [] {
  CpiFunctionTable t{};
  t.cpiCreateContext = createContext;
  t.cpiDeleteContext = deleteContext;
  t.cpiParseBuffer = parseBuffer;
  t.cpiParseFirstChild = [](CciParser* p, CciContext* c, CciElement* e) {
    navigation("first", p, c, e);
  };
  t.cpiParseLastChild = [](CciParser* p, CciContext* c, CciElement* e) {
    navigation("last", p, c, e);
  };
  t.cpiParseLeftSibling = [](CciParser* p, CciContext* c, CciElement* e) {
    navigation("left", p, c, e);
  };
  t.cpiParseRightSibling = [](CciParser* p, CciContext* c, CciElement* e) {
    navigation("right", p, c, e);
  };
  t.cpiWriteBuffer = writeBuffer;
  t.cpiAlwaysTrue = alwaysTrue;
  return t;
}();

}  // namespace

CciFactory* getParserFactory() {
  int rc = 0;
  CciFactory* factory = cpiCreateParserFactory(&rc, u"ScriptFactory");
  if (!factory) return nullptr;
  cpiDefineParserClass(&rc, factory, u"SCRIPT", &table);
  cpiDefineParserClass(&rc, factory, u"OTHER", &table);
  return factory;
}

const CpiFunctionTable& functionTable() {
  return table;
}

int deletedContexts() {
  return deleted.load();
}

}  // namespace scriptparser

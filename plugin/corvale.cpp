// corvale - the plug-in's front door: entry point, callback table, ParserContext lifecycle, the
// parse and write callbacks, message statistics and the 16-bit string helpers.
#include "corvale.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "fixsub.h"
#include "metadata.h"
#include "mgmtmsg.h"
#include "parsubs.h"
#include "trace.h"

#if CORVALE_DIAGNOSTIC
const char* corvaleVersion() {
  return "Corvale V1.0 Debug version (" __DATE__ " " __TIME__ ")";
}
#else
const char* corvaleVersion() {
  return "Corvale V1.0 Release version (" __DATE__ " " __TIME__ ")";
}
#endif

// ---- Process-wide state ------------------------------------------------------------------
// Message statistics: start values 0, minimums -1; never reset.
std::atomic<int32_t> inMessageCount{0};
std::atomic<int32_t> inTagCount{0};
std::atomic<int32_t> invalidMsgCount{0};
std::atomic<int32_t> sumMessageSize{0};
std::atomic<int32_t> maxMessageSize{0};
std::atomic<int32_t> minMessageSize{-1};
std::atomic<int64_t> sumParseTime{0};
std::atomic<int64_t> maxParseTime{0};
std::atomic<int64_t> minParseTime{-1};
std::atomic<int32_t> writeCount{0};
std::atomic<int32_t> outTagCount{0};
std::atomic<int32_t> invalidOutputCount{0};
std::atomic<int32_t> sumOutputSize{0};
std::atomic<int32_t> maxOutputSize{0};
std::atomic<int32_t> minOutputSize{-1};
std::atomic<int64_t> sumWriteTime{0};
std::atomic<int64_t> maxWriteTime{0};
std::atomic<int64_t> minWriteTime{-1};
// Contexts created since load; shown only in the trace.
std::atomic<int32_t> contextCount{0};

// The one callback table of both classes; filled by bipGetParserFactory, kept by the broker by
// address for as long as the library is loaded.
CpiFunctionTable parserFunctionTable;

namespace {

constexpr char kManagementMessageSet[] = "SYSTMGMT";
constexpr char kFixOnlyClass[] = "FIXONLY";

// ParserContext travels through the broker as an opaque pointer.
ParserContext* contextOf(CciContext* context) {
  return static_cast<ParserContext*>(context);
}

// Frees what the context holds, leaving its pointers null.
void releaseHeld(ParserContext* context) {
  std::free(context->iText);
  context->iText = nullptr;
  std::free(context->iOutBuffer);
  context->iOutBuffer = nullptr;
  if (context->iRepeat != nullptr) freeRepeatFrames(context);
}

// The high-resolution counter: steady_clock in nanoseconds, frequency 1e9.
constexpr int64_t kCounterFrequency = 1000000000;
int64_t readCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <typename T>
void applyMinMax(std::atomic<T>& maximum, std::atomic<T>& minimum, T v) {
  T current = maximum.load(std::memory_order_relaxed);
  while (v > current && !maximum.compare_exchange_weak(current, v, std::memory_order_relaxed)) {
  }
  // A minimum still at -1 takes v; otherwise a minimum greater than v does.
  current = minimum.load(std::memory_order_relaxed);
  while ((current == -1 || v < current) &&
         !minimum.compare_exchange_weak(current, v, std::memory_order_relaxed)) {
  }
}

// A 64-bit value cut to its low 32 bits as a signed number.
int32_t low32(int64_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Adds one parse callback's duration to the message and to the process.
void addParseTime(ParserContext* context) {
  int64_t t = calculateTime(context);
  bumpCounter(sumParseTime, t);
  context->totalParseTime += t;
}

#if CORVALE_DIAGNOSTIC
// An element's name and completion bits, for the entry and exit lines of the callbacks.
struct TracedElement {
  char16_t name[64] = {};
  int previous = 0;
  int next = 0;
  explicit TracedElement(CciElement* element) {
    int rc = 0;
    cpiElementName(&rc, element, name, 64);
    name[63] = 0;
    previous = cpiElementCompletePrevious(&rc, element);
    next = cpiElementCompleteNext(&rc, element);
  }
};
#endif

// The questions the four on-demand callbacks parse until they can answer. A question that
// cannot be asked (a failing broker call) counts as answered: parsing on would not change it.
bool completePreviousSet(CciElement* element) {
  int rc = 0;
  int bit = cpiElementCompletePrevious(&rc, element);
  return rc != 0 || bit == 1;
}
bool completeNextSet(CciElement* element) {
  int rc = 0;
  int bit = cpiElementCompleteNext(&rc, element);
  return rc != 0 || bit == 1;
}
// A sibling is known once it exists, or once the parent says none will come. The sibling is asked
// first: after the item that answers the question has been parsed, that one call settles it.
bool previousSiblingKnown(CciElement* element) {
  int rc = 0;
  CciElement* sibling = cpiPreviousSibling(&rc, element);
  if (rc != 0 || sibling != nullptr) return true;
  CciElement* parent = cpiParent(&rc, element);
  return rc != 0 || parent == nullptr || completePreviousSet(parent);
}
bool nextSiblingKnown(CciElement* element) {
  int rc = 0;
  CciElement* sibling = cpiNextSibling(&rc, element);
  if (rc != 0 || sibling != nullptr) return true;
  CciElement* parent = cpiParent(&rc, element);
  return rc != 0 || parent == nullptr || completeNextSet(parent);
}

enum class ExitSwitch { Module, Parser };

// The shape all four on-demand callbacks share: parse item after item until the question is
// answered or the message is fully parsed, and add the time taken to the message.
void parseOnDemand(const char* name, CciParser* parser, CciContext* opaque, CciElement* element,
                   bool (*answered)(CciElement*), bool traceEachItem,
                   [[maybe_unused]] ExitSwitch exitSwitch) {
  ParserContext* context = contextOf(opaque);
#if CORVALE_DIAGNOSTIC
  if (traceSwitch(traceModule)) {
    TracedElement e(element);
    traceLog("PLUGIN: -> %s() element %S (0x%x) bits (%d %d)\n", name, e.name,
             traceAddress(element), e.previous, e.next);
  }
#endif
  startTimer(context);
  if (context->iMsgType == kMsgTypeManagement) {
    parseMgmtMsg(parser, context);
  } else if (context->iMsgType == kMsgTypeFix) {
    while (!answered(element) && context->currentElement != nullptr) {
      parseNextItem(parser, context);
#if CORVALE_DIAGNOSTIC
      if (traceEachItem && traceSwitch(traceModule)) {
        TracedElement e(element);
        traceLog(" returned from parseNextItem element=%S (0x%x) bits (%d %d)\n", e.name,
                 traceAddress(element), e.previous, e.next);
      }
#else
      (void)traceEachItem;
#endif
    }
    addParseTime(context);
  }
  // A context that has no message yet (iMsgType -1) has nothing to parse.
#if CORVALE_DIAGNOSTIC
  bool exitOn = exitSwitch == ExitSwitch::Parser ? traceSwitch(traceParser) != 0
                                                 : traceSwitch(traceModule) != 0;
  if (exitOn) {
    TracedElement e(element);
    traceLog("PLUGIN: <- %s() bits (%d %d)\n", name, e.previous, e.next);
  }
#else
  (void)name;
#endif
}

#if CORVALE_DIAGNOSTIC
// The entry line of cpiParseBuffer shows the UTC wall-clock time.
void traceParseBufferEntry(CciParser* parser, CciContext* context, int offset) {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  int milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  traceLog("\nPLUGIN: -> cpiParseBuffer() %d/%d/%d %2.2d:%2.2d:%2.2d.%d \n", utc.tm_year + 1900,
           utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
  traceLog(" parser (0x%x) context (0x%x) offset (%d)\n", traceAddress(parser),
           traceAddress(context), offset);
}
#endif

}  // namespace

// ---- Entry point and context lifecycle ---------------------------------------------------

extern "C" CciFactory* bipGetParserFactory(void) {
  std::memset(&parserFunctionTable, 0, sizeof parserFunctionTable);
  parserFunctionTable.cpiCreateContext = cpiCreateContext;
  parserFunctionTable.cpiDeleteContext = cpiDeleteContext;
  parserFunctionTable.cpiParseBuffer = cpiParseBuffer;
  parserFunctionTable.cpiParseFirstChild = cpiParseFirstChild;
  parserFunctionTable.cpiParseLastChild = cpiParseLastChild;
  parserFunctionTable.cpiParseLeftSibling = cpiParseLeftSibling;
  parserFunctionTable.cpiParseRightSibling = cpiParseRightSibling;
  parserFunctionTable.cpiWriteBuffer = cpiWriteBuffer;
  parserFunctionTable.cpiAlwaysTrue = alwaysTrue;

#if CORVALE_DIAGNOSTIC
  initializeTrace();
#endif
  TRACE(traceModule, "PLUGIN: -> bipGetParserFactory()\n");
  initializeMetadata();

  int rc = 0;
  CciFactory* factory = cpiCreateParserFactory(&rc, u"CorvaleFactory");
  if (factory != nullptr) {
    cpiDefineParserClass(&rc, factory, u"FIX", &parserFunctionTable);
    cpiDefineParserClass(&rc, factory, u"FIXONLY", &parserFunctionTable);
  } else {
    TRACE(traceModule, "Unable to create parser factory, rc=%d\n", rc);
  }
  TRACE(traceModule, "PLUGIN: <- bipGetParserFactory() factory=0x%x\n", traceAddress(factory));
  return factory;
}

CciContext* cpiCreateContext([[maybe_unused]] CciParser* parser) {
  TRACE(traceModule, "PLUGIN: -> cpiCreateContext() parser=0x%x\n", traceAddress(parser));
  ParserContext* context = new (std::nothrow) ParserContext{};
  if (context == nullptr) {
    TRACE(traceModule, "Unable to allocate memory for Context for Fix parser\n");
    return nullptr;
  }
  bumpCounter(contextCount);
  context->iMsgType = kMsgTypeNew;
  TRACE(traceModule, "PLUGIN: <- cpiCreateContext() context=0x%x contexts=%d\n",
        traceAddress(context), traceSwitch(contextCount));
  return context;
}

void cpiDeleteContext([[maybe_unused]] CciParser* parser, CciContext* opaque) {
  TRACE(traceModule, "PLUGIN: -> cpiDeleteContext() parser=0x%x context=0x%x\n",
        traceAddress(parser), traceAddress(opaque));
  ParserContext* context = contextOf(opaque);
  if (context != nullptr) {
    releaseHeld(context);
    delete context;
  }
  TRACE(traceModule, "PLUGIN: <- cpiDeleteContext()\n");
}

void resetContext(ParserContext* context) {
  TRACE(traceModule, "PLUGIN: -> resetContext() context=0x%x\n", traceAddress(context));
  releaseHeld(context);
  *context = ParserContext{};
  TRACE(traceModule, "PLUGIN: <- resetContext()\n");
}

unsigned char alwaysTrue(void) {
  return 1;
}

// ---- Parse callbacks ---------------------------------------------------------------------

int cpiParseBuffer(CciParser* parser, CciContext* opaque, int offset) {
#if CORVALE_DIAGNOSTIC
  if (traceSwitch(traceModule)) traceParseBufferEntry(parser, opaque, offset);
#endif
  ParserContext* context = contextOf(opaque);
  if (context->iSize > 0) saveMsgStats(context);
  resetContext(context);
  startTimer(context);

  int rc = 0;
  int bufferSize = cpiBufferSize(&rc, parser);
  const uint8_t* pointer = rc == 0 ? cpiBufferPointer(&rc, parser) : nullptr;
  // Without a buffer, or with an offset outside it, there is no message text: the message is
  // empty and fails the framing check.
  if (rc == 0 && pointer != nullptr && offset >= 0 && offset <= bufferSize) {
    context->iSize = bufferSize - offset;
    context->iBuffer = pointer + offset;
  }
  int codePage = getCodedCharSetId(parser);
  context->iCodePage = codePage != 0 ? codePage : kDefaultCodePage;

  // iSize + 1 zero-filled characters, so a zero always follows the last one.
  context->iText = static_cast<char16_t*>(
      std::calloc(static_cast<size_t>(context->iSize) + 1, sizeof(char16_t)));
  if (context->iText == nullptr) throw std::bad_alloc();
  if (context->iBuffer != nullptr && context->iSize > 0) {
    convertMessageText(context, 0, context->iSize);
  }
  context->iText[context->iSize] = 0;

  context->iIndex = 0;
  char first[4] = {};
  cciUcsToMbs(&rc, context->iText, first, 1, kDefaultCodePage);
  context->iChar = static_cast<unsigned char>(first[0]);

  context->iRootElement = cpiRootElement(&rc, parser);
  context->currentElement = context->iRootElement;
  getRootName(parser, context->iRootName, kRootNameSize);
  getMessageSet(parser, context->iMessageSet, kMessageSetSize - 1);
  if (std::strcmp(context->iRootName, kFixOnlyClass) != 0) context->iNotFixOnly = 1;

  int result = context->iSize;
  if (std::strcmp(context->iMessageSet, kManagementMessageSet) == 0) {
    // Not framed, counted or timed: the first navigation callback runs the command.
    context->iMsgType = kMsgTypeManagement;
  } else {
    checkMessageFormat(context);
    bumpCounter(inMessageCount);
    bumpCounter(sumMessageSize, context->iSize);
    updateMinMax(maxMessageSize, minMessageSize, context->iSize);
    context->iSize -= kTrailerLength;
    bumpCounter(inTagCount);
    addParseTime(context);
  }
  TRACE(traceModule, "PLUGIN: <- cpiParseBuffer() buffer 0x%x message size =%d\n",
        traceAddress(context->iText), context->iSize);
  return result;
}

void cpiParseFirstChild(CciParser* parser, CciContext* context, CciElement* element) {
  parseOnDemand("cpiParseFirstChild", parser, context, element, completePreviousSet, true,
                ExitSwitch::Module);
}

void cpiParseLastChild(CciParser* parser, CciContext* context, CciElement* element) {
  parseOnDemand("cpiParseLastChild", parser, context, element, completeNextSet, false,
                ExitSwitch::Module);
}

void cpiParseLeftSibling(CciParser* parser, CciContext* context, CciElement* element) {
  parseOnDemand("cpiParseLeftSibling", parser, context, element, previousSiblingKnown, false,
                ExitSwitch::Parser);
}

void cpiParseRightSibling(CciParser* parser, CciContext* context, CciElement* element) {
  parseOnDemand("cpiParseRightSibling", parser, context, element, nextSiblingKnown, false,
                ExitSwitch::Module);
}

// ---- Write callback ----------------------------------------------------------------------

int cpiWriteBuffer(CciParser* parser, CciContext* opaque) {
  TRACE(traceModule, "PLUGIN: -> cpiWriteBuffer() parser=0x%x context=0x%x\n", traceAddress(parser),
        traceAddress(opaque));
  ParserContext* context = contextOf(opaque);
  resetContext(context);
  startTimer(context);
  int codePage = getCodedCharSetId(parser);
  context->iCodePage = codePage != 0 ? codePage : kDefaultCodePage;
  getRootName(parser, context->iRootName, kRootNameSize);
  if (std::strcmp(context->iRootName, kFixOnlyClass) != 0) context->iNotFixOnly = 1;
  int rc = 0;
  context->iRootElement = cpiRootElement(&rc, parser);

  int length = createOutputMessage(parser, context);
  int64_t t = calculateTime(context);
  if (context->iError == 0 && length > 0) saveWriteStats(length, t);
  TRACE(traceModule, "PLUGIN: <- cpiWriteBuffer() length=%d, time=%d\n", length, low32(t));
  return cpiBufferSize(&rc, parser);
}

// ---- Statistics --------------------------------------------------------------------------

void updateMinMax(std::atomic<int32_t>& maximum, std::atomic<int32_t>& minimum, int32_t v) {
  applyMinMax(maximum, minimum, v);
}

void updateMinMax(std::atomic<int64_t>& maximum, std::atomic<int64_t>& minimum, int64_t v) {
  applyMinMax(maximum, minimum, v);
}

void startTimer(ParserContext* context) {
  context->iStartTime = readCounter();
}

int64_t calculateTime(const ParserContext* context) {
  // elapsed x 1,000,000 / frequency, computed as one exact division: the frequency is a whole
  // number of counts per microsecond, so nothing is lost (nor can the product overflow), and the
  // 128-bit arithmetic this would otherwise need is not paid twice per navigation callback.
  static_assert(kCounterFrequency % 1000000 == 0);
  const int64_t elapsed = readCounter() - context->iStartTime;
  return elapsed / (kCounterFrequency / 1000000);
}

void saveMsgStats(ParserContext* context) {
  TRACE(traceModule,
        "\nPLUGIN: -> saveMsgStats() context=0x%x totalParseTime=%d iSize=%d iMsgType=%d\n",
        traceAddress(context), low32(context->totalParseTime), context->iSize, context->iMsgType);
  if (context->iMsgType == kMsgTypeFix && context->iError == 0) {
    updateMinMax(maxParseTime, minParseTime, static_cast<int64_t>(low32(context->totalParseTime)));
  }
  TRACE(traceModule,
        "\nPLUGIN: <- saveMsgStats() maxParseTime=%d, minParseTime=%d, maxMessage=%d, "
        "minMessage=%d\n",
        low32(maxParseTime.load(std::memory_order_relaxed)),
        low32(minParseTime.load(std::memory_order_relaxed)), traceSwitch(maxMessageSize),
        traceSwitch(minMessageSize));
}

void saveWriteStats(int32_t length, int64_t time) {
  bumpCounter(writeCount);
  bumpCounter(sumOutputSize, length);
  updateMinMax(maxWriteTime, minWriteTime, static_cast<int64_t>(low32(time)));
  updateMinMax(maxOutputSize, minOutputSize, length);
  bumpCounter(sumWriteTime, time);
}

// ---- 16-bit string helpers ---------------------------------------------------------------

int isUcsSpace(char16_t c) {
  return (c >= 9 && c <= 13) || c == 32 ? 1 : 0;
}

void ucsCopy(char16_t* destination, const char16_t* source) {
  while ((*destination++ = *source++) != 0) {
  }
}

int ucsLength(const char16_t* text) {
  int length = 0;
  while (text[length] != 0) ++length;
  return length;
}

int ucsCompare(const char16_t* a, const char16_t* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(static_cast<uint16_t>(*a)) - static_cast<int>(static_cast<uint16_t>(*b));
}

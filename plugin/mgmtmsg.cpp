// mgmtmsg - management messages and their reply trees.
//
// The message text is "vvvvmmmmCOMMAND " followed by the command data: a version and a
// modification level that must both be "0000", and an 8-character command padded with blanks.
// Replies are built from name elements (folders) and name-value elements with character values,
// all created complete and attached under the message's own root element.
//
// The module keeps no state. It reads the statistics counters (corvale) and the cache counters
// (metadata) without a lock, so a report is a snapshot whose values need not agree exactly.
#include "mgmtmsg.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fixsub.h"
#include "metadata.h"
#include "parsubs.h"
#include "trace.h"

#if CORVALE_DIAGNOSTIC
const char mgmtmsgVersion[] = "mgmtmsg V1.0 Debug version (" __DATE__ " " __TIME__ ")";
#else
const char mgmtmsgVersion[] = "mgmtmsg V1.0 Release version (" __DATE__ " " __TIME__ ")";
#endif

namespace {

// Header layout, in code page 437 characters.
constexpr int kVersionLength = 4;
constexpr int kModificationLength = 4;
constexpr int kCommandLength = 8;
constexpr int kCommandOffset = kVersionLength + kModificationLength;
constexpr int kHeaderLength = kCommandOffset + kCommandLength;
// The only version and modification level understood.
constexpr char kSupportedLevel[] = "0000";
// One FLUSH name or TRACEON word.
constexpr int kEntryLength = 8;

// Buffers of the reply helpers, terminating zero included.
constexpr int kElementNameSize = 64;
constexpr int kCharacterValueSize = 1024;
constexpr int kStatValueSize = 256;
constexpr int kIntegerTextSize = 16;

template <typename T>
T snapshot(const std::atomic<T>& counter) {
  return counter.load(std::memory_order_relaxed);
}

// Converts at most size - 1 bytes of the code page 437 text into a zero-filled buffer of size
// characters, so the result is always terminated. Returns what the conversion reported as its
// length.
int toWide(const char* text, char16_t* buffer, int size) {
  std::memset(buffer, 0, sizeof(char16_t) * size);
  int rc = 0;
  const int count = static_cast<int>(strnlen(text, size - 1));
  return cciMbsToUcs(&rc, text, buffer, count, kDefaultCodePage);
}

// A complete element of the given type, detached; its wide name is left in wideName.
CciElement* createElement(CciParser* parser, int type, const char* name,
                          char16_t (&wideName)[kElementNameSize]) {
  toWide(name, wideName, kElementNameSize);
  int rc = 0;
  return cpiCreateAndInitializeElement(&rc, parser, type, wideName, 1, 1);
}

// A complete name-value element with a character value (at most ValueSize - 1 characters),
// attached as the last child of parent.
template <int ValueSize>
CciElement* addValueElement(CciParser* parser, CciElement* parent, const char* name,
                            const char* value, char16_t (&wideName)[kElementNameSize]) {
  CciElement* element = createElement(parser, CCI_ELEMENT_TYPE_NAME_VALUE, name, wideName);
  char16_t wideValue[ValueSize];
  const int length = toWide(value, wideValue, ValueSize);
  int rc = 0;
  cpiSetElementCharacterValue(&rc, element, wideValue, length);
  cpiAddAsLastChild(&rc, parent, element);
  return element;
}

// The parser's root element with both complete bits set (previous first); null when none.
CciElement* completedRoot(CciParser* parser) {
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  if (root != nullptr) {
    cpiSetElementCompletePrevious(&rc, root, 1);
    cpiSetElementCompleteNext(&rc, root, 1);
  }
  return root;
}

// What a command handler receives from the header and the text after it.
struct CommandRequest {
  CciParser* parser;
  int version;
  int modificationLevel;
  const char* data;  // the text from the end of the header on; zero-terminated
  int dataLength;    // characters of data; zero or more
};

struct Command {
  char name[kCommandLength + 1];
  void (*run)(const CommandRequest& request);
};

const Command kCommands[] = {
    {"FLUSH   ",
     [](const CommandRequest& r) {
       processFlushMsg(r.version, r.modificationLevel, r.data, r.dataLength);
     }},
    {"FLUSHALL", [](const CommandRequest&) { processFlushallMsg(); }},
    {"STATS   ",
     [](const CommandRequest& r) {
       processStatsMsg(r.parser, r.version, r.modificationLevel, r.data);
     }},
    {"TRACEON ",
     [](const CommandRequest& r) {
       processTraceOnMsg(r.version, r.modificationLevel, r.dataLength, r.data);
     }},
    {"TRACEOFF", [](const CommandRequest&) { processTraceOffMsg(); }},
    {"GETLEVEL", [](const CommandRequest& r) { processGetlevelMsg(r.parser); }},
};

// Checks the header of a text of at least kHeaderLength characters and runs its command.
void runCommand(CciParser* parser, const char* text, int size) {
  char version[kVersionLength + 1] = {};
  char modificationLevel[kModificationLength + 1] = {};
  char command[kCommandLength + 1] = {};
  std::memcpy(command, text + kCommandOffset, kCommandLength);
  std::memcpy(version, text, kVersionLength);
  std::memcpy(modificationLevel, text + kVersionLength, kModificationLength);

  if (std::memcmp(text, kSupportedLevel, kVersionLength) != 0 ||
      std::memcmp(text + kVersionLength, kSupportedLevel, kModificationLength) != 0) {
    TRACE(traceSwitch(traceMgmt), "Wrong version(%s) or modification level(%s)\n", version,
          modificationLevel);
    return;
  }
  TRACE(traceSwitch(traceMgmt),
        "parsing management message type(%s) version(%s) modification level(%s)\n", command,
        version, modificationLevel);

  // The raw 8 characters decide, so a command cut short by a zero byte matches nothing.
  for (const Command& candidate : kCommands) {
    if (std::memcmp(text + kCommandOffset, candidate.name, kCommandLength) == 0) {
      candidate.run({parser, std::atoi(version), std::atoi(modificationLevel), text + kHeaderLength,
                     size - kHeaderLength});
      return;
    }
  }
}

// The counters of one direction of the message flow (parsing or writing) and the names of its
// nine reported values, in report order: count, items, errors, average/maximum/minimum size,
// average/maximum/minimum time.
struct FlowCounters {
  const std::atomic<int32_t>& count;
  const std::atomic<int32_t>& items;
  const std::atomic<int32_t>& invalid;
  const std::atomic<int32_t>& sumSize;
  const std::atomic<int32_t>& maxSize;
  const std::atomic<int32_t>& minSize;
  const std::atomic<int64_t>& sumTime;
  const std::atomic<int64_t>& maxTime;
  const std::atomic<int64_t>& minTime;
  const char* names[9];
};

const FlowCounters kParsing = {
    inMessageCount,
    inTagCount,
    invalidMsgCount,
    sumMessageSize,
    maxMessageSize,
    minMessageSize,
    sumParseTime,
    maxParseTime,
    minParseTime,
    {"inMessageCount", "inTagCount", "invalidMsgCount", "averageMessageSize", "maxMessageSize",
     "minMessageSize", "averageParseTime", "maxParseTime", "minParseTime"}};

const FlowCounters kWriting = {
    writeCount,
    outTagCount,
    invalidOutputCount,
    sumOutputSize,
    maxOutputSize,
    minOutputSize,
    sumWriteTime,
    maxWriteTime,
    minWriteTime,
    {"writeCount", "outTagCount", "invalidOutputCount", "averageOutputSize", "maxOutputSize",
     "minOutputSize", "averageWriteTime", "maxWriteTime", "minWriteTime"}};

// A minimum still at its start value -1 means that nothing was seen yet, and shows as 0.
template <typename T>
T shownMinimum(const std::atomic<T>& minimum) {
  const T value = snapshot(minimum);
  return value == -1 ? 0 : value;
}

// Adds the nine values of one direction to "messages". Averages are taken over the messages
// without errors, and only when there are any.
void addFlowElements(CciParser* parser, CciElement* messages, const FlowCounters& flow) {
  const int32_t count = snapshot(flow.count);
  const int32_t invalid = snapshot(flow.invalid);
  const int32_t valid = count - invalid;
  addIntegerElement(parser, count, flow.names[0], messages);
  addIntegerElement(parser, snapshot(flow.items), flow.names[1], messages);
  addIntegerElement(parser, invalid, flow.names[2], messages);
  addIntegerElement(parser, valid > 0 ? snapshot(flow.sumSize) / valid : 0, flow.names[3],
                    messages);
  addIntegerElement(parser, snapshot(flow.maxSize), flow.names[4], messages);
  addIntegerElement(parser, shownMinimum(flow.minSize), flow.names[5], messages);
  addTimeElement(parser, valid > 0 ? snapshot(flow.sumTime) / int64_t{valid} : 0, flow.names[6],
                 messages);
  addTimeElement(parser, snapshot(flow.maxTime), flow.names[7], messages);
  addTimeElement(parser, shownMinimum(flow.minTime), flow.names[8], messages);
}

}  // namespace

void formatTimeValue(int64_t microseconds, char* buffer, int size) {
  std::snprintf(buffer, size, "%" PRId64 ".%2.2" PRId64, microseconds / 1000,
                (microseconds / 10) % 100);
}

void parseMgmtMsg(CciParser* parser, ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> parseMgmtMsg() length %d\n", context->iSize);

  // The text once more in code page 437, one byte per character; zero-filled so that a failed
  // or short conversion still leaves a terminated text of size characters.
  const int size = (context->iText != nullptr && context->iSize > 0) ? context->iSize : 0;
  std::unique_ptr<char[]> text(new char[size + 1]());
  if (size > 0) {
    int rc = 0;
    cciUcsToMbs(&rc, context->iText, text.get(), size, kDefaultCodePage);
  }

  // A text without a whole header runs nothing: its fields would lie beyond the text.
  if (size >= kHeaderLength) {
    runCommand(parser, text.get(), size);
  } else {
    TRACE(traceSwitch(traceMgmt), "Management message too short - length(%d)\n", size);
  }

  // Whatever ran, the broker must ask for nothing more: next first, then previous.
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  if (root != nullptr) {
    cpiSetElementCompleteNext(&rc, root, 1);
    cpiSetElementCompletePrevious(&rc, root, 1);
  }

  text.reset();
  TRACE(traceSwitch(traceModule), "PLUGIN: <- parseMgmtMsg()\n");
}

void processFlushMsg([[maybe_unused]] int version, [[maybe_unused]] int modificationLevel,
                     const char* data, int dataLength) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> processFlushMsg()\n");
  if (dataLength < kEntryLength) {
    TRACE(traceSwitch(traceModule), "No entries - length(%d)\n", dataLength);
  } else {
    const int count = dataLength / kEntryLength;
    for (int i = 0; i < count; ++i) {
      const char* entry = data + i * kEntryLength;
      char name[kEntryLength + 1] = {};
      // Blanks and control characters end a name; bytes above 127 belong to it.
      for (int j = 0; j < kEntryLength; ++j) {
        const unsigned char c = static_cast<unsigned char>(entry[j]);
        if (c <= ' ') break;
        name[j] = entry[j];
      }
      removeMetaDataEntry(name);
    }
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- processFlushMsg()\n");
}

void processFlushallMsg() {
  removeAllMetaData();
}

void processGetlevelMsg(CciParser* parser) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> processGetlevelMsg()\n");
  CciElement* root = completedRoot(parser);
  CciElement* levels = newNameElement(parser, "ModuleLevels");
  int rc = 0;
  cpiAddAsFirstChild(&rc, root, levels);

  addCharacterElement(parser, levels, corvaleVersion(), "Corvale");
  addCharacterElement(parser, levels, fixsubVersion(), "Fixsub");
  addCharacterElement(parser, levels, metadataVersion(), "Metadata");
  addCharacterElement(parser, levels, mgmtmsgVersion, "MgmtMsg");
  addCharacterElement(parser, levels, parsubsVersion(), "Parsubs");
  addCharacterElement(parser, levels, traceVersion(), "Trace");
  TRACE(traceSwitch(traceModule), "PLUGIN: <- processGetlevelMsg()\n");
}

CciElement* newNameElement(CciParser* parser, const char* name) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> newNameElement - creating name element for (%s)\n",
        name);
  char16_t wideName[kElementNameSize];
  CciElement* element = createElement(parser, CCI_ELEMENT_TYPE_NAME, name, wideName);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- newNameElement - created name element 0x%x\n",
        traceAddress(element));
  return element;
}

void addCharacterElement(CciParser* parser, CciElement* parent, const char* value,
                         const char* name) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> addCharacterElement - element %s as child of 0x%x\n",
        name, traceAddress(parent));
  char16_t wideName[kElementNameSize];
  addValueElement<kCharacterValueSize>(parser, parent, name, value, wideName);
  TRACE(traceSwitch(traceModule),
        "PLUGIN: <- addCharacterElement - element %S created with value (%s)\n", wideName, value);
}

void addStatElement(CciParser* parser, const char* valueText, const char* name,
                    CciElement* parent) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> addStatElement - element for (%s)\n", name);
  char16_t wideName[kElementNameSize];
  [[maybe_unused]] CciElement* element =
      addValueElement<kStatValueSize>(parser, parent, name, valueText, wideName);
  TRACE(traceSwitch(traceModule),
        "PLUGIN: <- addStatElement - element 0x%x created as child of 0x%x for (%S)\n",
        traceAddress(element), traceAddress(parent), wideName);
}

void addIntegerElement(CciParser* parser, int32_t value, const char* name, CciElement* parent) {
  char text[kIntegerTextSize];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  addStatElement(parser, text, name, parent);
}

void addTimeElement(CciParser* parser, int64_t value, const char* name, CciElement* parent) {
  char text[kTimeTextSize];
  formatTimeValue(value, text, sizeof text);
  addStatElement(parser, text, name, parent);
}

void processStatsMsg(CciParser* parser, [[maybe_unused]] int version,
                     [[maybe_unused]] int modificationLevel, const char* /*data*/) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> processStatsMsg() ver %d mod %d\n", version,
        modificationLevel);
  CciElement* root = completedRoot(parser);
  int rc = 0;
  CciElement* statistics = newNameElement(parser, "statistics");
  cpiAddAsFirstChild(&rc, root, statistics);
  CciElement* cache = newNameElement(parser, "cache");
  cpiAddAsFirstChild(&rc, statistics, cache);
  CciElement* messages = newNameElement(parser, "messages");
  cpiAddAfter(&rc, cache, messages);

  addIntegerElement(parser, snapshot(filesOpened), "filesOpened", cache);
  addIntegerElement(parser, snapshot(filesRemoved), "filesRemoved", cache);
  addIntegerElement(parser, snapshot(filesMax), "filesMax", cache);
  addIntegerElement(parser, snapshot(useCounter), "useCounter", cache);

  addFlowElements(parser, messages, kParsing);
  addFlowElements(parser, messages, kWriting);

  TRACE(traceSwitch(traceModule), "PLUGIN: <- processStatsMsg()\n");
}

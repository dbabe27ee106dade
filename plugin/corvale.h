// corvale - the plug-in's front door: the exported entry point, the parser factory and its two
// classes ("FIX", "FIXONLY") with one shared callback table, the per-instance ParserContext, the
// parse and write callbacks, the message statistics with their timer, and the 16-bit string
// helpers.
//
// Ownership. A ParserContext belongs to one parser instance; the broker never uses one context on
// two threads at once, so contexts take no lock. The context owns iText, iOutBuffer and the
// iRepeat chain; resetContext and cpiDeleteContext free whatever of them is still held. iText and
// iOutBuffer come from std::malloc / std::calloc / std::realloc and are released with std::free;
// the frames of the iRepeat chain with freeRepeatFrames (fixsub.h).
//
// Process-wide state (this module): the statistics counters below and contextCount. They are
// relaxed atomics: no lock, no lost increments; a report reads a snapshot whose values need not
// agree exactly. Nothing ever resets them.
#ifndef CORVALE_PLUGIN_CORVALE_H
#define CORVALE_PLUGIN_CORVALE_H

#include <atomic>
#include <cstdint>

#include "brokerapi.h"

struct RepeatFrame;  // one open repeating group (fixsub.h)

// Sizes of the fixed text fields of the context, terminating zero included.
constexpr int kFixMsgTypeSize = 32;
constexpr int kFixLevelSize = 32;
constexpr int kRootNameSize = 33;
constexpr int kMessageSetSize = 33;

// The length of the CheckSum trailer: "10=", three characters, SOH.
constexpr int kTrailerLength = 7;
// The code page of the plug-in's own single-byte texts, and of messages without CodedCharSetId.
constexpr int kDefaultCodePage = 437;

// iMsgType values.
constexpr int32_t kMsgTypeNew = -1;
constexpr int32_t kMsgTypeFix = 0;
constexpr int32_t kMsgTypeManagement = 1;

// One record per parser instance, zero-filled at creation and at the start of every parse and
// write. Positions in iText count 16-bit characters; positions in byte buffers count bytes.
struct ParserContext {
  const uint8_t* iBuffer;    // the message's first byte in the broker's buffer (pointer + offset);
                             // byte i is character i of iText
  uint8_t* iOutBuffer;       // the writer's body buffer while a tree is written; null otherwise
  char16_t* iText;           // the message as iSize + 1 characters, zero-filled; tags and values
                             // are terminated in place; owned, freed by resetContext
  char16_t* iLastTag;        // tag text of the last item parsed; points into iText
  char16_t* iLastValue;      // value text of the last item parsed; points into iText
  int32_t iLastType;         // data type code of the last item parsed
  int32_t iSize;             // message length; minus the trailer once the framing is checked
  int32_t iOutSize;          // allocated size of iOutBuffer
  int32_t iIndex;            // parsing: position in iText (0 <= iIndex <= iSize);
                             // writing: next write position in iOutBuffer
  int32_t iRemaining;        // writing: bytes still free in iOutBuffer
  unsigned char iChar;       // the character at iIndex as one code page 437 byte
  int64_t iStartTime;        // counter reading at the start of the current callback (ns)
  int64_t totalParseTime;    // microseconds spent in this message's parse callbacks
  int32_t iError;            // 1 once an error has been raised for this message
  int32_t iMsgType;          // kMsgTypeNew, kMsgTypeFix or kMsgTypeManagement
  int32_t iCodePage;         // coded character set id of the message bytes (437 by default)
  int32_t iNotFixOnly;       // 1 for the class "FIX", 0 for "FIXONLY"
  RepeatFrame* iRepeat;      // innermost open repeating group; owned chain
  CciElement* currentElement;  // folder receiving the next elements; null once fully parsed
  CciElement* iRootElement;  // the parser's root element
  char iFixMsgType[kFixMsgTypeSize];  // FIX message type, code page 437, zero-terminated
  char iFixLevel[kFixLevelSize];      // BeginString without its dots (FIX42), names the metadata
  char iRootName[kRootNameSize];      // name of the parser's root element, code page 437
  char iMessageSet[kMessageSetSize];  // MessageSet property; "SYSTMGMT" marks management
};

// ---- Entry point and callbacks ---------------------------------------------------------------
extern "C" CCI_EXPORT CciFactory* bipGetParserFactory(void);
extern CpiFunctionTable parserFunctionTable;  // shared by both classes; lives with the library

// Called by the broker once per parser instance; returns a zero-filled context (iMsgType -1), or
// null when it cannot be allocated.
CciContext* cpiCreateContext(CciParser* parser);
// Called by the broker when the instance ends; frees everything the context holds.
void cpiDeleteContext(CciParser* parser, CciContext* context);
// Called once per message; takes the bit stream over from offset on; returns the message length.
int cpiParseBuffer(CciParser* parser, CciContext* context, int offset);
// Called while the broker walks to an incomplete part of the tree; parse until it is known.
void cpiParseFirstChild(CciParser* parser, CciContext* context, CciElement* element);
void cpiParseLastChild(CciParser* parser, CciContext* context, CciElement* element);
void cpiParseLeftSibling(CciParser* parser, CciContext* context, CciElement* element);
void cpiParseRightSibling(CciParser* parser, CciContext* context, CciElement* element);
// Called to have the tree attached to the parser written; returns the output stream's size.
int cpiWriteBuffer(CciParser* parser, CciContext* context);
// Slot 15: reads nothing, returns 1.
unsigned char alwaysTrue(void);

// Frees what the context holds and zero-fills it.
void resetContext(ParserContext* context);

const char* corvaleVersion();

// ---- Statistics ------------------------------------------------------------------------------
// Start values: every count, sum and maximum 0, every minimum -1.
extern std::atomic<int32_t> inMessageCount;
extern std::atomic<int32_t> inTagCount;
extern std::atomic<int32_t> invalidMsgCount;
extern std::atomic<int32_t> sumMessageSize;
extern std::atomic<int32_t> maxMessageSize;
extern std::atomic<int32_t> minMessageSize;
extern std::atomic<int64_t> sumParseTime;
extern std::atomic<int64_t> maxParseTime;
extern std::atomic<int64_t> minParseTime;
extern std::atomic<int32_t> writeCount;
extern std::atomic<int32_t> outTagCount;
extern std::atomic<int32_t> invalidOutputCount;
extern std::atomic<int32_t> sumOutputSize;
extern std::atomic<int32_t> maxOutputSize;
extern std::atomic<int32_t> minOutputSize;
extern std::atomic<int64_t> sumWriteTime;
extern std::atomic<int64_t> maxWriteTime;
extern std::atomic<int64_t> minWriteTime;
extern std::atomic<int32_t> contextCount;

// Adds one with relaxed ordering; the counters are statistics, not synchronisation.
template <typename T>
inline void bumpCounter(std::atomic<T>& counter, T amount = 1) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

// The minimum and maximum rule: the maximum takes v when v is greater; then a minimum still at -1
// takes v; then a minimum greater than v takes v.
void updateMinMax(std::atomic<int32_t>& maximum, std::atomic<int32_t>& minimum, int32_t v);
void updateMinMax(std::atomic<int64_t>& maximum, std::atomic<int64_t>& minimum, int64_t v);

// iStartTime := the high-resolution counter.
void startTimer(ParserContext* context);
// Microseconds since iStartTime.
int64_t calculateTime(const ParserContext* context);
// Records the context's finished message in maxParseTime and minParseTime.
void saveMsgStats(ParserContext* context);
// Records one counted write of length bytes that took time microseconds: writeCount,
// sumOutputSize, the output size pair, the write time pair (time cut to 32 bits) and
// sumWriteTime (in full).
void saveWriteStats(int32_t length, int64_t time);

// ---- 16-bit string helpers -------------------------------------------------------------------
int isUcsSpace(char16_t c);                              // 1 for 9 to 13 and 32
void ucsCopy(char16_t* destination, const char16_t* source);  // copies up to and with the zero
int ucsLength(const char16_t* text);
int ucsCompare(const char16_t* a, const char16_t* b);    // unsigned difference of first mismatch

#endif  // CORVALE_PLUGIN_CORVALE_H

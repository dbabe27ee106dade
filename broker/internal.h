// internal.h - the records behind the opaque handles of brokerapi.h, shared by the broker's
// source files and nothing else.
//
// Ownership. A message (Message::State) owns its arena; every element of the message, its name
// and its values live in that arena and die with the message. A parser (Parser::State, which is
// the CciParser record) knows the messages it made and the one it is serving; the messages know
// their parser until it is destroyed. Factories and their classes live as long as the process.
//
// Checks. Each record starts with a tag that is set while the record is alive and cleared when it
// dies, so that a null pointer or a pointer to some other record is refused with a return code.
#ifndef CORVALE_BROKER_INTERNAL_H
#define CORVALE_BROKER_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "broker/arena.h"
#include "broker/broker.h"

namespace broker::detail {

constexpr uint32_t kElementTag = 0x454C454Du;  // "ELEM"
constexpr uint32_t kParserTag = 0x50415253u;   // "PARS"
constexpr uint32_t kMessageTag = 0x4D534753u;  // "MSGS"
constexpr uint32_t kFactoryTag = 0x46414354u;  // "FACT"

inline void setRc(int* rc, int value) {
  if (rc) *rc = value;
}

// Where a parser stands with the message it serves.
enum class Mode { idle, parsing, writing };

}  // namespace broker::detail

// One element of a message tree. Trivially destructible: the arena frees it without running a
// destructor.
struct CciElement {
  uint32_t tag;              // kElementTag while the message lives
  int32_t type;              // CCI_ELEMENT_TYPE_NAME, _VALUE or _NAME_VALUE
  int32_t valueType;         // CCI_ELEMENT_TYPE_UNKNOWN until a value is set
  uint8_t completePrevious;  // 1: no child will come before the first child
  uint8_t completeNext;      // 1: no child will come after the last child
  const char16_t* name;      // nameLength units in the arena, no terminating zero
  int32_t nameLength;
  union {
    bool boolean;
    int64_t integer;
    double real;
    CciTime time;
    CciDate date;
    CciTimestamp timestamp;
    struct {
      const void* data;  // characters (char16_t) or bytes, in the arena
      int32_t length;    // in units of the value type
    } array;
  } value;
  CciElement* parent;
  CciElement* firstChild;
  CciElement* lastChild;
  CciElement* previous;
  CciElement* next;
  // The parser whose callbacks complete this element; null for elements built by hand. Only
  // dereferenced when it equals message->parser, which is known to be alive.
  CciParser* owner;
  broker::Message::State* message;
};
static_assert(std::is_trivially_destructible_v<CciElement>);

// A parser class as the plug-in defined it.
struct ParserClass {
  std::u16string name;
  const CpiFunctionTable* table;  // owned by the plug-in, alive while it is loaded
};

// A factory and its classes. Never freed: handles stay valid for the life of the process.
struct CciFactory {
  uint32_t tag = broker::detail::kFactoryTag;
  std::u16string name;
  std::vector<ParserClass> classes;  // in the order defined; guarded by the registry lock
};

// One parser instance. Used by one thread at a time, with its messages.
struct CciParser {
  uint32_t tag = broker::detail::kParserTag;
  const CpiFunctionTable* table = nullptr;
  CciContext* context = nullptr;
  std::string className;
  std::u16string className16;
  // The message being parsed or written (cpiRootElement, cpiBufferSize refer to it), or null.
  broker::Message::State* current = nullptr;
  broker::detail::Mode mode = broker::detail::Mode::idle;
  std::string output;  // the output bit stream of the write in progress
  // True while one of this parser's callbacks runs: navigation then answers from the tree as it
  // stands instead of calling the plug-in again from inside itself.
  bool inCallback = false;
  // Messages made by this parser that are still alive, told when the parser dies: a list linked
  // through the messages themselves, so that making a message allocates nothing for it here.
  broker::Message::State* firstMessage = nullptr;
};

struct broker::Message::State {
  uint32_t tag = detail::kMessageTag;
  detail::Arena arena;
  std::vector<uint8_t> input;  // the input bit stream, exactly as many bytes as the message
  CciElement* root = nullptr;
  CciElement* properties = nullptr;
  CciElement* body = nullptr;
  CciParser* parser = nullptr;  // the parser that made the message; null once it is destroyed
  int parsedLength = 0;
  // Bumped by every change to the tree, so that navigation can tell whether a callback did
  // anything.
  uint64_t changes = 0;
  std::optional<Error> failure;
  // Neighbours in the parser's list of live messages (CciParser::firstMessage).
  State* previousOfParser = nullptr;
  State* nextOfParser = nullptr;

  ~State();
};

struct broker::Parser::State : CciParser {};

namespace broker::detail {

// True for a live element of a live message.
inline bool validElement(const CciElement* element) {
  return element && element->tag == kElementTag && element->message &&
         element->message->tag == kMessageTag;
}

inline bool validParser(const CciParser* parser) {
  return parser && parser->tag == kParserTag;
}

// The four directions of navigation.
enum class Direction { firstChild, lastChild, nextSibling, previousSibling };

// Whether the element's answer in that direction is settled: no callback of its parser would be
// asked for it (cni* navigation then answers from the tree as it stands).
inline bool settled(const CciElement* element, Direction direction) {
  switch (direction) {
    case Direction::firstChild:
      return element->completePrevious != 0;
    case Direction::lastChild:
      return element->completeNext != 0;
    case Direction::nextSibling:
      return element->next || !element->parent || element->parent->completeNext != 0;
    case Direction::previousSibling:
      return element->previous || !element->parent || element->parent->completePrevious != 0;
  }
  return true;
}

// The element's neighbour in that direction in the tree as it stands.
inline CciElement* rawAnswer(const CciElement* element, Direction direction) {
  switch (direction) {
    case Direction::firstChild:
      return element->firstChild;
    case Direction::lastChild:
      return element->lastChild;
    case Direction::nextSibling:
      return element->next;
    case Direction::previousSibling:
      return element->previous;
  }
  return nullptr;
}

// What the cpi* (onDemand false) and cni* (onDemand true) navigation functions answer, with rc
// set as they set it.
CciElement* navigate(int* rc, CciElement* element, Direction direction, bool onDemand);

// A new detached element in the message's arena.
CciElement* newElement(Message::State& message, CciParser* owner, int type,
                       std::u16string_view name, bool completePrevious, bool completeNext);
// Links a detached element as the last child of parent (same message).
void linkLastChild(CciElement* parent, CciElement* child);
// A message whose tree holds "Root", "Properties" and the body element named after the class;
// registered with the parser. bodyComplete sets both bits of the body.
std::unique_ptr<Message::State> newMessage(CciParser& parser, const Properties& properties,
                                           bool bodyComplete);

// Code page conversion of exactly count units (zeros included). Each returns the number of units
// written and sets rc (0, or CCI_CONVERSION_FAILED for an unknown code page or text that has no
// form in it, in which case the unmappable units are substituted).
int bytesToUnits(const char* bytes, int count, char16_t* out, int ccsid, int* rc);
// out must hold maxBytesPerUnit(ccsid) * count bytes.
int unitsToBytes(const char16_t* units, int count, char* out, int ccsid, int* rc);
int maxBytesPerUnit(int ccsid);

// The text of a return code, for error messages.
const char* describeRc(int rc);

// An exception from a callback that is not a broker exception, as the Error recorded for it.
Error foreignException(const char* what);

// The callback boundary: runs call (one callback of parser) with parser.inCallback set. What the
// callback throws stops here: it is stored in failure (a broker::Error as it was thrown, anything
// else as foreignException) and CCI_PARSER_EXCEPTION is returned; CCI_SUCCESS otherwise.
template <typename Call>
int runCallback(CciParser& parser, std::optional<Error>& failure, Call call) {
  struct Scope {
    CciParser& parser;
    bool outer;
    ~Scope() { parser.inCallback = outer; }
  } scope{parser, parser.inCallback};
  parser.inCallback = true;
  try {
    call();
    return CCI_SUCCESS;
  } catch (const Error& error) {
    failure = error;
  } catch (const std::exception& error) {
    failure = foreignException(error.what());
  } catch (...) {
    failure = foreignException("unknown exception");
  }
  return CCI_PARSER_EXCEPTION;
}

// Throws for a failed element call of the C++ API: the message's recorded Error for
// CCI_PARSER_EXCEPTION, UsageError naming operation otherwise. Returns when rc is CCI_SUCCESS.
void throwOnFailure(int rc, const CciElement* element, const char* operation);

}  // namespace broker::detail

#endif  // CORVALE_BROKER_INTERNAL_H

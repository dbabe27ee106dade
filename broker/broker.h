// broker - the stand-in message broker: loads a parser plug-in exactly as a broker would and
// drives it.
//
// It implements every function of plugin/brokerapi.h (element trees, bit streams, properties,
// code pages, exceptions, the log) and offers this small C++ API on top:
//
//   broker::Plugin plugin("build/default/plugin/production/Corvale.lil");
//   broker::Parser parser(plugin, "FIX");
//   broker::Message msg = parser.parse(bytes, {.messageSet = "", .ccsid = 437});
//   for (broker::Element e = msg.body().firstChild(); e; e = e.nextSibling()) ...
//   std::string fix = parser.write(msg);
//
// A message tree: a root "Root" whose first child is the "Properties" folder ("MessageSet",
// "CodedCharSetId"), then the parser's root element named after the parser class. Memory for a
// message's elements comes from one arena per message, released with the message.
//
// Navigation through Element is the cni* kind: it runs the owning parser's callbacks while the
// element is incomplete in the direction asked, so a walk drives the plug-in's lazy parse. An
// exception the plug-in raises there (or in cpiParseBuffer, cpiWriteBuffer) comes out as
// broker::Error; the message has then failed, and the parser is ready for the next one.
//
// A parser serves one message at a time: once it is handed the next message (or a write),
// walking into an unparsed part of an earlier message raises broker::UsageError; what was
// already built stays readable until the message is destroyed.
//
// Threads: different Parser objects may be used on different threads at once; one Parser (and
// its messages) on one thread at a time. The log, the class registry and the code page tables
// are shared and locked.
//
// Handles: every C function checks the handle it is given (null, or not an element/parser record)
// and answers with a return code. A handle into a message that has been destroyed, or of a parser
// that has been destroyed, is not detectable: using one is undefined behaviour.
#ifndef CORVALE_BROKER_BROKER_H
#define CORVALE_BROKER_BROKER_H

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/brokerapi.h"

// The C++ API's types and functions are exported from the broker library (hidden by default).
#define BROKER_API __attribute__((visibility("default")))

namespace broker {

// What a plug-in passed to cciThrowException (or to cciLog, for LogEvent).
struct BROKER_API Error : std::exception {
  int type = 0;
  uint32_t number = 0;
  std::string sourceFile;
  int line = 0;
  std::string function;
  std::u16string messageSource;
  std::string traceText;
  std::vector<std::string> inserts;

  // "0xCFFF000E: <trace text> [insert, insert]" (trace text without its trailing newline).
  const char* what() const noexcept override;
  std::string describe() const;

 private:
  mutable std::string what_;
};
using LogEvent = Error;

// A misuse of the broker API itself (unknown class, a message walked after its parser moved on,
// a plug-in that cannot be loaded).
struct BROKER_API UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The broker's log (cciLog): kept in memory, and echoed to standard error unless turned off.
BROKER_API std::vector<LogEvent> logEvents();
BROKER_API void clearLog();
BROKER_API void setLogToStderr(bool on);

// Test hook: the next cpiCreateParserFactory (in any thread) fails, returning null with
// CCI_FAILURE, as a broker out of resources would.
BROKER_API void failNextFactoryCreation();

// Message properties.
struct Properties {
  std::string messageSet;  // "" for FIX messages, "SYSTMGMT" for management messages
  int ccsid = 437;         // CodedCharSetId
  bool hasCcsid = true;    // false: the property is left out
};

class Message;
class Parser;

// A handle to an element of a message tree. Null handles are false.
class BROKER_API Element {
 public:
  Element() = default;
  explicit Element(CciElement* handle) : handle_(handle) {}
  explicit operator bool() const { return handle_ != nullptr; }
  CciElement* handle() const { return handle_; }
  bool operator==(const Element& other) const { return handle_ == other.handle_; }
  bool operator!=(const Element& other) const { return handle_ != other.handle_; }

  // cni* navigation: completes the element first (may run the plug-in; may throw Error).
  Element firstChild() const;
  Element lastChild() const;
  Element nextSibling() const;
  Element previousSibling() const;
  Element parent() const;
  // cpi* navigation: the tree as it stands, never parses.
  Element rawFirstChild() const;
  Element rawLastChild() const;
  Element rawNextSibling() const;
  Element rawPreviousSibling() const;

  std::u16string name() const;
  std::string nameUtf8() const;
  int type() const;       // CCI_ELEMENT_TYPE_NAME, _VALUE or _NAME_VALUE
  int valueType() const;  // CCI_ELEMENT_TYPE_UTF16 ... ; CCI_ELEMENT_TYPE_UNKNOWN: no value
  bool completePrevious() const;
  bool completeNext() const;

  // Values; each throws UsageError when the element holds another type.
  std::u16string characterValue() const;
  std::string text() const;  // character value as UTF-8
  std::vector<uint8_t> bytes() const;
  int64_t integerValue() const;
  double realValue() const;
  bool booleanValue() const;
  CciDate dateValue() const;
  CciTime timeValue() const;
  CciTimestamp timestampValue() const;

  // Building (for trees made without a parse): each adds a new complete element as last child.
  Element addFolder(std::string_view name) const;
  Element addText(std::string_view name, std::string_view value) const;
  Element addText(std::string_view name, std::u16string_view value) const;
  Element addBytes(std::string_view name, const std::vector<uint8_t>& value) const;
  Element addInteger(std::string_view name, int64_t value) const;
  Element addReal(std::string_view name, double value) const;
  Element addBoolean(std::string_view name, bool value) const;
  Element addDate(std::string_view name, CciDate value) const;
  Element addTime(std::string_view name, CciTime value) const;
  Element addTimestamp(std::string_view name, CciTimestamp value) const;

 private:
  CciElement* handle_ = nullptr;
};

// A loaded parser plug-in. Loading calls its bipGetParserFactory once.
//
// A library stays loaded for the life of the process, as in a broker; a second Plugin of the same
// library shares the factory of the first and does not call bipGetParserFactory again (unless it
// returned null then). Parsers must not outlive their Plugin.
class BROKER_API Plugin {
 public:
  explicit Plugin(const std::string& path);  // throws UsageError with the loader's reason
  // A plug-in linked into this program: entry plays the part of its bipGetParserFactory; name
  // stands for the path in messages.
  explicit Plugin(BipGetParserFactoryFn entry, const std::string& name = "(in-process plug-in)");
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  CciFactory* factory() const { return factory_; }  // null when the plug-in created none
  std::string factoryName() const;
  std::vector<std::string> classNames() const;  // in the order the plug-in defined them
  // The callback table of a class, or null.
  const CpiFunctionTable* functionTable(const std::string& className) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* library_ = nullptr;
  CciFactory* factory_ = nullptr;
};

// One message: its input bit stream, properties and element tree (with its arena).
class BROKER_API Message {
 public:
  Message(Message&&) noexcept;
  Message& operator=(Message&&) noexcept;
  ~Message();

  Element root() const;        // "Root"
  Element properties() const;  // "Properties"
  Element body() const;        // the parser's root element ("FIX" or "FIXONLY")
  int parsedLength() const;    // what cpiParseBuffer returned (0 for a built tree)
  // Walks every element with cni* navigation so that nothing is left unparsed.
  void complete() const;
  // The exception that failed the message (raised by a callback of its parse), or null.
  const Error* failure() const;

  struct State;
  explicit Message(std::unique_ptr<State> state);
  State* state() const { return state_.get(); }

 private:
  std::unique_ptr<State> state_;
};

// An instance of a parser class, with its own plug-in context.
class BROKER_API Parser {
 public:
  Parser(const Plugin& plugin, const std::string& className);  // throws UsageError
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Hands bytes to the plug-in (cpiParseBuffer); the FIX message starts at offset. Throws Error
  // when the plug-in rejects the message at once.
  Message parse(std::string_view bytes, const Properties& properties = {}, int offset = 0);
  // An empty message tree of this parser's class, complete, for building by hand.
  Message createMessage(const Properties& properties = {});
  // Completes the message's parse, then has the plug-in write it (cpiWriteBuffer); returns the
  // bytes appended to the output stream. Throws Error when the plug-in raises one.
  std::string write(const Message& message);

  CciParser* handle() const;
  CciContext* context() const;
  const std::string& className() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Code page helpers of the broker (the same conversions as cciMbsToUcs / cciUcsToMbs).
// Unlike the C functions, these convert every unit, zeros included. Code pages are ICU's tables
// for the coded character set ids (1252 is the Latin-1 table without the euro sign; 5348 has
// it); unknown ids, and two-byte ones such as UTF-16, fail.
BROKER_API std::u16string toUnicode(std::string_view bytes, int ccsid);   // throws UsageError
BROKER_API std::string fromUnicode(std::u16string_view text, int ccsid);  // throws UsageError
// Invalid sequences become U+FFFD.
BROKER_API std::u16string utf16(std::string_view utf8);
BROKER_API std::string utf8(std::u16string_view text);

}  // namespace broker

#endif  // CORVALE_BROKER_BROKER_H

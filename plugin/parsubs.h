// parsubs - element and property helpers, and the one way the plug-in reports a problem.
//
// Rendering any element's value as text in a code page, finding an element by name among its
// siblings, reading the message properties (CodedCharSetId, MessageSet) and the name of the
// parser's root element. None of these keeps state or raises: a broker return code that is not 0
// ends a lookup with null, 0 or an empty text.
//
// Errors. Every error in a message goes through raiseError: count it (invalidMsgCount while
// parsing, invalidOutputCount while writing), set iError, format the text, trace it, and raise a
// broker exception with message source "fixerr". Problems outside a message go to the broker's log
// through traceError (message number 0x8FFF0001). No other code formats an exception.
#ifndef CORVALE_PLUGIN_PARSUBS_H
#define CORVALE_PLUGIN_PARSUBS_H

#include <atomic>
#include <cstdint>
#include <initializer_list>

#include "brokerapi.h"
#include "corvale.h"

// Message numbers of the plug-in's errors (message source "fixerr").
enum FixError : uint32_t {
  FIXERR_NO_BEGIN_STRING = 0xCFFF000A,
  FIXERR_NO_BEGIN_DELIMITER = 0xCFFF000B,
  FIXERR_NO_END_DELIMITER = 0xCFFF000C,
  FIXERR_NO_CHECKSUM = 0xCFFF000D,
  FIXERR_CHECKSUM_MISMATCH = 0xCFFF000E,
  FIXERR_EMPTY_TAG = 0xCFFF0014,
  FIXERR_UNRECOGNIZED_NAME = 0xCFFF0015,
  FIXERR_NO_METADATA = 0xCFFF0016,
  FIXERR_TAG_TOO_LONG = 0xCFFF0017,
  FIXERR_TAG_CHARACTER = 0xCFFF0018,
  FIXERR_RAW_LENGTH_TYPE = 0xCFFF001E,
  FIXERR_RAW_LENGTH_ZERO = 0xCFFF001F,
  FIXERR_RAW_LENGTH_EXCEEDS = 0xCFFF0020,
  FIXERR_RAW_NO_DELIMITER = 0xCFFF0021,
  FIXERR_MULTIBYTE_CODE_PAGE = 0xCFFF0022,
  FIXERR_LOG_UNREADABLE = 0x8FFF0001,
};

// Which counter an error adds to, and how its text is traced.
enum class ErrorPhase {
  Parse,  // invalidMsgCount; traced as "%s\n" under traceModule
  Write,  // invalidOutputCount; traced as it stands under traceWrite
};

// One insert of a raised error: a number (written with "%d") or a text (cut to its buffer).
class ErrorInsert {
 public:
  ErrorInsert(int number);        // NOLINT(google-explicit-constructor): reads as a list
  ErrorInsert(const char* text);  // NOLINT(google-explicit-constructor)
  const char* text() const { return text_; }

 private:
  char text_[256];
};

// The steps every raising operation takes, in order: count, mark iError, format the text
// (printf-style format and arguments), trace it, raise through cciThrowException with exception
// type 3, source file, line, function, "fixerr", number, text, the inserts and a null. Never
// returns.
[[noreturn]] void raiseError(ParserContext* context, ErrorPhase phase, const char* sourceFile,
                             int line, const char* function, uint32_t number,
                             std::initializer_list<ErrorInsert> inserts, const char* format, ...);

// Logs a problem that belongs to no message: formats into 4,192 bytes and calls cciLog with log
// type 0, function "traceError", "fixerr", 0x8FFF0001, the text, and the text again as the one
// insert. Returns normally, in both builds.
void traceError(const char* sourceFile, int line, const char* format, ...);

// ---- Element and property helpers ------------------------------------------------------------
// The element that carries the value: the element itself for a value or name-value element, the
// first child of a name element when that child is a value element; otherwise null.
CciElement* valueElementOf(CciElement* element);
// Two-digit text of the whole seconds, into destination (at least 3 bytes).
void twoDigitSeconds(char* destination, double seconds);
// The element's value as zero-terminated text of at most size - 1 bytes in codePage. Returns 0 on
// success, 1 when there is nothing to render, or the broker's return code of the last conversion.
int elementValueToText(char* buffer, int size, CciElement* element, int codePage);
// The element itself or its first following sibling named name; null when none.
CciElement* findNextElement(CciElement* element, const char16_t* name);
// The message property of that name, under the first child of the message root.
CciElement* findProperty(CciParser* parser, const char16_t* name);
// The CodedCharSetId property as a number; 0 when missing.
int getCodedCharSetId(CciParser* parser);
// The parser's root element's name in code page 437, at most size - 1 bytes.
void getRootName(CciParser* parser, char* buffer, int size);
// The MessageSet property in code page 437, at most size - 1 bytes.
void getMessageSet(CciParser* parser, char* buffer, int size);

// ---- ASCII in a code page --------------------------------------------------------------------
// The byte of every ASCII character in one code page, from one broker conversion of all of them.
// When some ASCII character is not a single byte there, `direct` is false and texts go through
// the broker's conversion; when it is true, an ASCII text converts byte for byte through `bytes`,
// exactly as the broker converts it.
struct AsciiBytes {
  int codePage = -1;
  bool direct = false;
  uint8_t bytes[128] = {};
  // The digit written as this byte (the lowest, should two digits share a byte), or -1.
  int8_t digitOf[256] = {};
};

namespace asciibytes_detail {
extern std::atomic<const AsciiBytes*> lastAsked;
const AsciiBytes& otherCodePage(int codePage);
}  // namespace asciibytes_detail

// The table of a code page. A code page's bytes never change, so a table is built once and, for
// the code pages that have one (direct), kept for the life of the process; the one asked for last
// is answered inline without a lock, as the writer asks for it for every text it appends. Other
// tables are kept per thread, valid until the thread asks for another one.
inline const AsciiBytes& asciiBytes(int codePage) {
  const AsciiBytes* last = asciibytes_detail::lastAsked.load(std::memory_order_acquire);
  if (last != nullptr && last->codePage == codePage) return *last;
  return asciibytes_detail::otherCodePage(codePage);
}

const char* parsubsVersion();

#endif  // CORVALE_PLUGIN_PARSUBS_H

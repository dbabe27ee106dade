// parsubs - element and property helpers, and the one way the plug-in reports a problem.
#include "parsubs.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>

#include "trace.h"

#if CORVALE_DIAGNOSTIC
const char* parsubsVersion() {
  return "parsubs V1.0 Debug version (" __DATE__ " " __TIME__ ")";
}
#else
const char* parsubsVersion() {
  return "parsubs V1.0 Release version (" __DATE__ " " __TIME__ ")";
}
#endif

namespace {

constexpr char16_t kMessageSource[] = u"fixerr";
// Formatted error and log texts: the callers' texts are short.
constexpr int kErrorTextSize = 4192;
// The most inserts any error carries; more are dropped.
constexpr int kMaxInserts = 8;

}  // namespace

// ---- Errors ------------------------------------------------------------------------------

ErrorInsert::ErrorInsert(int number) {
  std::snprintf(text_, sizeof text_, "%d", number);
}

ErrorInsert::ErrorInsert(const char* text) {
  text_[0] = 0;
  if (text != nullptr) std::strncat(text_, text, sizeof text_ - 1);
}

void raiseError(ParserContext* context, ErrorPhase phase, const char* sourceFile, int line,
                const char* function, uint32_t number, std::initializer_list<ErrorInsert> inserts,
                const char* format, ...) {
  bumpCounter(phase == ErrorPhase::Parse ? invalidMsgCount : invalidOutputCount);
  if (context != nullptr) context->iError = 1;

  char text[kErrorTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  if (phase == ErrorPhase::Parse) {
    TRACE(traceModule, "%s\n", text);
  } else {
    TRACE(traceWrite, "%s", text);
  }

  // The inserts, then nulls: the broker reads up to the first null.
  const char* texts[kMaxInserts] = {};
  assert(inserts.size() <= static_cast<size_t>(kMaxInserts));
  int count = 0;
  for (const ErrorInsert& insert : inserts) {
    if (count == kMaxInserts) break;
    texts[count++] = insert.text();
  }
  int rc = 0;
  cciThrowException(&rc, CCI_EXCEPTION_TYPE_PARSER, sourceFile, line, function, kMessageSource,
                    number, text, texts[0], texts[1], texts[2], texts[3], texts[4], texts[5],
                    texts[6], texts[7], static_cast<const char*>(nullptr));
}

void traceError(const char* sourceFile, int line, const char* format, ...) {
  char text[kErrorTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  int rc = 0;
  cciLog(&rc, CCI_LOG_TYPE_ERROR, sourceFile, line, "traceError", kMessageSource,
         FIXERR_LOG_UNREADABLE, text, text, static_cast<const char*>(nullptr));
}

// ---- ASCII in a code page ----------------------------------------------------------------

std::atomic<const AsciiBytes*> asciibytes_detail::lastAsked{nullptr};

namespace {

AsciiBytes buildAsciiBytes(int codePage) {
  AsciiBytes table;
  char16_t units[128];
  for (int c = 1; c < 128; ++c) units[c - 1] = static_cast<char16_t>(c);
  units[127] = 0;
  char bytes[3 * 128] = {};
  int rc = 0;
  const int written = cciUcsToMbs(&rc, units, bytes, 127, codePage);
  table.codePage = codePage;
  table.direct = rc == CCI_SUCCESS && written == 127;
  for (int c = 1; c < 128; ++c) table.bytes[c] = static_cast<uint8_t>(bytes[c - 1]);
  std::fill(std::begin(table.digitOf), std::end(table.digitOf), static_cast<int8_t>(-1));
  for (int d = 9; d >= 0; --d) table.digitOf[table.bytes['0' + d]] = static_cast<int8_t>(d);
  return table;
}

// The kept tables, never freed. Code pages without a table, and those past the kept ones, are
// built per thread as they are asked for, so that arbitrary code page ids cannot grow the
// process's memory.
constexpr int kKeptAsciiTables = 32;
std::mutex asciiTablesLock;
const AsciiBytes* asciiTables[kKeptAsciiTables] = {};  // guarded by asciiTablesLock
int asciiTableCount = 0;                               // guarded by asciiTablesLock

}  // namespace

// asciiBytes() when the table asked for last is another code page's.
const AsciiBytes& asciibytes_detail::otherCodePage(int codePage) {
  {
    std::lock_guard<std::mutex> lock(asciiTablesLock);
    for (int i = 0; i < asciiTableCount; ++i) {
      if (asciiTables[i]->codePage == codePage) {
        asciibytes_detail::lastAsked.store(asciiTables[i], std::memory_order_release);
        return *asciiTables[i];
      }
    }
  }
  thread_local AsciiBytes unkept;
  if (unkept.codePage == codePage) return unkept;
  AsciiBytes built = buildAsciiBytes(codePage);
  if (built.direct) {
    std::lock_guard<std::mutex> lock(asciiTablesLock);
    for (int i = 0; i < asciiTableCount; ++i) {
      if (asciiTables[i]->codePage == codePage) return *asciiTables[i];  // built meanwhile
    }
    if (asciiTableCount < kKeptAsciiTables) {
      const AsciiBytes* kept = new AsciiBytes(built);
      asciiTables[asciiTableCount++] = kept;
      asciibytes_detail::lastAsked.store(kept, std::memory_order_release);
      return *kept;
    }
  }
  unkept = built;
  return unkept;
}

// ---- Element and property helpers --------------------------------------------------------

namespace {

// A character value is rendered when it has fewer characters than this; a longer one renders as
// nothing (return 1).
constexpr int kCharacterValueSize = 65536;
// Character values up to this many characters (and the zero) are read on the stack; longer ones
// into a heap buffer sized from the length the broker reports.
constexpr int kStackValueSize = 256;
// Texts up to this many characters are converted into a code page on the stack (4 bytes per
// character covers every multi-byte code page); longer ones on the heap.
constexpr int kStackConversionUnits = 256;
// The single-byte texts built for numbers, times and dates.
constexpr int kScalarTextSize = 400;
// Element names read by findNextElement and getRootName.
constexpr int kSearchNameSize = 64;
constexpr int kRootNameBufferSize = 256;
// The rendered number of getCodedCharSetId.
constexpr int kCodedCharSetIdSize = 255;

// Converts length 16-bit characters into buffer in codePage, up to the first zero character, cut
// to size - 1 bytes and terminated. The conversion goes through a scratch buffer large enough for
// any code page, so nothing is written outside buffer. Returns the broker's return code.
int ucsToCodePage(const char16_t* text, int length, char* buffer, int size, int codePage) {
  buffer[0] = 0;
  if (length <= 0) return 0;
  const AsciiBytes& ascii = asciiBytes(codePage);
  if (ascii.direct) {
    int ended = 0;  // the text's end: its length, or its first zero character
    while (ended < length && text[ended] != 0 && text[ended] < 128) ++ended;
    if (ended == length || text[ended] == 0) {
      // All ASCII, which this code page's table converts exactly as the broker does, every
      // character mapped. A zero byte ends the text here too.
      int n = 0;
      for (; n < ended && n < size - 1 && ascii.bytes[text[n]] != 0; ++n)
        buffer[n] = static_cast<char>(ascii.bytes[text[n]]);
      buffer[n] = 0;
      return 0;
    }
  }
  // Up to 4 bytes per 16-bit unit in any multi-byte code page. Only the bytes the broker reports
  // as written are read, so the scratch is never cleared first.
  char small[4 * kStackConversionUnits];
  std::unique_ptr<char[]> large;
  char* scratch = small;
  if (length > kStackConversionUnits) {
    large.reset(new char[static_cast<size_t>(length) * 4]);
    scratch = large.get();
  }
  int rc = 0;
  // Exactly length units: the broker stops at a zero unit by itself, and the count keeps it from
  // reading past the text when there is none.
  const int written = cciUcsToMbs(&rc, text, scratch, length, codePage);
  // A zero byte inside the converted bytes ends the text, as a zero unit does.
  size_t converted = strnlen(scratch, static_cast<size_t>(written > 0 ? written : 0));
  size_t keep =
      converted < static_cast<size_t>(size - 1) ? converted : static_cast<size_t>(size - 1);
  std::memcpy(buffer, scratch, keep);
  buffer[keep] = 0;
  return rc;
}

// A single-byte (code page 437) text, shorter than kScalarTextSize, rendered into codePage as
// ucsToCodePage renders it.
int code437ToCodePage(const char* text, char* buffer, int size, int codePage) {
  const size_t length = std::strlen(text);
  assert(length < static_cast<size_t>(kScalarTextSize));
  char16_t wide[kScalarTextSize];
  int rc = 0;
  const int written = cciMbsToUcs(&rc, text, wide, static_cast<int>(length) + 1, kDefaultCodePage);
  // Characters the conversion did not give count as zeros, which end the text.
  const size_t given = written > 0 ? static_cast<size_t>(written) : 0;
  if (given < length) std::fill(wide + given, wide + length, u'\0');
  return ucsToCodePage(wide, static_cast<int>(length), buffer, size, codePage);
}

// The real-number rule: whole part, then up to six fraction digits without trailing zeros.
void formatReal(char* text, size_t size, double v) {
  if (!std::isfinite(v)) {
    std::snprintf(text, size, "%f", v);
    return;
  }
  if (v < 0) {
    text[0] = '-';
    formatReal(text + 1, size - 1, -v);
    return;
  }
  int fraction = static_cast<int>(std::fmod(v, 1.0) * 1000000.0);
  char digits[8];
  std::snprintf(digits, sizeof digits, "%6.6d", fraction);
  int end = 6;
  while (end > 0 && digits[end - 1] == '0') --end;
  digits[end] = 0;
  if (end > 0) {
    std::snprintf(text, size, "%.0f.%s", std::floor(v), digits);
  } else {
    std::snprintf(text, size, "%.0f", std::floor(v));
  }
}

}  // namespace

CciElement* valueElementOf(CciElement* element) {
  int rc = 0;
  int type = cpiElementType(&rc, element);
  if (rc != 0) return nullptr;
  if (type == CCI_ELEMENT_TYPE_VALUE || type == CCI_ELEMENT_TYPE_NAME_VALUE) return element;
  if (type != CCI_ELEMENT_TYPE_NAME) return nullptr;
  CciElement* child = cpiFirstChild(&rc, element);
  if (rc != 0 || child == nullptr) return nullptr;
  int childType = cpiElementType(&rc, child);
  return rc == 0 && childType == CCI_ELEMENT_TYPE_VALUE ? child : nullptr;
}

void twoDigitSeconds(char* destination, double seconds) {
  double whole = std::trunc(seconds);
  // Seconds that an int cannot hold have no meaningful two digits; they show as 00.
  int value = std::isfinite(whole) && std::fabs(whole) < 2147483647.0 ? static_cast<int>(whole) : 0;
  char digits[16];
  int length = std::snprintf(digits, sizeof digits, "%d", value);
  // One digit gets a leading "0"; longer texts keep their first two characters.
  if (length < 2) {
    destination[0] = '0';
    destination[1] = digits[0];
  } else {
    destination[0] = digits[0];
    destination[1] = digits[1];
  }
  destination[2] = 0;
}

int elementValueToText(char* buffer, int size, CciElement* element, int codePage) {
  assert(buffer != nullptr && size >= 1);
  if (buffer == nullptr || size < 1) return 1;
  buffer[0] = 0;
  CciElement* e = valueElementOf(element);
  if (e == nullptr) return 1;

  int rc = 0;
  int valueType = cniElementValueType(&rc, e);
  if (rc != 0) return 1;

  // Numbers, times and dates are built as single-byte text first.
  char text[kScalarTextSize];
  text[0] = 0;
  switch (valueType) {
    case CCI_ELEMENT_TYPE_BOOLEAN: {
      CCI_BOOL value = cpiElementBooleanValue(&rc, e);
      if (rc != 0) return 1;
      const char16_t character[] = {value ? u'Y' : u'N', 0};
      return ucsToCodePage(character, 1, buffer, size, codePage);
    }
    case CCI_ELEMENT_TYPE_INTEGER: {
      int64_t value = cpiElementIntegerValue(&rc, e);
      if (rc != 0) return 1;
      std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
      code437ToCodePage(text, buffer, size, codePage);
      return 0;
    }
    case CCI_ELEMENT_TYPE_DECIMAL: {
      double value = cpiElementRealValue(&rc, e);
      if (rc != 0) return 1;
      formatReal(text, sizeof text, value);
      break;
    }
    case CCI_ELEMENT_TYPE_UTF16: {
      // Most values fit the stack buffer. For one that does not, the broker reports its full
      // length, so it is read again into a heap buffer sized exactly; the broker writes the
      // characters and their zero, so neither buffer is cleared first.
      char16_t small[kStackValueSize];
      const char16_t* characters = small;
      std::unique_ptr<char16_t[]> large;
      const int length = cpiElementCharacterValue(&rc, e, small, kStackValueSize);
      if (rc == CCI_INV_DATA_BUFLEN && length > 0 && length < kCharacterValueSize) {
        large.reset(new char16_t[static_cast<size_t>(length) + 1]);
        cpiElementCharacterValue(&rc, e, large.get(), length + 1);
        characters = large.get();
      }
      if (rc != 0) return 1;
      // The text ends at its first zero character.
      std::u16string_view value(characters);
      return ucsToCodePage(value.data(), static_cast<int>(value.size()), buffer, size, codePage);
    }
    case CCI_ELEMENT_TYPE_TIME:
    case CCI_ELEMENT_TYPE_GMTTIME: {
      CciTime value = cpiElementTimeValue(&rc, e);
      if (rc != 0) return 1;
      char seconds[3];
      twoDigitSeconds(seconds, value.seconds);
      std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2s", value.hour, value.minute, seconds);
      break;
    }
    case CCI_ELEMENT_TYPE_DATE: {
      CciDate value = cpiElementDateValue(&rc, e);
      if (rc != 0) return 1;
      std::snprintf(text, sizeof text, "%4.4d%2.2d%2.2d", value.year, value.month, value.day);
      break;
    }
    case CCI_ELEMENT_TYPE_TIMESTAMP:
    case CCI_ELEMENT_TYPE_GMTTIMESTAMP: {
      CciTimestamp value = cpiElementTimestampValue(&rc, e);
      if (rc != 0) return 1;
      char seconds[3];
      twoDigitSeconds(seconds, value.seconds);
      std::snprintf(text, sizeof text, "%4.4d%2.2d%2.2d-%2.2d:%2.2d:%2.2s", value.year, value.month,
                    value.day, value.hour, value.minute, seconds);
      break;
    }
    default:
      return 1;
  }
  return code437ToCodePage(text, buffer, size, codePage);
}

CciElement* findNextElement(CciElement* element, const char16_t* name) {
  TRACE(traceModule, "PLUGIN: -> findNextElement() name %S start (0x%x)\n", name,
        traceAddress(element));
  [[maybe_unused]] int skipped = 0;
  CciElement* found = nullptr;
  int rc = 0;
  for (CciElement* e = element; e != nullptr; ++skipped) {
    // The broker terminates what it copies, so the buffer is not cleared first.
    char16_t elementName[kSearchNameSize];
    cpiElementName(&rc, e, elementName, kSearchNameSize);
    // A name too long for the buffer cannot equal a searched name that fits; go on past it.
    if (rc != 0 && rc != CCI_INV_DATA_BUFLEN) break;
    if (rc == 0 && ucsCompare(elementName, name) == 0) {
      found = e;
      break;
    }
    e = cniNextSibling(&rc, e);
    if (rc != 0) break;
  }
  TRACE(traceModule, "PLUGIN: <- findNextElement() element %S (0x%x) skipped(%d)\n", name,
        traceAddress(found), skipped);
  return found;
}

CciElement* findProperty(CciParser* parser, const char16_t* name) {
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  if (rc != 0 || root == nullptr) return nullptr;
  CciElement* message = cpiParent(&rc, root);
  if (rc != 0 || message == nullptr) return nullptr;
  CciElement* folder = cniFirstChild(&rc, message);
  if (rc != 0 || folder == nullptr) return nullptr;
  CciElement* first = cniFirstChild(&rc, folder);
  if (rc != 0 || first == nullptr) return nullptr;
  return findNextElement(first, name);
}

int getCodedCharSetId(CciParser* parser) {
  CciElement* property = findProperty(parser, u"CodedCharSetId");
  if (property == nullptr) return 0;
  char text[kCodedCharSetIdSize];
  elementValueToText(text, sizeof text, property, kDefaultCodePage);
  return std::atoi(text);
}

void getRootName(CciParser* parser, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return;
  buffer[0] = 0;
  int rc = 0;
  CciElement* root = cpiRootElement(&rc, parser);
  if (rc != 0 || root == nullptr) return;
  // The broker terminates what it copies, so the buffer is not cleared first.
  char16_t name[kRootNameBufferSize];
  cpiElementName(&rc, root, name, kRootNameBufferSize);
  if (rc != 0) return;
  std::u16string_view text(name);
  ucsToCodePage(text.data(), static_cast<int>(text.size()), buffer, size, kDefaultCodePage);
}

void getMessageSet(CciParser* parser, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return;
  buffer[0] = 0;
  CciElement* property = findProperty(parser, u"MessageSet");
  if (property != nullptr) elementValueToText(buffer, size, property, kDefaultCodePage);
}

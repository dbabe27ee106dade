// trace - the diagnostic build's trace file, its five switches and their control by management
// messages. The production build keeps only the switches (all 0), the version string and empty
// control functions: no environment read, no file, no formatting code.
#include "trace.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#if CORVALE_DIAGNOSTIC
#define CORVALE_TRACE_START 1
#else
#define CORVALE_TRACE_START 0
#endif

// The switches: start value 1 in the diagnostic build (everything is traced from load on), 0 in
// the production build. Relaxed atomics without a lock: a thread sees a change at its next test.
std::atomic<int32_t> debug{CORVALE_TRACE_START};
std::atomic<int32_t> traceParser{CORVALE_TRACE_START};
std::atomic<int32_t> traceWrite{CORVALE_TRACE_START};
std::atomic<int32_t> traceModule{CORVALE_TRACE_START};
std::atomic<int32_t> traceMgmt{CORVALE_TRACE_START};

#if CORVALE_DIAGNOSTIC
const char* traceVersion() {
  return "trace V1.0 debug build (" __DATE__ " " __TIME__ ")";
}
#else
const char* traceVersion() {
  return "trace V1.0 release build (" __DATE__ " " __TIME__ ")";
}
#endif

namespace {

constexpr int kTraceFileNameMax = 255;  // characters of FIXTRACEFILE that are kept

// Set once by initializeTrace, before any other thread traces; read by startTrace.
char traceFileNameText[kTraceFileNameMax + 1] = "";

// The open trace stream, or null. Every write to it and its closing happen under traceLock, so a
// line is never mixed with another nor written to a closed stream.
std::mutex traceLock;
FILE* debugfile = nullptr;

}  // namespace

const char* traceFileName() {
  return traceFileNameText;
}

bool traceFileOpen() {
  std::lock_guard<std::mutex> hold(traceLock);
  return debugfile != nullptr;
}

#if CORVALE_DIAGNOSTIC

namespace {

// Appends one printf conversion of a single value, whatever its length.
template <typename T>
void appendConversion(std::string& out, const std::string& directive, T value) {
  char small[128];
  int length = std::snprintf(small, sizeof small, directive.c_str(), value);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    out.append(small, static_cast<size_t>(length));
    return;
  }
  size_t start = out.size();
  out.resize(start + static_cast<size_t>(length) + 1);
  std::snprintf(&out[start], static_cast<size_t>(length) + 1, directive.c_str(), value);
  out.resize(start + static_cast<size_t>(length));
}

// A 16-bit string as single-byte text: characters up to 255 as the byte of the same value
// (ASCII and Latin-1), anything else as '?'.
std::string narrowText(const char16_t* text) {
  if (text == nullptr) return "(null)";
  std::string narrow;
  for (; *text != 0; ++text) narrow.push_back(*text < 256 ? static_cast<char>(*text) : '?');
  return narrow;
}

// printf-style formatting with two additions: "%S" takes a const char16_t* and "%I64d" (also
// "%I64u", "%I64x") a 64-bit integer. "%n" is not supported and consumes its argument.
std::string formatTrace(const char* format, va_list args) {
  std::string out;
  const char* p = format;
  while (*p != 0) {
    if (*p != '%') {
      const char* literal = p;
      while (*p != 0 && *p != '%') ++p;
      out.append(literal, static_cast<size_t>(p - literal));
      continue;
    }
    ++p;  // past '%'
    if (*p == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    std::string directive = "%";
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) directive.push_back(*p++);
    if (*p == '*') {
      directive += std::to_string(va_arg(args, int));
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') directive.push_back(*p++);
    }
    if (*p == '.') {
      directive.push_back(*p++);
      if (*p == '*') {
        directive += std::to_string(va_arg(args, int));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') directive.push_back(*p++);
      }
    }
    // Length modifiers: 0 int, 1 long, 2 long long, 3 size_t, 4 intmax_t, 5 ptrdiff_t,
    // 6 long double, -1 char, -2 short.
    int length = 0;
    if (std::strncmp(p, "I64", 3) == 0) {
      length = 2;
      p += 3;
    } else if (p[0] == 'h' && p[1] == 'h') {
      length = -1;
      p += 2;
    } else if (p[0] == 'l' && p[1] == 'l') {
      length = 2;
      p += 2;
    } else if (*p == 'h') {
      length = -2;
      ++p;
    } else if (*p == 'l') {
      length = 1;
      ++p;
    } else if (*p == 'q') {
      length = 2;
      ++p;
    } else if (*p == 'z') {
      length = 3;
      ++p;
    } else if (*p == 'j') {
      length = 4;
      ++p;
    } else if (*p == 't') {
      length = 5;
      ++p;
    } else if (*p == 'L') {
      length = 6;
      ++p;
    }
    char conversion = *p;
    if (conversion == 0) break;  // a lone '%' at the end is dropped
    ++p;
    switch (conversion) {
      case 'd':
      case 'i':
        directive += "lld";
        if (length == 1) {
          appendConversion(out, directive, static_cast<long long>(va_arg(args, long)));
        } else if (length == 2) {
          appendConversion(out, directive, va_arg(args, long long));
        } else if (length == 3 || length == 5) {
          appendConversion(out, directive, static_cast<long long>(va_arg(args, ptrdiff_t)));
        } else if (length == 4) {
          appendConversion(out, directive, static_cast<long long>(va_arg(args, intmax_t)));
        } else {
          int value = va_arg(args, int);
          if (length == -1) value = static_cast<signed char>(value);
          if (length == -2) value = static_cast<short>(value);
          appendConversion(out, directive, static_cast<long long>(value));
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        directive += "ll";
        directive.push_back(conversion);
        unsigned long long value;
        if (length == 1) {
          value = va_arg(args, unsigned long);
        } else if (length == 2) {
          value = va_arg(args, unsigned long long);
        } else if (length == 3 || length == 5) {
          value = va_arg(args, size_t);
        } else if (length == 4) {
          value = va_arg(args, uintmax_t);
        } else {
          unsigned int narrow = va_arg(args, unsigned int);
          if (length == -1) narrow = static_cast<unsigned char>(narrow);
          if (length == -2) narrow = static_cast<unsigned short>(narrow);
          value = narrow;
        }
        appendConversion(out, directive, value);
        break;
      }
      case 'c':
        directive.push_back('c');
        appendConversion(out, directive, va_arg(args, int));
        break;
      case 's': {
        directive.push_back('s');
        const char* text = va_arg(args, const char*);
        appendConversion(out, directive, text != nullptr ? text : "(null)");
        break;
      }
      case 'S': {
        directive.push_back('s');
        std::string text = narrowText(va_arg(args, const char16_t*));
        appendConversion(out, directive, text.c_str());
        break;
      }
      case 'p':
        directive.push_back('p');
        appendConversion(out, directive, va_arg(args, void*));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length == 6) {
          directive.push_back('L');
          directive.push_back(conversion);
          appendConversion(out, directive, va_arg(args, long double));
        } else {
          directive.push_back(conversion);
          appendConversion(out, directive, va_arg(args, double));
        }
        break;
      case 'n':
        (void)va_arg(args, void*);
        break;
      default:  // unknown conversion: shown as written
        out += directive;
        out.push_back(conversion);
        break;
    }
  }
  return out;
}

// Writes text to the open stream and flushes it; the caller holds traceLock.
void writeLocked(const std::string& text) {
  if (debugfile == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), debugfile);
  std::fflush(debugfile);
}

std::string formatLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatTrace(format, args);
  va_end(args);
  return text;
}

// The value of an environment variable as atoi reads it, when it is set and greater than 0.
void raiseFromEnvironment(const char* name, std::atomic<int32_t>& traceSwitch) {
  const char* value = std::getenv(name);
  if (value == nullptr) return;
  int number = std::atoi(value);
  if (number > 0) traceSwitch.store(number, std::memory_order_relaxed);
}

// The indentation of one tree dump line: level blanks, at most 31.
constexpr int kMaxIndent = 31;
// Element names and values in a dump line: 511 characters and a zero; longer ones are cut.
constexpr int kDumpTextSize = 512;

}  // namespace

void traceLog(const char* format, ...) {
  if (traceSwitch(debug) == 0) return;
  va_list args;
  va_start(args, format);
  std::string text = formatTrace(format, args);
  va_end(args);
  std::lock_guard<std::mutex> hold(traceLock);
  if (traceSwitch(debug) == 0) return;
  writeLocked(text);
}

void initializeTrace() {
  raiseFromEnvironment("FIXTRACEALL", debug);
  raiseFromEnvironment("FIXTRACEMGMT", traceMgmt);
  raiseFromEnvironment("FIXTRACEMODULE", traceModule);
  raiseFromEnvironment("FIXTRACEPARSER", traceParser);
  raiseFromEnvironment("FIXTRACEWRITE", traceWrite);

  traceFileNameText[0] = 0;
  const char* file = std::getenv("FIXTRACEFILE");
  if (file == nullptr) file = CORVALE_DEFAULT_TRACE_FILE;
  std::strncat(traceFileNameText, file, kTraceFileNameMax);

  startTrace();
}

void startTrace() {
  if (traceSwitch(debug) < 1) return;
  std::lock_guard<std::mutex> hold(traceLock);
  if (debugfile == nullptr) debugfile = std::fopen(traceFileNameText, "a+");
  if (debugfile == nullptr) return;  // cannot be opened: trace nothing, report nothing
  writeLocked(formatLine("Starting trace!!! - Corvale level 1.00 %s %s\n", __DATE__, __TIME__));
  writeLocked(formatLine(
      "Trace settings are debug=%d, Parser=%d, Writes=%d, Modules=%d, Mgmt=%d debugfile=0x%x\n",
      traceSwitch(debug), traceSwitch(traceParser), traceSwitch(traceWrite),
      traceSwitch(traceModule), traceSwitch(traceMgmt), traceAddress(debugfile)));
}

void traceElement(CciElement* element, int level) {
  char indent[kMaxIndent + 1];
  int blanks = level < 0 ? 0 : (level > kMaxIndent ? kMaxIndent : level);
  std::memset(indent, ' ', static_cast<size_t>(blanks));
  indent[blanks] = 0;

  int rc = 0;
  int type = cpiElementType(&rc, element);
  int previous = cpiElementCompletePrevious(&rc, element) != 0 ? 1 : 0;
  int next = cpiElementCompleteNext(&rc, element) != 0 ? 1 : 0;
  char16_t name[kDumpTextSize] = {};
  cpiElementName(&rc, element, name, kDumpTextSize);
  name[kDumpTextSize - 1] = 0;

  if (type == CCI_ELEMENT_TYPE_NAME) {
    traceLog("%s name element %S bits(%d %d)\n", indent, name, previous, next);
    return;
  }
  char16_t value[kDumpTextSize] = {};
  cpiElementCharacterValue(&rc, element, value, kDumpTextSize);
  value[kDumpTextSize - 1] = 0;
  traceLog("%s element %S bits(%d %d) value %S\n", indent, name, previous, next, value);
}

void traceTree(CciElement* element, int level) {
  traceElement(element, level);
  int rc = 0;
  CciElement* child = cpiFirstChild(&rc, element);
  while (rc == 0 && child != nullptr) {
    traceTree(child, level + 1);
    child = cpiNextSibling(&rc, child);
  }
}

void traceMemory(const void* address, int size) {
  if (traceSwitch(debug) == 0) return;
  traceLog("dumping memory at 0x%x for %d bytes\n", traceAddress(address), size);
  const unsigned char* bytes = static_cast<const unsigned char*>(address);
  constexpr int kBytesPerLine = 32;
  constexpr size_t kCharacterColumn = 41;
  for (int offset = 0; offset < size; offset += kBytesPerLine) {
    char characters[64];
    char hex[96];
    int c = std::snprintf(characters, sizeof characters, "%4.4d ", offset);
    int h = 0;
    int count = size - offset < kBytesPerLine ? size - offset : kBytesPerLine;
    for (int i = 0; i < count; ++i) {
      unsigned char byte = bytes[offset + i];
      characters[c++] = byte >= 32 && byte <= 127 ? static_cast<char>(byte) : '.';
      static const char kDigits[] = "0123456789ABCDEF";
      hex[h++] = kDigits[byte >> 4];
      hex[h++] = kDigits[byte & 0x0F];
      if ((i + 1) % 4 == 0) hex[h++] = ' ';
      if ((i + 1) % 8 == 0) characters[c++] = ' ';
    }
    while (static_cast<size_t>(c) < kCharacterColumn) characters[c++] = ' ';
    characters[c] = 0;
    hex[h] = 0;
    traceLog("%s %s\n", characters, hex);
  }
}

// ---- Trace control -----------------------------------------------------------------------

namespace {

constexpr int kWordLength = 8;

// A settings word and the switches it selects.
struct SettingsWord {
  const char* word;
  bool parser, write, module, mgmt;
};
constexpr SettingsWord kSettingsWords[] = {
    {"TRACEALL", true, true, true, true},    {"TRACEOFF", true, true, true, true},
    {"TRPARSE ", true, false, false, false}, {"TRWRITE ", false, true, false, false},
    {"TRMODULE", false, false, true, false}, {"TRMGMT  ", false, false, false, true},
};

}  // namespace

void processTraceOnMsg(int version, int modificationLevel, int dataLength, const char* data) {
  TRACE(traceModule, "PLUGIN: -> processTraceOnMsg() ver %d mod %d\n", version, modificationLevel);
  int count = dataLength > 0 && data != nullptr ? dataLength / kWordLength : 0;
  processTraceMessage(data, count, 1);
  TRACE(traceModule, "PLUGIN: <- processTraceOnMsg()\n");
}

void processTraceOffMsg() {
  if (traceSwitch(traceModule)) {
    traceLog("PLUGIN: -> processTraceOffMsg()\n");
    traceLog("Closing trace file\n");
  }
  processTraceMessage("TRACEOFF", 1, 0);
}

void processTraceMessage(const char* words, int count, int setting) {
  TRACE(traceModule, "PLUGIN: -> processTraceMessage(): count=%d, setting=%d\n", count, setting);
  for (int i = 0; i < count; ++i) {
    const char* word = words + static_cast<ptrdiff_t>(i) * kWordLength;
    for (const SettingsWord& row : kSettingsWords) {
      if (std::memcmp(word, row.word, kWordLength) != 0) continue;
      if (row.parser) traceParser.store(setting, std::memory_order_relaxed);
      if (row.write) traceWrite.store(setting, std::memory_order_relaxed);
      if (row.module) traceModule.store(setting, std::memory_order_relaxed);
      if (row.mgmt) traceMgmt.store(setting, std::memory_order_relaxed);
    }
  }
  bool anyExactlyOne = traceSwitch(traceParser) == 1 || traceSwitch(traceWrite) == 1 ||
                       traceSwitch(traceModule) == 1 || traceSwitch(traceMgmt) == 1;
  debug.store(anyExactlyOne ? 1 : 0, std::memory_order_relaxed);
  switchTraceFile();
  TRACE(traceModule,
        "PLUGIN: <- processTraceMessage(): debug=%d, traceModule=%d traceParser=%d traceWrite=%d "
        "traceMgmt=%d\n",
        traceSwitch(debug), traceSwitch(traceModule), traceSwitch(traceParser),
        traceSwitch(traceWrite), traceSwitch(traceMgmt));
}

void switchTraceFile() {
  if (traceSwitch(debug) >= 1) {
    if (traceFileOpen()) return;
    startTrace();
    traceLog("Trace on request processed!!!\n");
    return;
  }
  std::lock_guard<std::mutex> hold(traceLock);
  if (debugfile == nullptr || traceSwitch(debug) != 0) return;
  // The closing lines are written although debug is already 0.
  writeLocked("Trace off request processed!!!\n");
  writeLocked("Tracing stopped!!!\n");
  std::fclose(debugfile);
  debugfile = nullptr;
}

#else  // production build: no trace facility

void traceLog(const char*, ...) {}
void initializeTrace() {}
void startTrace() {}
void traceElement(CciElement*, int) {}
void traceTree(CciElement*, int) {}
void traceMemory(const void*, int) {}
void processTraceOnMsg(int, int, int, const char*) {}
void processTraceOffMsg() {}
void processTraceMessage(const char*, int, int) {}
void switchTraceFile() {}

#endif

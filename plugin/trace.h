// trace - the diagnostic build's trace file, its switches and their control by management
// messages.
//
// Every trace line of the plug-in is written through traceLog, and only through the TRACE macro
// below, which tests the gating switch before anything is formatted. In the production build
// (CORVALE_DIAGNOSTIC 0) the macro expands to nothing, so not even the code of a trace line is
// compiled, the environment is not read and no file is opened; of this module only its version
// string remains, and TRACEON/TRACEOFF do nothing.
//
// Process-wide state (this module): the five switches (relaxed atomics, no lock; start value 1 in
// the diagnostic build, 0 in the production build), the trace file name (set once at load), and
// the open trace stream, whose every write and whose closing are serialised by one mutex so that
// a line is never mixed with another nor written to a closed stream.
//
// traceLog formats as printf does, with two additions: "%S" takes a zero-terminated 16-bit string
// (const char16_t*), and "%I64d" a 64-bit integer.
#ifndef CORVALE_PLUGIN_TRACE_H
#define CORVALE_PLUGIN_TRACE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "brokerapi.h"

#ifndef CORVALE_DIAGNOSTIC
#error "CORVALE_DIAGNOSTIC must be defined to 1 (diagnostic build) or 0 (production build)"
#endif

extern std::atomic<int32_t> debug;
extern std::atomic<int32_t> traceParser;
extern std::atomic<int32_t> traceWrite;
extern std::atomic<int32_t> traceModule;
extern std::atomic<int32_t> traceMgmt;

// A switch as a plain value for a test ("is it on").
inline int32_t traceSwitch(const std::atomic<int32_t>& s) {
  return s.load(std::memory_order_relaxed);
}

#if CORVALE_DIAGNOSTIC
// Writes one line when the gating condition holds. The condition is any expression, usually a
// switch (non-zero is on) or "switch == 1".
#define TRACE(condition, ...)                \
  do {                                       \
    if (condition) ::traceLog(__VA_ARGS__);  \
  } while (0)
#else
#define TRACE(condition, ...) \
  do {                        \
  } while (0)
#endif

// A handle or address as trace lines show it ("0x%x"): its low 32 bits.
inline unsigned traceAddress(const void* address) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(address));
}

// Writes the formatted text to the open trace file and flushes it; nothing when debug is 0 or no
// file is open.
void traceLog(const char* format, ...);
// Reads the trace environment variables (a variable can raise a switch, never lower it), sets
// the file name and calls startTrace. Called once, by bipGetParserFactory.
void initializeTrace();
// Opens the trace file for appending and writes the start and settings lines when debug >= 1.
void startTrace();
// One line for one element, indented by level blanks (at most 31).
void traceElement(CciElement* element, int level);
// The element and its whole subtree (raw navigation).
void traceTree(CciElement* element, int level);
// Hexadecimal and character dump of size bytes at address.
void traceMemory(const void* address, int size);

// Trace control by management messages.
void processTraceOnMsg(int version, int modificationLevel, int dataLength, const char* data);
void processTraceOffMsg();
void processTraceMessage(const char* words, int count, int setting);
void switchTraceFile();

// The name of the trace file (empty until initializeTrace); for tests and diagnostics.
const char* traceFileName();
// Whether the trace file is open now.
bool traceFileOpen();

const char* traceVersion();

#endif  // CORVALE_PLUGIN_TRACE_H

// errors.cpp - broker exceptions (cciThrowException) and the broker's log (cciLog).
//
// Process-wide state: the log (events in arrival order, guarded by logMutex) and whether events
// are echoed to standard error (atomic, starts true).
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "broker/internal.h"

namespace broker {

namespace {

std::mutex logMutex;
std::vector<LogEvent> logStore;  // guarded by logMutex
std::atomic<bool> logToStderr{true};

// Fills an Error from the arguments every exception and log event carries; the inserts are the
// single-byte texts of args up to the first null.
Error makeEvent(int type, const char* sourceFile, int line, const char* function,
                const CciChar* messageSource, unsigned int messageNumber, const char* traceText,
                va_list args) {
  Error event;
  event.type = type;
  event.number = messageNumber;
  event.sourceFile = sourceFile ? sourceFile : "";
  event.line = line;
  event.function = function ? function : "";
  if (messageSource) event.messageSource = messageSource;
  event.traceText = traceText ? traceText : "";
  while (const char* insert = va_arg(args, const char*)) event.inserts.emplace_back(insert);
  return event;
}

}  // namespace

std::string Error::describe() const {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(this->number));
  std::string text = traceText;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::string result = std::string(number) + ": " + text;
  if (!inserts.empty()) {
    result += " [";
    for (size_t i = 0; i < inserts.size(); ++i) {
      if (i) result += ", ";
      result += inserts[i];
    }
    result += "]";
  }
  return result;
}

const char* Error::what() const noexcept {
  try {
    what_ = describe();
  } catch (...) {
    return "broker error";
  }
  return what_.c_str();
}

std::vector<LogEvent> logEvents() {
  std::lock_guard lock(logMutex);
  return logStore;
}

void clearLog() {
  std::lock_guard lock(logMutex);
  logStore.clear();
}

void setLogToStderr(bool on) {
  logToStderr.store(on, std::memory_order_relaxed);
}

}  // namespace broker

namespace broker::detail {

const char* describeRc(int rc) {
  switch (rc) {
    case CCI_SUCCESS:
      return "success";
    case CCI_INV_FACTORY_OBJECT:
      return "invalid factory handle";
    case CCI_INV_PARSER_OBJECT:
      return "invalid parser handle";
    case CCI_INV_ELEMENT_OBJECT:
      return "invalid element handle";
    case CCI_INV_DATA_POINTER:
      return "null data pointer";
    case CCI_INV_DATA_BUFLEN:
      return "buffer too small";
    case CCI_INV_VALUE_TYPE:
      return "the element holds no value of that type";
    case CCI_CONVERSION_FAILED:
      return "code page conversion failed";
    case CCI_INV_ARGUMENT:
      return "invalid argument";
    case CCI_NO_MESSAGE:
      return "the parser has no message";
    case CCI_PARSE_LOST:
      return "the parser has moved on to another message";
    case CCI_FAILURE:
      return "broker failure";
    case CCI_PARSER_EXCEPTION:
      return "the parser raised an exception";
    default:
      return "unknown return code";
  }
}

}  // namespace broker::detail

extern "C" {

void cciThrowException(int* rc, int type, const char* sourceFile, int line, const char* function,
                       const CciChar* messageSource, unsigned int messageNumber,
                       const char* traceText, ...) {
  va_list args;
  va_start(args, traceText);
  broker::Error error;
  try {
    error = broker::makeEvent(type, sourceFile, line, function, messageSource, messageNumber,
                              traceText, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  broker::detail::setRc(rc, CCI_SUCCESS);
  throw error;
}

void cciLog(int* rc, int type, const char* sourceFile, int line, const char* function,
            const CciChar* messageSource, unsigned int messageNumber, const char* traceText, ...) {
  va_list args;
  va_start(args, traceText);
  broker::LogEvent event;
  try {
    event = broker::makeEvent(type, sourceFile, line, function, messageSource, messageNumber,
                              traceText, args);
  } catch (...) {
    va_end(args);
    broker::detail::setRc(rc, CCI_FAILURE);
    return;
  }
  va_end(args);
  try {
    const bool echo = broker::logToStderr.load(std::memory_order_relaxed);
    std::string text = echo ? event.describe() : std::string();
    // One line per event: embedded line breaks would split it.
    for (char& c : text)
      if (c == '\n' || c == '\r') c = ' ';
    std::lock_guard lock(broker::logMutex);
    broker::logStore.push_back(std::move(event));
    if (echo) std::fprintf(stderr, "broker log (type %d): %s\n", type, text.c_str());
  } catch (...) {
    broker::detail::setRc(rc, CCI_FAILURE);
    return;
  }
  broker::detail::setRc(rc, CCI_SUCCESS);
}

}  // extern "C"

namespace broker::detail {

Error foreignException(const char* what) {
  Error error;
  error.function = "parser callback";
  error.traceText = std::string("exception in a parser callback: ") + (what ? what : "");
  return error;
}

}  // namespace broker::detail

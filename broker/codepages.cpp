// codepages.cpp - code page conversion (cciMbsToUcs, cciUcsToMbs and the C++ helpers).
//
// Code pages are coded character set ids, opened with ICU. A single-byte code page is converted
// through a table built once (256 units one way, 65,536 bytes the other); any other code page
// goes through an ICU converter of the calling thread. Unmappable input is substituted (U+FFFD
// for bytes, the code page's substitution byte for units) and reported as CCI_CONVERSION_FAILED;
// the output keeps one unit per byte for single-byte code pages even then.
//
// Code pages whose characters all take two bytes or more (UTF-16, UTF-32) are refused.
//
// Process-wide state: the known code pages (never freed, so their addresses stay valid), guarded
// by codePagesMutex; each thread keeps its last code page and its ICU converters.
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include "broker/internal.h"

namespace broker::detail {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(int ccsid) {
  if (ccsid <= 0) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_openCCSID(ccsid, UCNV_IBM, &status));
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

struct CodePage {
  int ccsid = 0;
  bool singleByte = false;
  int maxBytesPerUnit = 1;
  int minBytesPerChar = 1;
  // Single-byte code pages only.
  std::array<char16_t, 256> toUnit{};
  std::array<bool, 256> byteMapped{};
  bool everyByteMapped = false;         // every byteMapped entry is true
  std::array<int16_t, 65536> toByte{};  // -1: no byte for this unit
  char substitute = '?';
};

std::mutex codePagesMutex;
std::map<int, std::unique_ptr<CodePage>> codePages;  // guarded by codePagesMutex

std::unique_ptr<CodePage> buildCodePage(int ccsid) {
  ConverterPtr converter = openConverter(ccsid);
  if (!converter) return nullptr;
  auto page = std::make_unique<CodePage>();
  page->ccsid = ccsid;
  page->maxBytesPerUnit = ucnv_getMaxCharSize(converter.get());
  page->minBytesPerChar = ucnv_getMinCharSize(converter.get());
  page->singleByte = page->maxBytesPerUnit == 1;
  // In a code page whose characters take two or more bytes (UTF-16, UTF-32) a zero byte is not
  // the zero character, which the zero-terminated conversions rely on: not supported.
  if (page->minBytesPerChar > 1) return nullptr;
  if (!page->singleByte) return page;

  UErrorCode status = U_ZERO_ERROR;
  char substitute[8];
  int8_t substituteLength = sizeof substitute;
  ucnv_getSubstChars(converter.get(), substitute, &substituteLength, &status);
  if (U_SUCCESS(status) && substituteLength == 1) page->substitute = substitute[0];
  status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  page->toByte.fill(-1);
  for (int byte = 0; byte < 256; ++byte) {
    const char in = static_cast<char>(byte);
    UChar out[4];
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter.get());
    const int32_t n = ucnv_toUChars(converter.get(), out, 4, &in, 1, &status);
    if (U_FAILURE(status) || n != 1) {
      page->toUnit[byte] = kReplacement;
      continue;
    }
    page->toUnit[byte] = out[0];
    page->byteMapped[byte] = true;
    // The first byte of a unit wins, so every mapped byte round-trips unless two bytes share a
    // unit (none of the supported code pages has such a pair).
    if (page->toByte[out[0]] < 0) page->toByte[out[0]] = static_cast<int16_t>(byte);
  }
  page->everyByteMapped = std::all_of(page->byteMapped.begin(), page->byteMapped.end(),
                                      [](bool mapped) { return mapped; });
  return page;
}

// The code page found last for each value of the id's low five bits, by any thread. Every
// conversion asks for its code page, nearly always one of a few, so those are answered without
// the lock (and without a thread-local variable, whose every access in a shared library is a
// call); the supported code pages all have different low bits. Known code pages are never freed
// while conversions run, so the pointers stay valid.
constexpr unsigned kRecentCodePages = 32;
std::atomic<const CodePage*> recentCodePages[kRecentCodePages];

// The code page, or null when ICU does not know it. Unknown ids are not remembered, so that
// arbitrary ids cannot grow the table.
const CodePage* findCodePage(int ccsid) {
  std::atomic<const CodePage*>& recent =
      recentCodePages[static_cast<unsigned>(ccsid) % kRecentCodePages];
  const CodePage* last = recent.load(std::memory_order_acquire);
  if (last && last->ccsid == ccsid) return last;
  std::lock_guard lock(codePagesMutex);
  auto it = codePages.find(ccsid);
  if (it == codePages.end()) {
    std::unique_ptr<CodePage> page = buildCodePage(ccsid);
    if (!page) return nullptr;
    it = codePages.emplace(ccsid, std::move(page)).first;
  }
  recent.store(it->second.get(), std::memory_order_release);
  return it->second.get();
}

// The calling thread's ICU converter for a multi-byte code page, reset for a new conversion.
UConverter* threadConverter(int ccsid) {
  thread_local std::map<int, ConverterPtr> converters;
  auto it = converters.find(ccsid);
  if (it == converters.end()) {
    ConverterPtr converter = openConverter(ccsid);
    if (!converter) return nullptr;
    it = converters.emplace(ccsid, std::move(converter)).first;
  }
  ucnv_reset(it->second.get());
  return it->second.get();
}

// Runs one ICU conversion with the stop callback; on failure runs it again substituting, so the
// output is complete either way. Returns the units or bytes written; sets rc.
template <typename Convert>
int32_t convertWithIcu(UConverter* converter, bool toUnicode, Convert convert, int* rc) {
  UErrorCode status = U_ZERO_ERROR;
  if (toUnicode)
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  else
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  status = U_ZERO_ERROR;
  int32_t written = convert(converter, &status);
  if (U_SUCCESS(status)) {
    setRc(rc, CCI_SUCCESS);
    return written;
  }
  const bool overflow = status == U_BUFFER_OVERFLOW_ERROR;
  ucnv_reset(converter);
  status = U_ZERO_ERROR;
  if (toUnicode)
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                        &status);
  else
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                          &status);
  status = U_ZERO_ERROR;
  written = convert(converter, &status);
  setRc(rc, overflow || status == U_BUFFER_OVERFLOW_ERROR ? CCI_INV_DATA_BUFLEN
                                                          : CCI_CONVERSION_FAILED);
  return U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR ? 0 : written;
}

// UTF-8 gives every ASCII character as its own byte: a text that is all ASCII (every property,
// name and most values) needs no ICU conversion.
constexpr int kUtf8Ccsid = 1208;

template <typename Unit>
bool allAscii(const Unit* text, int count) {
  for (int i = 0; i < count; ++i)
    if (static_cast<std::make_unsigned_t<Unit>>(text[i]) >= 0x80) return false;
  return true;
}

// Finds the code page. False when there is nothing to do: rc is then CCI_CONVERSION_FAILED
// (unknown code page) or CCI_SUCCESS (no units).
bool startConversion(int ccsid, int count, const CodePage*& page, int* rc) {
  page = findCodePage(ccsid);
  if (!page) {
    setRc(rc, CCI_CONVERSION_FAILED);
    return false;
  }
  setRc(rc, CCI_SUCCESS);
  return count > 0;
}

// The thread's converter for a multi-byte code page; null, with rc CCI_CONVERSION_FAILED, when it
// cannot be opened.
UConverter* startIcuConversion(int ccsid, int* rc) {
  UConverter* converter = threadConverter(ccsid);
  if (!converter) setRc(rc, CCI_CONVERSION_FAILED);
  return converter;
}

}  // namespace

int maxBytesPerUnit(int ccsid) {
  const CodePage* page = findCodePage(ccsid);
  return page ? page->maxBytesPerUnit : 1;
}

int bytesToUnits(const char* bytes, int count, char16_t* out, int ccsid, int* rc) {
  const CodePage* page = nullptr;
  if (!startConversion(ccsid, count, page, rc)) return 0;
  if (page->singleByte) {
    // Most single-byte code pages map every byte: their messages need no check per byte.
    if (page->everyByteMapped) {
      for (int i = 0; i < count; ++i) out[i] = page->toUnit[static_cast<unsigned char>(bytes[i])];
      return count;
    }
    bool allMapped = true;
    for (int i = 0; i < count; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      out[i] = page->toUnit[byte];
      allMapped &= page->byteMapped[byte];
    }
    setRc(rc, allMapped ? CCI_SUCCESS : CCI_CONVERSION_FAILED);
    return count;
  }
  if (ccsid == kUtf8Ccsid && allAscii(bytes, count)) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(bytes[i]);
    return count;
  }
  UConverter* converter = startIcuConversion(ccsid, rc);
  if (!converter) return 0;
  // Every supported multi-byte code page gives at most one unit per byte.
  return convertWithIcu(
      converter, true,
      [&](UConverter* c, UErrorCode* status) {
        // The streaming call: it writes no terminating zero after the output.
        UChar* target = reinterpret_cast<UChar*>(out);
        const char* source = bytes;
        ucnv_toUnicode(c, &target, target + count, &source, bytes + count, nullptr, true, status);
        return static_cast<int32_t>(target - reinterpret_cast<UChar*>(out));
      },
      rc);
}

int unitsToBytes(const char16_t* units, int count, char* out, int ccsid, int* rc) {
  const CodePage* page = nullptr;
  if (!startConversion(ccsid, count, page, rc)) return 0;
  if (page->singleByte) {
    bool allMapped = true;
    for (int i = 0; i < count; ++i) {
      const int16_t byte = page->toByte[units[i]];
      allMapped &= byte >= 0;
      out[i] = byte >= 0 ? static_cast<char>(byte) : page->substitute;
    }
    setRc(rc, allMapped ? CCI_SUCCESS : CCI_CONVERSION_FAILED);
    return count;
  }
  if (ccsid == kUtf8Ccsid && allAscii(units, count)) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<char>(units[i]);
    return count;
  }
  const int64_t capacity = static_cast<int64_t>(count) * page->maxBytesPerUnit;
  if (capacity > INT32_MAX) {
    setRc(rc, CCI_INV_ARGUMENT);
    return 0;
  }
  UConverter* converter = startIcuConversion(ccsid, rc);
  if (!converter) return 0;
  return convertWithIcu(
      converter, false,
      [&](UConverter* c, UErrorCode* status) {
        char* target = out;
        const UChar* source = reinterpret_cast<const UChar*>(units);
        ucnv_fromUnicode(c, &target, out + capacity, &source, source + count, nullptr, true,
                         status);
        return static_cast<int32_t>(target - out);
      },
      rc);
}

}  // namespace broker::detail

namespace broker {

namespace {

// Converts every unit of in with convert (bytesToUnits or unitsToBytes) into at most
// outPerIn units of Out per unit of in. strict: a failure throws; otherwise unmappable units
// stay substituted.
template <typename Out, typename In, typename Convert>
Out convertAll(In in, int ccsid, bool strict, size_t outPerIn, Convert convert,
               const char* direction) {
  if (in.size() > INT32_MAX / 4) throw UsageError("text too long to convert");
  Out out(in.size() * outPerIn, 0);
  int rc = 0;
  const int n = convert(in.data(), static_cast<int>(in.size()), out.data(), ccsid, &rc);
  if (strict && rc != CCI_SUCCESS)
    throw UsageError(std::string("cannot convert ") + direction + " code page " +
                     std::to_string(ccsid) + ": " + detail::describeRc(rc));
  out.resize(n);
  return out;
}

}  // namespace

std::u16string toUnicode(std::string_view bytes, int ccsid) {
  return convertAll<std::u16string>(bytes, ccsid, true, 1, detail::bytesToUnits, "from");
}
std::string fromUnicode(std::u16string_view text, int ccsid) {
  return convertAll<std::string>(text, ccsid, true, detail::maxBytesPerUnit(ccsid),
                                 detail::unitsToBytes, "to");
}
std::u16string utf16(std::string_view utf8Text) {
  return convertAll<std::u16string>(utf8Text, detail::kUtf8Ccsid, false, 1, detail::bytesToUnits,
                                    "from");
}
std::string utf8(std::u16string_view text) {
  return convertAll<std::string>(text, detail::kUtf8Ccsid, false,
                                 detail::maxBytesPerUnit(detail::kUtf8Ccsid), detail::unitsToBytes,
                                 "to");
}

}  // namespace broker

namespace {

// The arguments every conversion checks; false with rc set when they are unusable.
bool usableArguments(int* rc, const void* from, const void* to, int count) {
  const int status = !from || !to ? CCI_INV_DATA_POINTER : count < 0 ? CCI_INV_ARGUMENT : 0;
  broker::detail::setRc(rc, status);
  return status == CCI_SUCCESS;
}

}  // namespace

extern "C" {

int cciMbsToUcs(int* rc, const char* bytes, CciChar* characters, int count, int codePage) {
  if (!usableArguments(rc, bytes, characters, count)) return 0;
  // Up to and including the first zero byte; in the code pages converted here (single-byte,
  // UTF-8 and the like) a zero byte is the zero character and nothing else.
  const void* zero = std::memchr(bytes, 0, static_cast<size_t>(count));
  const int length = zero ? static_cast<int>(static_cast<const char*>(zero) - bytes) : count;
  const int written = broker::detail::bytesToUnits(bytes, length, characters, codePage, rc);
  if (zero && written < count) characters[written] = 0;
  return written;
}

int cciUcsToMbs(int* rc, const CciChar* characters, char* bytes, int count, int codePage) {
  if (!usableArguments(rc, characters, bytes, count)) return 0;
  int length = 0;
  while (length < count && characters[length] != 0) ++length;
  int status = CCI_SUCCESS;
  const int written = broker::detail::unitsToBytes(characters, length, bytes, codePage, &status);
  if (length < count && (status == CCI_SUCCESS || status == CCI_CONVERSION_FAILED))
    bytes[written] = 0;
  broker::detail::setRc(rc, status);
  return written;
}

}  // extern "C"

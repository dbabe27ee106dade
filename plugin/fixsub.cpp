// fixsub - the FIX message codec (see fixsub.h for the contract).
//
// Parsing works on one message held in the ParserContext: iBuffer (the bytes as received), iText
// (the same message as 16-bit characters, one per byte, plus a zero) and iIndex, which only moves
// forward. Tags and values are cut out of iText in place by writing a zero over the "=" or the SOH
// that ends them; the pointers the builder keeps (iLastTag, iLastValue) point there and live until
// the context is reset. The elements belong to the broker, which copies every value it is given.
#include "fixsub.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "metadata.h"
#include "mtx/mtx.h"
#include "parsubs.h"
#include "trace.h"

namespace {

#if CORVALE_DIAGNOSTIC
const char kFixsubVersion[] = "Fixsub V1.0 Debug Version (" __DATE__ " " __TIME__ ")";
#else
const char kFixsubVersion[] = "Fixsub V1.0 Release Version(" __DATE__ " " __TIME__ ")";
#endif

constexpr char kSourceFile[] = "fixsub";
constexpr unsigned char kSoh = 0x01;
// Characters of a BeginString value kept for the FIX level (dots are not kept).
constexpr int kMaxLevelCharacters = 63;
// A tag is at most this many digits.
constexpr int kMaxTagLength = 6;
// Spare room after the copies of an embedded message or of raw data made into text, in bytes
// (and in characters for the character copy).
constexpr int kCopyMargin = 256;

}  // namespace

// ---- Scanner --------------------------------------------------------------------------------

namespace {

// The code page 437 byte of every character outside printable ASCII and SOH that has been met,
// plus one (0: not asked yet). The broker's conversion of one character never changes, so each
// is asked once per process; racing threads store the same value.
std::atomic<uint16_t> asked437[65536];

// One character in code page 437. Printable ASCII and SOH are the same there; anything else is
// asked of the broker (its 437 table swaps a few control characters and maps the rest above
// 0x7F), so the result equals a one-character cciUcsToMbs in every case.
unsigned char charTo437(char16_t c) {
  if ((c >= 0x20 && c <= 0x7E) || c == kSoh) return static_cast<unsigned char>(c);
  const uint16_t known = asked437[c].load(std::memory_order_relaxed);
  if (known != 0) return static_cast<unsigned char>(known - 1);
  int rc = 0;
  char bytes[4] = {0, 0, 0, 0};
  cciUcsToMbs(&rc, &c, bytes, 1, kDefaultCodePage);
  const auto byte = static_cast<unsigned char>(bytes[0]);
  asked437[c].store(static_cast<uint16_t>(byte + 1), std::memory_order_relaxed);
  return byte;
}

// Converts a zero-terminated character text to at most size - 1 code page 437 bytes and a zero.
void textTo437(const char16_t* text, char* out, int size) {
  int n = 0;
  if (text != nullptr) {
    for (; n < size - 1 && text[n] != 0; ++n) out[n] = static_cast<char>(charTo437(text[n]));
  }
  out[n] = 0;
}

// Reads a decimal number the way atoi does: leading blanks, one sign, digits up to the first
// other character; no digits give 0. Saturates instead of overflowing.
int32_t decimalValue(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      value = std::numeric_limits<int32_t>::max();
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Converts count bytes into count characters at the same positions, in codePage. The broker's
// conversion stops after a zero unit, so the bytes are converted run by run between zero bytes;
// a zero byte becomes a zero character. A code page that does not give exactly one character per
// byte (a multi-byte one, with text outside ASCII) cannot be scanned by position: raised rather
// than mis-parsed. offset is the position of bytes[0] in the message, for the error text.
void convertBytes(ParserContext* context, const uint8_t* bytes, char16_t* characters, int32_t count,
                  int32_t offset) {
  int32_t position = 0;
  while (position < count) {
    if (bytes[position] == 0) {
      characters[position++] = 0;
      continue;
    }
    const void* zero = std::memchr(bytes + position, 0, static_cast<size_t>(count - position));
    int32_t runEnd =
        zero != nullptr ? static_cast<int32_t>(static_cast<const uint8_t*>(zero) - bytes) : count;
    int32_t runLength = runEnd - position;
    int rc = 0;
    int converted = cciMbsToUcs(&rc, reinterpret_cast<const char*>(bytes + position),
                                characters + position, runLength, context->iCodePage);
    if (rc != 0) {
      raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "convertMessageText",
                 FIXERR_MULTIBYTE_CODE_PAGE, {context->iCodePage, offset + position},
                 "Unable to convert the message bytes from code page %d at offset (%d)\n",
                 context->iCodePage, offset + position);
    }
    if (converted != runLength) {
      // Name the first byte outside ASCII: where the characters begin to span several bytes.
      int32_t at = position;
      while (at < runEnd && bytes[at] < 0x80) ++at;
      if (at == runEnd) at = position;
      raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "convertMessageText",
                 FIXERR_MULTIBYTE_CODE_PAGE, {context->iCodePage, offset + at},
                 "Code page %d gives fewer characters than bytes for the message bytes at "
                 "offset (%d): a FIX message must be in a single-byte code page\n",
                 context->iCodePage, offset + at);
    }
    position = runEnd;
  }
}

}  // namespace

void convertMessageText(ParserContext* context, int32_t start, int32_t end) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> convertMessageText() start=%d end=%d\n", start, end);
  if (context->iBuffer != nullptr && context->iText != nullptr && start < end) {
    convertBytes(context, context->iBuffer + start, context->iText + start, end - start, start);
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- convertMessageText()\n");
}

void advance(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> advance() iIndex=%d\n", context->iIndex);
  if (context->iIndex != context->iSize) {
    context->iIndex++;
    if (context->iIndex != context->iSize) {
      context->iChar = charTo437(context->iText[context->iIndex]);
    }
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- advance() iIndex=%d\n", context->iIndex);
}

void goToDelimiter(ParserContext* context, unsigned char delimiter) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> goToDelimiter() delimiter=0x%x iIndex=%d\n",
        delimiter, context->iIndex);
#if CORVALE_DIAGNOSTIC
  if (traceSwitch(traceModule)) {
    // Every step traced, by advance().
    while (context->iChar != delimiter && context->iIndex != context->iSize) advance(context);
    TRACE(traceSwitch(traceModule), "PLUGIN: <- goToDelimiter() iIndex=%d\n", context->iIndex);
    return;
  }
#endif
  // The steps of advance(), on local copies of iIndex and iChar: this loop runs for every
  // character of every value, and stepping the context's own fields would make the compiler read
  // them again on each step (a store to iChar could be a store to any of them).
  int32_t index = context->iIndex;
  const int32_t size = context->iSize;
  const char16_t* text = context->iText;
  unsigned char c = context->iChar;
  while (c != delimiter && index != size) {
    ++index;
    if (index != size) c = charTo437(text[index]);
  }
  context->iIndex = index;
  context->iChar = c;
  TRACE(traceSwitch(traceModule), "PLUGIN: <- goToDelimiter() iIndex=%d\n", context->iIndex);
}

int isolateTag(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> isolateTag() iIndex=%d\n", context->iIndex);
  int32_t start = context->iIndex;
  while (context->iChar != '=' && context->iIndex != context->iSize) {
    if (context->iIndex - start >= kMaxTagLength) {
      raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "isolateTag",
                 FIXERR_TAG_TOO_LONG, {}, "tag too long at offset %d\n", context->iIndex);
    }
    if (context->iChar < '0' || context->iChar > '9') {
      raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "isolateTag",
                 FIXERR_TAG_CHARACTER, {}, "Invalid character in tag at offset %d\n",
                 context->iIndex);
    }
    advance(context);
  }
  int length = context->iIndex - start;
  // Over the "=", or into the spare character at iSize when the tag ends the message.
  context->iText[context->iIndex] = 0;
  advance(context);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- isolateTag() length=%d\n", length);
  return length;
}

int isolateData(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> isolateData() iIndex=%d\n", context->iIndex);
  int32_t start = context->iIndex;
  goToDelimiter(context, kSoh);
  int length = context->iIndex - start;
  context->iText[context->iIndex] = 0;
  advance(context);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- isolateData() length=%d\n", length);
  return length;
}

int calcCheckSum(const uint8_t* bytes, int32_t length) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> calcCheckSum() length=%d\n", length);
  unsigned sum = 0;
  for (int32_t i = 0; i < length; ++i) sum += bytes[i];
  int result = static_cast<int>(sum % 256);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- calcCheckSum() sum=%d\n", result);
  return result;
}

void validateCheckSum(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> validateCheckSum() iSize=%d\n", context->iSize);
  const int32_t size = context->iSize;
  // The trailer window is the last seven bytes; a shorter message has none, and nothing outside
  // the message is read to find that out.
  if (size < kTrailerLength || context->iText == nullptr || context->iBuffer == nullptr) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "validateCheckSum",
               FIXERR_NO_CHECKSUM, {}, "No CheckSum item at end of message");
  }
  const int32_t trailer = size - kTrailerLength;
  char window[kTrailerLength];
  for (int i = 0; i < kTrailerLength - 1; ++i) {
    window[i] = static_cast<char>(charTo437(context->iText[trailer + i]));
  }
  window[kTrailerLength - 1] = 0;
  if (std::memcmp(window, "10=", 3) != 0) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "validateCheckSum",
               FIXERR_NO_CHECKSUM, {}, "No CheckSum item at end of message");
  }
  int read = decimalValue(window + 3);
  int computed = calcCheckSum(context->iBuffer, trailer);
  if (computed != read) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "validateCheckSum",
               FIXERR_CHECKSUM_MISMATCH, {computed, read},
               "Checksum tag value (%d) does not match calculated sum (%d)", read, computed);
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- validateCheckSum() sum=%d\n", computed);
}

void checkMessageFormat(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> checkMessageFormat() iSize=%d\n", context->iSize);
  const int32_t size = context->iSize;
  const char16_t* text = context->iText;
  if (text == nullptr || context->iBuffer == nullptr || size < 2 || text[0] != u'8' ||
      text[1] != u'=') {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "checkMessageFormat",
               FIXERR_NO_BEGIN_STRING, {}, "No begin string element found at front of message");
  }

  // The BeginString value without its dots names the level (FIX.4.2 gives FIX42).
  char16_t kept[kMaxLevelCharacters + 1];
  int keptCount = 0;
  int32_t i = 2;
  for (; i < size && text[i] != kSoh; ++i) {
    if (text[i] == u'.') continue;
    if (keptCount == kMaxLevelCharacters) break;
    kept[keptCount++] = text[i];
  }
  kept[keptCount] = 0;
  textTo437(kept, context->iFixLevel, kFixLevelSize);
  if (i >= size || text[i] != kSoh) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "checkMessageFormat",
               FIXERR_NO_BEGIN_DELIMITER, {}, "No delimiter (0x01) found for BeginString data");
  }

  if (context->iBuffer[size - 1] != kSoh) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "checkMessageFormat",
               FIXERR_NO_END_DELIMITER, {},
               "No ending delimiter character (0x01) found at end of message");
  }

  validateCheckSum(context);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- checkMessageFormat() iFixLevel=%s\n",
        context->iFixLevel);
}

// ---- Tree builder ---------------------------------------------------------------------------

namespace {

// "FX" and up to six tag digits.
constexpr int kUndefinedNameSize = 2 + kMaxTagLength + 1;

RepeatFrame* pushRepeatFrame(ParserContext* context, int entryIndex,
                             const mtx::MetadataImage& image, const char16_t* tag) {
  auto* frame = new RepeatFrame{};
  frame->next = context->iRepeat;
  frame->entryIndex = entryIndex;
  int n = 0;
  for (; n < kMaxTagLength && tag[n] != 0; ++n) frame->startTagText[n] = tag[n];
  frame->startTagText[n] = 0;
  frame->startTag = frame->startTagText;
  // The group name with its zero, then the items up to and with the empty text that ends them.
  const char16_t* name = image.groupName(entryIndex);
  const char16_t* items = image.allowedItems(entryIndex);
  const char16_t* itemsEnd = items;
  while (*itemsEnd != 0) itemsEnd += ucsLength(itemsEnd) + 1;
  frame->texts.assign(name, static_cast<size_t>(ucsLength(name)) + 1);
  const size_t itemsStart = frame->texts.size();
  frame->texts.append(items, static_cast<size_t>(itemsEnd - items) + 1);
  frame->groupName = frame->texts.data();
  frame->allowedItems = frame->texts.data() + itemsStart;
  context->iRepeat = frame;
  return frame;
}

// Closes the innermost group's folder and frees its frame.
void popRepeatFrame(ParserContext* context) {
  RepeatFrame* frame = context->iRepeat;
  finishHeaderElement(context);
  context->iRepeat = frame->next;
  delete frame;
}

}  // namespace

void freeRepeatFrames(ParserContext* context) {
  while (context->iRepeat != nullptr) {
    RepeatFrame* frame = context->iRepeat;
    context->iRepeat = frame->next;
    delete frame;
  }
}

CciElement* createHeaderElement(CciParser* parser, ParserContext* context, const char16_t* name) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createHeaderElement() name=%S\n", name);
  int rc = 0;
  CciElement* folder =
      cpiCreateAndInitializeElement(&rc, parser, CCI_ELEMENT_TYPE_NAME, name, 1, 0);
  cpiAddAsLastChild(&rc, context->currentElement, folder);
  cpiSetElementCompletePrevious(&rc, context->currentElement, 1);
  context->currentElement = cpiLastChild(&rc, context->currentElement);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createHeaderElement() element=0x%x\n",
        traceAddress(context->currentElement));
  return context->currentElement;
}

void finishHeaderElement(ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> finishHeaderElement() element=0x%x\n",
        traceAddress(context->currentElement));
  int rc = 0;
  cpiSetElementCompleteNext(&rc, context->currentElement, 1);
  context->currentElement = cpiParent(&rc, context->currentElement);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- finishHeaderElement()\n");
}

void createVariableLengthElement(CciParser* parser, ParserContext* context, const char16_t* name,
                                 const char16_t* value, int length) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createVariableLengthElement() name=%S length=%d\n",
        name, length);
  int rc = 0;
  CciElement* element =
      cpiCreateAndInitializeElement(&rc, parser, CCI_ELEMENT_TYPE_NAME_VALUE, name, 1, 1);
  cpiSetCharacterValueFromBuffer(&rc, element, value, length);
  cpiAddAsLastChild(&rc, context->currentElement, element);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createVariableLengthElement()\n");
}

int isGroupMember(const ParserContext* context, const char16_t* tag) {
  const RepeatFrame* frame = context->iRepeat;
  if (frame == nullptr) return -1;
  if (ucsCompare(frame->startTag, tag) == 0) return 0;
  for (const char16_t* item = frame->allowedItems; item != nullptr && *item != 0;
       item += ucsLength(item) + 1) {
    if (ucsCompare(item, tag) == 0) return 0;
  }
  return -1;
}

void parseElement(CciParser* parser, ParserContext* context, int slot) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> parseElement() iIndex=%d slot=%d\n", context->iIndex,
        slot);
  const mtx::MetadataImage& image = metadataImage(slot);

  const int32_t tagPosition = context->iIndex;
  const int tagLength = isolateTag(context);
  if (tagLength == 0) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "parseElement", FIXERR_EMPTY_TAG,
               {context->iIndex}, "No identifier found preceding equal sign at offset (%d)\n",
               context->iIndex);
  }
  char16_t* tag = context->iText + tagPosition;

  while (context->iRepeat != nullptr && isGroupMember(context, tag) != 0) {
    TRACE(traceSwitch(traceParser) == 1, "Tag %S closes group %S\n", tag,
          context->iRepeat->groupName);
    popRepeatFrame(context);
  }

  const int entry = mtx::findTagByNumber(image, tag);
  const char16_t* name;
  char16_t undefinedName[kUndefinedNameSize];
  int type = mtx::TYPE_STRING;
  uint8_t flags = 0;
  uint8_t flags2 = 0;
  if (entry >= 0) {
    const mtx::TagEntry record = image.tagEntry(entry);
    name = image.fieldName(entry);
    type = record.type;
    flags = record.flags;
    flags2 = record.flags2;
  } else {
    undefinedName[0] = u'F';
    undefinedName[1] = u'X';
    ucsCopy(undefinedName + 2, tag);
    name = undefinedName;
  }
  TRACE(traceSwitch(traceParser) == 1, "Tag %S entry %d name %S type %d flags 0x%x 0x%x\n", tag,
        entry, name, type, flags, flags2);

  if ((flags & mtx::GROUP_START) != 0) {
    if (context->iRepeat != nullptr && ucsCompare(context->iRepeat->startTag, tag) == 0) {
      TRACE(traceSwitch(traceParser) == 1, "Tag %S starts another instance of group %S\n", tag,
            context->iRepeat->groupName);
      finishHeaderElement(context);
      createHeaderElement(parser, context, context->iRepeat->groupName);
    } else {
      const char16_t* countTag = context->iLastTag != nullptr ? context->iLastTag : u"";
      int repeat = mtx::findRepeatDefinition(image, context->iFixMsgType, countTag, tag);
      TRACE(traceSwitch(traceParser) == 1,
            "Repeat definition for message type %s count tag %S tag %S is %d\n",
            context->iFixMsgType, countTag, tag, repeat);
      if (repeat >= 0) {
        RepeatFrame* frame = pushRepeatFrame(context, repeat, image, tag);
        createHeaderElement(parser, context, frame->groupName);
      }
    }
  }

  if (type == mtx::TYPE_DATA) {
    processRawData(parser, context, name, flags, slot);
    // A DATA item's value is not kept as text: the empty text at the tag's terminator stands in.
    context->iLastTag = tag;
    context->iLastValue = tag + tagLength;
    context->iLastType = type;
  } else {
    char16_t* value = context->iText + context->iIndex;
    const int valueLength = isolateData(context);
    if ((flags2 & mtx::NO_ELEMENT) == 0) {
      if (type == mtx::TYPE_MULTIPLEVALUESTRING) {
        insertMultiStr(parser, context, name, value, value + valueLength);
      } else {
        createVariableLengthElement(parser, context, name, value, valueLength);
        if ((flags & mtx::MSG_TYPE) != 0) {
          textTo437(value, context->iFixMsgType, kFixMsgTypeSize);
        }
      }
      bumpCounter(inTagCount);
    }
    context->iLastTag = tag;
    context->iLastValue = value;
    context->iLastType = type;
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- parseElement() iIndex=%d\n", context->iIndex);
}

void parseNextItem(CciParser* parser, ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> parseNextItem() iIndex=%d\n", context->iIndex);
  // Taken for this step only, and given back however the step ends. With no slot to be had
  // every tag is undefined (metadataImage(-1) is the empty image).
  const int slot = getMetaDataEntry(traceSwitch(traceParser), context->iFixLevel);
  MetadataHold hold(traceSwitch(traceParser), slot);

  int rc = 0;
  if (context->iIndex == 0) cpiSetElementCompletePrevious(&rc, context->iRootElement, 1);

  parseElement(parser, context, slot);

  if (context->iIndex == context->iSize) {
    TRACE(traceSwitch(traceParser), "End of buffer reached at offset %d\n", context->iIndex);
    while (context->iRepeat != nullptr) popRepeatFrame(context);
    cpiSetElementCompleteNext(&rc, context->currentElement, 1);
    context->currentElement = nullptr;
  }
#if CORVALE_DIAGNOSTIC
  if (traceSwitch(traceModule) && traceFileOpen()) traceTree(context->iRootElement, 0);
#endif
  TRACE(traceSwitch(traceModule), "PLUGIN: <- parseNextItem() iIndex=%d\n", context->iIndex);
}

// ---- Raw data and multiple-value strings ----------------------------------------------------

namespace {

// While an embedded message is parsed the context points at copies of its bytes and characters.
// This puts the outer message back when the parse ends, normally or by an exception, before the
// copies are freed, so that the context never holds a pointer to them afterwards.
class EmbeddedScope {
 public:
  EmbeddedScope(ParserContext* context, int32_t dataLength)
      : context_(context),
        buffer_(context->iBuffer),
        text_(context->iText),
        size_(context->iSize),
        index_(context->iIndex),
        bytes_(static_cast<size_t>(dataLength) + kCopyMargin, 0),
        characters_(static_cast<size_t>(dataLength) + kCopyMargin, 0) {}
  ~EmbeddedScope() {
    context_->iBuffer = buffer_;
    context_->iText = text_;
    context_->iSize = size_;
    context_->iIndex = index_;
    // The last item of the embedded message was cut from the copy; the caller sets these anew
    // on success, and on failure they must not point at freed memory.
    context_->iLastTag = nullptr;
    context_->iLastValue = nullptr;
  }
  EmbeddedScope(const EmbeddedScope&) = delete;
  EmbeddedScope& operator=(const EmbeddedScope&) = delete;

  uint8_t* bytes() { return bytes_.data(); }
  char16_t* characters() { return characters_.data(); }

 private:
  ParserContext* context_;
  const uint8_t* buffer_;
  char16_t* text_;
  int32_t size_;
  int32_t index_;
  std::vector<uint8_t> bytes_;
  std::vector<char16_t> characters_;
};

}  // namespace

void processRawData(CciParser* parser, ParserContext* context, const char16_t* name, uint8_t flags,
                    int slot) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> processRawData() name=%S flags=0x%x iIndex=%d\n",
        name, flags, context->iIndex);
  const int32_t limit = context->iSize;
  const int32_t start = context->iIndex;

  if (context->iLastType != mtx::TYPE_INT && context->iLastType != mtx::TYPE_STRING) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "processRawData",
               FIXERR_RAW_LENGTH_TYPE, {context->iLastType},
               "Invalid data type (%d) in length field for raw data item", context->iLastType);
  }
  char lengthText[kFixMsgTypeSize];
  textTo437(context->iLastValue, lengthText, sizeof lengthText);
  const int32_t length = decimalValue(lengthText);
  if (length <= 0) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "processRawData",
               FIXERR_RAW_LENGTH_ZERO, {start},
               "length field for raw data at offset (%d) field evaluates to zero or negative "
               "number",
               start);
  }
  if (static_cast<int64_t>(start) + length > limit) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "processRawData",
               FIXERR_RAW_LENGTH_EXCEEDS, {length, start, limit - start},
               "length field (%d) for raw data at offset (%d) field exceeds remaining buffer\n",
               length, start);
  }
  const int32_t end = start + length;
  // Data that reaches the end has no delimiter inside the message; the byte there is not read.
  if (end >= limit || context->iBuffer[end] != kSoh) {
    raiseError(context, ErrorPhase::Parse, kSourceFile, __LINE__, "processRawData",
               FIXERR_RAW_NO_DELIMITER, {start, length},
               "No delimiter at end of raw data at offset(%d) - length (%d)", start, length);
  }

  if ((flags & mtx::EMBEDDED_MESSAGE) != 0) {
    TRACE(traceSwitch(traceParser), "Parsing embedded message of %d bytes at offset %d\n", length,
          start);
    {
      EmbeddedScope scope(context, length);
      std::memcpy(scope.bytes(), context->iBuffer + start, static_cast<size_t>(length));
      convertBytes(context, scope.bytes(), scope.characters(), length, start);
      context->iBuffer = scope.bytes();
      context->iText = scope.characters();
      context->iSize = length;
      context->iIndex = 0;
      while (context->iIndex < length) parseElement(parser, context, slot);
    }
    context->iIndex = end;
  } else {
    int rc = 0;
    CciElement* element =
        cpiCreateAndInitializeElement(&rc, parser, CCI_ELEMENT_TYPE_NAME_VALUE, name, 1, 1);
    if ((flags & mtx::RAW_AS_TEXT) != 0) {
      std::vector<char16_t> characters(static_cast<size_t>(length) + kCopyMargin, 0);
      convertBytes(context, context->iBuffer + start, characters.data(), length, start);
      cpiSetElementCharacterValue(&rc, element, characters.data(), length);
    } else {
      // The broker copies the bytes; the element never points into iBuffer.
      CciByteArray bytes{const_cast<uint8_t*>(context->iBuffer + start), length};
      cpiSetElementByteArrayValue(&rc, element, &bytes);
    }
    cpiAddAsLastChild(&rc, context->currentElement, element);
    context->iIndex = end;
    bumpCounter(inTagCount);
  }
  // iIndex is on the SOH that ends the data; step past it. Every position of the message was
  // converted when the message was taken over (zero bytes included) and nothing beyond iIndex has
  // been written since, so characters and bytes are still in step.
  advance(context);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- processRawData() iIndex=%d\n", context->iIndex);
}

void insertMultiStr(CciParser* parser, ParserContext* context, const char16_t* name,
                    const char16_t* start, const char16_t* end) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> insertMultiStr() name=%S\n", name);
  createHeaderElement(parser, context, name);
  const char16_t* p = start;
  while (p < end) {
    const char16_t* word = p;
    while (p < end && !isUcsSpace(*p)) ++p;
    createVariableLengthElement(parser, context, u"Val", word, static_cast<int>(p - word));
    while (p < end && isUcsSpace(*p)) ++p;
  }
  finishHeaderElement(context);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- insertMultiStr()\n");
}

const char* fixsubVersion() {
  return kFixsubVersion;
}

// ---- Writer ---------------------------------------------------------------------------------
//
// The writer walks the tree below the parser's root with raw navigation (the broker completes a
// message before it has it written) and renders every item as tag=value SOH into iOutBuffer,
// which it owns for the length of one write (malloc/realloc; resetContext frees a buffer left by
// an error). iOutBuffer grows whenever a write would not fit, so every value is written whole
// whatever its type and length; throughout a write iRemaining == iOutSize - iIndex. The plug-in's
// own texts ("=", SOH, tags, digits) and the values are converted into iCodePage.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr int kOutputMargin = 256;     // bytes added to the size estimate for the first buffer
constexpr int kItemAllowance = 7;      // estimate per element: tag, "=" and SOH
constexpr int kNameBufferSize = 512;   // names are read into this first, longer ones on the heap
constexpr int kValueBufferSize = 256;  // character values shorter than this are read on the stack
constexpr int kScalarTextSize = 1024;  // room for the text of any value that is not characters
constexpr int kLevelTextSize = 31;     // BeginString in code page 437, for iFixLevel
constexpr int kHeaderValueRoom = 16;   // BeginString in the header: at most 15 bytes

// ---- The output buffer of one write.

void moveOutput(ParserContext* context, int32_t n) {
  context->iIndex += n;
  context->iRemaining -= n;
}

// Makes room for at least n more bytes at iIndex, growing iOutBuffer (to at least twice its size).
void reserveOutput(ParserContext* context, int64_t n) {
  if (n <= context->iRemaining) return;
  const int64_t needed = static_cast<int64_t>(context->iIndex) + n;
  if (needed > INT32_MAX) throw std::bad_alloc();
  const int64_t doubled = std::min<int64_t>(INT32_MAX, 2 * static_cast<int64_t>(context->iOutSize));
  const int64_t size = std::max(needed, doubled);
  void* grown = std::realloc(context->iOutBuffer, static_cast<size_t>(size));
  if (grown == nullptr) throw std::bad_alloc();
  context->iOutBuffer = static_cast<uint8_t*>(grown);
  context->iOutSize = static_cast<int32_t>(size);
  context->iRemaining = context->iOutSize - context->iIndex;
}

void appendOutputBytes(ParserContext* context, const void* bytes, int32_t n) {
  if (n <= 0) return;
  reserveOutput(context, n);
  std::memcpy(context->iOutBuffer + context->iIndex, bytes, static_cast<size_t>(n));
  moveOutput(context, n);
}

// 16-bit text converted into iCodePage. A zero unit inside the text is written as a zero byte:
// the broker's conversion stops at a zero, so such a text is converted one run at a time.
void appendOutputUnits(ParserContext* context, const char16_t* text, int32_t n) {
  const AsciiBytes& ascii = asciiBytes(context->iCodePage);
  int32_t i = 0;
  while (i < n) {
    if (ascii.direct) {
      reserveOutput(context, n - i);
      // Through a local pointer: a byte stored through the context's own pointer could be one of
      // its fields, which would then be read again for every character.
      uint8_t* out = context->iOutBuffer + context->iIndex;
      int32_t k = 0;
      for (; i < n && text[i] < 128; ++i, ++k) out[k] = ascii.bytes[text[i]];
      moveOutput(context, k);
      if (i == n) break;
    }
    if (text[i] == 0) {
      reserveOutput(context, 1);
      context->iOutBuffer[context->iIndex] = 0;
      moveOutput(context, 1);
      ++i;
      continue;
    }
    int32_t end = i;
    while (end < n && text[end] != 0) ++end;
    reserveOutput(context, 3 * static_cast<int64_t>(end - i) + 1);  // the widest: UTF-8
    int rc = 0;
    const int written =
        cciUcsToMbs(&rc, text + i, reinterpret_cast<char*>(context->iOutBuffer + context->iIndex),
                    end - i, context->iCodePage);
    if (written > 0) moveOutput(context, written);
    i = end;
  }
}

void appendOutputText(ParserContext* context, std::u16string_view text) {
  appendOutputUnits(context, text.data(), static_cast<int32_t>(text.size()));
}

// Short ASCII text (at most 31 characters) converted into iCodePage.
void appendOutputAscii(ParserContext* context, const char* text) {
  char16_t units[32];
  int32_t n = 0;
  for (; text[n] != 0 && n < 32; ++n) units[n] = static_cast<unsigned char>(text[n]);
  appendOutputUnits(context, units, n);
}

// The decimal digits of value (and a minus sign) into digits, which must hold 21 bytes; returns
// the count. The same text as printf's "%lld", without its cost per call.
int formatDecimal(char* digits, int64_t value) {
  return static_cast<int>(std::to_chars(digits, digits + 20, value).ptr - digits);
}

void appendOutputDecimal(ParserContext* context, int64_t value) {
  char digits[24];
  digits[formatDecimal(digits, value)] = 0;
  appendOutputAscii(context, digits);
}

void appendOutputSoh(ParserContext* context) {
  appendOutputText(context, u"\u0001");
}

// Moves the bytes [from, iIndex), just appended, to position, ahead of [position, from).
void moveAppendedTo(ParserContext* context, int32_t position, int32_t from) {
  uint8_t* buffer = context->iOutBuffer;
  std::rotate(buffer + position, buffer + from, buffer + context->iIndex);
}

// Removes the bytes [position, position + n).
void eraseOutput(ParserContext* context, int32_t position, int32_t n) {
  uint8_t* at = context->iOutBuffer + position;
  std::memmove(at, at + n, static_cast<size_t>(context->iIndex - position - n));
  moveOutput(context, -n);
}

// ASCII text into iCodePage at dest; at most room - 1 bytes and a zero. Returns the bytes written.
int encodeAscii(const char* text, char* dest, int room, int codePage) {
  const AsciiBytes& ascii = asciiBytes(codePage);
  const int n = static_cast<int>(std::strlen(text));
  int written = 0;
  if (ascii.direct) {
    for (; written < n && written < room - 1; ++written)
      dest[written] = static_cast<char>(ascii.bytes[static_cast<unsigned char>(text[written])]);
  } else {
    char16_t units[64] = {};
    for (int k = 0; k < n && k < 63; ++k) units[k] = static_cast<unsigned char>(text[k]);
    char bytes[3 * 64 + 1] = {};
    int rc = 0;
    written = std::min(cciUcsToMbs(&rc, units, bytes, std::min(n, 63), codePage), room - 1);
    written = std::max(written, 0);
    std::memcpy(dest, bytes, static_cast<size_t>(written));
  }
  dest[written] = 0;
  return written;
}

// ---- Elements.

// One element name, read whole.
class ElementName {
 public:
  explicit ElementName(CciElement* element) {
    int rc = 0;
    length_ = cpiElementName(&rc, element, small_, kNameBufferSize);
    if (rc == CCI_INV_DATA_BUFLEN && length_ >= kNameBufferSize) {
      large_.assign(static_cast<size_t>(length_) + 1, u'\0');
      length_ = cpiElementName(&rc, element, large_.data(), length_ + 1);
    }
    if (rc != CCI_SUCCESS || length_ < 0) {
      small_[0] = 0;
      large_.clear();
      length_ = 0;
    }
  }
  const char16_t* text() const { return large_.empty() ? small_ : large_.data(); }
  std::u16string_view view() const { return {text(), static_cast<size_t>(length_)}; }

 private:
  char16_t small_[kNameBufferSize];
  std::vector<char16_t> large_;
  int length_ = 0;
};

// A tag as the parser accepts it: one to six digits.
bool isTagText(std::u16string_view text) {
  return !text.empty() && text.size() <= static_cast<size_t>(kMaxTagLength) &&
         std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// The written bytes [start, end) read as a positive decimal number; -1 when they are not one.
int64_t writtenNumber(const ParserContext* context, int32_t start, int32_t end) {
  const AsciiBytes& ascii = asciiBytes(context->iCodePage);
  if (!ascii.direct || end <= start || end - start > 18) return -1;
  int64_t value = 0;
  for (int32_t i = start; i < end; ++i) {
    const int digit = ascii.digitOf[context->iOutBuffer[i]];
    if (digit < 0) return -1;
    value = value * 10 + digit;
  }
  return value;
}

// Renders one element's value, whole, at iIndex: characters converted into iCodePage, a byte
// array as its bytes, every other type in the text form of elementValueToText.
void appendValue(ParserContext* context, CciElement* element) {
  CciElement* valueElement = valueElementOf(element);
  if (valueElement == nullptr) return;
  int rc = 0;
  const int valueType = cniElementValueType(&rc, valueElement);
  if (rc != CCI_SUCCESS) return;
  if (valueType == CCI_ELEMENT_TYPE_UTF16) {
    char16_t small[kValueBufferSize];
    const int length = cpiElementCharacterValue(&rc, valueElement, small, kValueBufferSize);
    if (rc == CCI_SUCCESS && length >= 0) {
      appendOutputUnits(context, small, length);
    } else if (rc == CCI_INV_DATA_BUFLEN && length >= kValueBufferSize) {
      std::vector<char16_t> large(static_cast<size_t>(length) + 1);
      const int full = cpiElementCharacterValue(&rc, valueElement, large.data(), length + 1);
      if (rc == CCI_SUCCESS) appendOutputUnits(context, large.data(), full);
    }
  } else if (valueType == CCI_ELEMENT_TYPE_BYTEARRAY) {
    CciByteArray bytes{};
    cpiElementByteArrayValue(&rc, valueElement, &bytes);
    if (rc == CCI_SUCCESS && bytes.pointer != nullptr)
      appendOutputBytes(context, bytes.pointer, bytes.size);
  } else {
    char text[kScalarTextSize];
    elementValueToText(text, kScalarTextSize, valueElement, context->iCodePage);
    appendOutputBytes(context, text, static_cast<int32_t>(std::strlen(text)));
  }
}

bool allChildrenAreVal(CciElement* folder) {
  int rc = 0;
  for (CciElement* child = cpiFirstChild(&rc, folder); rc == CCI_SUCCESS && child != nullptr;
       child = cpiNextSibling(&rc, child)) {
    if (cpiElementType(&rc, child) == CCI_ELEMENT_TYPE_NAME) return false;
    if (ElementName(child).view() != u"Val") return false;
  }
  return rc == CCI_SUCCESS;
}

bool hasChildren(CciElement* element) {
  int rc = 0;
  return cpiFirstChild(&rc, element) != nullptr && rc == CCI_SUCCESS;
}

// ---- The walk.

// One write of a tree below its header: the state createOutput keeps across chains.
class TreeWriter {
 public:
  TreeWriter(ParserContext* context, int slot) : c_(context), image_(metadataImage(slot)) {}
  void writeChain(CciElement* element);

 private:
  // An item as written: its tag and where its bytes stand in iOutBuffer. The tag is a copy: an
  // undefined tag is part of an element name, which is read anew for every element.
  struct WrittenItem {
    std::u16string tag;
    int32_t start;       // its tag
    int32_t valueStart;  // after "="
    int32_t valueEnd;    // its SOH
    int32_t end;         // after its SOH
  };
  // A numeric item that may be the length field of an embedded message whose items follow it as
  // its siblings: the shape the parser gives a DATA field flagged EMBEDDED_MESSAGE.
  struct LengthCandidate {
    std::u16string tag;
    int32_t start;   // its tag
    int32_t end;     // after its SOH, where the embedded items begin
    int64_t length;  // its value
  };
  // What one chain of siblings remembers while it is written.
  struct Chain {
    std::optional<WrittenItem> previous;  // the item just before the current element, if any
    std::vector<LengthCandidate> candidates;
  };

  void writeItem(Chain& chain, CciElement* element, const ElementName& name, int entry,
                 bool joinChildren);
  void writeFolder(Chain& chain, CciElement* element, int entry);
  void setDataLength(Chain& chain, WrittenItem& data);
  void settleCandidates(Chain& chain);
  void wrapAsData(int32_t dataStart, int entry);
  int embeddedOwner(std::u16string_view lengthTag) const;

  ParserContext* c_;
  const mtx::MetadataImage& image_;
};

void TreeWriter::writeChain(CciElement* element) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createOutput() element=0x%x offset=%d\n",
        traceAddress(element), c_->iIndex);
  Chain chain;
  int rc = CCI_SUCCESS;
  for (; element != nullptr && rc == CCI_SUCCESS; element = cpiNextSibling(&rc, element)) {
    const ElementName name(element);
    const int entry = lookupVariable(name.text(), image_);
    int typeRc = 0;
    if (cpiElementType(&typeRc, element) != CCI_ELEMENT_TYPE_NAME) {
      writeItem(chain, element, name, entry, false);
    } else if (entry >= 0 && image_.tagEntry(entry).type == mtx::TYPE_MULTIPLEVALUESTRING &&
               allChildrenAreVal(element)) {
      writeItem(chain, element, name, entry, true);  // the folder the parser makes of the field
    } else {
      writeFolder(chain, element, entry);
    }
    settleCandidates(chain);
    TRACE(traceSwitch(traceModule), "Data appended for element %S next offset %d remaining %d\n",
          name.text(), c_->iIndex, c_->iRemaining);
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createOutput() offset=%d\n", c_->iIndex);
}

void TreeWriter::writeItem(Chain& chain, CciElement* element, const ElementName& name, int entry,
                           bool joinChildren) {
  std::u16string_view tag;
  int type = mtx::TYPE_STRING;
  if (entry >= 0) {
    tag = image_.tagText(entry);
    type = image_.tagEntry(entry).type;
  } else if (name.view().starts_with(u"FX") && isTagText(name.view().substr(2))) {
    tag = name.view().substr(2);
  } else {
    char insert[256];
    textTo437(name.text(), insert, sizeof insert);
    raiseError(c_, ErrorPhase::Write, kSourceFile, __LINE__, "createOutput",
               FIXERR_UNRECOGNIZED_NAME, {insert}, "Unrecognized data name in parse tree - %s\n",
               insert);
  }
  WrittenItem item{std::u16string(tag), c_->iIndex, 0, 0, 0};
  appendOutputText(c_, tag);
  appendEqualSign(c_);
  item.valueStart = c_->iIndex;
  if (type == mtx::TYPE_MULTIPLEVALUESTRING && (joinChildren || hasChildren(element)))
    createMultiString(c_, element);
  else
    appendValue(c_, element);
  item.valueEnd = c_->iIndex;
  appendOutputSoh(c_);
  item.end = c_->iIndex;
  bumpCounter(outTagCount);

  if (type == mtx::TYPE_DATA && entry >= 0 && chain.previous &&
      image_.rawLengthTag(entry)[0] != 0 && chain.previous->tag == image_.rawLengthTag(entry))
    setDataLength(chain, item);
  if (c_->iNotFixOnly == 1 && (type == mtx::TYPE_INT || type == mtx::TYPE_STRING)) {
    const int64_t length = writtenNumber(c_, item.valueStart, item.valueEnd);
    if (length > 0) chain.candidates.push_back({item.tag, item.start, item.end, length});
  }
  chain.previous = std::move(item);
}

// The length field just before a DATA field carries the length of the data as written.
void TreeWriter::setDataLength(Chain& chain, WrittenItem& data) {
  WrittenItem& lengthItem = *chain.previous;
  const int32_t dataLength = data.valueEnd - data.valueStart;
  if (writtenNumber(c_, lengthItem.valueStart, lengthItem.valueEnd) == dataLength) return;
  const int32_t appended = c_->iIndex;
  appendOutputDecimal(c_, dataLength);
  const int32_t newLength = c_->iIndex - appended;
  const int32_t oldLength = lengthItem.valueEnd - lengthItem.valueStart;
  moveAppendedTo(c_, lengthItem.valueStart, appended);
  eraseOutput(c_, lengthItem.valueStart + newLength, oldLength);
  const int32_t shift = newLength - oldLength;
  lengthItem.valueEnd += shift;
  lengthItem.end += shift;
  data.start += shift;
  data.valueStart += shift;
  data.valueEnd += shift;
  data.end += shift;
  std::erase_if(chain.candidates,
                [&](const LengthCandidate& k) { return k.start >= lengthItem.start; });
}

void TreeWriter::writeFolder(Chain& chain, CciElement* element, int entry) {
  const bool embed = entry >= 0 && c_->iNotFixOnly == 1 &&
                     (image_.tagEntry(entry).flags & mtx::EMBEDDED_MESSAGE) != 0;
  if (embed && chain.previous && chain.previous->tag == image_.rawLengthTag(entry)) {
    // The folder writes its own length field with the real length; the one before it goes.
    eraseOutput(c_, chain.previous->start, chain.previous->end - chain.previous->start);
    outTagCount.fetch_sub(1, std::memory_order_relaxed);
    std::erase_if(chain.candidates,
                  [&](const LengthCandidate& k) { return k.start >= chain.previous->start; });
  }
  const int32_t start = c_->iIndex;
  int rc = 0;
  CciElement* child = cpiFirstChild(&rc, element);
  if (rc == CCI_SUCCESS && child != nullptr) writeChain(child);
  if (embed) {
    // The folder's items become the data of its DATA field, after the length field.
    const int32_t appended = c_->iIndex;
    appendOutputText(c_, image_.rawLengthTag(entry));
    appendEqualSign(c_);
    appendOutputDecimal(c_, appended - start);
    appendOutputSoh(c_);
    bumpCounter(outTagCount);
    moveAppendedTo(c_, start, appended);
    wrapAsData(c_->iIndex - (appended - start), entry);
  }
  chain.previous.reset();
}

// Makes the bytes [dataStart, iIndex) the value of the DATA field of entry: its tag and "=" go
// before them and an SOH after them.
void TreeWriter::wrapAsData(int32_t dataStart, int entry) {
  const int32_t appended = c_->iIndex;
  appendOutputText(c_, image_.tagText(entry));
  appendEqualSign(c_);
  moveAppendedTo(c_, dataStart, appended);
  appendOutputSoh(c_);
  bumpCounter(outTagCount);
}

// After each element of a chain: a length candidate whose value equals the bytes written since
// it, and whose tag is the length field of an embedded DATA field, gets that field wrapped around
// those bytes again. Newest first, so that an embedded message inside another is wrapped before
// the outer one is measured.
void TreeWriter::settleCandidates(Chain& chain) {
  for (size_t k = chain.candidates.size(); k-- > 0;) {
    const int64_t written = c_->iIndex - chain.candidates[k].end;
    if (written < chain.candidates[k].length) continue;
    const int owner =
        written == chain.candidates[k].length ? embeddedOwner(chain.candidates[k].tag) : -1;
    const int32_t dataStart = chain.candidates[k].end;
    if (owner < 0) {
      chain.candidates.erase(chain.candidates.begin() + static_cast<ptrdiff_t>(k));
      continue;
    }
    chain.candidates.resize(k);  // the newer ones stand inside the data
    wrapAsData(dataStart, owner);
    chain.previous.reset();
  }
}

// The first DATA entry flagged EMBEDDED_MESSAGE whose length field has this tag; -1 when none.
// Asked only when the bytes after a numeric item add up to its value.
int TreeWriter::embeddedOwner(std::u16string_view lengthTag) const {
  return image_.lookupEmbeddedOwner(lengthTag);
}

}  // namespace

// ---- Output size and header

int calcOutputSize(CciElement* element) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> calcOutputSize() element=0x%x\n",
        traceAddress(element));
  int64_t total = 0;
  int rc = CCI_SUCCESS;
  for (; element != nullptr && rc == CCI_SUCCESS; element = cpiNextSibling(&rc, element)) {
    int64_t size = kItemAllowance;
    int typeRc = 0;
    CciElement* valueElement = element;
    const int valueType = cniElementValueType(&typeRc, element);
    if (typeRc == CCI_SUCCESS) {
      int valueRc = 0;
      if (valueType == CCI_ELEMENT_TYPE_BOOLEAN) {
        size += 1;
      } else if (valueType == CCI_ELEMENT_TYPE_INTEGER) {
        char digits[24];
        size += formatDecimal(digits, cpiElementIntegerValue(&valueRc, valueElement));
      } else if (valueType == CCI_ELEMENT_TYPE_UTF16) {
        // Only the length is wanted, which the broker reports whatever the buffer holds.
        char16_t probe[1];
        size += std::max(0, cpiElementCharacterValue(&valueRc, valueElement, probe, 1));
      } else if (valueType == CCI_ELEMENT_TYPE_BYTEARRAY) {
        CciByteArray bytes{};
        size += std::max(0, cpiElementByteArrayValue(&valueRc, valueElement, &bytes));
      }
    }
    int childRc = 0;
    CciElement* child = cpiFirstChild(&childRc, element);
    if (childRc == CCI_SUCCESS && child != nullptr) size += calcOutputSize(child);
    total = std::min<int64_t>(total + size, INT32_MAX - kOutputMargin);
    TRACE(traceSwitch(traceWrite), "PLUGIN: calcOutputSize() element 0x%x size %d total %d\n",
          traceAddress(element), static_cast<int>(size), static_cast<int>(total));
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- calcOutputSize() size=%d\n", static_cast<int>(total));
  return static_cast<int>(total);
}

void createHeader(ParserContext* context, char* header) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createHeader() context=0x%x element=0x%x\n",
        traceAddress(context), traceAddress(context->currentElement));
  const int codePage = context->iCodePage;
  int h = encodeAscii("8=", header, kOutputHeaderSize, codePage);
  std::optional<ElementName> name;
  if (context->currentElement != nullptr) name.emplace(context->currentElement);
  if (name && (name->view() == u"BeginString" || name->view() == u"FX8")) {
    elementValueToText(header + h, kHeaderValueRoom, context->currentElement, codePage);
    h += static_cast<int>(std::strlen(header + h));
    char level[kLevelTextSize] = {};
    elementValueToText(level, kLevelTextSize, context->currentElement, kDefaultCodePage);
    char* to = context->iFixLevel;
    for (const char* from = level; *from != 0 && to < context->iFixLevel + kFixLevelSize - 1;
         ++from)
      if (*from != '.') *to++ = *from;
    *to = 0;
    int rc = 0;
    context->currentElement = cpiNextSibling(&rc, context->currentElement);
    name.reset();
    if (rc == CCI_SUCCESS && context->currentElement != nullptr)
      name.emplace(context->currentElement);
  } else {
    h += encodeAscii("FIX.4.2", header + h, kOutputHeaderSize - h, codePage);
    std::strcpy(context->iFixLevel, "FIX42");
  }
  h += encodeAscii(
      "\x01"
      "9=",
      header + h, kOutputHeaderSize - h, codePage);
  if (name && (name->view() == u"BodyLength" || name->view() == u"FX9")) {
    int rc = 0;
    context->currentElement = cpiNextSibling(&rc, context->currentElement);
    if (rc != CCI_SUCCESS) context->currentElement = nullptr;
  }
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createHeader() level=%s length=%d\n",
        context->iFixLevel, h);
}

int lookupVariable(const char16_t* name, const mtx::MetadataImage& image) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> lookupVariable() name=%S\n", name);
  const int entry = name[0] == u'F' && name[1] == u'X' ? mtx::findTagByNumber(image, name + 2)
                                                       : mtx::findTagByName(image, name);
  TRACE(traceSwitch(traceModule), "PLUGIN: <- lookupVariable() entry=%d\n", entry);
  return entry;
}

int createMultiString(ParserContext* context, CciElement* element) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createMultiString() element=0x%x offset=%d\n",
        traceAddress(element), context->iIndex);
  const int32_t start = context->iIndex;
  int rc = 0;
  CciElement* child = cpiFirstChild(&rc, element);
  for (bool first = true; rc == CCI_SUCCESS && child != nullptr;
       child = cpiNextSibling(&rc, child), first = false) {
    if (!first) appendOutputText(context, u" ");
    appendValue(context, child);
  }
  const int count = context->iIndex - start;
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createMultiString() count=%d\n", count);
  return count;
}

// ---- Message writer

void appendEqualSign(ParserContext* context) {
  appendOutputText(context, u"=");
}

int createOutput(ParserContext* context, CciElement* element, int slot) {
  TreeWriter(context, slot).writeChain(element);
  return context->iIndex;
}

int createOutputMessage(CciParser* parser, ParserContext* context) {
  TRACE(traceSwitch(traceModule), "PLUGIN: -> createOutputMessage() parser=0x%x context=0x%x\n",
        traceAddress(parser), traceAddress(context));
#if CORVALE_DIAGNOSTIC
  if (traceSwitch(traceModule)) traceTree(context->iRootElement, 0);
#endif
  int rc = 0;
  context->currentElement = cpiFirstChild(&rc, context->iRootElement);
  if (rc != CCI_SUCCESS) context->currentElement = nullptr;
  char header[kOutputHeaderSize];
  createHeader(context, header);
  int h = static_cast<int>(std::strlen(header));

  const int slot = getMetaDataEntry(traceSwitch(traceWrite), context->iFixLevel);
  if (slot < 0)
    raiseError(context, ErrorPhase::Write, kSourceFile, __LINE__, "createOutputMessage",
               FIXERR_NO_METADATA, {context->iFixLevel},
               "No metadata found for this fix level - %s\n", context->iFixLevel);
  const MetadataHold hold(traceSwitch(traceWrite), slot);

  // The estimate sizes the first buffer; the buffer grows when it falls short.
  context->iOutSize = calcOutputSize(context->currentElement) + kOutputMargin;
  context->iOutBuffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(context->iOutSize)));
  if (context->iOutBuffer == nullptr) throw std::bad_alloc();
  context->iIndex = 0;
  context->iRemaining = context->iOutSize;
  const int bodyLength = createOutput(context, context->currentElement, slot);

  char digits[24];
  int n = formatDecimal(digits, bodyLength);
  digits[n++] = '\x01';
  digits[n] = 0;
  h += encodeAscii(digits, header + h, kOutputHeaderSize - h, context->iCodePage);
  cpiAppendToBuffer(&rc, parser, reinterpret_cast<const uint8_t*>(header), h);

  const int sum = (calcCheckSum(reinterpret_cast<const uint8_t*>(header), h) +
                   calcCheckSum(context->iOutBuffer, context->iIndex)) %
                  256;
  // "10=", the sum as three digits, SOH (the sum is below 256).
  const char trailer[] = {'1',
                          '0',
                          '=',
                          static_cast<char>('0' + sum / 100),
                          static_cast<char>('0' + sum / 10 % 10),
                          static_cast<char>('0' + sum % 10),
                          '\x01',
                          0};
  appendOutputAscii(context, trailer);
  cpiAppendToBuffer(&rc, parser, context->iOutBuffer, context->iIndex);
  const int length = context->iIndex + h;
  std::free(context->iOutBuffer);
  context->iOutBuffer = nullptr;
  context->iOutSize = 0;
  context->iRemaining = 0;
  TRACE(traceSwitch(traceModule), "PLUGIN: <- createOutputMessage() length=%d\n", length);
  return length;
}

// fixsub - the FIX message codec: the scanner and framing check, the tree builder with repeating
// groups, raw data and multiple-value strings, and the writer that turns a tree back into a FIX
// message with computed BodyLength and CheckSum.
//
// State: none of its own beyond the ParserContext it is given; the metadata comes from the cache
// (metadata.h), every slot taken is released when the step that took it ends. The scanner works
// in place on iText (tags and values are terminated there, never copied) and never reads outside
// [0, iSize] of iText or outside the message bytes.
#ifndef CORVALE_PLUGIN_FIXSUB_H
#define CORVALE_PLUGIN_FIXSUB_H

#include <cstdint>
#include <string>

#include "brokerapi.h"
#include "corvale.h"

// One open repeating group; the chain runs from the innermost group outwards.
//
// A group stays open across parse steps, but each step gives its metadata slot back, so the
// level may be flushed and its image freed while the group is open; and the tag that opened it
// may have been cut from an embedded message's copy of the text, freed when that message ends.
// A frame therefore owns copies of every text it points to.
struct RepeatFrame {
  RepeatFrame* next;             // the enclosing open group, or null
  int32_t entryIndex;            // the RepeatEntry that opened the group
  const char16_t* groupName;     // the entry's group name, in texts
  const char16_t* startTag;      // tag text of the item that opened the group, in startTagText
  const char16_t* allowedItems;  // the entry's "a\0b\0\0" list, in texts
  char16_t startTagText[8];      // at most six digits and a zero
  std::u16string texts;          // the group name and its zero, then the allowed-items list
};

// Converts the message bytes [start, end) of iBuffer into the same positions of iText in
// iCodePage. Raises 0xCFFF0022 when the code page does not give one character per byte.
void convertMessageText(ParserContext* context, int32_t start, int32_t end);

// Scanner.
void advance(ParserContext* context);
void goToDelimiter(ParserContext* context, unsigned char delimiter);
int isolateTag(ParserContext* context);
int isolateData(ParserContext* context);
int calcCheckSum(const uint8_t* bytes, int32_t length);
void validateCheckSum(ParserContext* context);
void checkMessageFormat(ParserContext* context);

// Tree builder (one item per call).
void parseNextItem(CciParser* parser, ParserContext* context);
void parseElement(CciParser* parser, ParserContext* context, int slot);
CciElement* createHeaderElement(CciParser* parser, ParserContext* context, const char16_t* name);
void finishHeaderElement(ParserContext* context);
void createVariableLengthElement(CciParser* parser, ParserContext* context, const char16_t* name,
                                 const char16_t* value, int length);
int isGroupMember(const ParserContext* context, const char16_t* tag);
// Unlinks and frees every frame of the iRepeat chain.
void freeRepeatFrames(ParserContext* context);

// Raw data and multiple-value strings.
void processRawData(CciParser* parser, ParserContext* context, const char16_t* name, uint8_t flags,
                    int slot);
void insertMultiStr(CciParser* parser, ParserContext* context, const char16_t* name,
                    const char16_t* start, const char16_t* end);

// Writer. The body buffer iOutBuffer is allocated with malloc and grows with realloc; the writer
// frees it when the message is written, resetContext frees one left behind by an error.
// Size of the header buffer: "8=", the level, SOH, "9=", the body length, SOH and a zero.
constexpr int kOutputHeaderSize = 64;
// Writes the tree below iRootElement as one FIX message to the parser's output stream (header,
// then body and trailer); returns the bytes appended. Raises 0xCFFF0016 (no metadata for the
// level) and 0xCFFF0015 (a name that is no field) before anything is appended.
int createOutputMessage(CciParser* parser, ParserContext* context);
// A first estimate of the bytes that the chain from element (and everything below it) needs.
int calcOutputSize(CciElement* element);
// Fills header (kOutputHeaderSize bytes) with "8=", the level, SOH and "9=" in iCodePage; sets
// iFixLevel; moves currentElement past BeginString and BodyLength.
void createHeader(ParserContext* context, char* header);
namespace mtx {
class MetadataImage;
}
// The TagEntry of an element name ("FX" and digits: by tag), or -1.
int lookupVariable(const char16_t* name, const mtx::MetadataImage& image);
// Writes the values of element's children joined by single blanks at iIndex; returns the bytes.
int createMultiString(ParserContext* context, CciElement* element);
// Writes the chain from element as items at iIndex with the metadata of slot; returns iIndex.
int createOutput(ParserContext* context, CciElement* element, int slot);
// Writes "=" in iCodePage at iIndex.
void appendEqualSign(ParserContext* context);

const char* fixsubVersion();

#endif  // CORVALE_PLUGIN_FIXSUB_H

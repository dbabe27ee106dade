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

#include "brokerapi.h"
#include "corvale.h"

// One open repeating group; the chain runs from the innermost group outwards.
struct RepeatFrame {
  RepeatFrame* next;             // the enclosing open group, or null
  int32_t entryIndex;            // the RepeatEntry that opened the group
  const char16_t* groupName;     // inside the metadata image
  const char16_t* startTag;      // tag text of the item that opened the group, inside iText
  const char16_t* allowedItems;  // "a\0b\0\0" list inside the metadata image
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
void processRawData(CciParser* parser, ParserContext* context, const char16_t* name,
                    uint8_t flags, int slot);
void insertMultiStr(CciParser* parser, ParserContext* context, const char16_t* name,
                    const char16_t* start, const char16_t* end);

// Writer.
int createOutputMessage(CciParser* parser, ParserContext* context);

const char* fixsubVersion();

#endif  // CORVALE_PLUGIN_FIXSUB_H

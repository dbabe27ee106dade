// mgmtmsg - management messages (MessageSet "SYSTMGMT"): a 16-character header (version,
// modification level, command) and the six commands FLUSH, FLUSHALL, STATS, TRACEON, TRACEOFF and
// GETLEVEL. Replies are built under the message's own root element; the root is always completed.
// Keeps no state between messages; never reads beyond the message text.
#ifndef CORVALE_PLUGIN_MGMTMSG_H
#define CORVALE_PLUGIN_MGMTMSG_H

#include <cstdint>

#include "brokerapi.h"
#include "corvale.h"

// Runs the management message held in the context and completes the root element.
void parseMgmtMsg(CciParser* parser, ParserContext* context);

void processFlushMsg(int version, int modificationLevel, const char* data, int dataLength);
void processFlushallMsg();
void processGetlevelMsg(CciParser* parser);
void processStatsMsg(CciParser* parser, int version, int modificationLevel, const char* data);

// Reply elements (names and values are code page 437 texts).
CciElement* newNameElement(CciParser* parser, const char* name);
void addCharacterElement(CciParser* parser, CciElement* parent, const char* value,
                         const char* name);
void addStatElement(CciParser* parser, const char* valueText, const char* name, CciElement* parent);
void addIntegerElement(CciParser* parser, int32_t value, const char* name, CciElement* parent);
void addTimeElement(CciParser* parser, int64_t value, const char* name, CciElement* parent);

// Room for any time text, terminating zero included.
constexpr int kTimeTextSize = 32;
// A count of microseconds as milliseconds with two decimals, truncated ("1234.56" for 1234567).
void formatTimeValue(int64_t microseconds, char* buffer, int size);

extern const char mgmtmsgVersion[];

#endif  // CORVALE_PLUGIN_MGMTMSG_H

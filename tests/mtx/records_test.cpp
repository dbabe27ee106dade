// Record layouts and the type code tables.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "mtx/mtx.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Records, HeaderBytesAreLittleEndianInFieldOrder) {
  const Bytes bytes = {0x20, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,   // length, version, maxVars
                       0x00, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00, 0x00,   // reserved, namesOffset
                       0x6b, 0x00, 0x00, 0x00, 0xc3, 0x00, 0x00, 0x00,   // unicode, repeat offsets
                       0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // repeatCount, reserved
  const mtx::MetadataHeader h = mtx::decodeHeader(bytes.data());
  EXPECT_EQ(h.headerLength, 32);
  EXPECT_EQ(h.version, 0);
  EXPECT_EQ(h.maxVars, 2);
  EXPECT_EQ(h.namesOffset, 80);
  EXPECT_EQ(h.unicodeOffset, 107);
  EXPECT_EQ(h.repeatOffset, 195);
  EXPECT_EQ(h.repeatCount, 1);
  Bytes out(32, 0xAA);
  mtx::encodeHeader(h, out.data());
  EXPECT_EQ(out, bytes);
}

TEST(Records, TagEntryTypeIsSignedAndFlagsKeepEveryBit) {
  const Bytes bytes = {0x01, 0x02, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,   // name offsets
                       0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,   // tag offsets
                       0xff, 0xff, 0xff, 0x7f, 0xff, 0xa5, 0x81, 0x00};  // raw, type, flags
  const mtx::TagEntry e = mtx::decodeTagEntry(bytes.data());
  EXPECT_EQ(e.nameOffset, 0x201);
  EXPECT_EQ(e.nameUnicodeOffset, 4);
  EXPECT_EQ(e.tagOffset, 9);
  EXPECT_EQ(e.tagUnicodeOffset, 0x10000);
  EXPECT_EQ(e.rawLenUnicodeOffset, 0x7fffffff);
  EXPECT_EQ(e.type, -1);
  EXPECT_EQ(e.flags, 0xa5);
  EXPECT_EQ(e.flags2, 0x81);
  Bytes out(24, 0xAA);
  mtx::encodeTagEntry(e, out.data());
  EXPECT_EQ(out, bytes);
}

TEST(Records, RepeatEntryCarriesMessageTypeBytesAsTheyStand) {
  const Bytes bytes = {'A',  'E',  0,    0,    0,    0,    0,    0,      // messageType
                       0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // groupName, reserved
                       0x1d, 0x00, 0x00, 0x00, 0x1a, 0x00, 0x00, 0x00,   // first, count
                       0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80};  // items, reserved
  const mtx::RepeatEntry e = mtx::decodeRepeatEntry(bytes.data());
  EXPECT_STREQ(e.messageType, "AE");
  EXPECT_EQ(e.groupNameOffset, 32);
  EXPECT_EQ(e.firstTagOffset, 29);
  EXPECT_EQ(e.countTagOffset, 26);
  EXPECT_EQ(e.itemsOffset, 39);
  EXPECT_EQ(e.reserved2, INT32_MIN);
  Bytes out(32, 0xAA);
  mtx::encodeRepeatEntry(e, out.data());
  EXPECT_EQ(out, bytes);
}

struct TypeRow {
  int code;
  const char* keyword;
  const char* display;
};

// Note 12, 13, 14: timestamp, time only, date only.
const TypeRow kTypeRows[] = {
    {0, "INT", "Integer"},
    {1, "FLOAT", "Float"},
    {2, "QTY", "Quantity"},
    {3, "PRICE", "Price"},
    {4, "PRICEOFFSET", "Price Ofs"},
    {5, "AMT", "Amount"},
    {6, "CHAR", "Char"},
    {7, "BOOLEAN", "Bool"},
    {8, "STRING", "String"},
    {9, "MULTIPLEVALUESTRING", "Multi Str"},
    {10, "CURRENCY", "Currency"},
    {11, "EXCHANGE", "Exchange"},
    {12, "UTCTIMESTAMP", "Timestamp"},
    {13, "UTCTIMEONLY", "Time Only"},
    {14, "UTCDATE", "Date Only"},
    {15, "LOCALMKTDATE", "Market Dt"},
    {16, "DATA", "Raw"},
    {17, "MONTH-YEAR", "YYYYMM"},
    {18, "DAY-OF-MONTH", "Day of Mon"},
};

TEST(TypeCodes, KeywordsAndDisplayNames) {
  for (const TypeRow& row : kTypeRows) {
    SCOPED_TRACE(row.keyword);
    EXPECT_STREQ(mtx::typeKeyword(row.code), row.keyword);
    EXPECT_STREQ(mtx::typeDisplayName(row.code), row.display);
    EXPECT_EQ(mtx::typeCodeFromKeyword(row.keyword), row.code);
    std::string lower = row.keyword;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(mtx::typeCodeFromKeyword(lower), row.code);
  }
}

TEST(TypeCodes, AnythingElseIsUnknownWithEmptyTexts) {
  for (const char* keyword :
       {"", "INTEGER", "UTC TIMESTAMP", " INT", "INT ", "MONTHYEAR", "DAY_OF_MONTH", "\xe9"}) {
    EXPECT_EQ(mtx::typeCodeFromKeyword(keyword), mtx::TYPE_UNKNOWN) << keyword;
  }
  for (int code : {-1, 19, 127, -128}) {
    EXPECT_STREQ(mtx::typeKeyword(code), "");
    EXPECT_STREQ(mtx::typeDisplayName(code), "");
  }
}

}  // namespace

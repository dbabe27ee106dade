// Code page conversion: single-byte tables, UTF-8, the zero-unit rule and failures.
#include <gtest/gtest.h>

#include "broker/broker.h"

namespace {

const int kSingleByte[] = {437, 819, 850, 1252, 37, 500, 1047};

TEST(BrokerCodePageTest, EveryByteRoundTripsInTheSingleByteCodePages) {
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
  for (int ccsid : kSingleByte) {
    SCOPED_TRACE(ccsid);
    // Through the C++ helpers, zero byte included.
    const std::u16string text = broker::toUnicode(all, ccsid);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(std::u16string(1, text[0]), std::u16string(1, u'\0'));
    EXPECT_EQ(broker::fromUnicode(text, ccsid), all);
    // No two bytes share a character.
    std::u16string sorted = text;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());

    // Through the C functions, bytes 1 to 255 (a zero would end the text).
    CciChar units[255];
    int rc = -1;
    EXPECT_EQ(cciMbsToUcs(&rc, all.data() + 1, units, 255, ccsid), 255);
    EXPECT_EQ(rc, CCI_SUCCESS);
    EXPECT_EQ(std::u16string(units, 255), text.substr(1));
    char back[255];
    EXPECT_EQ(cciUcsToMbs(&rc, units, back, 255, ccsid), 255);
    EXPECT_EQ(rc, CCI_SUCCESS);
    EXPECT_EQ(std::string(back, 255), all.substr(1));
  }
}

TEST(BrokerCodePageTest, KnownCharactersHaveTheirCodePageBytes) {
  struct Case {
    int ccsid;
    char16_t character;
    unsigned char byte;
  } cases[] = {
      {437, u'A', 0x41},      {437, u'\u00e9', 0x82},  {850, u'\u00e9', 0x82},
      {819, u'\u00e9', 0xE9}, {1252, u'\u0178', 0x9F}, {37, u'A', 0xC1},
      {500, u'A', 0xC1},      {1047, u'A', 0xC1},      {37, u'0', 0xF0},
      {37, u'=', 0x7E},       {500, u'[', 0x4A},       {1047, u'[', 0xAD},
      {1208, u'A', 0x41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ccsid << " U+" << std::hex << int(c.character));
    const std::string byte(1, static_cast<char>(c.byte));
    EXPECT_EQ(broker::fromUnicode(std::u16string(1, c.character), c.ccsid), byte);
    EXPECT_EQ(broker::toUnicode(byte, c.ccsid), std::u16string(1, c.character));
  }
}

// At most count units; a zero unit is converted and ends the conversion; the result counts the
// units before it.
TEST(BrokerCodePageTest, ConversionStopsAfterTheFirstZero) {
  struct Case {
    const char* what;
    std::string bytes;
    int count;
    int result;
    size_t written;  // units written, the zero included
  } cases[] = {
      {"zero inside", std::string("AB\0CD", 5), 5, 2, 3},
      {"zero first", std::string("\0AB", 3), 3, 0, 1},
      {"no zero within count", "ABCD", 3, 3, 3},
      {"nothing to convert", "AB", 0, 0, 0},
  };
  for (int ccsid : {437, 500, 1208}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << ccsid << " " << c.what);
      const std::string bytes = broker::fromUnicode(broker::toUnicode(c.bytes, 437), ccsid);
      CciChar units[8];
      std::fill(std::begin(units), std::end(units), u'#');
      int rc = -1;
      EXPECT_EQ(cciMbsToUcs(&rc, bytes.data(), units, c.count, ccsid), c.result);
      EXPECT_EQ(rc, CCI_SUCCESS);
      const std::u16string expected = broker::toUnicode(c.bytes.substr(0, c.written), 437);
      EXPECT_EQ(std::u16string(units, c.written), expected);
      EXPECT_EQ(units[c.written], u'#');

      char out[8];
      std::fill(std::begin(out), std::end(out), '#');
      EXPECT_EQ(cciUcsToMbs(&rc, units, out, static_cast<int>(c.written), ccsid), c.result);
      EXPECT_EQ(rc, CCI_SUCCESS);
      EXPECT_EQ(std::string(out, c.written), bytes.substr(0, c.written));
      EXPECT_EQ(out[c.written], '#');
    }
  }
}

TEST(BrokerCodePageTest, Utf8GivesFewerCharactersForMultiByteText) {
  // "e" with acute (2 bytes), the euro sign (3 bytes), G clef (4 bytes: a surrogate pair).
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  const std::u16string expected = u"a\u00e9\u20ac\U0001D11E";
  CciChar units[16];
  int rc = -1;
  const int n = cciMbsToUcs(&rc, utf8.data(), units, static_cast<int>(utf8.size()), 1208);
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(std::u16string(units, n), expected);
  EXPECT_EQ(n, 5);

  char bytes[3 * 5];
  EXPECT_EQ(cciUcsToMbs(&rc, units, bytes, n, 1208), static_cast<int>(utf8.size()));
  EXPECT_EQ(rc, CCI_SUCCESS);
  EXPECT_EQ(std::string(bytes, utf8.size()), utf8);

  // ASCII is one character per byte.
  EXPECT_EQ(broker::toUnicode("8=FIX.4.2", 1208), u"8=FIX.4.2");
  EXPECT_EQ(broker::utf16("caf\xC3\xA9"), u"caf\u00e9");
  EXPECT_EQ(broker::utf8(u"caf\u00e9"), "caf\xC3\xA9");
}

TEST(BrokerCodePageTest, FailuresAreReported) {
  CciChar units[8];
  char bytes[8];
  struct Case {
    const char* what;
    std::function<int(int*)> convert;
    int rc;
  } cases[] = {
      {"unknown code page to characters",
       [&](int* r) { return cciMbsToUcs(r, "AB", units, 2, 99999); }, CCI_CONVERSION_FAILED},
      {"unknown code page to bytes", [&](int* r) { return cciUcsToMbs(r, u"AB", bytes, 2, 99999); },
       CCI_CONVERSION_FAILED},
      {"a two-byte code page (UTF-16)",
       [&](int* r) { return cciMbsToUcs(r, "AB", units, 2, 1200); }, CCI_CONVERSION_FAILED},
      {"invalid UTF-8", [&](int* r) { return cciMbsToUcs(r, "A\xFF", units, 2, 1208); },
       CCI_CONVERSION_FAILED},
      {"euro sign in 437", [&](int* r) { return cciUcsToMbs(r, u"\u20ac", bytes, 1, 437); },
       CCI_CONVERSION_FAILED},
      {"null bytes", [&](int* r) { return cciMbsToUcs(r, nullptr, units, 2, 437); },
       CCI_INV_DATA_POINTER},
      {"null characters", [&](int* r) { return cciUcsToMbs(r, nullptr, bytes, 2, 437); },
       CCI_INV_DATA_POINTER},
      {"null destination", [&](int* r) { return cciUcsToMbs(r, u"A", nullptr, 1, 437); },
       CCI_INV_DATA_POINTER},
      {"negative count", [&](int* r) { return cciMbsToUcs(r, "A", units, -1, 437); },
       CCI_INV_ARGUMENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int rc = -1;
    c.convert(&rc);
    EXPECT_EQ(rc, c.rc);
  }
  EXPECT_THROW(broker::toUnicode("AB", 99999), broker::UsageError);
  EXPECT_THROW(broker::fromUnicode(u"\u20ac", 37), broker::UsageError);
}

// Unmappable text keeps its length: each unit becomes the code page's substitution byte.
TEST(BrokerCodePageTest, UnmappableCharactersAreSubstituted) {
  struct Case {
    int ccsid;
    unsigned char substitute;
  } cases[] = {{437, 0x7F}, {819, 0x1A}, {37, 0x3F}, {500, 0x3F}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ccsid);
    char bytes[3];
    int rc = -1;
    EXPECT_EQ(cciUcsToMbs(&rc, u"A\u4e00A", bytes, 3, c.ccsid), 3);
    EXPECT_EQ(rc, CCI_CONVERSION_FAILED);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), c.substitute);
    EXPECT_EQ(std::string(1, bytes[2]), broker::fromUnicode(u"A", c.ccsid));
  }
}

}  // namespace

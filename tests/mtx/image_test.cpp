// Loading images (valid, empty, default, malformed) and the indexed searches against a plain
// scan from the first entry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mtx/mtx.h"
#include "mtx/mtxwriter.h"
#include "tests/support/metadata_lines.h"

namespace {

using corvale_test::compileMetadata;
using Bytes = std::vector<uint8_t>;
using mtx::MetadataImage;

std::unique_ptr<MetadataImage> load(Bytes file) {
  std::string reason;
  auto image = MetadataImage::fromBytes(std::move(file), &reason);
  EXPECT_NE(image, nullptr) << reason;
  return image;
}

// The searches as a scan from entry 0: the first exact match wins.
int scanTag(const MetadataImage& image, std::u16string_view tag) {
  for (int i = 0; i < image.maxVars(); ++i) {
    if (tag == image.tagText(i)) return i;
  }
  return -1;
}

int scanName(const MetadataImage& image, std::u16string_view name) {
  for (int i = 0; i < image.maxVars(); ++i) {
    if (name == image.fieldName(i)) return i;
  }
  return -1;
}

int scanRepeat(const MetadataImage& image, const char* type, std::u16string_view count,
               std::u16string_view first) {
  for (int i = 0; i < image.repeatCount(); ++i) {
    const mtx::RepeatEntry e = image.repeatEntry(i);
    if (std::strcmp(e.messageType, type) == 0 && count == image.unicodeText(e.countTagOffset) &&
        first == image.unicodeText(e.firstTagOffset)) {
      return i;
    }
  }
  return -1;
}

void expectSearchesMatchScan(const MetadataImage& image, const std::vector<std::u16string>& texts,
                             const std::vector<std::string>& types) {
  for (const std::u16string& text : texts) {
    EXPECT_EQ(mtx::findTagByNumber(image, text.c_str()), scanTag(image, text));
    EXPECT_EQ(mtx::findTagByName(image, text.c_str()), scanName(image, text));
  }
  for (const std::string& type : types) {
    for (const std::u16string& count : texts) {
      for (const std::u16string& first : texts) {
        EXPECT_EQ(mtx::findRepeatDefinition(image, type.c_str(), count.c_str(), first.c_str()),
                  scanRepeat(image, type.c_str(), count, first));
      }
    }
  }
}

// The file with no entries: header, the two NULs of the names area, the two NUL units of the
// Unicode names area.
const Bytes kEmptyFile = {0x20, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0x22, 0, 0,
                          0,    0x26, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0};

TEST(Image, EmptyFileOf38BytesIsReadAndFindsNothing) {
  ASSERT_EQ(kEmptyFile.size(), 38u);
  auto image = load(kEmptyFile);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->maxVars(), 0);
  EXPECT_EQ(image->repeatCount(), 0);
  EXPECT_EQ(image->byteSize(), 6u);
  for (const char16_t* text : {u"", u"35", u"MsgType"}) {
    EXPECT_EQ(mtx::findTagByNumber(*image, text), -1);
    EXPECT_EQ(mtx::findTagByName(*image, text), -1);
    EXPECT_EQ(mtx::findRepeatDefinition(*image, "", text, text), -1);
  }
  // The writer lays out the same bytes for no definitions at all.
  mtx::MetadataWriter writer;
  Bytes built;
  ASSERT_TRUE(writer.build(&built, nullptr));
  EXPECT_EQ(built, kEmptyFile);
}

TEST(Image, DefaultImageFindsNothingAndReadsEmptyTexts) {
  auto image = MetadataImage::makeDefault();
  EXPECT_EQ(image->maxVars(), 0);
  EXPECT_EQ(image->repeatCount(), 0);
  EXPECT_EQ(image->byteSize(), 64u);
  EXPECT_STREQ(image->narrowText(0), "");
  EXPECT_EQ(std::u16string_view(image->unicodeText(0)), u"");
  EXPECT_EQ(mtx::findTagByNumber(*image, u"8"), -1);
  EXPECT_EQ(mtx::findTagByName(*image, u""), -1);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "", u"", u""), -1);
}

TEST(Image, TextsOfEntriesComeBackAsWritten) {
  auto image = load(compileMetadata(
      {"35,MsgType,STRING,16", "96,RawData,DATA,0,0,95", "200,Caf\xe9 Cr\xe8me,INT,0"},
      {"D,78,79,Allocs,80,81", "AE,1,2,Grp"}));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::u16string_view(image->tagText(1)), u"96");
  EXPECT_EQ(std::u16string_view(image->fieldName(1)), u"RawData");
  EXPECT_EQ(std::u16string_view(image->rawLengthTag(1)), u"95");
  // No raw-length tag: offset 0, the empty text.
  EXPECT_EQ(image->tagEntry(0).rawLenUnicodeOffset, 0);
  EXPECT_EQ(std::u16string_view(image->rawLengthTag(0)), u"");
  // Bytes above 127 are widened one to one, not decoded.
  EXPECT_EQ(std::u16string_view(image->fieldName(2)), u"Caf\u00e9 Cr\u00e8me");
  EXPECT_STREQ(image->narrowText(image->tagEntry(2).nameOffset), "Caf\xe9 Cr\xe8me");
  EXPECT_EQ(std::u16string_view(image->groupName(0)), u"Allocs");
  EXPECT_EQ(std::u16string(image->allowedItems(0), 6), std::u16string(u"80\0"
                                                                      u"81\0",
                                                                      6));
  EXPECT_EQ(image->allowedItems(1)[0], u'\0');
  EXPECT_EQ(image->tagEntry(0).type, mtx::TYPE_STRING);
  EXPECT_EQ(image->tagEntry(0).flags, mtx::MSG_TYPE);
}

TEST(Image, SearchesKeepFirstMatchAndExactComparison) {
  auto image = load(compileMetadata(
      {
          "35,MsgType,STRING,16",
          "35,SecondWithSameTag,STRING,0",  // never found by tag: entry 0 comes first
          "036,LeadingZero,STRING,0",
          "37,MsgType,STRING,0",  // same name as entry 0
          " 38,Spaced,STRING,0",
          "39,msgtype,STRING,0",
      },
      {
          "D,78,79,Allocs,80",
          "D,78,79,Duplicate,81",  // same key: never found
          "E,78,79,OtherType",
          ",78,79,NoType",
          "D,78,80,OtherFirst",
      }));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"35"), 0);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"035"), -1);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"36"), -1);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"036"), 2);
  EXPECT_EQ(mtx::findTagByNumber(*image, u"38"), -1);
  EXPECT_EQ(mtx::findTagByName(*image, u"MsgType"), 0);
  EXPECT_EQ(mtx::findTagByName(*image, u"msgtype"), 5);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "D", u"78", u"79"), 0);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "d", u"78", u"79"), -1);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "", u"78", u"79"), 3);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "D", u"79", u"78"), -1);

  std::vector<std::u16string> texts = {u"", u"0", u"3", u"35 ", u"MSGTYPE", u"78", u"079"};
  for (int i = 0; i < image->maxVars(); ++i) {
    texts.push_back(image->tagText(i));
    texts.push_back(image->fieldName(i));
  }
  expectSearchesMatchScan(*image, texts, {"", "D", "E", "F", "DD"});
}

class ShippedLevel : public testing::TestWithParam<const char*> {};

TEST_P(ShippedLevel, SearchesMatchAScanFromTheFirstEntry) {
  std::string reason;
  auto image = MetadataImage::fromFile(
      std::string(CORVALE_BUILD_MTX_DIR) + "/" + GetParam() + ".mtx", &reason);
  ASSERT_NE(image, nullptr) << reason;
  // A spread of entries' own texts (every entry of the smaller levels), and near misses.
  const int tagStep = image->maxVars() / 1000 + 1;
  for (int i = 0; i < image->maxVars(); i += tagStep) {
    const std::u16string tag = image->tagText(i);
    const std::u16string name = image->fieldName(i);
    ASSERT_EQ(mtx::findTagByNumber(*image, tag.c_str()), scanTag(*image, tag)) << i;
    ASSERT_EQ(mtx::findTagByName(*image, name.c_str()), scanName(*image, name)) << i;
    const std::u16string zero = u"0" + tag;
    ASSERT_EQ(mtx::findTagByNumber(*image, zero.c_str()), -1);
  }
  // A spread of repeat keys, each also asked under another message type.
  const int step = image->repeatCount() / 100 + 1;
  for (int i = 0; i < image->repeatCount(); i += step) {
    const mtx::RepeatEntry e = image->repeatEntry(i);
    const std::u16string count = image->unicodeText(e.countTagOffset);
    const std::u16string first = image->unicodeText(e.firstTagOffset);
    for (const char* type : {static_cast<const char*>(e.messageType), "D", "ZZ"}) {
      ASSERT_EQ(mtx::findRepeatDefinition(*image, type, count.c_str(), first.c_str()),
                scanRepeat(*image, type, count, first))
          << i << " " << type;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, ShippedLevel, testing::Values("FIX42", "FIX44", "FIXT11"));

// ---- Malformed files

// Offsets in the file below (two fields, one repeat entry): names area at 80 (27 bytes),
// Unicode names area at 107 (44 units), repeat entries at 195, 227 bytes in all.
Bytes smallFile() {
  return compileMetadata({"35,MsgType,STRING,16", "96,RawData,DATA,0,0,95"}, {"D,78,79,Allocs,80"});
}

void put32(Bytes& file, size_t at, int32_t value) {
  for (int i = 0; i < 4; ++i)
    file[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

struct Malformed {
  const char* what;
  void (*damage)(Bytes&);
  const char* reason;  // part of the reason given
};

const Malformed kMalformed[] = {
    {"empty", [](Bytes& f) { f.clear(); }, "shorter than its 32-byte header"},
    {"31 bytes", [](Bytes& f) { f.resize(31); }, "file of 31 bytes is shorter"},
    {"last repeat entry cut", [](Bytes& f) { f.pop_back(); }, "repeat entry count larger"},
    {"cut inside the tag entries", [](Bytes& f) { f.resize(60); }, "tag entry count larger"},
    {"maxVars huge", [](Bytes& f) { put32(f, 4, INT32_MAX); }, "tag entry count larger"},
    {"maxVars negative", [](Bytes& f) { put32(f, 4, -1); }, "negative tag entry count"},
    {"repeatCount huge", [](Bytes& f) { put32(f, 24, INT32_MAX); }, "repeat entry count larger"},
    {"repeatCount negative", [](Bytes& f) { put32(f, 24, INT32_MIN); }, "negative repeat entry"},
    {"names inside the tag entries", [](Bytes& f) { put32(f, 12, 79); }, "names area offset"},
    {"names past the end", [](Bytes& f) { put32(f, 12, 228); }, "names area offset"},
    {"names negative", [](Bytes& f) { put32(f, 12, INT32_MIN); }, "names area offset"},
    {"Unicode before names", [](Bytes& f) { put32(f, 16, 79); }, "Unicode names area offset"},
    {"Unicode past the end", [](Bytes& f) { put32(f, 16, INT32_MAX); }, "Unicode names area"},
    {"repeats before Unicode", [](Bytes& f) { put32(f, 20, 100); }, "repeat entries offset"},
    {"repeats past the end", [](Bytes& f) { put32(f, 20, INT32_MAX); }, "repeat entries offset"},
    {"name offset past the names area", [](Bytes& f) { put32(f, 32, 27); }, "tag entry 0: name"},
    {"negative tag offset", [](Bytes& f) { put32(f, 56 + 8, -1); }, "tag entry 1: tag text"},
    {"Unicode name offset past the area", [](Bytes& f) { put32(f, 32 + 4, 44); },
     "tag entry 0: Unicode name"},
    {"raw-length offset past the area", [](Bytes& f) { put32(f, 56 + 16, 1000); },
     "tag entry 1: raw-length tag text"},
    {"names area not terminated",
     [](Bytes& f) {
       for (size_t i = 80 + 20; i < 107; ++i) f[i] = 'x';
     },
     "tag entry 1: tag text"},
    {"Unicode area not terminated",
     [](Bytes& f) {
       for (size_t i = 107 + 2 * 39; i < 195; i += 2) f[i] = 'x';
     },
     "repeat entry 0: allowed items"},
    {"item list runs to the end of the area", [](Bytes& f) { f[107 + 2 * 42] = 'x'; },
     "repeat entry 0: allowed items"},
    {"message type fills all 8 bytes", [](Bytes& f) { std::memcpy(f.data() + 195, "ABCDEFGH", 8); },
     "repeat entry 0: message type"},
    {"group name offset negative", [](Bytes& f) { put32(f, 195 + 8, -2); }, "group name"},
    {"first tag offset past the area", [](Bytes& f) { put32(f, 195 + 16, 44); }, "first tag"},
    {"count tag offset past the area", [](Bytes& f) { put32(f, 195 + 20, 99); }, "count tag"},
    {"items offset past the area", [](Bytes& f) { put32(f, 195 + 24, 44); },
     "repeat entry 0: allowed items"},
};

TEST(Image, MalformedFilesAreRejectedWithTheirReason) {
  const Bytes good = smallFile();
  ASSERT_EQ(good.size(), 227u);
  ASSERT_NE(load(good), nullptr);
  for (const Malformed& m : kMalformed) {
    SCOPED_TRACE(m.what);
    Bytes damaged = good;
    m.damage(damaged);
    // An exact-size copy, so that any read past its end is a sanitizer error.
    Bytes exact(damaged.begin(), damaged.end());
    std::string reason;
    EXPECT_EQ(MetadataImage::fromBytes(std::move(exact), &reason), nullptr);
    EXPECT_NE(reason.find(m.reason), std::string::npos) << reason;
  }
}

TEST(Image, UnreadableFileIsRejectedWithItsPath) {
  std::string reason;
  EXPECT_EQ(MetadataImage::fromFile("/nonexistent/FIX42.mtx", &reason), nullptr);
  EXPECT_NE(reason.find("/nonexistent/FIX42.mtx"), std::string::npos) << reason;
}

}  // namespace

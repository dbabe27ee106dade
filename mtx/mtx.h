// mtx - the metadata file: its records, type codes and flags, the in-memory image and the
// searches on it. Shared by the plug-in, tabwright and tabpeek.
//
// File layout (all integers little-endian, no padding): a 32-byte MetadataHeader, maxVars
// 24-byte TagEntry records, the names area (8-bit texts), the Unicode names area (16-bit units),
// then repeatCount 32-byte RepeatEntry records up to the end of the file. Offsets in the header
// count bytes from the start of the file; text offsets in the records count bytes in the names
// area or 16-bit units in the Unicode names area. Offset 0 of either area is the empty text.
//
// Reading is validated once, at load: a file shorter than its header, whose counts or offsets
// point outside it, or whose texts are not terminated inside their area is rejected with a
// reason. After that the accessors are plain reads; records are copied out with memcpy, never
// cast from the image.
//
// Searches keep the file's semantics (the first matching entry wins; texts compare exactly, so
// "035" never finds tag 35) but go through indexes built at load time: hash tables, and for tag
// texts that are plain numbers a vector indexed by the number.
#ifndef CORVALE_MTX_MTX_H
#define CORVALE_MTX_MTX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mtx {

struct MetadataHeader {
  uint8_t headerLength;   // 0: always 32
  uint8_t version;        // 1: always 0
  uint16_t reserved1;     // 2
  int32_t maxVars;        // 4: number of tag entries
  int32_t reserved2;      // 8
  int32_t namesOffset;    // 12: file offset of the names area (32 + 24 x maxVars)
  int32_t unicodeOffset;  // 16: file offset of the Unicode names area
  int32_t repeatOffset;   // 20: file offset of the repeat entries
  int32_t repeatCount;    // 24: number of repeat entries
  int32_t reserved3;      // 28
};

struct TagEntry {
  int32_t nameOffset;           // 0: field name, bytes into the names area
  int32_t nameUnicodeOffset;    // 4: field name, units into the Unicode names area
  int32_t tagOffset;            // 8: tag number text, bytes into the names area
  int32_t tagUnicodeOffset;     // 12: tag number text, units into the Unicode names area
  int32_t rawLenUnicodeOffset;  // 16: tag text of a raw-data field's length field; 0: none
  int8_t type;                  // 20: data type code; -1 for an unknown keyword
  uint8_t flags;                // 21: GROUP_START, MSG_TYPE, EMBEDDED_MESSAGE, RAW_AS_TEXT
  uint8_t flags2;               // 22: NO_ELEMENT
  uint8_t reserved;             // 23
};

struct RepeatEntry {
  char messageType[8];      // 0: message type, zero-terminated, at most 7 characters
  int32_t groupNameOffset;  // 8: units: name of the group element
  int32_t reserved1;        // 12
  int32_t firstTagOffset;   // 16: units: tag text of the group's first field
  int32_t countTagOffset;   // 20: units: tag text of the count field
  int32_t itemsOffset;      // 24: units: allowed items, zero-terminated texts ending with ""
  int32_t reserved2;        // 28
};

constexpr int kHeaderSize = 32;
constexpr int kTagEntrySize = 24;
constexpr int kRepeatEntrySize = 32;

static_assert(sizeof(MetadataHeader) == kHeaderSize);
static_assert(offsetof(MetadataHeader, maxVars) == 4 &&
              offsetof(MetadataHeader, namesOffset) == 12 &&
              offsetof(MetadataHeader, unicodeOffset) == 16 &&
              offsetof(MetadataHeader, repeatOffset) == 20 &&
              offsetof(MetadataHeader, repeatCount) == 24);
static_assert(sizeof(TagEntry) == kTagEntrySize);
static_assert(offsetof(TagEntry, nameUnicodeOffset) == 4 && offsetof(TagEntry, tagOffset) == 8 &&
              offsetof(TagEntry, tagUnicodeOffset) == 12 &&
              offsetof(TagEntry, rawLenUnicodeOffset) == 16 && offsetof(TagEntry, type) == 20 &&
              offsetof(TagEntry, flags) == 21 && offsetof(TagEntry, flags2) == 22);
static_assert(sizeof(RepeatEntry) == kRepeatEntrySize);
static_assert(offsetof(RepeatEntry, groupNameOffset) == 8 &&
              offsetof(RepeatEntry, firstTagOffset) == 16 &&
              offsetof(RepeatEntry, countTagOffset) == 20 &&
              offsetof(RepeatEntry, itemsOffset) == 24);

// The one place where records meet file bytes: explicit little-endian, field by field, whatever
// the host's byte order. `in` and `out` point at exactly one record's bytes.
MetadataHeader decodeHeader(const uint8_t* in);
void encodeHeader(const MetadataHeader& header, uint8_t* out);
TagEntry decodeTagEntry(const uint8_t* in);
void encodeTagEntry(const TagEntry& entry, uint8_t* out);
RepeatEntry decodeRepeatEntry(const uint8_t* in);
void encodeRepeatEntry(const RepeatEntry& entry, uint8_t* out);

// Data type codes.
enum TypeCode : int {
  TYPE_UNKNOWN = -1,
  TYPE_INT = 0,
  TYPE_FLOAT = 1,
  TYPE_QTY = 2,
  TYPE_PRICE = 3,
  TYPE_PRICEOFFSET = 4,
  TYPE_AMT = 5,
  TYPE_CHAR = 6,
  TYPE_BOOLEAN = 7,
  TYPE_STRING = 8,
  TYPE_MULTIPLEVALUESTRING = 9,
  TYPE_CURRENCY = 10,
  TYPE_EXCHANGE = 11,
  TYPE_UTCTIMESTAMP = 12,
  TYPE_UTCTIMEONLY = 13,
  TYPE_UTCDATE = 14,
  TYPE_LOCALMKTDATE = 15,
  TYPE_DATA = 16,
  TYPE_MONTH_YEAR = 17,
  TYPE_DAY_OF_MONTH = 18,
};
constexpr int kTypeCount = 19;

// Field flags (TagEntry::flags).
constexpr uint8_t GROUP_START = 0x02;
constexpr uint8_t MSG_TYPE = 0x10;
constexpr uint8_t EMBEDDED_MESSAGE = 0x20;
constexpr uint8_t RAW_AS_TEXT = 0x40;
// Second flag byte (TagEntry::flags2).
constexpr uint8_t NO_ELEMENT = 0x01;

// The definitions keyword of a type code ("INT" ...), or "" for any other code.
const char* typeKeyword(int code);
// The display name of a type code ("Integer" ...), or "" for any other code.
const char* typeDisplayName(int code);
// The code of a keyword, compared after a-z are made upper-case; TYPE_UNKNOWN when none.
int typeCodeFromKeyword(std::string_view keyword);

class MetadataImage {
 public:
  // Builds an image from a whole file's bytes. Returns null and sets *reason when the bytes are
  // not a metadata file.
  static std::unique_ptr<MetadataImage> fromBytes(std::vector<uint8_t> file, std::string* reason);
  // Reads the file at path; null with *reason when it cannot be read or is not a metadata file.
  static std::unique_ptr<MetadataImage> fromFile(const std::string& path, std::string* reason);
  // The default image: no entries, every search fails, every text is empty.
  static std::unique_ptr<MetadataImage> makeDefault();

  // The indexes hold views into the image's own buffers: an image is never copied.
  MetadataImage(const MetadataImage&) = delete;
  MetadataImage& operator=(const MetadataImage&) = delete;

  int32_t maxVars() const { return maxVars_; }
  int32_t repeatCount() const { return repeatCount_; }
  const MetadataHeader& header() const { return header_; }

  // The plain reads are defined here so that the codec's per-item calls inline.
  TagEntry tagEntry(int index) const {  // 0 <= index < maxVars
    return tags_[static_cast<size_t>(index)];
  }
  RepeatEntry repeatEntry(int index) const {  // 0 <= index < repeatCount
    return repeats_[static_cast<size_t>(index)];
  }

  // Texts inside the areas; valid as long as the image. Offsets come from validated records.
  const char* narrowText(int32_t byteOffset) const;
  const char16_t* unicodeText(int32_t unitOffset) const {
    if (unitOffset < 0 || static_cast<size_t>(unitOffset) >= unicodeUnits_) return kEmptyText;
    return unicode_.data() + unitOffset;
  }

  // Convenience reads of one entry's texts.
  const char16_t* tagText(int index) const { return unicodeText(tagEntry(index).tagUnicodeOffset); }
  const char16_t* fieldName(int index) const {
    return unicodeText(tagEntry(index).nameUnicodeOffset);
  }
  const char16_t* rawLengthTag(int index) const {
    return unicodeText(tagEntry(index).rawLenUnicodeOffset);
  }
  const char16_t* groupName(int repeatIndex) const {
    return unicodeText(repeatEntry(repeatIndex).groupNameOffset);
  }
  const char16_t* allowedItems(int repeatIndex) const {  // "a\0b\0\0" list
    return unicodeText(repeatEntry(repeatIndex).itemsOffset);
  }

  // The lookups behind the searches below (first match wins). Keys hold no NUL.
  int lookupTag(std::u16string_view tag) const;
  int lookupName(std::u16string_view name) const;
  int lookupRepeat(std::string_view messageType, std::u16string_view countTag,
                   std::u16string_view tag) const;
  // The first DATA entry flagged EMBEDDED_MESSAGE whose raw-length tag text is lengthTag; -1 when
  // none.
  int lookupEmbeddedOwner(std::u16string_view lengthTag) const;

  size_t byteSize() const { return block_.size(); }

 private:
  // Key of the repeat index: views into the image's own texts (message type of the record,
  // count tag and first tag in the Unicode area), so a lookup allocates nothing.
  struct RepeatKey {
    std::string_view messageType;
    std::u16string_view countTag;
    std::u16string_view firstTag;
    bool operator==(const RepeatKey&) const = default;
  };
  struct RepeatKeyHash {
    size_t operator()(const RepeatKey& key) const;
  };
  // An index from texts (views into the image's own texts) to entry numbers: open addressing
  // with linear probing in a power-of-two table kept at most half full, each slot holding the
  // key's hash. The writer looks a name up for every element, and a node-based hash table costs
  // a division and scattered reads per lookup. Built once, at load; the first entry inserted for
  // a text wins.
  class TextIndex {
   public:
    void reserve(size_t count);
    void insert(std::u16string_view key, int entry);  // keeps an existing key's entry
    int find(std::u16string_view key) const;          // -1 when absent

   private:
    struct Slot {
      size_t hash = 0;
      std::u16string_view key;
      int entry = -1;  // -1: empty
    };
    void rehash(size_t size);
    std::vector<Slot> slots_;
    size_t used_ = 0;
  };

  // What unicodeText answers for an offset outside the area.
  static constexpr char16_t kEmptyText[1] = {0};

  MetadataImage() = default;
  bool validate(std::string* reason);
  void buildIndexes();
  std::u16string_view unicodeView(int32_t unitOffset) const;

  MetadataHeader header_{};
  std::vector<uint8_t> block_;  // the file from offset 32 on (64 zero bytes for the default)
  int32_t maxVars_ = 0;
  int32_t repeatCount_ = 0;
  size_t namesStart_ = 0;             // bytes into block_
  size_t namesSize_ = 0;              // bytes
  size_t unicodeStart_ = 0;           // bytes into block_
  size_t unicodeUnits_ = 0;           // 16-bit units
  size_t repeatsStart_ = 0;           // bytes into block_
  std::vector<char16_t> unicode_;     // the Unicode names area decoded to host order (+ one NUL)
  std::vector<TagEntry> tags_;        // decoded tag entries, file order
  std::vector<RepeatEntry> repeats_;  // decoded repeat entries, file order
  // Each index maps a key to the first entry (lowest index) that carries it.
  // Tag texts that are the plain decimal form of a number below kDenseTagLimit (no sign, no
  // leading zero), by that number; -1 where no entry has the text. A tag is looked up per item
  // while parsing, and indexing a vector by the digits' value is much cheaper than hashing the
  // text. Every tag text is in byTag_ as well, for the texts this cannot index.
  static constexpr int32_t kDenseTagLimit = 65536;
  std::vector<int32_t> byTagNumber_;
  TextIndex byTag_;
  TextIndex byName_;
  std::unordered_map<RepeatKey, int, RepeatKeyHash> byRepeatKey_;
  // Raw-length tag texts of the DATA entries flagged EMBEDDED_MESSAGE.
  TextIndex byEmbeddedLength_;
};

// The searches. Texts are zero-terminated; results are entry indexes or -1.
int findTagByNumber(const MetadataImage& image, const char16_t* tag);
int findTagByName(const MetadataImage& image, const char16_t* name);
int findRepeatDefinition(const MetadataImage& image, const char* messageType,
                         const char16_t* countTag, const char16_t* tag);

}  // namespace mtx

#endif  // CORVALE_MTX_MTX_H

// mtx - records, type codes, image loading with validation, and the indexed searches.
#include "mtx/mtx.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace mtx {

namespace {

// ---- Little-endian fields

uint16_t getU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int32_t getI32(const uint8_t* p) {
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void putI32(uint8_t* p, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// ---- Type codes

struct TypeName {
  const char* keyword;
  const char* display;
};

// Indexed by type code.
constexpr TypeName kTypes[kTypeCount] = {
    {"INT", "Integer"},
    {"FLOAT", "Float"},
    {"QTY", "Quantity"},
    {"PRICE", "Price"},
    {"PRICEOFFSET", "Price Ofs"},
    {"AMT", "Amount"},
    {"CHAR", "Char"},
    {"BOOLEAN", "Bool"},
    {"STRING", "String"},
    {"MULTIPLEVALUESTRING", "Multi Str"},
    {"CURRENCY", "Currency"},
    {"EXCHANGE", "Exchange"},
    {"UTCTIMESTAMP", "Timestamp"},
    {"UTCTIMEONLY", "Time Only"},
    {"UTCDATE", "Date Only"},
    {"LOCALMKTDATE", "Market Dt"},
    {"DATA", "Raw"},
    {"MONTH-YEAR", "YYYYMM"},
    {"DAY-OF-MONTH", "Day of Mon"},
};

// The value of a tag text in its plain decimal form: one to six digits, the first not 0 unless it
// is the only one. -1 for any other text (which then names no number: "035" is not tag 35).
int32_t plainTagNumber(std::u16string_view text) {
  if (text.empty() || text.size() > 6 || (text[0] == u'0' && text.size() > 1)) return -1;
  int32_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

std::string describe(const char* what, long long value) {
  return std::string(what) + " " + std::to_string(value);
}

}  // namespace

// ---- Records

MetadataHeader decodeHeader(const uint8_t* in) {
  MetadataHeader h{};
  h.headerLength = in[0];
  h.version = in[1];
  h.reserved1 = getU16(in + 2);
  h.maxVars = getI32(in + 4);
  h.reserved2 = getI32(in + 8);
  h.namesOffset = getI32(in + 12);
  h.unicodeOffset = getI32(in + 16);
  h.repeatOffset = getI32(in + 20);
  h.repeatCount = getI32(in + 24);
  h.reserved3 = getI32(in + 28);
  return h;
}

void encodeHeader(const MetadataHeader& h, uint8_t* out) {
  out[0] = h.headerLength;
  out[1] = h.version;
  putU16(out + 2, h.reserved1);
  putI32(out + 4, h.maxVars);
  putI32(out + 8, h.reserved2);
  putI32(out + 12, h.namesOffset);
  putI32(out + 16, h.unicodeOffset);
  putI32(out + 20, h.repeatOffset);
  putI32(out + 24, h.repeatCount);
  putI32(out + 28, h.reserved3);
}

TagEntry decodeTagEntry(const uint8_t* in) {
  TagEntry e{};
  e.nameOffset = getI32(in);
  e.nameUnicodeOffset = getI32(in + 4);
  e.tagOffset = getI32(in + 8);
  e.tagUnicodeOffset = getI32(in + 12);
  e.rawLenUnicodeOffset = getI32(in + 16);
  e.type = static_cast<int8_t>(in[20]);
  e.flags = in[21];
  e.flags2 = in[22];
  e.reserved = in[23];
  return e;
}

void encodeTagEntry(const TagEntry& e, uint8_t* out) {
  putI32(out, e.nameOffset);
  putI32(out + 4, e.nameUnicodeOffset);
  putI32(out + 8, e.tagOffset);
  putI32(out + 12, e.tagUnicodeOffset);
  putI32(out + 16, e.rawLenUnicodeOffset);
  out[20] = static_cast<uint8_t>(e.type);
  out[21] = e.flags;
  out[22] = e.flags2;
  out[23] = e.reserved;
}

RepeatEntry decodeRepeatEntry(const uint8_t* in) {
  RepeatEntry e{};
  std::memcpy(e.messageType, in, sizeof e.messageType);
  e.groupNameOffset = getI32(in + 8);
  e.reserved1 = getI32(in + 12);
  e.firstTagOffset = getI32(in + 16);
  e.countTagOffset = getI32(in + 20);
  e.itemsOffset = getI32(in + 24);
  e.reserved2 = getI32(in + 28);
  return e;
}

void encodeRepeatEntry(const RepeatEntry& e, uint8_t* out) {
  std::memcpy(out, e.messageType, sizeof e.messageType);
  putI32(out + 8, e.groupNameOffset);
  putI32(out + 12, e.reserved1);
  putI32(out + 16, e.firstTagOffset);
  putI32(out + 20, e.countTagOffset);
  putI32(out + 24, e.itemsOffset);
  putI32(out + 28, e.reserved2);
}

// ---- Type codes

const char* typeKeyword(int code) {
  return code >= 0 && code < kTypeCount ? kTypes[code].keyword : "";
}

const char* typeDisplayName(int code) {
  return code >= 0 && code < kTypeCount ? kTypes[code].display : "";
}

int typeCodeFromKeyword(std::string_view keyword) {
  std::string upper(keyword);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (int code = 0; code < kTypeCount; ++code) {
    if (upper == kTypes[code].keyword) return code;
  }
  return TYPE_UNKNOWN;
}

// ---- Image

std::unique_ptr<MetadataImage> MetadataImage::fromFile(const std::string& path,
                                                       std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (reason) *reason = "cannot open " + path;
    return nullptr;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (reason) *reason = "cannot read " + path;
    return nullptr;
  }
  return fromBytes(std::move(bytes), reason);
}

std::unique_ptr<MetadataImage> MetadataImage::fromBytes(std::vector<uint8_t> file,
                                                        std::string* reason) {
  std::string why;
  if (file.size() < static_cast<size_t>(kHeaderSize)) {
    if (reason) {
      *reason =
          "file of " + std::to_string(file.size()) + " bytes is shorter than its 32-byte header";
    }
    return nullptr;
  }
  std::unique_ptr<MetadataImage> image(new MetadataImage());
  image->header_ = decodeHeader(file.data());
  file.erase(file.begin(), file.begin() + kHeaderSize);
  image->block_ = std::move(file);
  if (!image->validate(&why)) {
    if (reason) *reason = why;
    return nullptr;
  }
  image->buildIndexes();
  return image;
}

std::unique_ptr<MetadataImage> MetadataImage::makeDefault() {
  std::unique_ptr<MetadataImage> image(new MetadataImage());
  image->header_.headerLength = kHeaderSize;
  image->block_.assign(64, 0);
  image->namesSize_ = image->block_.size();
  image->unicode_.assign(image->block_.size() / 2, 0);
  image->unicodeUnits_ = image->unicode_.size();
  return image;
}

// Every count and offset is checked against the file once, here, with arithmetic that cannot
// overflow (64-bit values built from 32-bit fields, divisions instead of products). Afterwards
// every text that a record refers to is known to end inside its own area.
bool MetadataImage::validate(std::string* reason) {
  const MetadataHeader& h = header_;
  const int64_t fileSize = static_cast<int64_t>(block_.size()) + kHeaderSize;
  if (h.maxVars < 0) {
    *reason = describe("negative tag entry count", h.maxVars);
    return false;
  }
  if (h.repeatCount < 0) {
    *reason = describe("negative repeat entry count", h.repeatCount);
    return false;
  }
  if (h.maxVars > (fileSize - kHeaderSize) / kTagEntrySize) {
    *reason = describe("tag entry count larger than the file holds:", h.maxVars);
    return false;
  }
  const int64_t entriesEnd = kHeaderSize + static_cast<int64_t>(h.maxVars) * kTagEntrySize;
  if (h.namesOffset < entriesEnd || h.namesOffset > fileSize) {
    *reason = describe("names area offset out of range:", h.namesOffset);
    return false;
  }
  if (h.unicodeOffset < h.namesOffset || h.unicodeOffset > fileSize) {
    *reason = describe("Unicode names area offset out of range:", h.unicodeOffset);
    return false;
  }
  if (h.repeatOffset < h.unicodeOffset || h.repeatOffset > fileSize) {
    *reason = describe("repeat entries offset out of range:", h.repeatOffset);
    return false;
  }
  if (h.repeatCount > (fileSize - h.repeatOffset) / kRepeatEntrySize) {
    *reason = describe("repeat entry count larger than the file holds:", h.repeatCount);
    return false;
  }

  maxVars_ = h.maxVars;
  repeatCount_ = h.repeatCount;
  namesStart_ = static_cast<size_t>(h.namesOffset - kHeaderSize);
  namesSize_ = static_cast<size_t>(h.unicodeOffset - h.namesOffset);
  unicodeStart_ = static_cast<size_t>(h.unicodeOffset - kHeaderSize);
  unicodeUnits_ = static_cast<size_t>(h.repeatOffset - h.unicodeOffset) / 2;
  repeatsStart_ = static_cast<size_t>(h.repeatOffset - kHeaderSize);

  // One NUL past the area lets unicodeText hand out a terminated text for any valid offset,
  // while the checks below still demand the terminator inside the area itself.
  unicode_.resize(unicodeUnits_ + 1);
  for (size_t i = 0; i < unicodeUnits_; ++i) {
    unicode_[i] = static_cast<char16_t>(getU16(block_.data() + unicodeStart_ + 2 * i));
  }
  unicode_[unicodeUnits_] = 0;

  // A text at offset o ends inside its area exactly when some NUL lies at or after o.
  const uint8_t* names = block_.data() + namesStart_;
  int64_t lastNameNul = -1;
  for (size_t i = namesSize_; i-- > 0;) {
    if (names[i] == 0) {
      lastNameNul = static_cast<int64_t>(i);
      break;
    }
  }
  int64_t lastUnitNul = -1;
  for (size_t i = unicodeUnits_; i-- > 0;) {
    if (unicode_[i] == 0) {
      lastUnitNul = static_cast<int64_t>(i);
      break;
    }
  }
  auto narrowOk = [&](int32_t offset) { return offset >= 0 && offset <= lastNameNul; };
  auto unitOk = [&](int32_t offset) { return offset >= 0 && offset <= lastUnitNul; };

  tags_.resize(static_cast<size_t>(maxVars_));
  for (int i = 0; i < maxVars_; ++i) {
    const TagEntry e = decodeTagEntry(block_.data() + static_cast<size_t>(i) * kTagEntrySize);
    const char* bad = nullptr;
    if (!narrowOk(e.nameOffset)) {
      bad = "name";
    } else if (!narrowOk(e.tagOffset)) {
      bad = "tag text";
    } else if (!unitOk(e.nameUnicodeOffset)) {
      bad = "Unicode name";
    } else if (!unitOk(e.tagUnicodeOffset)) {
      bad = "Unicode tag text";
    } else if (!unitOk(e.rawLenUnicodeOffset)) {
      bad = "raw-length tag text";
    }
    if (bad) {
      *reason = "tag entry " + std::to_string(i) + ": " + bad +
                " outside its area or not terminated inside it";
      return false;
    }
    tags_[static_cast<size_t>(i)] = e;
  }

  if (repeatCount_ > 0) {
    // listOk[p]: the item list starting at unit p reaches its closing empty text inside the
    // area. Filled backwards in one pass, so overlapping lists cost nothing extra.
    std::vector<uint8_t> listOk(unicodeUnits_ + 1, 0);
    int64_t nextNul = -1;  // the nearest NUL after p
    for (size_t p = unicodeUnits_; p-- > 0;) {
      if (unicode_[p] == 0) {
        listOk[p] = 1;
        nextNul = static_cast<int64_t>(p);
      } else {
        listOk[p] = nextNul >= 0 ? listOk[static_cast<size_t>(nextNul) + 1] : 0;
      }
    }
    repeats_.resize(static_cast<size_t>(repeatCount_));
    for (int i = 0; i < repeatCount_; ++i) {
      const RepeatEntry e = decodeRepeatEntry(block_.data() + repeatsStart_ +
                                              static_cast<size_t>(i) * kRepeatEntrySize);
      const char* bad = nullptr;
      if (std::memchr(e.messageType, 0, sizeof e.messageType) == nullptr) {
        bad = "message type not terminated inside its 8 bytes";
      } else if (!unitOk(e.groupNameOffset)) {
        bad = "group name outside the Unicode names area or not terminated inside it";
      } else if (!unitOk(e.firstTagOffset)) {
        bad = "first tag text outside the Unicode names area or not terminated inside it";
      } else if (!unitOk(e.countTagOffset)) {
        bad = "count tag text outside the Unicode names area or not terminated inside it";
      } else if (e.itemsOffset < 0 || static_cast<size_t>(e.itemsOffset) >= unicodeUnits_ ||
                 !listOk[static_cast<size_t>(e.itemsOffset)]) {
        bad = "allowed items outside the Unicode names area or not ended inside it";
      }
      if (bad) {
        *reason = "repeat entry " + std::to_string(i) + ": " + bad;
        return false;
      }
      repeats_[static_cast<size_t>(i)] = e;
    }
  }
  return true;
}

void MetadataImage::buildIndexes() {
  byTag_.reserve(tags_.size());
  byName_.reserve(tags_.size());
  int32_t largestTag = -1;
  for (const TagEntry& entry : tags_) {
    const int32_t number = plainTagNumber(unicodeView(entry.tagUnicodeOffset));
    if (number < kDenseTagLimit && number > largestTag) largestTag = number;
  }
  byTagNumber_.assign(static_cast<size_t>(largestTag + 1), -1);
  for (size_t i = 0; i < tags_.size(); ++i) {
    const std::u16string_view tag = unicodeView(tags_[i].tagUnicodeOffset);
    // insert keeps an existing key: the earliest entry wins, as in a scan from the start.
    byTag_.insert(tag, static_cast<int>(i));
    byName_.insert(unicodeView(tags_[i].nameUnicodeOffset), static_cast<int>(i));
    const int32_t number = plainTagNumber(tag);
    if (number >= 0 && number < kDenseTagLimit && byTagNumber_[static_cast<size_t>(number)] < 0)
      byTagNumber_[static_cast<size_t>(number)] = static_cast<int32_t>(i);
    if (tags_[i].type == TYPE_DATA && (tags_[i].flags & EMBEDDED_MESSAGE) != 0)
      byEmbeddedLength_.insert(unicodeView(tags_[i].rawLenUnicodeOffset), static_cast<int>(i));
  }
  byRepeatKey_.reserve(repeats_.size());
  for (size_t i = 0; i < repeats_.size(); ++i) {
    const size_t typeStart = repeatsStart_ + i * kRepeatEntrySize;
    const char* type = reinterpret_cast<const char*>(block_.data() + typeStart);
    RepeatKey key{std::string_view(type, strnlen(type, sizeof repeats_[i].messageType)),
                  unicodeView(repeats_[i].countTagOffset), unicodeView(repeats_[i].firstTagOffset)};
    byRepeatKey_.emplace(key, static_cast<int>(i));
  }
}

size_t MetadataImage::RepeatKeyHash::operator()(const RepeatKey& key) const {
  size_t h = std::hash<std::string_view>()(key.messageType);
  h = h * 1000003u ^ std::hash<std::u16string_view>()(key.countTag);
  h = h * 1000003u ^ std::hash<std::u16string_view>()(key.firstTag);
  return h;
}

namespace {

size_t textHash(std::u16string_view text) {
  return std::hash<std::u16string_view>()(text);
}

// The lengths, then the units as one block of memory (the standard comparison of 16-bit texts
// goes unit by unit).
bool sameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

}  // namespace

void MetadataImage::TextIndex::reserve(size_t count) {
  size_t size = 16;
  while (size < 2 * count) size *= 2;
  if (size > slots_.size()) rehash(size);
}

void MetadataImage::TextIndex::rehash(size_t size) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(size, Slot{});
  const size_t mask = size - 1;
  for (const Slot& slot : old) {
    if (slot.entry < 0) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].entry >= 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void MetadataImage::TextIndex::insert(std::u16string_view key, int entry) {
  if (2 * (used_ + 1) > slots_.size()) rehash(slots_.empty() ? 16 : 2 * slots_.size());
  const size_t hash = textHash(key);
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  for (; slots_[i].entry >= 0; i = (i + 1) & mask) {
    if (slots_[i].hash == hash && sameText(slots_[i].key, key)) return;
  }
  slots_[i] = Slot{hash, key, entry};
  ++used_;
}

int MetadataImage::TextIndex::find(std::u16string_view key) const {
  if (slots_.empty()) return -1;
  const size_t hash = textHash(key);
  const size_t mask = slots_.size() - 1;
  // The table is never full, so an empty slot ends every search.
  for (size_t i = hash & mask; slots_[i].entry >= 0; i = (i + 1) & mask) {
    if (slots_[i].hash == hash && sameText(slots_[i].key, key)) return slots_[i].entry;
  }
  return -1;
}

std::u16string_view MetadataImage::unicodeView(int32_t unitOffset) const {
  return std::u16string_view(unicodeText(unitOffset));
}

const char* MetadataImage::narrowText(int32_t byteOffset) const {
  if (byteOffset < 0 || static_cast<size_t>(byteOffset) >= namesSize_) return "";
  return reinterpret_cast<const char*>(block_.data() + namesStart_ + byteOffset);
}

int MetadataImage::lookupTag(std::u16string_view tag) const {
  const int32_t number = plainTagNumber(tag);
  // A plain number below the vector's end is answered there, found or not: its text can be in
  // byTag_ only if it is in the vector too.
  if (number >= 0 && static_cast<size_t>(number) < byTagNumber_.size())
    return byTagNumber_[static_cast<size_t>(number)];
  return byTag_.find(tag);
}

int MetadataImage::lookupName(std::u16string_view name) const {
  return byName_.find(name);
}

int MetadataImage::lookupRepeat(std::string_view messageType, std::u16string_view countTag,
                                std::u16string_view tag) const {
  auto it = byRepeatKey_.find(RepeatKey{messageType, countTag, tag});
  return it == byRepeatKey_.end() ? -1 : it->second;
}

int MetadataImage::lookupEmbeddedOwner(std::u16string_view lengthTag) const {
  return byEmbeddedLength_.find(lengthTag);
}

// ---- Searches

int findTagByNumber(const MetadataImage& image, const char16_t* tag) {
  return image.lookupTag(std::u16string_view(tag));
}

int findTagByName(const MetadataImage& image, const char16_t* name) {
  return image.lookupName(std::u16string_view(name));
}

int findRepeatDefinition(const MetadataImage& image, const char* messageType,
                         const char16_t* countTag, const char16_t* tag) {
  return image.lookupRepeat(std::string_view(messageType), std::u16string_view(countTag),
                            std::u16string_view(tag));
}

}  // namespace mtx

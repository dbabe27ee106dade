// mtxwriter - definitions lines to a metadata file image.
#include "mtx/mtxwriter.h"

#include <cstring>

namespace mtx {

namespace {

// Reads a flags field the way a C library reads a decimal int (leading white space, optional
// sign, digits up to the first non-digit, none giving 0) and keeps the low 8 bits. Working
// modulo 256 throughout means an overlong number cannot overflow.
uint8_t lowByteOfDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFFu;
  }
  return static_cast<uint8_t>(negative ? (0x100u - value) & 0xFFu : value);
}

}  // namespace

// ---- Text rules

bool LineReader::next(std::string* line) {
  line->clear();
  int c = 0;
  while ((c = std::getc(file_)) != EOF) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (line->empty()) return false;
  // A NUL byte ends the text of a line, as it would for any C string reader.
  const size_t nul = line->find('\0');
  if (nul != std::string::npos) line->resize(nul);
  line->resize(trimLineEnd(*line).size());
  return true;
}

std::string_view trimLineEnd(std::string_view line) {
  while (!line.empty() && static_cast<signed char>(line.back()) <= 32) line.remove_suffix(1);
  return line;
}

bool isCommentLine(std::string_view line) {
  return line.empty() || line.front() == '*';
}

std::string reportFileName(std::string_view path) {
  return std::string(path.substr(0, path.find('.'))) + ".msg";
}

std::string metadataFileName(std::string_view path) {
  std::string name(path);
  if (path.find('.') == std::string_view::npos) name += ".mtx";
  return name;
}

// ---- Lines

bool parseFieldLine(std::string_view line, FieldDefinition* out) {
  size_t commas[5];
  int found = 0;
  for (size_t i = 0; i < line.size() && found < 5; ++i) {
    if (line[i] == ',') commas[found++] = i;
  }
  if (found < 3) return false;
  auto between = [&](size_t from, size_t to) { return line.substr(from, to - from); };
  FieldDefinition f;
  f.tag = between(0, commas[0]);
  f.name = between(commas[0] + 1, commas[1]);
  if (f.tag.empty() || f.name.empty()) return false;
  f.type = typeCodeFromKeyword(between(commas[1] + 1, commas[2]));
  f.flags = lowByteOfDecimal(between(commas[2] + 1, found > 3 ? commas[3] : line.size()));
  if (found > 3)
    f.flags2 = lowByteOfDecimal(between(commas[3] + 1, found > 4 ? commas[4] : line.size()));
  if (found > 4) f.rawLengthTag = line.substr(commas[4] + 1);
  *out = std::move(f);
  return true;
}

bool parseRepeatLine(std::string_view line, RepeatDefinition* out) {
  const size_t first = line.find(',');
  if (first == std::string_view::npos) return false;
  std::vector<std::string_view> fields;
  std::string_view rest = line.substr(first + 1);
  for (;;) {
    const size_t comma = rest.find(',');
    fields.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  // A comma at the very end of the line opens no field.
  if (fields.size() > 1 && fields.back().empty()) fields.pop_back();
  RepeatDefinition r;
  r.messageType = line.substr(0, first);
  auto field = [&](size_t i) { return i < fields.size() ? std::string(fields[i]) : std::string(); };
  r.countTag = field(0);
  r.firstTag = field(1);
  r.groupName = field(2);
  for (size_t i = 3; i < fields.size(); ++i) r.items.emplace_back(fields[i]);
  *out = std::move(r);
  return true;
}

// ---- Writer

MetadataWriter::MetadataWriter() : names_(1, '\0'), unicode_(1, u'\0') {}

int32_t MetadataWriter::storeDefinitionText(std::string_view text, int32_t* unicodeOffset) {
  const auto offset = static_cast<int32_t>(names_.size());
  *unicodeOffset = static_cast<int32_t>(unicode_.size());
  if (!text.empty()) {
    names_.insert(names_.end(), text.begin(), text.end());
    names_.push_back('\0');
    for (char c : text) unicode_.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    unicode_.push_back(u'\0');
  }
  return offset;
}

int64_t MetadataWriter::storeUnicodeText(std::string_view text) {
  const auto offset = static_cast<int64_t>(unicode_.size());
  for (char c : text) unicode_.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  unicode_.push_back(u'\0');
  return offset;
}

void MetadataWriter::addField(const FieldDefinition& field) {
  TagEntry e{};
  e.nameOffset = storeDefinitionText(field.name, &e.nameUnicodeOffset);
  e.tagOffset = storeDefinitionText(field.tag, &e.tagUnicodeOffset);
  if (!field.rawLengthTag.empty()) storeDefinitionText(field.rawLengthTag, &e.rawLenUnicodeOffset);
  e.type = static_cast<int8_t>(field.type);
  e.flags = field.flags;
  e.flags2 = field.flags2;
  entries_.push_back(e);
}

bool MetadataWriter::addRepeat(const RepeatDefinition& repeat, std::string* problem) {
  if (repeat.messageType.size() > kMaxMessageType) {
    if (problem) {
      *problem = "message type " + repeat.messageType + " is longer than " +
                 std::to_string(kMaxMessageType) + " characters";
    }
    return false;
  }
  RepeatEntry e{};
  std::memcpy(e.messageType, repeat.messageType.data(), repeat.messageType.size());
  // Offsets past 32 bits only arise in files that build() refuses, so narrowing here is safe.
  e.countTagOffset = static_cast<int32_t>(storeUnicodeText(repeat.countTag));
  e.firstTagOffset = static_cast<int32_t>(storeUnicodeText(repeat.firstTag));
  e.groupNameOffset = static_cast<int32_t>(storeUnicodeText(repeat.groupName));
  e.itemsOffset = static_cast<int32_t>(unicode_.size());
  for (const std::string& item : repeat.items) storeUnicodeText(item);
  unicode_.push_back(u'\0');
  repeats_.push_back(e);
  return true;
}

bool MetadataWriter::build(std::vector<uint8_t>* file, std::string* problem,
                           int64_t maxBytes) const {
  const int64_t namesBytes = static_cast<int64_t>(names_.size()) + 1;
  const int64_t unicodeBytes = 2 * (static_cast<int64_t>(unicode_.size()) + 1);
  const int64_t namesOffset = kHeaderSize + kTagEntrySize * static_cast<int64_t>(entries_.size());
  const int64_t unicodeOffset = namesOffset + namesBytes;
  const int64_t repeatOffset = unicodeOffset + unicodeBytes;
  const int64_t total = repeatOffset + kRepeatEntrySize * static_cast<int64_t>(repeats_.size());
  if (total > maxBytes) {
    if (problem) {
      *problem = "the metadata would be " + std::to_string(total) +
                 " bytes, more than its 32-bit offsets can address (" + std::to_string(maxBytes) +
                 ")";
    }
    return false;
  }

  file->assign(static_cast<size_t>(total), 0);
  uint8_t* out = file->data();
  MetadataHeader h{};
  h.headerLength = kHeaderSize;
  h.maxVars = static_cast<int32_t>(entries_.size());
  h.namesOffset = static_cast<int32_t>(namesOffset);
  h.unicodeOffset = static_cast<int32_t>(unicodeOffset);
  h.repeatOffset = static_cast<int32_t>(repeatOffset);
  h.repeatCount = static_cast<int32_t>(repeats_.size());
  encodeHeader(h, out);
  for (size_t i = 0; i < entries_.size(); ++i) {
    encodeTagEntry(entries_[i], out + kHeaderSize + i * kTagEntrySize);
  }
  std::memcpy(out + namesOffset, names_.data(), names_.size());  // closing NUL already zero
  uint8_t* units = out + unicodeOffset;
  for (size_t i = 0; i < unicode_.size(); ++i) {
    units[2 * i] = static_cast<uint8_t>(unicode_[i]);
    units[2 * i + 1] = static_cast<uint8_t>(unicode_[i] >> 8);
  }
  for (size_t i = 0; i < repeats_.size(); ++i) {
    encodeRepeatEntry(repeats_[i], out + repeatOffset + i * kRepeatEntrySize);
  }
  return true;
}

}  // namespace mtx

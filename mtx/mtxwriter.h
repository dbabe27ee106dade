// mtxwriter - building a metadata file from definitions, and the text rules shared by the tools.
//
// The definitions files are plain text read line by line (LineReader): trailing bytes whose signed
// value is 32 or less are dropped, and an empty line or one starting with '*' is a comment. A line
// is read whole, however long: the repeating definitions of a large FIX level list hundreds of
// items on one line, and cutting such a line into pieces would turn its tail into bogus entries. A
// FIX definitions line is "tag,name,type,flags[,flags2[,rawLengthTag]]"; a repeating definitions
// line is "messageType,countTag,firstTag,groupName[,item...]". parseFieldLine and parseRepeatLine
// split them; MetadataWriter lays the results out as a file image.
//
// The writer's tables grow without limit. It refuses only what the file cannot represent: a
// message type over 7 characters (the record holds 8 bytes with the terminator) and a file whose
// offsets would not fit in the header's signed 32-bit fields.
#ifndef CORVALE_MTX_MTXWRITER_H
#define CORVALE_MTX_MTXWRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mtx/mtx.h"

namespace mtx {

constexpr size_t kMaxMessageType = 7;         // characters that fit a RepeatEntry's messageType
constexpr int64_t kMaxFileBytes = INT32_MAX;  // every header offset must stay a signed 32-bit

// Reads a text file the way both definitions files are read. Does not own the FILE.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file) {}
  // The next line with trailing blanks and control bytes removed; false at end of file.
  bool next(std::string* line);

 private:
  std::FILE* file_;
};

// True for an empty line or one whose first byte is '*'.
bool isCommentLine(std::string_view line);
// Drops trailing bytes whose value, read as a signed 8-bit number, is 32 or less.
std::string_view trimLineEnd(std::string_view line);

// The report file of a tool: the path up to its first '.', anywhere in it, then ".msg"; the whole
// path then ".msg" when it has no '.'.
std::string reportFileName(std::string_view path);
// The metadata file named on tabwright's command line: ".mtx" appended when it has no '.'.
std::string metadataFileName(std::string_view path);

struct FieldDefinition {
  std::string tag;           // tag number text, as written
  std::string name;          // field name, as written
  int type = TYPE_UNKNOWN;   // type code; TYPE_UNKNOWN for any other keyword
  uint8_t flags = 0;         // low 8 bits of the decimal flags field
  uint8_t flags2 = 0;        // low 8 bits of the decimal second flags field
  std::string rawLengthTag;  // tag text of a raw-data field's length field; empty: none
};

struct RepeatDefinition {
  std::string messageType;
  std::string countTag;
  std::string firstTag;
  std::string groupName;
  std::vector<std::string> items;  // an empty item ends the list for readers; later ones stay
};

// Splits a FIX definitions line (not a comment). False when it is invalid: fewer than three
// commas, or an empty tag or name (an empty text has no place of its own in the names area).
bool parseFieldLine(std::string_view line, FieldDefinition* out);
// Splits a repeating definitions line (not a comment). False when it has no comma.
bool parseRepeatLine(std::string_view line, RepeatDefinition* out);

class MetadataWriter {
 public:
  MetadataWriter();

  // Appends one tag entry; texts are stored in the order name, tag, raw-length tag. An empty
  // tag or name is stored as nothing, so its offset names the next stored text.
  void addField(const FieldDefinition& field);
  // Appends one repeat entry; false with *problem when the message type is over 7 characters.
  bool addRepeat(const RepeatDefinition& repeat, std::string* problem);

  int fieldCount() const { return static_cast<int>(entries_.size()); }
  int repeatCount() const { return static_cast<int>(repeats_.size()); }
  const std::vector<TagEntry>& entries() const { return entries_; }
  // The narrow text at a names-area offset of one of the entries; "" past the stored texts.
  const char* narrowText(int32_t offset) const {
    return offset >= 0 && static_cast<size_t>(offset) < names_.size() ? names_.data() + offset : "";
  }

  // The whole file. False with *problem when it would exceed maxBytes (its offsets must fit the
  // header's signed 32-bit fields; tests pass a smaller limit).
  bool build(std::vector<uint8_t>* file, std::string* problem,
             int64_t maxBytes = kMaxFileBytes) const;

 private:
  int32_t storeDefinitionText(std::string_view text, int32_t* unicodeOffset);
  int64_t storeUnicodeText(std::string_view text);

  std::vector<char> names_;        // names area without its closing NUL; [0] is the empty text
  std::vector<char16_t> unicode_;  // Unicode names area without its closing NUL unit
  std::vector<TagEntry> entries_;
  std::vector<RepeatEntry> repeats_;
};

}  // namespace mtx

#endif  // CORVALE_MTX_MTXWRITER_H

// Definitions lines, the line reader, file naming, and the exact bytes of a written file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mtx/mtx.h"
#include "mtx/mtxwriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FieldRow {
  const char* line;
  bool valid;
  const char* tag;
  const char* name;
  int type;
  int flags;
  int flags2;
  const char* rawLengthTag;
};

const FieldRow kFieldRows[] = {
    {"35,MsgType,STRING", false, "", "", 0, 0, 0, ""},  // two commas only
    {"35,MsgType,STRING,", true, "35", "MsgType", 8, 0, 0, ""},
    {"35,MsgType,string,16", true, "35", "MsgType", 8, 16, 0, ""},
    {" 35,MsgType,STRING,16", true, " 35", "MsgType", 8, 16, 0, ""},  // the space stays
    {"96,RawData,DATA,0,0,95", true, "96", "RawData", 16, 0, 0, "95"},
    {"96,RawData,DATA,0,0,95,x", true, "96", "RawData", 16, 0, 0, "95,x"},
    {"96,RawData,DATA,0,0,", true, "96", "RawData", 16, 0, 0, ""},  // empty: missing
    {"35,MsgType,STRING,300", true, "35", "MsgType", 8, 44, 0, ""},
    {"1,A,INT,-1,256", true, "1", "A", 0, 0xFF, 0, ""},
    {"1,A,INT, \t+7x,  12 ", true, "1", "A", 0, 7, 12, ""},
    {"1,A,INT,x,-", true, "1", "A", 0, 0, 0, ""},  // no digits: 0
    {"1,A,INT,99999999999999999999", true, "1", "A", 0, 255, 0, ""},
    {"1,Two Words,Day-Of-Month,0,1", true, "1", "Two Words", 18, 0, 1, ""},
    {"1,A,UTC TIMESTAMP,0", true, "1", "A", -1, 0, 0, ""},
    {"1,A,,0", true, "1", "A", -1, 0, 0, ""},
    {",A,INT,0", false, "", "", 0, 0, 0, ""},  // empty tag
    {"1,,INT,0", false, "", "", 0, 0, 0, ""},  // empty name
};

TEST(FieldLine, SplitsAndConvertsEachField) {
  for (const FieldRow& row : kFieldRows) {
    SCOPED_TRACE(row.line);
    mtx::FieldDefinition f;
    ASSERT_EQ(mtx::parseFieldLine(row.line, &f), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(f.tag, row.tag);
    EXPECT_EQ(f.name, row.name);
    EXPECT_EQ(f.type, row.type);
    EXPECT_EQ(f.flags, row.flags);
    EXPECT_EQ(f.flags2, row.flags2);
    EXPECT_EQ(f.rawLengthTag, row.rawLengthTag);
  }
}

struct RepeatRow {
  const char* line;
  bool valid;
  const char* type;
  const char* count;
  const char* first;
  const char* name;
  std::vector<std::string> items;
};

const RepeatRow kRepeatRows[] = {
    {"D,78,79,NoAllocs,79,80,81", true, "D", "78", "79", "NoAllocs", {"79", "80", "81"}},
    {"D,78", true, "D", "78", "", "", {}},
    {"D,78,79,Grp,80,", true, "D", "78", "79", "Grp", {"80"}},
    {"D,78,79,Grp,80,,81", true, "D", "78", "79", "Grp", {"80", "", "81"}},
    {"D,78,79,Grp,,", true, "D", "78", "79", "Grp", {""}},
    {"AE,,,Grp", true, "AE", "", "", "Grp", {}},
    {",78,79,G", true, "", "78", "79", "G", {}},
    {"D,", true, "D", "", "", "", {}},
    {"D", false, "", "", "", "", {}},  // no comma
};

TEST(RepeatLine, SplitsFieldsAndItems) {
  for (const RepeatRow& row : kRepeatRows) {
    SCOPED_TRACE(row.line);
    mtx::RepeatDefinition r;
    ASSERT_EQ(mtx::parseRepeatLine(row.line, &r), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(r.messageType, row.type);
    EXPECT_EQ(r.countTag, row.count);
    EXPECT_EQ(r.firstTag, row.first);
    EXPECT_EQ(r.groupName, row.name);
    EXPECT_EQ(r.items, row.items);
  }
}

std::vector<std::string> readLines(const std::string& content) {
  std::FILE* file = std::tmpfile();
  std::fwrite(content.data(), 1, content.size(), file);
  std::rewind(file);
  std::vector<std::string> lines;
  mtx::LineReader reader(file);
  std::string line;
  while (reader.next(&line)) lines.push_back(line);
  std::fclose(file);
  return lines;
}

TEST(LineReader, TrimsLineEndsAndReadsLongLinesWhole) {
  const std::string x5000(5000, 'x');
  struct Row {
    std::string content;
    std::vector<std::string> lines;
  } rows[] = {
      {"a,b\r\nc \t\n", {"a,b", "c"}},
      {"no newline at end", {"no newline at end"}},
      {"caf\xe9\xff\n", {"caf"}},  // bytes 128 to 255 at the end count as blanks
      {"caf\xe9 x\n", {"caf\xe9 x"}},
      {"  lead\n\n", {"  lead", ""}},
      {"ab" + std::string(1, '\0') + "cd\nef\n", {"ab", "ef"}},
      {x5000 + "yyy\n", {x5000 + "yyy"}},
      {x5000 + "\n\n", {x5000, ""}},
      {"", {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(readLines(row.content), row.lines) << row.content.substr(0, 40);
  }
}

TEST(LineReader, CommentLines) {
  EXPECT_TRUE(mtx::isCommentLine(""));
  EXPECT_TRUE(mtx::isCommentLine("*35,MsgType,STRING,16"));
  EXPECT_FALSE(mtx::isCommentLine(" *"));
  EXPECT_FALSE(mtx::isCommentLine("35,MsgType,STRING,16"));
}

TEST(FileNames, ReportIsCutAtTheFirstDotAnywhere) {
  const std::pair<const char*, const char*> rows[] = {
      {"defs/fix42.txt", "defs/fix42.msg"},
      {"../defs/fix42.txt", ".msg"},
      {"my.dir/FIX42", "my.msg"},
      {"FIX42.mtx", "FIX42.msg"},
      {"fix42", "fix42.msg"},
      {"", ".msg"},
  };
  for (const auto& [path, report] : rows) EXPECT_EQ(mtx::reportFileName(path), report) << path;
}

TEST(FileNames, MetadataGetsMtxOnlyWithoutAnyDot) {
  const std::pair<const char*, const char*> rows[] = {
      {"out/FIX42", "out/FIX42.mtx"},
      {"FIX42.dat", "FIX42.dat"},
      {"my.dir/FIX42", "my.dir/FIX42"},
      {"FIX42", "FIX42.mtx"},
  };
  for (const auto& [path, name] : rows) EXPECT_EQ(mtx::metadataFileName(path), name) << path;
}

mtx::MetadataWriter smallWriter() {
  mtx::MetadataWriter writer;
  for (const char* line : {"35,MsgType,STRING,16", "96,RawData,DATA,0,0,95"}) {
    mtx::FieldDefinition f;
    EXPECT_TRUE(mtx::parseFieldLine(line, &f));
    writer.addField(f);
  }
  mtx::RepeatDefinition r;
  EXPECT_TRUE(mtx::parseRepeatLine("D,78,79,Allocs,80", &r));
  EXPECT_TRUE(writer.addRepeat(r, nullptr));
  return writer;
}

Bytes widened(const std::string& text) {
  Bytes out;
  for (char c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

TEST(Writer, SmallDefinitionsGiveExactBytes) {
  Bytes expected = {
      // header: 32, 0, maxVars 2, namesOffset 80, unicodeOffset 107, repeatOffset 195, 1 repeat
      0x20, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00,
      0x00, 0x6b, 0x00, 0x00, 0x00, 0xc3, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00,
      // MsgType: name 1/1, tag 9/9, no raw length, STRING, MSG_TYPE
      0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x10, 0x00, 0x00,
      // RawData: name 12/12, tag 20/20, raw length at unit 23, DATA
      0x0c, 0x00, 0x00, 0x00, 0x0c, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00,
      0x00, 0x17, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00};
  // Names area: leading NUL, the texts with their NULs, closing NUL (27 bytes).
  const std::string names(
      "\0MsgType\0"
      "35\0RawData\0"
      "96\0"
      "95\0\0",
      27);
  expected.insert(expected.end(), names.begin(), names.end());
  // Unicode names area: the same texts, then count tag, first tag, group name, items, the
  // NUL that ends the items, and the closing NUL (44 units).
  const Bytes units = widened(std::string(names.data(), 26) + std::string("78\0"
                                                                          "79\0"
                                                                          "Allocs\0"
                                                                          "80\0\0\0",
                                                                          18));
  expected.insert(expected.end(), units.begin(), units.end());
  const Bytes repeat = {'D',  0,    0,    0,    0,    0,    0,    0,      // message type
                        0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,   // group name 32
                        0x1d, 0x00, 0x00, 0x00, 0x1a, 0x00, 0x00, 0x00,   // first 29, count 26
                        0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // items 39
  expected.insert(expected.end(), repeat.begin(), repeat.end());
  ASSERT_EQ(expected.size(), 227u);

  Bytes file;
  std::string problem;
  ASSERT_TRUE(smallWriter().build(&file, &problem)) << problem;
  EXPECT_EQ(file, expected);
}

TEST(Writer, RefusesOnlyWhatTheFormatCannotHold) {
  mtx::MetadataWriter writer;
  mtx::RepeatDefinition r;
  r.messageType = "ABCDEFG";
  EXPECT_TRUE(writer.addRepeat(r, nullptr));
  r.messageType = "ABCDEFGH";
  std::string problem;
  EXPECT_FALSE(writer.addRepeat(r, &problem));
  EXPECT_NE(problem.find("ABCDEFGH"), std::string::npos) << problem;
  EXPECT_EQ(writer.repeatCount(), 1);

  // The file must stay addressable by the header's signed 32-bit offsets.
  Bytes file;
  const mtx::MetadataWriter small = smallWriter();
  EXPECT_FALSE(small.build(&file, &problem, 226));
  EXPECT_NE(problem.find("227"), std::string::npos) << problem;
  EXPECT_TRUE(small.build(&file, &problem, 227));
}

TEST(Writer, TablesGrowPastAnyFixedSize) {
  mtx::MetadataWriter writer;
  for (int i = 0; i < 5000; ++i) {
    mtx::FieldDefinition f;
    f.tag = std::to_string(10000 + i);
    f.name = "FieldNumber" + f.tag;
    f.type = mtx::TYPE_INT;
    writer.addField(f);
  }
  for (int i = 0; i < 300; ++i) {
    mtx::RepeatDefinition r;
    r.messageType = std::to_string(i);
    r.countTag = "10000";
    r.firstTag = "10001";
    r.groupName = std::string(40, 'G');  // longer than any fixed text slot
    r.items.assign(300, "12345");
    ASSERT_TRUE(writer.addRepeat(r, nullptr));
  }
  Bytes file;
  ASSERT_TRUE(writer.build(&file, nullptr));
  std::string reason;
  auto image = mtx::MetadataImage::fromBytes(std::move(file), &reason);
  ASSERT_NE(image, nullptr) << reason;
  EXPECT_EQ(image->maxVars(), 5000);
  EXPECT_EQ(image->repeatCount(), 300);
  EXPECT_GT(image->header().unicodeOffset - image->header().namesOffset, 65536);
  EXPECT_EQ(mtx::findTagByName(*image, u"FieldNumber14999"), 4999);
  EXPECT_EQ(mtx::findRepeatDefinition(*image, "299", u"10000", u"10001"), 299);
}

}  // namespace

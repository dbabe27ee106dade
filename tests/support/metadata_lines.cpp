#include "tests/support/metadata_lines.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "mtx/mtxwriter.h"

namespace corvale_test {

std::vector<uint8_t> compileMetadata(const std::vector<std::string>& fieldLines,
                                     const std::vector<std::string>& repeatLines) {
  mtx::MetadataWriter writer;
  for (const std::string& line : fieldLines) {
    mtx::FieldDefinition field;
    if (mtx::parseFieldLine(line, &field)) {
      writer.addField(field);
    } else {
      ADD_FAILURE() << "field line does not parse: " << line;
    }
  }
  for (const std::string& line : repeatLines) {
    mtx::RepeatDefinition repeat;
    std::string problem;
    if (!mtx::parseRepeatLine(line, &repeat)) {
      ADD_FAILURE() << "repeat line does not parse: " << line;
    } else if (!writer.addRepeat(repeat, &problem)) {
      ADD_FAILURE() << line << ": " << problem;
    }
  }
  std::vector<uint8_t> bytes;
  std::string problem;
  EXPECT_TRUE(writer.build(&bytes, &problem)) << problem;
  return bytes;
}

std::vector<std::string> definitionLines(const std::string& path) {
  std::vector<std::string> lines;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return lines;
  }
  mtx::LineReader reader(file);
  for (std::string line; reader.next(&line);) {
    if (!mtx::isCommentLine(line)) lines.push_back(line);
  }
  std::fclose(file);
  return lines;
}

}  // namespace corvale_test

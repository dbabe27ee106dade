// Metadata images compiled in the test from definition lines, as tabwright reads them from its
// two files: field lines "tag,name,type,..." and repeat lines "msgtype,count,first,name,items".
// A line that does not parse, or a definition the writer refuses, fails the test and is left out.
#ifndef CORVALE_TESTS_SUPPORT_METADATA_LINES_H
#define CORVALE_TESTS_SUPPORT_METADATA_LINES_H

#include <cstdint>
#include <string>
#include <vector>

namespace corvale_test {

// The bytes of the image (what a <level>.mtx file holds).
std::vector<uint8_t> compileMetadata(const std::vector<std::string>& fieldLines,
                                     const std::vector<std::string>& repeatLines);

// The lines of a definitions file that are not comments (mtx::isCommentLine), as tabwright reads
// them. A file that cannot be opened fails the test.
std::vector<std::string> definitionLines(const std::string& path);

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_METADATA_LINES_H

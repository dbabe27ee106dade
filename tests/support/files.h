// Whole files read and written as bytes, and text split into lines. Nothing here fails a test by
// itself: a missing file reads as empty, and a write says whether it succeeded.
#ifndef CORVALE_TESTS_SUPPORT_FILES_H
#define CORVALE_TESTS_SUPPORT_FILES_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvale_test {

// The file's bytes; "" when it does not exist or cannot be read.
std::string readFile(const std::filesystem::path& path);

// The lines of text without their "\n"; a last line without "\n" is kept, and an empty text has
// no lines. A "\r" stays part of its line.
std::vector<std::string> splitLines(std::string_view text);
// splitLines of the file's bytes: empty when the file does not exist.
std::vector<std::string> readLines(const std::filesystem::path& path);

// Creates or truncates the file and writes the bytes; false when that failed.
bool writeFile(const std::filesystem::path& path, std::string_view bytes);
bool writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_FILES_H

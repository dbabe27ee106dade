// input - reading fixhost's input files and cutting them into records: FIX messages, found by
// their framing, and management lines. Everything is read into memory first; records point into
// the Source that holds the bytes, so a Source must outlive its records.
#ifndef CORVALE_HOST_INPUT_H
#define CORVALE_HOST_INPUT_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fixhost {

constexpr char kSoh = '\x01';

// A file that cannot be read; what() names it and says why.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Record {
  enum class Kind { Fix, Management };
  Kind kind = Kind::Fix;
  std::string_view text;  // the message bytes (SOH-delimited), or the words after "#!"
  size_t line = 0;        // 1-based line of the input on which the record starts
  size_t number = 0;      // 1-based number among the FIX messages of its file; 0 for management
  const std::string* file = nullptr;  // name shown in reports; null when there is one input
};

// One input: its name and its bytes with the delimiter already replaced by SOH.
struct Source {
  std::string name;  // "-" for standard input
  std::string data;
};

// Reads a file ("-": standard input) whole. Throws InputError.
std::string readInput(const std::string& path);

// Reads every path ("-" for standard input; none: standard input) into a Source, replacing
// delimiter by SOH. Throws InputError at the first file that cannot be read.
std::vector<Source> loadSources(const std::vector<std::string>& paths, std::string_view delimiter);

// The records of all sources in order; records carry their file's name when there are several.
std::vector<Record> allRecords(const std::vector<Source>& sources, bool findBegin);

// Replaces every occurrence of delimiter by SOH (delimiter "" changes nothing).
std::string toSoh(std::string data, std::string_view delimiter);
// Replaces every SOH by delimiter (delimiter "" changes nothing).
std::string fromSoh(std::string data, std::string_view delimiter);

// Cuts a source's bytes into records.
//
// A FIX message starts at "8=" and ends after the CheckSum item: "9=" gives the body length, and
// when "10=nnn" SOH stands exactly where that length says, that is the end (so SOH and newlines
// inside raw data are kept). Otherwise the message ends at the first SOH "10=...SOH" on its line,
// or at the end of its line: the plug-in then reports what is wrong with it. Blank space and line
// ends between messages are skipped. A line that begins with "#!" is a management line; other
// lines that begin with "#" are comments. With findBegin, anything before the first "8=" on a
// line (not preceded by a digit) is ignored, and a line without one is skipped; without it,
// such a line is a message of its own, which fails.
std::vector<Record> splitRecords(const Source& source, bool findBegin,
                                 const std::string* shownName);

// Cuts a management line ("FLUSH FIX44 FIX42") into its words. Throws InputError when a word is
// longer than the 8 characters of a management field, or there is no word.
std::vector<std::string> managementWords(std::string_view line);

// The text of a management message: "0000" "0000", the command padded with blanks to 8
// characters, then each data word padded to 8. Throws InputError as managementWords does.
std::string managementText(const std::vector<std::string>& words);

}  // namespace fixhost

#endif  // CORVALE_HOST_INPUT_H

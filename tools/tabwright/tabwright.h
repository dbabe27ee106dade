// tabwright - compiles a FIX definitions file and a repeating definitions file into a metadata
// file, and writes a report beside the definitions file.
//
// Exit codes: 0 done (also when the metadata file itself cannot be created: the report says so),
// 1 usage, 100 definitions file, 101 repeating definitions file, 102 report file cannot be opened,
// 103 the definitions hold something the file format cannot (a message type over 7 characters,
// or offsets beyond 32 bits): the report names it and no metadata file is written.
#ifndef CORVALE_TOOLS_TABWRIGHT_H
#define CORVALE_TOOLS_TABWRIGHT_H

#include <cstdio>

namespace tabwright {

constexpr int kExitUsage = 1;
constexpr int kExitDefinitions = 100;
constexpr int kExitRepeats = 101;
constexpr int kExitReport = 102;
constexpr int kExitUnrepresentable = 103;

// The whole program; console messages go to `console`.
int run(int argc, const char* const argv[], std::FILE* console);

}  // namespace tabwright

#endif  // CORVALE_TOOLS_TABWRIGHT_H

// tabpeek - prints a metadata file (tag entries, repeat entries, header values) into a report.
//
// Exit codes: 0 done, 1 usage, 100 metadata file cannot be opened, 101 report file cannot be
// created, 102 the file is not a valid metadata file (its counts or offsets point outside it, or
// its texts are not terminated): the console and the report give the reason and nothing of the
// file is printed.
#ifndef CORVALE_TOOLS_TABPEEK_H
#define CORVALE_TOOLS_TABPEEK_H

#include <cstdio>

namespace tabpeek {

constexpr int kExitUsage = 1;
constexpr int kExitInput = 100;
constexpr int kExitReport = 101;
constexpr int kExitMalformed = 102;

// The whole program; console messages go to `console`.
int run(int argc, const char* const argv[], std::FILE* console);

}  // namespace tabpeek

#endif  // CORVALE_TOOLS_TABPEEK_H

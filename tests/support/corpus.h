// Files of real FIX messages, one message per line: the part of the corpus kept in the project
// (tests/codec/data/corpus, with its ext/ folder) and the full corpus named by CORVALE_CORPUS_DIR.
#ifndef CORVALE_TESTS_SUPPORT_CORPUS_H
#define CORVALE_TESTS_SUPPORT_CORPUS_H

#include <string>
#include <string_view>
#include <vector>

namespace corvale_test {

// The folder of the corpus part kept in the project.
std::string projectCorpusDir();
// The folder CORVALE_CORPUS_DIR names, or "" when it is unset or empty (the full-corpus tests
// then skip).
std::string fullCorpusDir();

// The *.fix files of a corpus folder and of its ext/ folder, sorted by path.
std::vector<std::string> corpusFiles(const std::string& folder);
// The messages of a corpus file: its non-empty lines, without the line ends. A file that cannot
// be opened fails the test (and gives no messages).
std::vector<std::string> readMessages(const std::string& path);

// The BeginString value of a message ("FIX.4.2"), or "" when it does not begin with "8=".
std::string beginStringOf(std::string_view message);

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_CORPUS_H

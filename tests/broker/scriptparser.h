// scriptparser.h - a small parser plug-in for the broker's tests: it parses a script of items
// lazily, one item per navigation callback, and writes trees back as scripts.
//
// Script items, separated by ';':
//   name=value   a name-value element with a character value, both completion bits set
//   name{        opens a folder (a name element) that receives the next items
//   }            closes the current folder (sets its complete-next bit)
//   !            raises a broker exception (number kScriptError, inserts "item" and its position)
//   ?            stalls: the callback consumes nothing and changes nothing
// A folder's complete-previous bit is set when it receives its first child (or is closed). At
// the end of the script every open folder and the parser's root element are completed.
// cpiParseBuffer raises kScriptError at once when the script (from the offset) starts with '!'.
// cpiWriteBuffer writes the tree below the root element in the same form and raises
// kWriteError for an element named "bad".
#ifndef CORVALE_TESTS_BROKER_SCRIPTPARSER_H
#define CORVALE_TESTS_BROKER_SCRIPTPARSER_H

#include <string>
#include <vector>

#include "plugin/brokerapi.h"

namespace scriptparser {

constexpr unsigned kScriptError = 0xC0DE0001;
constexpr unsigned kWriteError = 0xC0DE0002;

// The per-instance record (the plug-in's context).
struct Context {
  std::string text;  // the script from the offset on
  size_t index = 0;  // next item
  CciElement* root = nullptr;
  CciElement* current = nullptr;  // folder receiving items; null once the script is parsed
  // Every callback made on this context, as "kind:element name" (kind: buffer, first, last,
  // left, right, write).
  std::vector<std::string> calls;
  // What cpiParseBuffer found through the broker.
  std::string rootName, messageSet, codedCharSetId;
  int bufferSize = 0;
  // cpiBufferSize after each append of the last write.
  std::vector<int> outputSizes;
};

// Plays the part of the plug-in's bipGetParserFactory: factory "ScriptFactory" with the classes
// "SCRIPT" and "OTHER" sharing one table.
CciFactory* getParserFactory();
const CpiFunctionTable& functionTable();
// Contexts deleted so far in this process.
int deletedContexts();

}  // namespace scriptparser

#endif  // CORVALE_TESTS_BROKER_SCRIPTPARSER_H

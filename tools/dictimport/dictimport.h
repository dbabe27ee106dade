// dictimport - FIX XML data dictionaries to the two definitions files that tabwright compiles.
//
// A dictionary has the layout <fix><header/><messages/><trailer/><components/><fields/></fix>:
// fields with number, name and type; messages, header, trailer and components made of field,
// group and component references, groups nested to any depth. Several dictionaries may be merged
// (a session dictionary and an application dictionary): the first definition of a field or a
// component wins, and every message of every dictionary gets the groups of every header and
// trailer. The output depends only on the input, byte for byte.
//
// Exit codes: 0 done, 1 usage, 100 a dictionary cannot be read or parsed, 101 an output file
// cannot be written, 102 a dictionary is inconsistent (the console says where).
#ifndef CORVALE_TOOLS_DICTIMPORT_H
#define CORVALE_TOOLS_DICTIMPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace dictimport {

constexpr int kExitUsage = 1;
constexpr int kExitRead = 100;
constexpr int kExitWrite = 101;
constexpr int kExitInconsistent = 102;

struct Dictionary {
  std::string label;  // shown in the files' comment lines (the file's base name)
  const pugi::xml_document* document;
};

struct Definitions {
  std::string fields;   // the FIX definitions file
  std::string repeats;  // the repeating definitions file
  int fieldCount = 0;
  int repeatCount = 0;
};

// Converts the dictionaries, merged in the given order. False with *error when they are
// inconsistent (an undefined field or component, a component that includes itself, an empty
// group, a message type over 7 characters, a name that a definitions line cannot carry).
bool importDictionaries(const std::vector<Dictionary>& dictionaries, Definitions* out,
                        std::string* error);

// The whole program; console messages go to `console`.
int run(int argc, const char* const argv[], std::FILE* console);

}  // namespace dictimport

#endif  // CORVALE_TOOLS_DICTIMPORT_H

// options - fixhost's command line: the command, its arguments and the settings that every
// command shares. Parsing never touches the plug-in or the file system; it only reads argv.
#ifndef CORVALE_HOST_OPTIONS_H
#define CORVALE_HOST_OPTIONS_H

#include <stdexcept>
#include <string>
#include <vector>

namespace fixhost {

// Exit codes, also listed in the --help text.
enum ExitCode {
  kExitOk = 0,        // every message parsed, written or compared without a fault
  kExitFailed = 1,    // at least one message (or tree, or management line) failed or differed
  kExitUsage = 2,     // unknown option, bad option value, missing argument
  kExitInput = 3,     // an input file cannot be read
  kExitPlugin = 4,    // the plug-in cannot be loaded (or offers no such parser class)
  kExitMetadata = 5,  // the metadata directory does not exist
};

enum class Command { Help, Parse, Write, Roundtrip, Mgmt, Bench, Info };
enum class Format { Auto, Text, Xml, Json };

struct Options {
  Command command = Command::Help;
  std::vector<std::string> args;  // input files; for mgmt the command word and its data words
  Format format = Format::Auto;   // Auto: text for printing, detected for reading trees
  std::string delimiter;          // stands for SOH in FIX input and output; empty: SOH itself
  bool findBegin = false;         // skip anything before "8=" on a line
  std::string className = "FIX";  // parser class of the plug-in
  bool classGiven = false;
  int ccsid = 437;  // CodedCharSetId property of the FIX messages
  int jobs = 1;     // parser threads
  bool stats = false;
  std::string plugin;  // explicit plug-in path; empty: the default build
  bool diagnostic = false;
  std::string metadata;  // explicit metadata directory; empty: FIXMETADIR or the default
  int repeat = 5;        // bench: timed repetitions
};

// A command line that cannot be run; what() is the one line to show.
struct CommandLineError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// argv[0] is the program name. Throws CommandLineError.
Options parseOptions(int argc, const char* const* argv);

// The --help text.
const char* helpText();

}  // namespace fixhost

#endif  // CORVALE_HOST_OPTIONS_H

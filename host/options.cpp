#include "host/options.h"

#include <charconv>
#include <string_view>

namespace fixhost {

namespace {

const char kHelp[] =
    R"(Usage: fixhost COMMAND [OPTIONS] [ARGS]

Parses FIX messages into trees and writes trees back as FIX, through the Corvale
parser plug-in loaded exactly as a message broker loads it.

Commands:
  parse [FILE...]          parse FIX messages (standard input when no FILE) and
                           print each message's tree
  write [FILE...]          read trees in the XML or JSON form that parse prints
                           and write each as a FIX message, one per line
  roundtrip [FILE...]      parse and write back every message; report each one
                           whose written form differs from its input
  mgmt COMMAND [DATA...]   send one management message (FLUSH, FLUSHALL, STATS,
                           GETLEVEL, TRACEON, TRACEOFF) and print its reply tree
  bench FILE               time parse with a complete walk of every tree, and
                           write of every parsed tree (production build)
  info                     show the plug-in loaded, its factory and parser
                           classes, and the metadata directory with its levels

Options:
  -f, --format FORMAT      text (default), xml or json; for write, the form of
                           the input trees (default: detected)
  -d, --delimiter D        FIX messages use D in place of SOH, in input and in
                           output (e.g. "|" or "^A", as FIX logs are written)
      --find-begin         ignore anything before "8=" on a line (log prefixes);
                           lines without "8=" are skipped
      --class NAME         parser class: FIX (default) or FIXONLY
      --ccsid N            coded character set id of the messages (default 437)
  -j, --jobs N             N parser threads; output stays in input order
      --stats              print the STATS reply tree at the end of the run
      --plugin PATH        load this Corvale.lil
      --diagnostic         load the diagnostic build (default: production)
      --metadata DIR       metadata directory (sets FIXMETADIR)
      --repeat N           bench: timed repetitions, median reported (default 5)
  -h, --help               show this text

Input:
  Messages are found by their framing (8=, 9=BodyLength, 10=CheckSum), one per
  line or as a raw stream without newlines. A line that begins with "#!" is a
  management line, sent in order with the traffic around it:
      #! STATS
      #! FLUSH FIX44 FIX42
      #! TRACEON TRPARSE TRMGMT
  Each word is padded with blanks to 8 characters. Other lines that begin with
  "#" are comments.

Tree formats:
  text   the root, then one line per element, indented by depth:
         "  BeginString = FIX.4.4", a folder as "  Allocs/", a byte array as
         "  RawData [base64] = AQID", a control character in a text as \x01
         (for reading only: write takes xml and json)
  xml    <FIX><BeginString>FIX.4.4</BeginString><Allocs>...</Allocs></FIX>;
         a byte array as <RawData encoding="base64">AQID</RawData>; a text
         that XML cannot carry as encoding="base64" type="text"; a name that is
         no XML name as <_ name="...">
  json   one message per line: {"FIX":[{"BeginString":"FIX.4.4"},...]};
         each element is a one-key object, so order and repeated names are
         kept; a folder is {"Name":[children...]}; consecutive folders of one
         name (the instances of a repeating group) are {"Name":[[...],[...]]};
         a byte array is {"Name":{"base64":"AQID"}}

Environment:
  FIXMETADIR               metadata directory; when unset, fixhost sets it to
                           the metadata of its build or installation

Exit codes:
  0  all messages good
  1  some message, tree or management line failed (or differed in roundtrip)
  2  usage error or unknown option
  3  an input file cannot be read
  4  the plug-in cannot be loaded
  5  the metadata directory is missing
)";

int parseNumber(std::string_view option, std::string_view text, int min) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min) {
    throw CommandLineError("fixhost: " + std::string(option) + " needs a number of at least " +
                           std::to_string(min) + ", not \"" + std::string(text) + "\"");
  }
  return value;
}

Format parseFormat(std::string_view text) {
  if (text == "text") return Format::Text;
  if (text == "xml") return Format::Xml;
  if (text == "json") return Format::Json;
  throw CommandLineError("fixhost: --format must be text, xml or json, not \"" + std::string(text) +
                         "\"");
}

bool parseCommand(std::string_view word, Command& command) {
  static const struct {
    std::string_view name;
    Command command;
  } kCommands[] = {
      {"parse", Command::Parse}, {"write", Command::Write}, {"roundtrip", Command::Roundtrip},
      {"mgmt", Command::Mgmt},   {"bench", Command::Bench}, {"info", Command::Info},
      {"help", Command::Help}};
  for (const auto& entry : kCommands) {
    if (entry.name == word) {
      command = entry.command;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* helpText() {
  return kHelp;
}

Options parseOptions(int argc, const char* const* argv) {
  Options options;
  bool haveCommand = false;
  bool help = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!haveCommand) {
        if (!parseCommand(arg, options.command)) {
          throw CommandLineError("fixhost: unknown command \"" + std::string(arg) +
                                 "\" (try fixhost --help)");
        }
        haveCommand = true;
      } else {
        options.args.emplace_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" is accepted as well as "--name value".
    std::string_view name = arg;
    std::string_view inlineValue;
    bool hasInline = false;
    if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
      hasInline = true;
    } else if (arg[1] != '-' && arg.size() > 2) {  // "-j2", "-fjson", "-d|"
      name = arg.substr(0, 2);
      inlineValue = arg.substr(2);
      hasInline = true;
    }
    auto value = [&]() -> std::string_view {
      if (hasInline) return inlineValue;
      if (i + 1 >= argc) {
        throw CommandLineError("fixhost: " + std::string(name) + " needs a value");
      }
      return argv[++i];
    };
    auto flag = [&](bool& target) {
      if (hasInline) throw CommandLineError("fixhost: " + std::string(name) + " takes no value");
      target = true;
    };
    if (name == "-h" || name == "--help") {
      flag(help);
    } else if (name == "-f" || name == "--format") {
      options.format = parseFormat(value());
    } else if (name == "-d" || name == "--delimiter") {
      options.delimiter = value();
      if (options.delimiter.empty()) throw CommandLineError("fixhost: --delimiter is empty");
    } else if (name == "--find-begin") {
      flag(options.findBegin);
    } else if (name == "--class") {
      options.className = value();
      options.classGiven = true;
    } else if (name == "--ccsid") {
      options.ccsid = parseNumber(name, value(), 1);
    } else if (name == "-j" || name == "--jobs") {
      options.jobs = parseNumber(name, value(), 1);
    } else if (name == "--stats") {
      flag(options.stats);
    } else if (name == "--plugin") {
      options.plugin = value();
    } else if (name == "--diagnostic") {
      flag(options.diagnostic);
    } else if (name == "--metadata") {
      options.metadata = value();
    } else if (name == "--repeat") {
      options.repeat = parseNumber(name, value(), 1);
    } else {
      throw CommandLineError("fixhost: unknown option " + std::string(arg) +
                             " (try fixhost --help)");
    }
  }
  if (help || !haveCommand) {
    if (!help && !haveCommand) throw CommandLineError("fixhost: no command (try fixhost --help)");
    options.command = Command::Help;
    return options;
  }
  if (options.command == Command::Mgmt && options.args.empty()) {
    throw CommandLineError("fixhost: mgmt needs a command word, e.g. fixhost mgmt STATS");
  }
  if (options.command == Command::Bench && options.args.size() != 1) {
    throw CommandLineError("fixhost: bench needs exactly one FILE");
  }
  return options;
}

}  // namespace fixhost

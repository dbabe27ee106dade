#include "host/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "host/input.h"
#include "host/session.h"
#include "host/treeprint.h"
#include "host/treeread.h"

namespace fixhost {

namespace {

broker::Properties fixProperties(const Options& options) {
  broker::Properties properties;
  properties.ccsid = options.ccsid;
  return properties;
}

Outcome failure(const std::string& where, const std::string& what) {
  Outcome outcome;
  outcome.status = Outcome::Status::Failed;
  outcome.err = where + ": " + what + "\n";
  return outcome;
}

// Runs body(outcome); a failure the broker reports fails the outcome, with where in front.
template <typename Body>
Outcome reported(const std::string& where, Body body) {
  Outcome outcome;
  try {
    body(outcome);
  } catch (const broker::Error& e) {
    return failure(where, describeError(e));
  } catch (const broker::UsageError& e) {
    return failure(where, e.what());
  }
  return outcome;
}

// Counts outcomes and prints them: standard output first, then standard error, so that the two
// keep their order when they go to one place.
class Printer {
 public:
  // The number of records to come, for the progress line.
  void start(size_t total) { progress_ = std::make_unique<Progress>(total); }

  void emit(Outcome& outcome, bool countsAsMessage = true) {
    if (!outcome.out.empty()) std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout);
    if (!outcome.err.empty()) {
      std::fflush(stdout);
      if (progress_) progress_->clear();
      std::fwrite(outcome.err.data(), 1, outcome.err.size(), stderr);
    }
    if (outcome.status == Outcome::Status::Failed) ++(countsAsMessage ? failed : failedOther);
    if (outcome.status == Outcome::Status::Differs) ++differ;
    if (countsAsMessage) {
      ++messages;
      if (progress_) progress_->update(messages);
    }
  }

  void finish() {
    std::fflush(stdout);
    progress_.reset();
  }

  int exitCode() const { return failed + failedOther + differ > 0 ? kExitFailed : kExitOk; }

  size_t messages = 0;     // FIX messages or trees, not management lines
  size_t failed = 0;       // messages or trees that failed
  size_t failedOther = 0;  // management lines that failed
  size_t differ = 0;       // roundtrip: messages written back differently

 private:
  std::unique_ptr<Progress> progress_;
};

// Runs work over the FIX records on options.jobs threads, each with its own parser instance; a
// management line is a barrier: the messages before it are done first, the ones after it start
// after it.
void runRecords(const Options& options, const Host& host, const std::vector<Record>& records,
                const std::function<Outcome(broker::Parser&, const Record&)>& work,
                Printer& printer) {
  std::vector<std::unique_ptr<broker::Parser>> parsers;
  for (int i = 0; i < options.jobs; ++i) parsers.push_back(host.newParser(options.className));
  Format format = options.format;
  size_t i = 0;
  while (i < records.size()) {
    size_t end = i;
    while (end < records.size() && records[end].kind == Record::Kind::Fix) ++end;
    runOrdered(
        end - i, options.jobs,
        [&](size_t k, int worker) {
          return work(*parsers[static_cast<size_t>(worker)], records[i + k]);
        },
        [&](size_t, Outcome& outcome) { printer.emit(outcome); });
    if (end < records.size()) {
      const Record& line = records[end];
      Outcome outcome;
      try {
        outcome = sendManagement(*parsers[0], managementWords(line.text), format, location(line));
      } catch (const InputError& e) {
        outcome = failure(location(line), e.what());
      }
      printer.emit(outcome, false);
      ++end;
    }
    i = end;
  }
  if (options.stats) {
    Outcome outcome = sendManagement(*parsers[0], {"STATS"}, format, "statistics");
    printer.emit(outcome, false);
  }
}

std::string shownFix(std::string_view bytes, const Options& options) {
  return fromSoh(std::string(bytes), options.delimiter.empty() ? "|" : options.delimiter);
}

using MessageBody =
    std::function<void(broker::Parser&, const Record&, const broker::Properties&, Outcome&)>;

// Reads the input files, loads the plug-in and runs body for every FIX message of the input
// (management lines in between), printing what each gives.
void runFixInput(const Options& options, const MessageBody& body, Printer& printer) {
  std::vector<Source> sources = loadSources(options.args, options.delimiter);
  std::vector<Record> records = allRecords(sources, options.findBegin);
  Host host(options);
  broker::Properties properties = fixProperties(options);
  printer.start(records.size());
  runRecords(
      options, host, records,
      [&](broker::Parser& parser, const Record& record) {
        return reported(location(record),
                        [&](Outcome& outcome) { body(parser, record, properties, outcome); });
      },
      printer);
  printer.finish();
}

}  // namespace

Outcome sendManagement(broker::Parser& parser, const std::vector<std::string>& words, Format format,
                       const std::string& where) {
  std::string text;
  try {
    text = managementText(words);
  } catch (const InputError& e) {
    return failure(where, e.what());
  }
  return reported(where, [&](Outcome& outcome) {
    broker::Properties properties;
    properties.messageSet = "SYSTMGMT";
    broker::Message reply = parser.parse(text, properties);
    printTree(outcome.out, reply.body(), format);
  });
}

int runParse(const Options& options) {
  Printer printer;
  runFixInput(
      options,
      [&](broker::Parser& parser, const Record& record, const broker::Properties& properties,
          Outcome& outcome) {
        broker::Message message = parser.parse(record.text, properties);
        printTree(outcome.out, message.body(), options.format);
      },
      printer);
  if (printer.failed > 0) {
    std::fprintf(stderr, "fixhost: %zu of %zu messages failed\n", printer.failed, printer.messages);
  }
  return printer.exitCode();
}

int runRoundtrip(const Options& options) {
  Printer printer;
  runFixInput(
      options,
      [&](broker::Parser& parser, const Record& record, const broker::Properties& properties,
          Outcome& outcome) {
        broker::Message message = parser.parse(record.text, properties);
        std::string written = parser.write(message);
        if (written == record.text) return;
        size_t at = 0;
        while (at < written.size() && at < record.text.size() && written[at] == record.text[at]) {
          ++at;
        }
        outcome.status = Outcome::Status::Differs;
        outcome.out = location(record) + ": written message differs from its input at offset " +
                      std::to_string(at) + "\n  in:  " + shownFix(record.text, options) +
                      "\n  out: " + shownFix(written, options) + "\n";
      },
      printer);
  std::printf("roundtrip: %zu messages, %zu identical, %zu different, %zu failed\n",
              printer.messages, printer.messages - printer.differ - printer.failed, printer.differ,
              printer.failed);
  return printer.exitCode();
}

int runWrite(const Options& options) {
  std::vector<Source> sources = loadSources(options.args, "");
  Host host(options);
  struct Item {
    Tree tree;
    size_t number;  // 1-based among the trees of its file
    const std::string* file;
  };
  std::vector<Item> items;
  size_t badFiles = 0;
  for (const Source& source : sources) {
    const std::string* shown = sources.size() > 1 ? &source.name : nullptr;
    std::string prefix = shown ? *shown + ": " : "";
    Format format = options.format == Format::Text ? Format::Auto : options.format;
    if (format == Format::Auto) format = detectTreeFormat(source.data);
    try {
      std::vector<Tree> trees;
      if (format == Format::Xml) {
        trees = readXmlTrees(source.data);
      } else if (format == Format::Json) {
        trees = readJsonTrees(source.data);
      } else if (source.data.find_first_not_of(" \t\r\n") != std::string::npos) {
        throw TreeError("neither XML nor JSON trees (see fixhost --help)");
      }
      for (size_t i = 0; i < trees.size(); ++i)
        items.push_back({std::move(trees[i]), i + 1, shown});
    } catch (const TreeError& e) {
      std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
      ++badFiles;
    }
  }

  // Per thread, one parser instance per class, made when first needed.
  std::vector<std::map<std::string, std::unique_ptr<broker::Parser>>> parsers(
      static_cast<size_t>(options.jobs));
  broker::Properties properties = fixProperties(options);
  Printer printer;
  printer.start(items.size());
  runOrdered(
      items.size(), options.jobs,
      [&](size_t index, int worker) {
        const Item& item = items[index];
        std::string where = (item.file ? *item.file + ": " : "") + "tree " +
                            std::to_string(item.number) + " (line " +
                            std::to_string(item.tree.line) + ")";
        const std::string& root = item.tree.root.name;
        std::string className =
            !options.classGiven && host.hasClass(root) ? root : options.className;
        auto& parser = parsers[static_cast<size_t>(worker)][className];
        if (!parser) parser = host.newParser(className);
        return reported(where, [&](Outcome& outcome) {
          broker::Message message = parser->createMessage(properties);
          buildTree(message.body(), item.tree.root.children);
          outcome.out = fromSoh(parser->write(message), options.delimiter) + "\n";
        });
      },
      [&](size_t, Outcome& outcome) { printer.emit(outcome); });
  if (options.stats) {
    auto& parser = parsers[0][options.className];
    if (!parser) parser = host.newParser(options.className);
    Outcome outcome = sendManagement(*parser, {"STATS"}, Format::Text, "statistics");
    printer.emit(outcome, false);
  }
  printer.finish();
  return badFiles > 0 ? kExitFailed : printer.exitCode();
}

int runMgmt(const Options& options) {
  try {
    managementText(options.args);
  } catch (const InputError& e) {
    throw CommandLineError(std::string("fixhost: ") + e.what());
  }
  Host host(options);
  std::unique_ptr<broker::Parser> parser = host.newParser(options.className);
  Outcome outcome = sendManagement(*parser, options.args, options.format, "mgmt");
  Printer printer;
  printer.emit(outcome, false);
  printer.finish();
  return printer.exitCode();
}

int runInfo(const Options& options) {
  Host host(options);
  // The levels are the metadata files the plug-in can load: <level>.mtx.
  std::vector<std::string> levels;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(host.metadataDir(), error)) {
    if (entry.path().extension() == ".mtx") levels.push_back(entry.path().stem().string());
  }
  std::sort(levels.begin(), levels.end());
  std::string levelList;
  for (const std::string& level : levels) levelList += " " + level;
  std::printf("plug-in   %s\nfactory   %s\nclasses   %s\nmetadata  %s\nlevels   %s\n",
              host.pluginPath().c_str(), host.plugin().factoryName().c_str(),
              host.classList().c_str(), host.metadataDir().c_str(),
              levelList.empty() ? " (none)" : levelList.c_str());
  return kExitOk;
}

}  // namespace fixhost

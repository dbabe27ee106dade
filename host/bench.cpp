// fixhost bench: parse with a complete cni* walk, and write, timed over messages held in memory.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "host/commands.h"
#include "host/input.h"
#include "host/session.h"

namespace fixhost {

namespace {

using Clock = std::chrono::steady_clock;

// Visits every element with cni* navigation, as a message flow reading the whole tree does, and
// asks each for its value type; returns the number of elements plus the number of values, so
// that the walk cannot be left out.
size_t walk(const broker::Element& element) {
  if (element.type() != CCI_ELEMENT_TYPE_NAME) {
    return 1 + (element.valueType() != CCI_ELEMENT_TYPE_UNKNOWN ? 1 : 0);
  }
  size_t count = 1;
  for (broker::Element child = element.firstChild(); child; child = child.nextSibling()) {
    count += walk(child);
  }
  return count;
}

// Runs pass once to warm up, then `repeat` times; returns the median duration in nanoseconds.
template <typename Pass>
double medianNanoseconds(int repeat, Pass pass) {
  pass();
  std::vector<double> times;
  for (int i = 0; i < repeat; ++i) {
    Clock::time_point start = Clock::now();
    pass();
    times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

void report(const char* what, size_t messages, size_t bytes, double nanoseconds) {
  double seconds = nanoseconds / 1e9;
  std::printf("  %-11s %12.0f msgs/s %10.0f ns/msg %9.2f MB/s\n", what,
              static_cast<double>(messages) / seconds, nanoseconds / static_cast<double>(messages),
              static_cast<double>(bytes) / seconds / 1e6);
}

}  // namespace

int runBench(const Options& options) {
  std::vector<Source> sources = loadSources(options.args, options.delimiter);
  std::vector<Record> records = allRecords(sources, options.findBegin);
  Host host(options);
  std::unique_ptr<broker::Parser> parser = host.newParser(options.className);
  broker::Properties properties;
  properties.ccsid = options.ccsid;

  // Only messages that parse and write without a fault are timed.
  std::vector<std::string_view> messages;
  size_t failed = 0;
  size_t bytesIn = 0;
  for (const Record& record : records) {
    if (record.kind != Record::Kind::Fix) continue;
    try {
      broker::Message message = parser->parse(record.text, properties);
      walk(message.body());
      parser->write(message);
      messages.push_back(record.text);
      bytesIn += record.text.size();
    } catch (const broker::Error&) {
      ++failed;
    } catch (const broker::UsageError&) {
      ++failed;
    }
  }
  if (messages.empty()) {
    std::fprintf(stderr, "fixhost: no message of %s parses and writes without a fault\n",
                 options.args.front().c_str());
    return kExitFailed;
  }

  volatile size_t sink = 0;  // keeps the walks from being optimised away
  double parseTime = medianNanoseconds(options.repeat, [&] {
    size_t elements = 0;
    for (std::string_view text : messages) {
      broker::Message message = parser->parse(text, properties);
      elements += walk(message.body());
    }
    sink = sink + elements;
  });

  // The trees to write are parsed completely first, outside the timed region.
  std::vector<broker::Message> parsed;
  parsed.reserve(messages.size());
  for (std::string_view text : messages) {
    parsed.push_back(parser->parse(text, properties));
    parsed.back().complete();
  }
  size_t bytesOut = 0;
  double writeTime = medianNanoseconds(options.repeat, [&] {
    size_t bytes = 0;
    for (const broker::Message& message : parsed) bytes += parser->write(message).size();
    bytesOut = bytes;
  });

  std::printf("fixhost bench: %s: %zu messages, %zu bytes", options.args.front().c_str(),
              messages.size(), bytesIn);
  if (failed > 0) std::printf(" (%zu more left out: they fail)", failed);
  std::printf("\n");
  std::printf("  plug-in %s; median of %d runs after a warm-up\n", host.pluginPath().c_str(),
              options.repeat);
  report("parse+walk", messages.size(), bytesIn, parseTime);
  report("write", messages.size(), bytesOut, writeTime);
  return kExitOk;
}

}  // namespace fixhost

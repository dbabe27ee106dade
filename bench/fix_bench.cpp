// Parse-and-walk and write throughput of the production plug-in, driven through the stand-in
// broker as a message flow would drive it, next to QuickFIX (a general FIX engine) and a plain
// split-on-SOH scan that only finds the items. Every benchmark handles the same FIX.4.4
// messages, loaded into memory before timing; one iteration is one pass over all of them.
// Reported: messages per second (items_per_second), bytes per second, and ns per message.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_input.h"
#include "broker/broker.h"

namespace {

using bench::messages;
using bench::report;

// The production plug-in, with the build's metadata unless FIXMETADIR says otherwise (the plug-in
// reads it once, when loaded).
std::string productionPlugin() {
  if (std::getenv("FIXMETADIR") == nullptr) setenv("FIXMETADIR", CORVALE_BUILD_MTX_DIR, 1);
  broker::setLogToStderr(false);
  return CORVALE_PLUGIN_PRODUCTION;
}

broker::Plugin& plugin() {
  static broker::Plugin loaded(productionPlugin());
  return loaded;
}

// Visits every element as a message flow would: cni* navigation and each value read.
size_t walk(const broker::Element& element) {
  size_t seen = 1;
  if (element.valueType() == CCI_ELEMENT_TYPE_UTF16) {
    benchmark::DoNotOptimize(element.characterValue());
  }
  for (broker::Element child = element.firstChild(); child; child = child.nextSibling()) {
    seen += walk(child);
  }
  return seen;
}

void BM_CorvaleParseWalk(benchmark::State& state) {
  broker::Parser parser(plugin(), "FIX");
  for (auto _ : state) {
    for (const auto& m : messages()) {
      broker::Message message = parser.parse(m);
      benchmark::DoNotOptimize(walk(message.body()));
    }
  }
  report(state);
}
BENCHMARK(BM_CorvaleParseWalk);

void BM_CorvaleWrite(benchmark::State& state) {
  broker::Parser parser(plugin(), "FIX");
  std::vector<broker::Message> parsed;
  for (const auto& m : messages()) {
    parsed.push_back(parser.parse(m));
    parsed.back().complete();
  }
  for (auto _ : state) {
    for (const auto& message : parsed) benchmark::DoNotOptimize(parser.write(message));
  }
  report(state);
}
BENCHMARK(BM_CorvaleWrite);

// The least any parser must do: find every tag and value.
void BM_SplitOnSoh(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& m : messages()) {
      size_t items = 0;
      size_t valueBytes = 0;
      for (size_t pos = 0; pos < m.size();) {
        const size_t equals = m.find('=', pos);
        if (equals == std::string::npos) break;
        size_t end = m.find('\x01', equals);
        if (end == std::string::npos) end = m.size();
        ++items;
        valueBytes += end - equals - 1;
        pos = end + 1;
      }
      benchmark::DoNotOptimize(items);
      benchmark::DoNotOptimize(valueBytes);
    }
  }
  report(state);
}
BENCHMARK(BM_SplitOnSoh);

}  // namespace

BENCHMARK_MAIN();

// QuickFIX, a general FIX engine, on the same messages: parse with its data dictionary (groups
// structured, no validation) and a walk over every field, and writing the parsed messages back.
// Compiled on its own at an older language level: QuickFIX's headers use exception
// specifications that newer ones removed.
#include <benchmark/benchmark.h>

#include <quickfix/DataDictionary.h>
#include <quickfix/Message.h>

#include <string>
#include <vector>

#include "bench_input.h"

namespace {

using bench::messages;
using bench::report;

const FIX::DataDictionary& dictionary() {
  static const FIX::DataDictionary dd(std::string(CORVALE_DICTIONARY_DIR) + "/FIX44.xml");
  return dd;
}

size_t countFields(const FIX::FieldMap& map) {
  size_t count = 0;
  for (auto field = map.begin(); field != map.end(); ++field) {
    benchmark::DoNotOptimize(field->getString());
    ++count;
  }
  for (auto group = map.g_begin(); group != map.g_end(); ++group) {
    for (const FIX::FieldMap* instance : group->second) count += countFields(*instance);
  }
  return count;
}

void BM_QuickFixParseWalk(benchmark::State& state) {
  const FIX::DataDictionary& dd = dictionary();
  for (auto _ : state) {
    for (const auto& m : messages()) {
      FIX::Message message;
      message.setString(m, false, &dd, &dd);
      benchmark::DoNotOptimize(countFields(message.getHeader()) + countFields(message) +
                               countFields(message.getTrailer()));
    }
  }
  report(state);
}
BENCHMARK(BM_QuickFixParseWalk);

void BM_QuickFixWrite(benchmark::State& state) {
  const FIX::DataDictionary& dd = dictionary();
  std::vector<FIX::Message> parsed(messages().size());
  for (size_t i = 0; i < parsed.size(); ++i) parsed[i].setString(messages()[i], false, &dd, &dd);
  for (auto _ : state) {
    for (const auto& message : parsed) benchmark::DoNotOptimize(message.toString());
  }
  report(state);
}
BENCHMARK(BM_QuickFixWrite);
}  // namespace

#include "bench_input.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

// The FIX.4.4 messages of the input file, one per line (the line feed after the final SOH is
// dropped); every engine compared parses them with the FIX.4.4 definitions.
std::vector<std::string> loadMessages() {
  const char* path = std::getenv("CORVALE_BENCH_INPUT");
  std::ifstream in(path != nullptr ? path : CORVALE_BENCH_INPUT, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the benchmark input");
  std::vector<std::string> messages;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("8=FIX.4.4\x01", 0) == 0) messages.push_back(line);
  }
  return messages;
}

}  // namespace

const std::vector<std::string>& messages() {
  static const std::vector<std::string> all = loadMessages();
  return all;
}

namespace {

int64_t totalBytes() {
  int64_t bytes = 0;
  for (const auto& m : messages()) bytes += static_cast<int64_t>(m.size());
  return bytes;
}

}  // namespace

void report(benchmark::State& state) {
  const auto count = static_cast<int64_t>(messages().size());
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * totalBytes());
  state.counters["time/msg"] = benchmark::Counter(
      static_cast<double>(count),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace bench

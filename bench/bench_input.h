// The benchmark input: FIX messages loaded into memory once, before anything is timed, and the
// common way every benchmark reports its rates (messages, bytes and ns per message).
#ifndef CORVALE_BENCH_BENCH_INPUT_H
#define CORVALE_BENCH_BENCH_INPUT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The messages of CORVALE_BENCH_INPUT (environment) or of the build's default input file, one
// per line.
const std::vector<std::string>& messages();
// Sets items, bytes and time per message for one pass over all messages per iteration.
void report(benchmark::State& state);

}  // namespace bench

#endif  // CORVALE_BENCH_BENCH_INPUT_H

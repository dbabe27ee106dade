// fixhost - the command-line program that drives the Corvale parser plug-in through the stand-in
// broker: parse FIX files into trees, write trees back as FIX, send management messages, bench.
#include <cstdio>
#include <exception>

#include "host/commands.h"
#include "host/input.h"
#include "host/options.h"
#include "host/session.h"

int main(int argc, char** argv) {
  using namespace fixhost;
  try {
    Options options = parseOptions(argc, argv);
    switch (options.command) {
      case Command::Help:
        std::fputs(helpText(), stdout);
        return kExitOk;
      case Command::Parse:
        return runParse(options);
      case Command::Write:
        return runWrite(options);
      case Command::Roundtrip:
        return runRoundtrip(options);
      case Command::Mgmt:
        return runMgmt(options);
      case Command::Bench:
        return runBench(options);
      case Command::Info:
        return runInfo(options);
    }
  } catch (const CommandLineError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitUsage;
  } catch (const InputError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitInput;
  } catch (const HostError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.exitCode;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fixhost: %s\n", e.what());
    return kExitFailed;
  }
  return kExitUsage;
}

// commands - fixhost's commands. Each returns the process's exit code; a problem that ends the
// whole run is thrown (HostError, InputError) for main to report.
#ifndef CORVALE_HOST_COMMANDS_H
#define CORVALE_HOST_COMMANDS_H

#include <string>
#include <vector>

#include "broker/broker.h"
#include "host/options.h"
#include "host/runner.h"

namespace fixhost {

int runParse(const Options& options);
int runRoundtrip(const Options& options);
int runWrite(const Options& options);
int runMgmt(const Options& options);
int runBench(const Options& options);
int runInfo(const Options& options);

// Sends one management message (its words: command, then data) through parser and prints its
// reply tree; a failure is reported on err, prefixed with where.
Outcome sendManagement(broker::Parser& parser, const std::vector<std::string>& words, Format format,
                       const std::string& where);

}  // namespace fixhost

#endif  // CORVALE_HOST_COMMANDS_H

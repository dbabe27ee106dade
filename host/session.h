// session - what every fixhost command sets up before it touches a message: the metadata
// directory (FIXMETADIR), the plug-in, and parser instances; and how failures are worded.
#ifndef CORVALE_HOST_SESSION_H
#define CORVALE_HOST_SESSION_H

#include <memory>
#include <stdexcept>
#include <string>

#include "broker/broker.h"
#include "host/input.h"
#include "host/options.h"

namespace fixhost {

// A problem that ends the run: the exit code and the one line to show.
struct HostError : std::runtime_error {
  HostError(int code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
  int exitCode;
};

// The loaded plug-in and the settings it was loaded with.
class Host {
 public:
  // Settles the metadata directory (--metadata, else FIXMETADIR, else the build's or the
  // installation's) and sets FIXMETADIR to it, since the plug-in reads it once when it is loaded;
  // then loads the plug-in (--plugin, else the build's or the installation's Corvale.lil of the
  // production or, with --diagnostic, the diagnostic build) and checks that it offers the parser
  // class asked for. Throws HostError with kExitMetadata, kExitPlugin or kExitUsage.
  explicit Host(const Options& options);

  const broker::Plugin& plugin() const { return *plugin_; }
  const std::string& pluginPath() const { return pluginPath_; }
  const std::string& metadataDir() const { return metadataDir_; }
  // A new instance of a class of the plug-in; throws HostError (kExitUsage) for an unknown one.
  std::unique_ptr<broker::Parser> newParser(const std::string& className) const;
  bool hasClass(const std::string& className) const;
  // The plug-in's parser classes in the order it defined them: "FIX, FIXONLY".
  std::string classList() const;

 private:
  std::string pluginPath_;
  std::string metadataDir_;
  std::unique_ptr<broker::Plugin> plugin_;
};

// "0xCFFF000E Checksum tag value (12) does not match calculated sum (34) [34, 12]".
std::string describeError(const broker::Error& error);

// Where a record is, for reports: "[FILE: ]message N (line L)" or "[FILE: ]line L".
std::string location(const Record& record);

}  // namespace fixhost

#endif  // CORVALE_HOST_SESSION_H

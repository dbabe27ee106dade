#include "host/session.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace fixhost {

namespace {

// Paths of this build's tree and of an installation, set by the build.
const char kBuildPluginProduction[] = FIXHOST_BUILD_PLUGIN_PRODUCTION;
const char kBuildPluginDiagnostic[] = FIXHOST_BUILD_PLUGIN_DIAGNOSTIC;
const char kBuildMetadataDir[] = FIXHOST_BUILD_METADATA_DIR;
const char kInstalledPluginProduction[] = FIXHOST_INSTALLED_PLUGIN_PRODUCTION;
const char kInstalledPluginDiagnostic[] = FIXHOST_INSTALLED_PLUGIN_DIAGNOSTIC;
const char kInstalledMetadataDir[] = FIXHOST_INSTALLED_METADATA_DIR;

bool isDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

Host::Host(const Options& options) {
  const char* fromEnvironment = std::getenv("FIXMETADIR");
  if (!options.metadata.empty()) {
    metadataDir_ = options.metadata;
  } else if (fromEnvironment && *fromEnvironment) {
    metadataDir_ = fromEnvironment;
  } else {
    metadataDir_ = isDirectory(kBuildMetadataDir) ? kBuildMetadataDir : kInstalledMetadataDir;
  }
  if (!isDirectory(metadataDir_)) {
    throw HostError(kExitMetadata, "fixhost: metadata directory " + metadataDir_ +
                                       " does not exist (set FIXMETADIR or use --metadata)");
  }
  ::setenv("FIXMETADIR", metadataDir_.c_str(), 1);

  if (!options.plugin.empty()) {
    pluginPath_ = options.plugin;
  } else if (options.diagnostic) {
    pluginPath_ =
        isFile(kBuildPluginDiagnostic) ? kBuildPluginDiagnostic : kInstalledPluginDiagnostic;
  } else {
    pluginPath_ =
        isFile(kBuildPluginProduction) ? kBuildPluginProduction : kInstalledPluginProduction;
  }
  try {
    plugin_ = std::make_unique<broker::Plugin>(pluginPath_);
  } catch (const broker::UsageError& e) {
    throw HostError(kExitPlugin, "fixhost: cannot load plug-in " + pluginPath_ + ": " + e.what());
  }
  if (!plugin_->factory()) {
    throw HostError(kExitPlugin, "fixhost: plug-in " + pluginPath_ + " created no parser factory");
  }
  if (!hasClass(options.className)) {
    throw HostError(kExitUsage, "fixhost: unknown parser class " + options.className +
                                    " (the plug-in offers " + classList() + ")");
  }
}

bool Host::hasClass(const std::string& className) const {
  for (const std::string& name : plugin_->classNames()) {
    if (name == className) return true;
  }
  return false;
}

std::string Host::classList() const {
  std::string list;
  for (const std::string& name : plugin_->classNames()) list += (list.empty() ? "" : ", ") + name;
  return list;
}

std::unique_ptr<broker::Parser> Host::newParser(const std::string& className) const {
  try {
    return std::make_unique<broker::Parser>(*plugin_, className);
  } catch (const broker::UsageError& e) {
    throw HostError(kExitPlugin, "fixhost: cannot create a " + className + " parser: " + e.what());
  }
}

std::string describeError(const broker::Error& error) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(error.number));
  std::string text = number;
  std::string trace = error.traceText;
  while (!trace.empty() && (trace.back() == '\n' || trace.back() == '\r' || trace.back() == ' ')) {
    trace.pop_back();
  }
  if (!trace.empty()) text += " " + trace;
  if (!error.inserts.empty()) {
    text += " [";
    for (size_t i = 0; i < error.inserts.size(); ++i) {
      if (i > 0) text += ", ";
      text += error.inserts[i];
    }
    text += "]";
  }
  return text;
}

std::string location(const Record& record) {
  std::string text = record.file ? *record.file + ": " : "";
  if (record.kind == Record::Kind::Fix) {
    text +=
        "message " + std::to_string(record.number) + " (line " + std::to_string(record.line) + ")";
  } else {
    text += "line " + std::to_string(record.line);
  }
  return text;
}

}  // namespace fixhost

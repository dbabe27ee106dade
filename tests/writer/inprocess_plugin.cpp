#include "inprocess_plugin.h"

#include "plugin/corvale.h"
#include "tests/support/plugin_builds.h"

namespace writer_test {
namespace {

int observedSize = -1;

int watchedWrite(CciParser* parser, CciContext* context) {
  try {
    observedSize = cpiWriteBuffer(parser, context);
    return observedSize;
  } catch (...) {
    int rc = 0;
    observedSize = cpiBufferSize(&rc, parser);
    throw;
  }
}

// Plays the part of the loaded library's entry point; the broker keeps the callback table by
// address, so the write slot can be replaced after the classes are defined.
CciFactory* watchedEntry() {
  CciFactory* factory = bipGetParserFactory();
  parserFunctionTable.cpiWriteBuffer = watchedWrite;
  return factory;
}

}  // namespace

broker::Plugin& inProcessPlugin(const std::string& metadataDir) {
  corvale_test::setPluginEnvironment(metadataDir);
  static broker::Plugin plugin(watchedEntry, "linked plug-in modules");
  return plugin;
}

int observedOutputSize() {
  return observedSize;
}

}  // namespace writer_test

// The plug-in's modules linked into the test program, so that a test reads the process-wide
// counters directly and sees what a failed write left in the output stream.
#ifndef CORVALE_TESTS_WRITER_INPROCESS_PLUGIN_H
#define CORVALE_TESTS_WRITER_INPROCESS_PLUGIN_H

#include <string>

#include "broker/broker.h"

namespace writer_test {

// Loads the linked modules with the cache pointed at metadataDir: the factory and the classes
// "FIX" and "FIXONLY" with the plug-in's own callbacks, except that the write callback is
// watched: it keeps the size of the output stream when the write ends, and when a write raises,
// the size at that moment, before the broker discards the stream. Once per test process.
broker::Plugin& inProcessPlugin(const std::string& metadataDir);
// The size of the output stream at the end of the last write of the in-process plug-in, also
// when it raised; -1 before any write.
int observedOutputSize();

}  // namespace writer_test

#endif  // CORVALE_TESTS_WRITER_INPROCESS_PLUGIN_H

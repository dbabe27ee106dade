// Helpers of the writer tests: the small level of the hand-built trees, trace switched off for
// long runs, and the corpus round trip. The shared helpers (tests/support) are used here by their
// plain names.
#ifndef CORVALE_TESTS_WRITER_WRITER_SUPPORT_H
#define CORVALE_TESTS_WRITER_WRITER_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/broker.h"
#include "tests/support/corpus.h"
#include "tests/support/fix_messages.h"
#include "tests/support/plugin_builds.h"

namespace writer_test {

using corvale_test::beginStringOf;
using corvale_test::corpusFiles;
using corvale_test::fixMessage;
using corvale_test::fixMessageIn;
using corvale_test::loadPlugin;
using corvale_test::PluginBuild;
using corvale_test::PluginBuildName;
using corvale_test::pluginBuilds;
using corvale_test::projectCorpusDir;
using corvale_test::readMessages;
using corvale_test::shippedMetadataDir;
using corvale_test::soh;

// The small level of the hand-built trees (FIX42 there), compiled during the build.
std::string fixtureMetadata();

// Switches the diagnostic build's tracing off (a TRACEOFF management message), so that a long
// run does not walk every tree for trace lines that go nowhere; nothing in the production build.
void traceOff(const broker::Plugin& plugin);

// Parses every message of the files on parser and writes it back on parser and on other: each
// must come back byte for byte, except that a level without metadata (FIX.3.9) must fail with
// 0xCFFF0016. Reports the first mismatches in full and returns the number of messages checked.
int checkCorpusRoundTrip(broker::Parser& parser, broker::Parser& other,
                         const std::vector<std::string>& files);

}  // namespace writer_test

#endif  // CORVALE_TESTS_WRITER_WRITER_SUPPORT_H

// The production build has no trace facility: the environment is not read, no file is opened,
// and trace control requests change nothing.
#include <gtest/gtest.h>

#include <string>

#include "plugin/trace.h"
#include "tests/support/trace_file.h"

namespace {

using corvale_test::TraceFile;

TEST(ProductionTrace, NoEnvironmentNoFileNoSwitches) {
  TraceFile file;
  for (const char* name : corvale_test::kTraceSwitchVariables) setenv(name, "3", 1);
  initializeTrace();
  startTrace();
  processTraceOnMsg(0, 0, 8, "TRACEALL");
  traceLog("never %d\n", 1);
  traceMemory("abcd", 4);
  processTraceOffMsg();
  for (const std::atomic<int32_t>* s :
       {&debug, &traceParser, &traceWrite, &traceModule, &traceMgmt}) {
    EXPECT_EQ(s->load(), 0);
  }
  EXPECT_STREQ(traceFileName(), "");
  EXPECT_FALSE(traceFileOpen());
  EXPECT_FALSE(file.exists());
}

}  // namespace

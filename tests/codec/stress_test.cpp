// Eight parser instances on eight threads parse the corpus while a ninth thread flushes the
// metadata levels they use with management messages. Every tree must come out as it does on one
// thread, and the message counters must add up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "codec_support.h"
#include "corvale.h"
#include "metadata.h"

namespace codec_test {
namespace {

constexpr int kWorkers = 8;
constexpr int kFlushEvery = 1000;  // messages parsed by all workers together

TEST(StressTest, ParallelParsersWhileLevelsAreFlushed) {
  std::unique_ptr<broker::Plugin> plugin = loadPlugin(PluginKind::InProcess, CORVALE_BUILD_MTX_DIR);

  std::vector<std::string> messages;
  for (const std::string& file : corpusFiles(projectCorpusDir())) {
    for (std::string& m : readMessages(file)) messages.push_back(std::move(m));
  }
  ASSERT_FALSE(messages.empty());
  std::vector<std::string> expected;
  {
    broker::Parser parser(*plugin, "FIX");
    for (const std::string& m : messages) expected.push_back(dumpTree(parser.parse(m).body()));
  }

  const int32_t messagesBefore = inMessageCount.load();
  const int32_t invalidBefore = invalidMsgCount.load();
  std::atomic<int> running{kWorkers};
  std::atomic<int> parsed{0};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      broker::Parser parser(*plugin, w % 2 == 0 ? "FIX" : "FIXONLY");
      for (size_t i = 0; i < messages.size(); ++i) {
        // Each worker starts at another place, so the levels are wanted in different orders.
        const size_t k =
            (i + static_cast<size_t>(w) * messages.size() / kWorkers) % messages.size();
        try {
          if (dumpTree(parser.parse(messages[k]).body()) != expected[k]) mismatches++;
        } catch (const std::exception&) {
          mismatches++;
        }
        parsed++;
      }
      running--;
    });
  }

  int flushes = 0;
  {
    broker::Parser manager(*plugin, "FIX");
    const broker::Properties management{.messageSet = "SYSTMGMT", .ccsid = 437};
    const char* commands[] = {"00000000FLUSH   FIX4    FIXT11  ", "00000000FLUSHALL",
                              "00000000FLUSH   FIX42   "};
    // A flush after every few hundred messages the workers finish: each one meets them in the
    // middle of messages, and they parse a while on reloaded levels before the next.
    for (int due = kFlushEvery; running.load() > 0;) {
      if (parsed.load() < due) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      broker::Message reply = manager.parse(commands[flushes % 3], management);
      reply.complete();
      ++flushes;
      due += kFlushEvery;
    }
  }
  for (std::thread& t : workers) t.join();

  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GT(flushes, 0);
  EXPECT_EQ(inMessageCount.load() - messagesBefore,
            static_cast<int32_t>(kWorkers * messages.size()));
  EXPECT_EQ(invalidMsgCount.load() - invalidBefore, 0);
  for (int slot = 0; slot < kCacheSlots; ++slot) {
    EXPECT_EQ(cacheSlotState(slot).inUseCount, 0) << "slot " << slot;
  }
}

}  // namespace
}  // namespace codec_test

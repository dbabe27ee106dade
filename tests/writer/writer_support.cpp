#include "writer_support.h"

namespace writer_test {

std::string fixtureMetadata() {
  return WRITER_FIXTURE_MTX_DIR;
}

void traceOff(const broker::Plugin& plugin) {
  broker::Parser parser(plugin, "FIX");
  parser.parse("00000000TRACEOFF", {.messageSet = "SYSTMGMT", .ccsid = 437}).complete();
}

int checkCorpusRoundTrip(broker::Parser& parser, broker::Parser& other,
                         const std::vector<std::string>& files) {
  int checked = 0;
  int mismatches = 0;
  for (const std::string& file : files) {
    const std::vector<std::string> messages = readMessages(file);
    for (size_t i = 0; i < messages.size(); ++i) {
      const std::string& message = messages[i];
      const std::string where = file + " line " + std::to_string(i + 1);
      ++checked;
      if (beginStringOf(message) == "FIX.3.9") {
        broker::Message parsed = parser.parse(message);
        try {
          parser.write(parsed);
          ADD_FAILURE() << where << ": a level without metadata was written";
        } catch (const broker::Error& e) {
          EXPECT_EQ(e.number, 0xCFFF0016u) << where;
          EXPECT_EQ(e.inserts, std::vector<std::string>{"FIX39"}) << where;
        }
        continue;
      }
      for (broker::Parser* writer : {&parser, &other}) {
        std::string written;
        try {
          broker::Message parsed = parser.parse(message);
          written = writer->write(parsed);
        } catch (const broker::Error& e) {
          written = std::string("error ") + e.what();
        }
        if (written != message && ++mismatches <= 10)
          ADD_FAILURE() << where << (writer == &parser ? "" : " (other parser)")
                        << "\n  read:    " << message << "\n  written: " << written;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  return checked;
}

}  // namespace writer_test

#include "codec_support.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "corvale.h"
#include "metadata.h"
#include "tests/support/files.h"
#include "tests/support/metadata_lines.h"
#include "tests/support/plugin_builds.h"

namespace codec_test {

std::string kindName(PluginKind kind) {
  switch (kind) {
    case PluginKind::Diagnostic:
      return "Diagnostic";
    case PluginKind::Production:
      return "Production";
    case PluginKind::InProcess:
      return "InProcess";
  }
  return "Unknown";
}

std::string dataDir() {
  return CORVALE_CODEC_DATA;
}

void compileFixture(const std::string& stem, const std::string& folder, const std::string& level) {
  SCOPED_TRACE(dataDir() + "/" + stem);
  const std::vector<uint8_t> bytes =
      corvale_test::compileMetadata(corvale_test::definitionLines(dataDir() + "/" + stem + ".def"),
                                    corvale_test::definitionLines(dataDir() + "/" + stem + ".rep"));
  ASSERT_TRUE(corvale_test::writeFile(folder + "/" + level + ".mtx", bytes));
}

std::unique_ptr<broker::Plugin> loadPlugin(PluginKind kind, const std::string& metadataDir,
                                           const std::string& traceFile) {
  switch (kind) {
    case PluginKind::Diagnostic:
      return corvale_test::loadPlugin(CORVALE_PLUGIN_DIAGNOSTIC, metadataDir, traceFile);
    case PluginKind::Production:
      return corvale_test::loadPlugin(CORVALE_PLUGIN_PRODUCTION, metadataDir, traceFile);
    case PluginKind::InProcess: {
      corvale_test::setPluginEnvironment(metadataDir, traceFile);
      auto plugin = std::make_unique<broker::Plugin>(&bipGetParserFactory, "production modules");
      // The broker calls the entry point once per process; the cache follows FIXMETADIR anew.
      initializeMetadata();
      return plugin;
    }
  }
  return nullptr;
}

void FixtureTest::SetUp() {
  compileFixture("worked", dir_.path(), "FIX42");
  compileFixture("edge", dir_.path(), "FIXTEST");
  plugin_ = loadPlugin(GetParam(), dir_.path());
}

namespace {

std::string escape(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20) {
      out += '^';
      out += static_cast<char>(c + 64);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string valueText(const broker::Element& e) {
  if (e.valueType() == CCI_ELEMENT_TYPE_BYTEARRAY) {
    const std::vector<uint8_t> bytes = e.bytes();
    return "bytes:" + escape(std::string(bytes.begin(), bytes.end()));
  }
  return escape(e.text());
}

void dumpLine(const broker::Element& e, int depth, std::string& out) {
  out.append(static_cast<size_t>(depth) * 2, ' ');
  out += e.nameUtf8();
  if (e.type() == CCI_ELEMENT_TYPE_NAME) {
    out += "/\n";
  } else {
    out += "=" + valueText(e) + "\n";
  }
}

void dumpForward(const broker::Element& parent, int depth, std::string& out) {
  for (broker::Element e = parent.firstChild(); e; e = e.nextSibling()) {
    dumpLine(e, depth, out);
    if (e.type() == CCI_ELEMENT_TYPE_NAME) dumpForward(e, depth + 1, out);
  }
}

std::string dumpBackward(const broker::Element& parent, int depth) {
  std::vector<std::string> parts;
  for (broker::Element e = parent.lastChild(); e; e = e.previousSibling()) {
    std::string part;
    dumpLine(e, depth, part);
    if (e.type() == CCI_ELEMENT_TYPE_NAME) part += dumpBackward(e, depth + 1);
    parts.push_back(part);
  }
  std::string out;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) out += *it;
  return out;
}

void dumpRawInto(const broker::Element& parent, int depth, std::string& out) {
  for (broker::Element e = parent.rawFirstChild(); e; e = e.rawNextSibling()) {
    dumpLine(e, depth, out);
    if (e.type() == CCI_ELEMENT_TYPE_NAME) dumpRawInto(e, depth + 1, out);
  }
}

}  // namespace

std::string dumpTree(const broker::Element& parent) {
  std::string out;
  dumpForward(parent, 0, out);
  return out;
}

std::string dumpTreeBackward(const broker::Element& parent) {
  return dumpBackward(parent, 0);
}

std::string dumpRaw(const broker::Element& parent) {
  std::string out;
  dumpRawInto(parent, 0, out);
  return out;
}

int rawCount(const broker::Element& parent) {
  int count = 0;
  for (broker::Element e = parent.rawFirstChild(); e; e = e.rawNextSibling()) {
    count += 1 + rawCount(e);
  }
  return count;
}

void expectComplete(const broker::Element& parent) {
  for (broker::Element e = parent.rawFirstChild(); e; e = e.rawNextSibling()) {
    EXPECT_TRUE(e.completePrevious() && e.completeNext()) << e.nameUtf8();
    expectComplete(e);
  }
}

std::string levelOf(std::string_view message) {
  std::string level = corvale_test::beginStringOf(message);
  level.erase(std::remove(level.begin(), level.end(), '.'), level.end());
  return level;
}

namespace {

std::u16string widen(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string narrow(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

// Words of a multiple-value string as the codec splits them: a run of non-blanks before every
// run of blanks, so a leading blank gives an empty first word and trailing blanks give nothing.
std::string words(std::string_view value) {
  auto blank = [](unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); };
  std::string out;
  size_t p = 0;
  bool first = true;
  while (p < value.size()) {
    size_t q = p;
    while (q < value.size() && !blank(value[q])) ++q;
    if (!first) out += '|';
    out += escape(value.substr(p, q - p));
    first = false;
    while (q < value.size() && blank(value[q])) ++q;
    p = q;
  }
  return out;
}

void referenceInto(std::string_view body, const mtx::MetadataImage& image,
                   std::vector<std::string>& items) {
  std::string lastValue;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t eq = body.find('=', pos);
    if (eq == std::string_view::npos) eq = body.size();
    const std::string tag(body.substr(pos, eq - pos));
    const int entry = image.lookupTag(widen(tag));
    std::string name = entry >= 0 ? narrow(image.fieldName(entry)) : "FX" + tag;
    const mtx::TagEntry record = entry >= 0 ? image.tagEntry(entry) : mtx::TagEntry{};
    const int type =
        entry >= 0 ? static_cast<int>(record.type) : static_cast<int>(mtx::TYPE_STRING);
    const size_t start = std::min(eq + 1, body.size());
    if (type == mtx::TYPE_DATA) {
      const size_t length = static_cast<size_t>(std::atoi(lastValue.c_str()));
      const std::string_view data = body.substr(start, length);
      if ((record.flags & mtx::EMBEDDED_MESSAGE) != 0) {
        referenceInto(data, image, items);
      } else if ((record.flags & mtx::RAW_AS_TEXT) != 0) {
        items.push_back(name + "=" + escape(data));
      } else {
        items.push_back(name + "#" + escape(data));
      }
      lastValue.clear();
      pos = start + length + 1;
      continue;
    }
    size_t end = body.find('\x01', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view value = body.substr(start, end - start);
    if ((record.flags2 & mtx::NO_ELEMENT) == 0) {
      if (type == mtx::TYPE_MULTIPLEVALUESTRING) {
        items.push_back(name + "[]=" + words(value));
      } else {
        items.push_back(name + "=" + escape(value));
      }
    }
    lastValue = value;
    pos = end + 1;
  }
}

void flattenInto(const broker::Element& parent, const mtx::MetadataImage& image, int ccsid,
                 std::vector<std::string>& items) {
  for (broker::Element e = parent.firstChild(); e; e = e.nextSibling()) {
    const std::string name = e.nameUtf8();
    if (e.type() == CCI_ELEMENT_TYPE_NAME) {
      const int entry = image.lookupName(e.name());
      if (entry >= 0 && image.tagEntry(entry).type == mtx::TYPE_MULTIPLEVALUESTRING) {
        std::string joined;
        for (broker::Element v = e.firstChild(); v; v = v.nextSibling()) {
          if (v != e.firstChild()) joined += '|';
          joined += escape(broker::fromUnicode(v.characterValue(), ccsid));
        }
        items.push_back(name + "[]=" + joined);
      } else {
        flattenInto(e, image, ccsid, items);
      }
    } else if (e.valueType() == CCI_ELEMENT_TYPE_BYTEARRAY) {
      const std::vector<uint8_t> bytes = e.bytes();
      items.push_back(name + "#" + escape(std::string(bytes.begin(), bytes.end())));
    } else {
      items.push_back(name + "=" + escape(broker::fromUnicode(e.characterValue(), ccsid)));
    }
  }
}

int folderDepth(const broker::Element& parent) {
  int deepest = 0;
  for (broker::Element e = parent.rawFirstChild(); e; e = e.rawNextSibling()) {
    if (e.type() == CCI_ELEMENT_TYPE_NAME) deepest = std::max(deepest, 1 + folderDepth(e));
  }
  return deepest;
}

}  // namespace

std::vector<std::string> referenceItems(std::string_view message, const mtx::MetadataImage& image,
                                        int ccsid) {
  EXPECT_EQ(ccsid, 437) << "the reference reads ASCII framing";
  std::vector<std::string> items;
  referenceInto(message.substr(0, message.size() - 7), image, items);
  return items;
}

std::vector<std::string> flattenTree(const broker::Element& body, const mtx::MetadataImage& image,
                                     int ccsid) {
  std::vector<std::string> items;
  flattenInto(body, image, ccsid, items);
  return items;
}

CorpusSummary checkCorpus(broker::Parser& parser, const std::vector<std::string>& files,
                          const std::string& metadataDir) {
  CorpusSummary summary;
  std::map<std::string, std::unique_ptr<mtx::MetadataImage>> images;
  int failures = 0;
  for (const std::string& file : files) {
    const std::vector<std::string> messages = readMessages(file);
    for (size_t i = 0; i < messages.size() && failures < 10; ++i) {
      const std::string& message = messages[i];
      const std::string level = levelOf(message);
      auto& image = images[level];
      if (!image) {
        std::string reason;
        image = mtx::MetadataImage::fromFile(metadataDir + "/" + level + ".mtx", &reason);
        if (!image) {
          // Only the levels that the project ships no metadata for may be read without it.
          EXPECT_EQ(level, "FIX39") << "no metadata for " << level << ": " << reason;
          image = mtx::MetadataImage::makeDefault();
        }
      }
      const std::string where = file + ":" + std::to_string(i + 1);
      try {
        broker::Message parsed = parser.parse(message);
        EXPECT_EQ(parsed.parsedLength(), static_cast<int>(message.size())) << where;
        const std::vector<std::string> items = flattenTree(parsed.body(), *image);
        const std::vector<std::string> expected = referenceItems(message, *image);
        if (items != expected) {
          ++failures;
          ADD_FAILURE() << where << ": the tree does not give the message's items\n"
                        << ::testing::PrintToString(items) << "\nexpected\n"
                        << ::testing::PrintToString(expected);
        }
        summary.messages++;
        summary.deepestGroup = std::max(summary.deepestGroup, folderDepth(parsed.body()));
        for (const std::string& item : items) {
          const size_t mark = item.find_first_of("=#");
          if (item[mark] == '#' && item.find("^A", mark) != std::string::npos) {
            summary.rawDataWithSoh++;
          }
        }
      } catch (const std::exception& e) {
        ++failures;
        ADD_FAILURE() << where << ": " << e.what();
      }
    }
  }
  return summary;
}

}  // namespace codec_test

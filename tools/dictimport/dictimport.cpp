// dictimport - walks the dictionaries and writes one definitions line per field and one
// repeating definitions line per message type and group that can occur in it.
#include "dictimport.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "mtx/mtx.h"
#include "mtx/mtxwriter.h"

namespace dictimport {

namespace {

// Raised inside the walk; importDictionaries turns it into its false result.
struct Inconsistent {
  std::string what;
};

// Dictionary type names that are not definitions keywords, and the keyword each stands for.
// DATE and TIME are the older names of LOCALMKTDATE and UTCTIMESTAMP.
const std::map<std::string, std::string, std::less<>> kTypeAliases = {
    {"LENGTH", "INT"},
    {"SEQNUM", "INT"},
    {"NUMINGROUP", "INT"},
    {"TAGNUM", "INT"},
    {"RESERVED100PLUS", "INT"},
    {"RESERVED1000PLUS", "INT"},
    {"RESERVED4000PLUS", "INT"},
    {"PERCENTAGE", "FLOAT"},
    {"MULTIPLESTRINGVALUE", "MULTIPLEVALUESTRING"},
    {"MULTIPLECHARVALUE", "MULTIPLEVALUESTRING"},
    {"UTCDATEONLY", "UTCDATE"},
    {"MONTHYEAR", "MONTH-YEAR"},
    {"DAYOFMONTH", "DAY-OF-MONTH"},
    {"XMLDATA", "DATA"},
    {"DATE", "LOCALMKTDATE"},
    {"TIME", "UTCTIMESTAMP"},
    {"COUNTRY", "STRING"},
    {"LANGUAGE", "STRING"},
    {"TZTIMEONLY", "STRING"},
    {"TZTIMESTAMP", "STRING"},
    {"LOCALMKTTIME", "STRING"},
    {"XID", "STRING"},
    {"XIDREF", "STRING"},
    {"PATTERN", "STRING"},
    {"TENOR", "STRING"},
};

std::string upperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The definitions keyword of a dictionary type; an unknown type keeps its own name, which
// compiles to the unknown type code.
std::string keywordFor(std::string_view dictionaryType) {
  const std::string upper = upperCase(dictionaryType);
  if (mtx::typeCodeFromKeyword(upper) != mtx::TYPE_UNKNOWN) return upper;
  auto alias = kTypeAliases.find(upper);
  return alias != kTypeAliases.end() ? alias->second : std::string(dictionaryType);
}

// A text that a comma-separated definitions line can carry unchanged.
bool isLineSafe(std::string_view text) {
  if (text.empty() || text.front() == '*') return false;
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return c == ',' || static_cast<signed char>(c) <= 32; });
}

bool isTagNumber(std::string_view text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isItem(const pugi::xml_node& node) {
  const std::string_view kind = node.name();
  return kind == "field" || kind == "group" || kind == "component";
}

struct Field {
  std::string number;
  std::string name;
  std::string dictionaryType;  // as the dictionary spells it
  std::string keyword;         // definitions keyword
};

class Importer {
 public:
  explicit Importer(const std::vector<Dictionary>& dictionaries);
  Definitions run();

 private:
  const Field& field(const char* name, const char* usedIn) const;
  pugi::xml_node component(const char* name) const;
  std::string firstTag(const pugi::xml_node& node);
  void levelItems(const pugi::xml_node& node, std::vector<std::string>* out);
  void collectGroups(const pugi::xml_node& node, const std::string& messageType, std::string* lines,
                     int* count);
  void markGroupStarts(const pugi::xml_node& node);
  void findRawLengths(const pugi::xml_node& node);
  std::string fieldLines() const;
  std::string header(const char* what, const char* columns) const;

  // Guards the walk into a component against one that includes itself.
  class Entering {
   public:
    Entering(Importer* importer, const char* name) : importer_(importer), name_(name) {
      if (!importer_->open_.insert(name_).second) {
        throw Inconsistent{"component " + name_ + " includes itself"};
      }
    }
    ~Entering() { importer_->open_.erase(name_); }
    Entering(const Entering&) = delete;
    Entering& operator=(const Entering&) = delete;

   private:
    Importer* importer_;
    std::string name_;
  };

  std::vector<std::string> labels_;
  std::vector<Field> fields_;
  std::unordered_map<std::string, size_t> byName_;
  std::unordered_map<std::string, size_t> byNumber_;
  std::unordered_map<std::string, pugi::xml_node> components_;
  std::vector<pugi::xml_node> componentOrder_;  // winning definitions, document order
  std::vector<pugi::xml_node> headers_, messages_, trailers_;
  std::unordered_set<std::string> open_;           // components being walked
  std::set<std::string> groupStarts_;              // tag numbers
  std::map<std::string, std::string> rawLengths_;  // DATA tag number -> its length tag number
};

Importer::Importer(const std::vector<Dictionary>& dictionaries) {
  for (const Dictionary& d : dictionaries) {
    labels_.push_back(d.label);
    const pugi::xml_node fix = d.document->child("fix");
    if (!fix) throw Inconsistent{d.label + " has no fix element"};
    for (const pugi::xml_node& f : fix.child("fields").children("field")) {
      Field entry{f.attribute("number").value(), f.attribute("name").value(),
                  f.attribute("type").value(), ""};
      if (!isTagNumber(entry.number) || !isLineSafe(entry.name)) {
        throw Inconsistent{d.label + ": field '" + entry.name + "' numbered '" + entry.number +
                           "' cannot be written as a definitions line"};
      }
      entry.keyword = keywordFor(entry.dictionaryType);
      if (!isLineSafe(entry.keyword)) {
        throw Inconsistent{d.label + ": field " + entry.name + " has the type '" +
                           entry.dictionaryType + "'"};
      }
      auto named = byName_.find(entry.name);
      auto numbered = byNumber_.find(entry.number);
      if (named == byName_.end() && numbered == byNumber_.end()) {
        byName_.emplace(entry.name, fields_.size());
        byNumber_.emplace(entry.number, fields_.size());
        fields_.push_back(std::move(entry));
      } else if (named == byName_.end() || numbered == byNumber_.end() ||
                 named->second != numbered->second) {
        throw Inconsistent{d.label + ": field " + entry.name + " (" + entry.number +
                           ") conflicts with an earlier dictionary"};
      }
    }
    for (const pugi::xml_node& c : fix.child("components").children("component")) {
      if (components_.emplace(c.attribute("name").value(), c).second) {
        componentOrder_.push_back(c);
      }
    }
    if (fix.child("header")) headers_.push_back(fix.child("header"));
    if (fix.child("trailer")) trailers_.push_back(fix.child("trailer"));
    for (const pugi::xml_node& m : fix.child("messages").children("message")) {
      messages_.push_back(m);
    }
  }
}

const Field& Importer::field(const char* name, const char* usedIn) const {
  auto it = byName_.find(name);
  if (it == byName_.end()) {
    throw Inconsistent{std::string("field ") + name + " used in " + usedIn + " is not defined"};
  }
  return fields_[it->second];
}

pugi::xml_node Importer::component(const char* name) const {
  auto it = components_.find(name);
  if (it == components_.end())
    throw Inconsistent{std::string("component ") + name + " is not defined"};
  return it->second;
}

// The tag that opens an instance of a group (or begins a component): its first field in
// document order, components flattened; a nested group's count field when that comes first.
std::string Importer::firstTag(const pugi::xml_node& node) {
  for (const pugi::xml_node& item : node.children()) {
    if (!isItem(item)) continue;
    const char* name = item.attribute("name").value();
    if (std::string_view(item.name()) == "component") {
      Entering guard(this, name);
      std::string tag = firstTag(component(name));
      if (!tag.empty()) return tag;
    } else {
      return field(name, node.attribute("name").value()).number;
    }
  }
  return "";
}

// Every field of a level, components flattened; a nested group by its count field and the
// field that opens its instances. The parser closes a group at the first tag it does not list,
// so without the nested group's first field its instances would close the enclosing one and
// land beside it instead of inside it.
void Importer::levelItems(const pugi::xml_node& node, std::vector<std::string>* out) {
  for (const pugi::xml_node& item : node.children()) {
    if (!isItem(item)) continue;
    const char* name = item.attribute("name").value();
    if (std::string_view(item.name()) == "component") {
      Entering guard(this, name);
      levelItems(component(name), out);
    } else {
      out->push_back(field(name, node.attribute("name").value()).number);
      if (std::string_view(item.name()) == "group") {
        const std::string first = firstTag(item);
        if (!first.empty()) out->push_back(first);
      }
    }
  }
}

void Importer::collectGroups(const pugi::xml_node& node, const std::string& messageType,
                             std::string* lines, int* count) {
  for (const pugi::xml_node& item : node.children()) {
    if (!isItem(item)) continue;
    const std::string_view kind = item.name();
    const char* name = item.attribute("name").value();
    if (kind == "component") {
      Entering guard(this, name);
      collectGroups(component(name), messageType, lines, count);
    } else if (kind == "group") {
      const Field& counter = field(name, node.attribute("name").value());
      const std::string first = firstTag(item);
      if (first.empty()) throw Inconsistent{"group " + counter.name + " has no fields"};
      std::vector<std::string> items;
      levelItems(item, &items);
      std::string groupName = counter.name;
      if (groupName.size() > 2 && groupName.compare(0, 2, "No") == 0) groupName.erase(0, 2);
      *lines += messageType + "," + counter.number + "," + first + "," + groupName;
      std::unordered_set<std::string> listed{first};
      for (const std::string& tag : items) {
        if (listed.insert(tag).second) *lines += "," + tag;
      }
      *lines += "\n";
      ++*count;
      collectGroups(item, messageType, lines, count);
    }
  }
}

void Importer::markGroupStarts(const pugi::xml_node& node) {
  for (const pugi::xml_node& item : node.children("group")) {
    const std::string first = firstTag(item);
    if (!first.empty()) groupStarts_.insert(first);
    markGroupStarts(item);
  }
}

// A DATA field's length field is the LENGTH field standing right before it; the first such
// place in document order decides.
void Importer::findRawLengths(const pugi::xml_node& node) {
  const Field* previous = nullptr;
  for (const pugi::xml_node& item : node.children()) {
    if (!isItem(item)) continue;
    const std::string_view kind = item.name();
    if (kind == "field") {
      const Field& f = field(item.attribute("name").value(), node.attribute("name").value());
      if (previous && f.keyword == "DATA" && upperCase(previous->dictionaryType) == "LENGTH") {
        rawLengths_.emplace(f.number, previous->number);
      }
      previous = &f;
      continue;
    }
    if (kind == "group") findRawLengths(item);
    previous = nullptr;
  }
}

std::string Importer::header(const char* what, const char* columns) const {
  std::string sources;
  for (const std::string& label : labels_) sources += (sources.empty() ? "" : " + ") + label;
  return std::string("* ") + what + " of " + sources +
         ", generated by dictimport: change the dictionaries, not this file.\n* " + columns + "\n";
}

std::string Importer::fieldLines() const {
  std::vector<const Field*> order;
  for (const Field& f : fields_) order.push_back(&f);
  std::sort(order.begin(), order.end(), [](const Field* a, const Field* b) {
    return std::stoul(a->number) < std::stoul(b->number);
  });
  std::string out = header("Field definitions", "tag,name,type,flags[,flags2,raw-length tag]");
  for (const Field* f : order) {
    int flags = 0;
    if (f->name == "MsgType") flags |= mtx::MSG_TYPE;
    if (groupStarts_.count(f->number)) flags |= mtx::GROUP_START;
    if (f->name == "XmlData" || upperCase(f->dictionaryType) == "XMLDATA") {
      flags |= mtx::RAW_AS_TEXT;
    }
    out += f->number + "," + f->name + "," + f->keyword + "," + std::to_string(flags);
    auto length = rawLengths_.find(f->number);
    if (length != rawLengths_.end()) out += ",0," + length->second;
    out += "\n";
  }
  return out;
}

Definitions Importer::run() {
  std::vector<pugi::xml_node> sections = headers_;
  sections.insert(sections.end(), messages_.begin(), messages_.end());
  sections.insert(sections.end(), trailers_.begin(), trailers_.end());
  sections.insert(sections.end(), componentOrder_.begin(), componentOrder_.end());
  for (const pugi::xml_node& s : sections) {
    markGroupStarts(s);
    findRawLengths(s);
  }

  Definitions out;
  out.fieldCount = static_cast<int>(fields_.size());
  out.fields = fieldLines();
  out.repeats = header("Repeating group definitions",
                       "messageType,countTag,firstTag,groupName,allowed items...");
  for (const pugi::xml_node& m : messages_) {
    const std::string type = m.attribute("msgtype").value();
    if (!isLineSafe(type) || type.size() > mtx::kMaxMessageType) {
      throw Inconsistent{std::string("message ") + m.attribute("name").value() +
                         " has the message type '" + type + "'"};
    }
    for (const pugi::xml_node& h : headers_) collectGroups(h, type, &out.repeats, &out.repeatCount);
    collectGroups(m, type, &out.repeats, &out.repeatCount);
    for (const pugi::xml_node& t : trailers_)
      collectGroups(t, type, &out.repeats, &out.repeatCount);
  }
  return out;
}

void printUsage(std::FILE* console, const char* program) {
  std::fprintf(console, "\nDictimport V1.00\n");
  std::fprintf(console, "\nCommand usage is:\n\n");
  std::fprintf(console,
               "  %s Fix-definitions-file Repeating-definitions-file FIX-dictionary.xml "
               "[FIX-dictionary.xml ...]\n\n",
               program);
  std::fprintf(console, "Several dictionaries are merged in the order given (a session\n");
  std::fprintf(console, "dictionary first); the first definition of a field or component wins.\n");
  std::fprintf(console,
               "Exit codes: 1 usage, 100 a dictionary cannot be read, 101 an output file "
               "cannot be written,\n102 a dictionary is inconsistent.\n");
}

bool writeFile(const char* path, const std::string& text) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

bool importDictionaries(const std::vector<Dictionary>& dictionaries, Definitions* out,
                        std::string* error) {
  try {
    Importer importer(dictionaries);
    *out = importer.run();
    return true;
  } catch (const Inconsistent& e) {
    if (error) *error = e.what;
    return false;
  }
}

int run(int argc, const char* const argv[], std::FILE* console) {
  if (argc < 4) {
    printUsage(console, argc > 0 && argv[0] ? argv[0] : "dictimport");
    return kExitUsage;
  }
  std::vector<pugi::xml_document> documents(static_cast<size_t>(argc - 3));
  std::vector<Dictionary> dictionaries;
  for (int i = 3; i < argc; ++i) {
    pugi::xml_document& doc = documents[static_cast<size_t>(i - 3)];
    const pugi::xml_parse_result parsed = doc.load_file(argv[i]);
    if (!parsed) {
      std::fprintf(console, "Unable to read dictionary %s: %s\n", argv[i], parsed.description());
      return kExitRead;
    }
    const std::string_view path = argv[i];
    dictionaries.push_back({std::string(path.substr(path.rfind('/') + 1)), &doc});
  }
  Definitions definitions;
  std::string error;
  if (!importDictionaries(dictionaries, &definitions, &error)) {
    std::fprintf(console, "Inconsistent dictionary: %s\n", error.c_str());
    return kExitInconsistent;
  }
  for (const auto& [path, text] :
       {std::pair{argv[1], &definitions.fields}, std::pair{argv[2], &definitions.repeats}}) {
    if (!writeFile(path, *text)) {
      std::fprintf(console, "Unable to write %s\n", path);
      return kExitWrite;
    }
  }
  std::fprintf(console, "%d field definitions written to %s, %d repeating definitions to %s\n",
               definitions.fieldCount, argv[1], definitions.repeatCount, argv[2]);
  return 0;
}

}  // namespace dictimport

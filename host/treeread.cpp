#include "host/treeread.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>

#include "host/base64.h"
#include "host/json.h"

namespace fixhost {

namespace {

size_t lineOf(std::string_view text, ptrdiff_t offset) {
  if (offset < 0) return 0;
  size_t end = std::min(static_cast<size_t>(offset), text.size());
  return 1 + static_cast<size_t>(
                 std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(end), '\n'));
}

bool isBlankText(const char* text) {
  for (; *text; ++text) {
    if (!std::strchr(" \t\r\n", *text)) return false;
  }
  return true;
}

std::string bytesFromBase64(std::string_view text, const std::string& where) {
  auto bytes = base64Decode(text);
  if (!bytes) throw TreeError(where + ": malformed base64 value");
  return std::string(bytes->begin(), bytes->end());
}

// ---- XML

class XmlReader {
 public:
  explicit XmlReader(std::string_view text) : text_(text) {}

  std::vector<Tree> read() {
    pugi::xml_document document;
    unsigned flags = pugi::parse_default | pugi::parse_fragment | pugi::parse_ws_pcdata_single;
    pugi::xml_parse_result result =
        document.load_buffer(text_.data(), text_.size(), flags, pugi::encoding_utf8);
    if (!result) {
      throw TreeError("line " + std::to_string(lineOf(text_, result.offset)) +
                      ": XML: " + result.description());
    }
    std::vector<Tree> trees;
    for (pugi::xml_node node : document.children()) {
      if (node.type() == pugi::node_element) {
        Tree tree;
        tree.line = lineOf(text_, node.offset_debug());
        tree.root.name = nameOf(node);
        tree.root.children = children(node);
        trees.push_back(std::move(tree));
      } else if (isText(node) && !isBlankText(node.value())) {
        throw where(node, "text outside a message tree");
      }
    }
    return trees;
  }

 private:
  static bool isText(const pugi::xml_node& node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
  }

  TreeError where(const pugi::xml_node& node, const std::string& what) const {
    return TreeError("line " + std::to_string(lineOf(text_, node.offset_debug())) + ": " + what);
  }

  static std::string nameOf(const pugi::xml_node& node) {
    if (std::strcmp(node.name(), "_") == 0) {
      if (pugi::xml_attribute name = node.attribute("name")) return name.value();
    }
    return node.name();
  }

  std::vector<TreeNode> children(const pugi::xml_node& parent) const {
    std::vector<TreeNode> nodes;
    for (pugi::xml_node node : parent.children()) {
      if (node.type() == pugi::node_element) {
        nodes.push_back(item(node));
      } else if (isText(node) && !isBlankText(node.value())) {
        throw where(node, "text beside elements in <" + nameOf(parent) + ">");
      }
    }
    return nodes;
  }

  TreeNode item(const pugi::xml_node& node) const {
    TreeNode item;
    item.name = nameOf(node);
    bool hasElements = false;
    std::string text;
    for (pugi::xml_node child : node.children()) {
      if (child.type() == pugi::node_element) hasElements = true;
      if (isText(child)) text += child.value();
    }
    if (hasElements) {
      item.kind = TreeNode::Kind::Folder;
      item.children = children(node);
      return item;
    }
    if (std::strcmp(node.attribute("encoding").as_string(), "base64") == 0) {
      item.value =
          bytesFromBase64(text, "line " + std::to_string(lineOf(text_, node.offset_debug())));
      item.kind = std::strcmp(node.attribute("type").as_string(), "text") == 0
                      ? TreeNode::Kind::Text
                      : TreeNode::Kind::Bytes;
      return item;
    }
    if (pugi::xml_attribute encoding = node.attribute("encoding")) {
      throw where(node, "unknown encoding \"" + std::string(encoding.value()) + "\"");
    }
    item.kind = TreeNode::Kind::Text;
    item.value = std::move(text);
    return item;
  }

  std::string_view text_;
};

// ---- JSON

TreeError jsonError(const JsonValue& value, const std::string& what) {
  return TreeError("line " + std::to_string(value.line) + ": " + what);
}

std::vector<TreeNode> jsonItems(const JsonValue& array);

// A folder's children: [item, ...].
TreeNode jsonFolder(const std::string& name, const JsonValue& array) {
  TreeNode folder;
  folder.kind = TreeNode::Kind::Folder;
  folder.name = name;
  folder.children = jsonItems(array);
  return folder;
}

// Appends the nodes of one item: {"Name": value}.
void jsonItem(const JsonValue& item, std::vector<TreeNode>& nodes) {
  if (item.type != JsonValue::Type::Object || item.members.size() != 1) {
    throw jsonError(item, "an element must be an object with one member, {\"Name\": value}");
  }
  const auto& [name, value] = item.members.front();
  switch (value.type) {
    case JsonValue::Type::String:
    case JsonValue::Type::Number: {
      TreeNode node;
      node.kind = TreeNode::Kind::Text;
      node.name = name;
      node.value = value.text;
      nodes.push_back(std::move(node));
      return;
    }
    case JsonValue::Type::Object:
      if (value.members.size() == 1 && value.members.front().first == "base64" &&
          value.members.front().second.type == JsonValue::Type::String) {
        TreeNode node;
        node.kind = TreeNode::Kind::Bytes;
        node.name = name;
        node.value = bytesFromBase64(value.members.front().second.text,
                                     "line " + std::to_string(value.line));
        nodes.push_back(std::move(node));
        return;
      }
      break;
    case JsonValue::Type::Array: {
      // [[...], [...]]: consecutive folders of one name; [...]: one folder.
      bool run = !value.items.empty() &&
                 std::all_of(value.items.begin(), value.items.end(),
                             [](const JsonValue& v) { return v.type == JsonValue::Type::Array; });
      if (run) {
        for (const JsonValue& instance : value.items) nodes.push_back(jsonFolder(name, instance));
      } else {
        nodes.push_back(jsonFolder(name, value));
      }
      return;
    }
    default:
      break;
  }
  throw jsonError(value, "the value of \"" + name +
                             "\" must be a string, a number, {\"base64\": \"...\"} or an array");
}

std::vector<TreeNode> jsonItems(const JsonValue& array) {
  if (array.type != JsonValue::Type::Array) throw jsonError(array, "expected an array of elements");
  std::vector<TreeNode> nodes;
  for (const JsonValue& item : array.items) jsonItem(item, nodes);
  return nodes;
}

Tree jsonTree(const JsonValue& value) {
  if (value.type != JsonValue::Type::Object || value.members.size() != 1) {
    throw jsonError(value, "a message tree must be an object with one member, {\"FIX\": [...]}");
  }
  Tree tree;
  tree.line = value.line;
  tree.root = jsonFolder(value.members.front().first, value.members.front().second);
  return tree;
}

}  // namespace

std::vector<Tree> readXmlTrees(std::string_view text) {
  return XmlReader(text).read();
}

std::vector<Tree> readJsonTrees(std::string_view text) {
  std::vector<JsonValue> values;
  try {
    values = parseJsonSequence(text);
  } catch (const JsonError& e) {
    throw TreeError(std::string("JSON: ") + e.what());
  }
  std::vector<Tree> trees;
  for (const JsonValue& value : values) {
    if (value.type == JsonValue::Type::Array) {
      for (const JsonValue& item : value.items) trees.push_back(jsonTree(item));
    } else {
      trees.push_back(jsonTree(value));
    }
  }
  return trees;
}

Format detectTreeFormat(std::string_view text) {
  size_t pos = text.find_first_not_of(" \t\r\n");
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = text.find_first_not_of(" \t\r\n", 3);
  if (pos == std::string_view::npos) return Format::Auto;
  if (text[pos] == '<') return Format::Xml;
  if (text[pos] == '{' || text[pos] == '[') return Format::Json;
  return Format::Auto;
}

void buildTree(const broker::Element& parent, const std::vector<TreeNode>& nodes) {
  for (const TreeNode& node : nodes) {
    switch (node.kind) {
      case TreeNode::Kind::Folder:
        buildTree(parent.addFolder(node.name), node.children);
        break;
      case TreeNode::Kind::Text:
        parent.addText(node.name, broker::utf16(node.value));
        break;
      case TreeNode::Kind::Bytes:
        parent.addBytes(node.name, std::vector<uint8_t>(node.value.begin(), node.value.end()));
        break;
    }
  }
}

}  // namespace fixhost

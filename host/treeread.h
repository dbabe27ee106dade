// treeread - reading message trees back from the XML and JSON forms that treeprint writes, and
// building them as broker message trees for the plug-in to write.
#ifndef CORVALE_HOST_TREEREAD_H
#define CORVALE_HOST_TREEREAD_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "broker/broker.h"
#include "host/options.h"

namespace fixhost {

struct TreeNode {
  enum class Kind { Folder, Text, Bytes };
  Kind kind = Kind::Folder;
  std::string name;
  std::string value;  // Text: UTF-8; Bytes: the raw bytes
  std::vector<TreeNode> children;
};

// One message tree as read: root is the folder named after the parser class ("FIX").
struct Tree {
  TreeNode root;
  size_t line = 0;  // 1-based line of the input where the tree starts
};

// Input that is not a tree of the expected form; what() says where ("line L: ...").
struct TreeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// XML: any number of top-level elements, each a message tree.
std::vector<Tree> readXmlTrees(std::string_view text);
// JSON: a sequence of {"FIX":[...]} objects, or arrays of them.
std::vector<Tree> readJsonTrees(std::string_view text);
// Xml when the first non-blank character is "<", Json for "{" or "[", else Auto (unknown).
Format detectTreeFormat(std::string_view text);

// Adds nodes (and everything below them) as the last children of parent.
void buildTree(const broker::Element& parent, const std::vector<TreeNode>& nodes);

}  // namespace fixhost

#endif  // CORVALE_HOST_TREEREAD_H

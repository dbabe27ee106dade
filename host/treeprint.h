// treeprint - message trees as text: the indented form, XML and JSON (the forms are described in
// fixhost's --help). Printing walks the tree with cni* navigation, so it is what drives the
// plug-in's on-demand parse; a message that fails on the way throws broker::Error, and what was
// appended by then is incomplete.
#ifndef CORVALE_HOST_TREEPRINT_H
#define CORVALE_HOST_TREEPRINT_H

#include <string>

#include "broker/broker.h"
#include "host/options.h"

namespace fixhost {

// An element's value as printed: UTF-8 text, or the raw bytes of a byte array. Values of the
// other broker types (integer, real, boolean, date, time, timestamp) are given as the text a FIX
// field would carry (Y/N, YYYYMMDD, HH:MM:SS.sss, YYYYMMDD-HH:MM:SS.sss).
struct PrintedValue {
  bool bytes = false;
  std::string text;
};
PrintedValue printedValue(const broker::Element& element);

// True when the element is a folder (a name element) rather than a value.
bool isFolder(const broker::Element& element);

// Appends the tree of root (root included) to out; Format::Auto prints text.
void printTree(std::string& out, const broker::Element& root, Format format);

}  // namespace fixhost

#endif  // CORVALE_HOST_TREEPRINT_H

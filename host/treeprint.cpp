#include "host/treeprint.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include "host/base64.h"

namespace fixhost {

namespace {

std::string secondsText(float seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%06.3f", static_cast<double>(seconds));
  return buffer;
}

std::string twoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string dateText(int year, int month, int day) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", year, month, day);
  return buffer;
}

void appendIndent(std::string& out, int depth) {
  out.append(static_cast<size_t>(depth) * 2, ' ');
}

// ---- indented text

void appendEscapedText(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

void printText(std::string& out, const broker::Element& element, int depth) {
  appendIndent(out, depth);
  out += element.nameUtf8();
  if (isFolder(element)) {
    if (depth > 0) out += '/';
    out += '\n';
    for (broker::Element child = element.firstChild(); child; child = child.nextSibling()) {
      printText(out, child, depth + 1);
    }
    return;
  }
  PrintedValue value = printedValue(element);
  if (value.bytes) {
    out += " [base64] = ";
    out += base64Encode(reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size());
  } else {
    out += " = ";
    appendEscapedText(out, value.text);
  }
  out += '\n';
}

// ---- XML

bool isXmlName(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    bool more = (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!letter && !(i > 0 && more)) return false;
  }
  return true;
}

// XML 1.0 cannot carry control characters other than tab, line feed and carriage return, nor
// U+FFFE and U+FFFF (in UTF-8: EF BF BE, EF BF BF).
bool isXmlText(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
      return false;
    }
  }
  return true;
}

void appendXmlEscaped(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;  // a literal one would be read back as a line feed
      default:
        out += c;
    }
  }
}

// Appends "<name" (or "<_ name="..."" for a name that XML does not allow) and returns the tag
// name that closes it.
std::string openXml(std::string& out, const std::string& name) {
  out += '<';
  if (isXmlName(name)) {
    out += name;
    return name;
  }
  out += "_ name=\"";
  appendXmlEscaped(out, name);
  out += '"';
  return "_";
}

void printXml(std::string& out, const broker::Element& element, int depth) {
  appendIndent(out, depth);
  std::string tag = openXml(out, element.nameUtf8());
  if (isFolder(element)) {
    broker::Element child = element.firstChild();
    if (!child) {
      out += "/>\n";
      return;
    }
    out += ">\n";
    for (; child; child = child.nextSibling()) printXml(out, child, depth + 1);
    appendIndent(out, depth);
  } else {
    PrintedValue value = printedValue(element);
    if (value.bytes || !isXmlText(value.text)) {
      out += value.bytes ? " encoding=\"base64\">" : " encoding=\"base64\" type=\"text\">";
      out += base64Encode(reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size());
    } else {
      out += '>';
      appendXmlEscaped(out, value.text);
    }
  }
  out += "</";
  out += tag;
  out += ">\n";
}

// ---- JSON

void appendJsonString(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void printJsonChildren(std::string& out, const broker::Element& folder);

// {"Name":"value"}, {"Name":{"base64":"..."}} or {"Name":[children]}.
void printJsonItem(std::string& out, const broker::Element& element, const std::string& name) {
  out += '{';
  appendJsonString(out, name);
  out += ':';
  if (isFolder(element)) {
    printJsonChildren(out, element);
  } else {
    PrintedValue value = printedValue(element);
    if (value.bytes) {
      out += "{\"base64\":\"";
      out += base64Encode(reinterpret_cast<const uint8_t*>(value.text.data()), value.text.size());
      out += "\"}";
    } else {
      appendJsonString(out, value.text);
    }
  }
  out += '}';
}

// [item, ...]; a run of consecutive folders with one name is one item {"Name":[[...],[...]]}.
void printJsonChildren(std::string& out, const broker::Element& folder) {
  struct Child {
    broker::Element element;
    std::string name;
    bool folder;
  };
  std::vector<Child> children;
  for (broker::Element child = folder.firstChild(); child; child = child.nextSibling()) {
    children.push_back({child, child.nameUtf8(), isFolder(child)});
  }
  out += '[';
  for (size_t i = 0; i < children.size();) {
    if (i > 0) out += ',';
    size_t run = i + 1;
    while (children[i].folder && run < children.size() && children[run].folder &&
           children[run].name == children[i].name) {
      ++run;
    }
    if (run - i == 1) {
      printJsonItem(out, children[i].element, children[i].name);
    } else {
      out += '{';
      appendJsonString(out, children[i].name);
      out += ":[";
      for (size_t k = i; k < run; ++k) {
        if (k > i) out += ',';
        printJsonChildren(out, children[k].element);
      }
      out += "]}";
    }
    i = run;
  }
  out += ']';
}

}  // namespace

bool isFolder(const broker::Element& element) {
  return element.type() == CCI_ELEMENT_TYPE_NAME;
}

PrintedValue printedValue(const broker::Element& element) {
  PrintedValue value;
  switch (element.valueType()) {
    case CCI_ELEMENT_TYPE_UTF16:
      value.text = element.text();
      break;
    case CCI_ELEMENT_TYPE_BYTEARRAY: {
      std::vector<uint8_t> bytes = element.bytes();
      value.bytes = true;
      value.text.assign(bytes.begin(), bytes.end());
      break;
    }
    case CCI_ELEMENT_TYPE_INTEGER:
      value.text = std::to_string(element.integerValue());
      break;
    case CCI_ELEMENT_TYPE_DECIMAL: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, element.realValue());
      value.text.assign(buffer, result.ptr);
      break;
    }
    case CCI_ELEMENT_TYPE_BOOLEAN:
      value.text = element.booleanValue() ? "Y" : "N";
      break;
    case CCI_ELEMENT_TYPE_DATE: {
      CciDate d = element.dateValue();
      value.text = dateText(d.year, d.month, d.day);
      break;
    }
    case CCI_ELEMENT_TYPE_TIME:
    case CCI_ELEMENT_TYPE_GMTTIME: {
      CciTime t = element.timeValue();
      value.text = twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + secondsText(t.seconds);
      break;
    }
    case CCI_ELEMENT_TYPE_TIMESTAMP:
    case CCI_ELEMENT_TYPE_GMTTIMESTAMP: {
      CciTimestamp t = element.timestampValue();
      value.text = dateText(t.year, t.month, t.day) + "-" + twoDigits(t.hour) + ":" +
                   twoDigits(t.minute) + ":" + secondsText(t.seconds);
      break;
    }
    default:
      break;  // no value: an empty text
  }
  return value;
}

void printTree(std::string& out, const broker::Element& root, Format format) {
  switch (format) {
    case Format::Xml:
      printXml(out, root, 0);
      break;
    case Format::Json:
      out += '{';
      appendJsonString(out, root.nameUtf8());
      out += ':';
      printJsonChildren(out, root);
      out += "}\n";
      break;
    case Format::Auto:
    case Format::Text:
      printText(out, root, 0);
      break;
  }
}

}  // namespace fixhost

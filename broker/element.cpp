// element.cpp - broker::Element: the C++ face of an element handle, built on the C functions so
// that both answer alike.
#include "broker/internal.h"

namespace broker {

namespace detail {

void throwOnFailure(int rc, const CciElement* element, const char* operation) {
  if (rc == CCI_SUCCESS) return;
  if (rc == CCI_PARSER_EXCEPTION && validElement(element) && element->message->failure)
    throw Error(*element->message->failure);
  if (rc == CCI_PARSE_LOST)
    throw UsageError(std::string(operation) +
                     ": that part of the message was never parsed, and its parser has moved on "
                     "to another message");
  throw UsageError(std::string(operation) + ": " + describeRc(rc));
}

}  // namespace detail

namespace {

using NavigationFn = CciElement* (*)(int*, CciElement*);

Element step(CciElement* from, NavigationFn navigate, const char* operation) {
  int rc = CCI_SUCCESS;
  CciElement* to = navigate(&rc, from);
  detail::throwOnFailure(rc, from, operation);
  return Element(to);
}

// Reads a text of the element through one of the two copying C functions. Most names and values
// fit a buffer on the stack and are read once; a longer text is read again into a string of the
// full length that the first read reported.
std::u16string readText(CciElement* element, int (*read)(int*, CciElement*, CciChar*, int),
                        const char* operation) {
  constexpr int kStackTextSize = 128;
  CciChar small[kStackTextSize];
  int rc = CCI_SUCCESS;
  const int length = read(&rc, element, small, kStackTextSize);
  if (rc == CCI_SUCCESS) return std::u16string(small, static_cast<size_t>(length));
  if (rc != CCI_INV_DATA_BUFLEN) detail::throwOnFailure(rc, element, operation);
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  read(&rc, element, text.data(), length + 1);
  detail::throwOnFailure(rc, element, operation);
  text.resize(static_cast<size_t>(length));
  return text;
}

template <typename T>
T readValue(CciElement* element, T (*read)(int*, CciElement*), const char* operation) {
  int rc = CCI_SUCCESS;
  T value = read(&rc, element);
  detail::throwOnFailure(rc, element, operation);
  return value;
}

// A new complete element, built by hand, as the last child of parent.
CciElement* addChild(CciElement* parent, int type, std::string_view name) {
  if (!detail::validElement(parent)) throw UsageError("add: invalid element");
  CciElement* child = detail::newElement(*parent->message, nullptr, type, utf16(name), true, true);
  detail::linkLastChild(parent, child);
  return child;
}

// Runs a C value setter on a new name-value child and checks its return code.
template <typename Set>
Element addValue(CciElement* parent, std::string_view name, Set set) {
  CciElement* child = addChild(parent, CCI_ELEMENT_TYPE_NAME_VALUE, name);
  int rc = CCI_SUCCESS;
  set(&rc, child);
  detail::throwOnFailure(rc, child, "add");
  return Element(child);
}

}  // namespace

Element Element::firstChild() const {
  return step(handle_, cniFirstChild, "firstChild");
}
Element Element::lastChild() const {
  return step(handle_, cniLastChild, "lastChild");
}
Element Element::nextSibling() const {
  return step(handle_, cniNextSibling, "nextSibling");
}
Element Element::previousSibling() const {
  return step(handle_, cniPreviousSibling, "previousSibling");
}
Element Element::parent() const {
  return step(handle_, cpiParent, "parent");
}
Element Element::rawFirstChild() const {
  return step(handle_, cpiFirstChild, "rawFirstChild");
}
Element Element::rawLastChild() const {
  return step(handle_, cpiLastChild, "rawLastChild");
}
Element Element::rawNextSibling() const {
  return step(handle_, cpiNextSibling, "rawNextSibling");
}
Element Element::rawPreviousSibling() const {
  return step(handle_, cpiPreviousSibling, "rawPreviousSibling");
}

std::u16string Element::name() const {
  return readText(handle_, cpiElementName, "name");
}
std::string Element::nameUtf8() const {
  return utf8(name());
}
int Element::type() const {
  return readValue(handle_, cpiElementType, "type");
}
int Element::valueType() const {
  return readValue(handle_, cniElementValueType, "valueType");
}
bool Element::completePrevious() const {
  return readValue(handle_, cpiElementCompletePrevious, "completePrevious") != 0;
}
bool Element::completeNext() const {
  return readValue(handle_, cpiElementCompleteNext, "completeNext") != 0;
}

std::u16string Element::characterValue() const {
  return readText(handle_, cpiElementCharacterValue, "characterValue");
}
std::string Element::text() const {
  return utf8(characterValue());
}

std::vector<uint8_t> Element::bytes() const {
  int rc = CCI_SUCCESS;
  CciByteArray value{};
  cpiElementByteArrayValue(&rc, handle_, &value);
  detail::throwOnFailure(rc, handle_, "bytes");
  return std::vector<uint8_t>(value.pointer, value.pointer + value.size);
}

int64_t Element::integerValue() const {
  return readValue(handle_, cpiElementIntegerValue, "integerValue");
}
double Element::realValue() const {
  return readValue(handle_, cpiElementRealValue, "realValue");
}
bool Element::booleanValue() const {
  return readValue(handle_, cpiElementBooleanValue, "booleanValue") != 0;
}
CciDate Element::dateValue() const {
  return readValue(handle_, cpiElementDateValue, "dateValue");
}
CciTime Element::timeValue() const {
  return readValue(handle_, cpiElementTimeValue, "timeValue");
}
CciTimestamp Element::timestampValue() const {
  return readValue(handle_, cpiElementTimestampValue, "timestampValue");
}

Element Element::addFolder(std::string_view name) const {
  return Element(addChild(handle_, CCI_ELEMENT_TYPE_NAME, name));
}

Element Element::addText(std::string_view name, std::string_view value) const {
  return addText(name, utf16(value));
}

Element Element::addText(std::string_view name, std::u16string_view value) const {
  if (value.size() > INT32_MAX) throw UsageError("add: value too long");
  return addValue(handle_, name, [&](int* rc, CciElement* e) {
    cpiSetElementCharacterValue(rc, e, value.data(), static_cast<int>(value.size()));
  });
}

Element Element::addBytes(std::string_view name, const std::vector<uint8_t>& value) const {
  if (value.size() > INT32_MAX) throw UsageError("add: value too long");
  return addValue(handle_, name, [&](int* rc, CciElement* e) {
    const CciByteArray bytes{const_cast<uint8_t*>(value.data()),
                             static_cast<int32_t>(value.size())};
    cpiSetElementByteArrayValue(rc, e, &bytes);
  });
}

Element Element::addInteger(std::string_view name, int64_t value) const {
  return addValue(handle_, name,
                  [&](int* rc, CciElement* e) { cpiSetElementIntegerValue(rc, e, value); });
}

Element Element::addReal(std::string_view name, double value) const {
  return addValue(handle_, name,
                  [&](int* rc, CciElement* e) { cpiSetElementRealValue(rc, e, value); });
}

Element Element::addBoolean(std::string_view name, bool value) const {
  return addValue(handle_, name,
                  [&](int* rc, CciElement* e) { cpiSetElementBooleanValue(rc, e, value ? 1 : 0); });
}

Element Element::addDate(std::string_view name, CciDate value) const {
  return addValue(handle_, name,
                  [&](int* rc, CciElement* e) { cpiSetElementDateValue(rc, e, &value); });
}

Element Element::addTime(std::string_view name, CciTime value) const {
  return addValue(handle_, name, [&](int* rc, CciElement* e) {
    cpiSetElementTimeValue(rc, e, &value, CCI_ELEMENT_TYPE_TIME);
  });
}

Element Element::addTimestamp(std::string_view name, CciTimestamp value) const {
  return addValue(handle_, name, [&](int* rc, CciElement* e) {
    cpiSetElementTimestampValue(rc, e, &value, CCI_ELEMENT_TYPE_TIMESTAMP);
  });
}

}  // namespace broker

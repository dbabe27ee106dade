// elements.cpp - element records: creation in the message's arena, linking, names, completion
// bits and typed values (the cpi* building and inspection functions and Element's value and
// building methods).
//
// Every value is copied into the arena of the element's message when it is set, so it stays
// valid, unchanged by its source, until the message is destroyed.
#include <algorithm>
#include <cstring>
#include <new>

#include "broker/internal.h"

namespace broker::detail {

namespace {

CciElement* checkElement(int* rc, CciElement* element) {
  if (validElement(element)) return element;
  setRc(rc, CCI_INV_ELEMENT_OBJECT);
  return nullptr;
}

template <typename T>
const T* copyToArena(Arena& arena, const T* data, int32_t count) {
  void* memory = arena.allocate(sizeof(T) * static_cast<size_t>(count), alignof(T));
  if (count > 0) std::memcpy(memory, data, sizeof(T) * static_cast<size_t>(count));
  return static_cast<const T*>(memory);
}

// Copies at most size - 1 units of text and a zero into buffer; returns the text's full length.
int copyOut(int* rc, const char16_t* text, int32_t length, CciChar* buffer, int size) {
  if (size < 0) {
    setRc(rc, CCI_INV_ARGUMENT);
    return 0;
  }
  if (size > 0) {
    if (!buffer) {
      setRc(rc, CCI_INV_DATA_POINTER);
      return 0;
    }
    const int32_t n = std::min(length, size - 1);
    if (n > 0) std::memcpy(buffer, text, sizeof(char16_t) * static_cast<size_t>(n));
    buffer[n] = 0;
  }
  setRc(rc, length < size ? CCI_SUCCESS : CCI_INV_DATA_BUFLEN);
  return length;
}

// Whether child may be linked under parent: both live, same message, child detached and not the
// message root, and parent not inside child's own subtree.
int checkLink(CciElement* parent, CciElement* child) {
  if (!validElement(parent) || !validElement(child)) return CCI_INV_ELEMENT_OBJECT;
  if (parent->message != child->message) return CCI_INV_ARGUMENT;
  if (child->parent || child->previous || child->next || child == child->message->root)
    return CCI_INV_ARGUMENT;
  for (const CciElement* up = parent; up; up = up->parent)
    if (up == child) return CCI_INV_ARGUMENT;
  return CCI_SUCCESS;
}

// Runs a value setter on a valid element, marking the tree changed.
template <typename Set>
void setValue(int* rc, CciElement* element, Set set) {
  if (!checkElement(rc, element)) return;
  try {
    set(*element);
  } catch (const std::bad_alloc&) {
    setRc(rc, CCI_FAILURE);
    return;
  }
  ++element->message->changes;
  setRc(rc, CCI_SUCCESS);
}

// Reads a value when the element holds one of the accepted types; T{} and CCI_INV_VALUE_TYPE
// otherwise.
template <typename T, typename Get>
T getValue(int* rc, CciElement* element, int type1, int type2, Get get) {
  if (!checkElement(rc, element)) return T{};
  if (element->valueType != type1 && element->valueType != type2) {
    setRc(rc, CCI_INV_VALUE_TYPE);
    return T{};
  }
  setRc(rc, CCI_SUCCESS);
  return get(*element);
}

void setCharacters(int* rc, CciElement* element, const CciChar* characters, int count) {
  if (!checkElement(rc, element)) return;
  if (count < 0) {
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  if (!characters && count > 0) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  setValue(rc, element, [&](CciElement& e) {
    e.value.array.data = copyToArena(e.message->arena, characters, count);
    e.value.array.length = count;
    e.valueType = CCI_ELEMENT_TYPE_UTF16;
  });
}

}  // namespace

CciElement* newElement(Message::State& message, CciParser* owner, int type,
                       std::u16string_view name, bool completePrevious, bool completeNext) {
  // The element and its name in one allocation, the name right behind the element (whose size
  // keeps the name aligned).
  static_assert(sizeof(CciElement) % alignof(char16_t) == 0);
  auto* element = static_cast<CciElement*>(message.arena.allocate(
      sizeof(CciElement) + sizeof(char16_t) * name.size(), alignof(CciElement)));
  auto* nameCopy = reinterpret_cast<char16_t*>(element + 1);
  if (!name.empty()) std::memcpy(nameCopy, name.data(), sizeof(char16_t) * name.size());
  // Every field is set, one by one: clearing the whole record first compiles to a block store
  // whose start-up cost is most of the time this function takes.
  element->tag = kElementTag;
  element->type = type;
  element->valueType = CCI_ELEMENT_TYPE_UNKNOWN;
  element->completePrevious = completePrevious ? 1 : 0;
  element->completeNext = completeNext ? 1 : 0;
  element->name = nameCopy;
  element->nameLength = static_cast<int32_t>(name.size());
  static_assert(sizeof element->value == sizeof(CciTimestamp));
  element->value.timestamp = {};  // the widest member: the whole value zero
  element->parent = nullptr;
  element->firstChild = nullptr;
  element->lastChild = nullptr;
  element->previous = nullptr;
  element->next = nullptr;
  element->owner = owner;
  element->message = &message;
  ++message.changes;
  return element;
}

void linkLastChild(CciElement* parent, CciElement* child) {
  child->parent = parent;
  child->previous = parent->lastChild;
  child->next = nullptr;
  if (parent->lastChild)
    parent->lastChild->next = child;
  else
    parent->firstChild = child;
  parent->lastChild = child;
  ++parent->message->changes;
}

}  // namespace broker::detail

using broker::detail::checkElement;
using broker::detail::setRc;

extern "C" {

CciElement* cpiCreateAndInitializeElement(int* rc, CciParser* parser, int type, const CciChar* name,
                                          int completePrevious, int completeNext) {
  if (!broker::detail::validParser(parser)) {
    setRc(rc, CCI_INV_PARSER_OBJECT);
    return nullptr;
  }
  if (!parser->current) {
    setRc(rc, CCI_NO_MESSAGE);
    return nullptr;
  }
  if (type != CCI_ELEMENT_TYPE_NAME && type != CCI_ELEMENT_TYPE_VALUE &&
      type != CCI_ELEMENT_TYPE_NAME_VALUE) {
    setRc(rc, CCI_INV_ARGUMENT);
    return nullptr;
  }
  // A value element needs no name; the others do.
  if (!name && type != CCI_ELEMENT_TYPE_VALUE) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return nullptr;
  }
  try {
    CciElement* element =
        broker::detail::newElement(*parser->current, parser, type, name ? name : u"",
                                   completePrevious != 0, completeNext != 0);
    setRc(rc, CCI_SUCCESS);
    return element;
  } catch (const std::bad_alloc&) {
    setRc(rc, CCI_FAILURE);
    return nullptr;
  }
}

void cpiAddAsFirstChild(int* rc, CciElement* parent, CciElement* child) {
  const int status = broker::detail::checkLink(parent, child);
  if (status != CCI_SUCCESS) {
    setRc(rc, status);
    return;
  }
  child->parent = parent;
  child->next = parent->firstChild;
  if (parent->firstChild)
    parent->firstChild->previous = child;
  else
    parent->lastChild = child;
  parent->firstChild = child;
  ++parent->message->changes;
  setRc(rc, CCI_SUCCESS);
}

void cpiAddAsLastChild(int* rc, CciElement* parent, CciElement* child) {
  const int status = broker::detail::checkLink(parent, child);
  if (status != CCI_SUCCESS) {
    setRc(rc, status);
    return;
  }
  broker::detail::linkLastChild(parent, child);
  setRc(rc, CCI_SUCCESS);
}

void cpiAddAfter(int* rc, CciElement* element, CciElement* newElement) {
  if (!checkElement(rc, element)) return;
  if (!element->parent) {  // the root, or a detached element: no sibling can be added
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  const int status = broker::detail::checkLink(element->parent, newElement);
  if (status != CCI_SUCCESS) {
    setRc(rc, status);
    return;
  }
  CciElement* parent = element->parent;
  newElement->parent = parent;
  newElement->previous = element;
  newElement->next = element->next;
  if (element->next)
    element->next->previous = newElement;
  else
    parent->lastChild = newElement;
  element->next = newElement;
  ++parent->message->changes;
  setRc(rc, CCI_SUCCESS);
}

int cpiElementName(int* rc, CciElement* element, CciChar* buffer, int size) {
  if (!checkElement(rc, element)) return 0;
  return broker::detail::copyOut(rc, element->name, element->nameLength, buffer, size);
}

int cpiElementType(int* rc, CciElement* element) {
  if (!checkElement(rc, element)) return 0;
  setRc(rc, CCI_SUCCESS);
  return element->type;
}

int cniElementValueType(int* rc, CciElement* element) {
  if (!checkElement(rc, element)) return CCI_ELEMENT_TYPE_UNKNOWN;
  setRc(rc, CCI_SUCCESS);
  return element->valueType;
}

int cpiElementCompletePrevious(int* rc, CciElement* element) {
  if (!checkElement(rc, element)) return 0;
  setRc(rc, CCI_SUCCESS);
  return element->completePrevious;
}

int cpiElementCompleteNext(int* rc, CciElement* element) {
  if (!checkElement(rc, element)) return 0;
  setRc(rc, CCI_SUCCESS);
  return element->completeNext;
}

void cpiSetElementCompletePrevious(int* rc, CciElement* element, int complete) {
  broker::detail::setValue(rc, element,
                           [&](CciElement& e) { e.completePrevious = complete ? 1 : 0; });
}

void cpiSetElementCompleteNext(int* rc, CciElement* element, int complete) {
  broker::detail::setValue(rc, element, [&](CciElement& e) { e.completeNext = complete ? 1 : 0; });
}

CCI_BOOL cpiElementBooleanValue(int* rc, CciElement* element) {
  return broker::detail::getValue<CCI_BOOL>(rc, element, CCI_ELEMENT_TYPE_BOOLEAN,
                                            CCI_ELEMENT_TYPE_BOOLEAN,
                                            [](CciElement& e) { return e.value.boolean ? 1 : 0; });
}

int64_t cpiElementIntegerValue(int* rc, CciElement* element) {
  return broker::detail::getValue<int64_t>(rc, element, CCI_ELEMENT_TYPE_INTEGER,
                                           CCI_ELEMENT_TYPE_INTEGER,
                                           [](CciElement& e) { return e.value.integer; });
}

double cpiElementRealValue(int* rc, CciElement* element) {
  return broker::detail::getValue<double>(rc, element, CCI_ELEMENT_TYPE_DECIMAL,
                                          CCI_ELEMENT_TYPE_DECIMAL,
                                          [](CciElement& e) { return e.value.real; });
}

CciDate cpiElementDateValue(int* rc, CciElement* element) {
  return broker::detail::getValue<CciDate>(rc, element, CCI_ELEMENT_TYPE_DATE,
                                           CCI_ELEMENT_TYPE_DATE,
                                           [](CciElement& e) { return e.value.date; });
}

CciTime cpiElementTimeValue(int* rc, CciElement* element) {
  return broker::detail::getValue<CciTime>(rc, element, CCI_ELEMENT_TYPE_TIME,
                                           CCI_ELEMENT_TYPE_GMTTIME,
                                           [](CciElement& e) { return e.value.time; });
}

CciTimestamp cpiElementTimestampValue(int* rc, CciElement* element) {
  return broker::detail::getValue<CciTimestamp>(rc, element, CCI_ELEMENT_TYPE_TIMESTAMP,
                                                CCI_ELEMENT_TYPE_GMTTIMESTAMP,
                                                [](CciElement& e) { return e.value.timestamp; });
}

int cpiElementCharacterValue(int* rc, CciElement* element, CciChar* buffer, int size) {
  if (!checkElement(rc, element)) return 0;
  if (element->valueType != CCI_ELEMENT_TYPE_UTF16) {
    setRc(rc, CCI_INV_VALUE_TYPE);
    return 0;
  }
  return broker::detail::copyOut(rc, static_cast<const char16_t*>(element->value.array.data),
                                 element->value.array.length, buffer, size);
}

int cpiElementByteArrayValue(int* rc, CciElement* element, CciByteArray* value) {
  if (!checkElement(rc, element)) return 0;
  if (!value) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return 0;
  }
  if (element->valueType != CCI_ELEMENT_TYPE_BYTEARRAY) {
    setRc(rc, CCI_INV_VALUE_TYPE);
    return 0;
  }
  // The interface hands out a non-const pointer; the plug-in only reads through it.
  value->pointer = static_cast<uint8_t*>(const_cast<void*>(element->value.array.data));
  value->size = element->value.array.length;
  setRc(rc, CCI_SUCCESS);
  return value->size;
}

void cpiSetCharacterValueFromBuffer(int* rc, CciElement* element, const CciChar* characters,
                                    int count) {
  broker::detail::setCharacters(rc, element, characters, count);
}

void cpiSetElementCharacterValue(int* rc, CciElement* element, const CciChar* characters,
                                 int count) {
  broker::detail::setCharacters(rc, element, characters, count);
}

void cpiSetElementByteArrayValue(int* rc, CciElement* element, const CciByteArray* value) {
  if (!checkElement(rc, element)) return;
  if (!value || (!value->pointer && value->size > 0)) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  if (value->size < 0) {
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.array.data = broker::detail::copyToArena(e.message->arena, value->pointer, value->size);
    e.value.array.length = value->size;
    e.valueType = CCI_ELEMENT_TYPE_BYTEARRAY;
  });
}

void cpiSetElementBooleanValue(int* rc, CciElement* element, CCI_BOOL value) {
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.boolean = value != 0;
    e.valueType = CCI_ELEMENT_TYPE_BOOLEAN;
  });
}

void cpiSetElementIntegerValue(int* rc, CciElement* element, int64_t value) {
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.integer = value;
    e.valueType = CCI_ELEMENT_TYPE_INTEGER;
  });
}

void cpiSetElementRealValue(int* rc, CciElement* element, double value) {
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.real = value;
    e.valueType = CCI_ELEMENT_TYPE_DECIMAL;
  });
}

void cpiSetElementDateValue(int* rc, CciElement* element, const CciDate* value) {
  if (!checkElement(rc, element)) return;
  if (!value) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.date = *value;
    e.valueType = CCI_ELEMENT_TYPE_DATE;
  });
}

void cpiSetElementTimeValue(int* rc, CciElement* element, const CciTime* value, int valueType) {
  if (!checkElement(rc, element)) return;
  if (!value) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  if (valueType != CCI_ELEMENT_TYPE_TIME && valueType != CCI_ELEMENT_TYPE_GMTTIME) {
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.time = *value;
    e.valueType = valueType;
  });
}

void cpiSetElementTimestampValue(int* rc, CciElement* element, const CciTimestamp* value,
                                 int valueType) {
  if (!checkElement(rc, element)) return;
  if (!value) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  if (valueType != CCI_ELEMENT_TYPE_TIMESTAMP && valueType != CCI_ELEMENT_TYPE_GMTTIMESTAMP) {
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  broker::detail::setValue(rc, element, [&](CciElement& e) {
    e.value.timestamp = *value;
    e.valueType = valueType;
  });
}

}  // extern "C"

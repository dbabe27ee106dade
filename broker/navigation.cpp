// navigation.cpp - raw (cpi*) and on-demand (cni*) navigation of element trees.
//
// cni* navigation first has the element's owning parser complete it in the direction asked, by
// calling that parser's callback while the answer is not settled:
//   first child       while the element's complete-previous bit is 0   cpiParseFirstChild
//   last child        while the element's complete-next bit is 0       cpiParseLastChild
//   next sibling      while there is none and the parent's complete-next bit is 0
//                                                                      cpiParseRightSibling
//   previous sibling  while there is none and the parent's complete-previous bit is 0
//                                                                      cpiParseLeftSibling
// The loop also stops after two calls in a row that changed nothing in the message, so that a
// callback that cannot settle the answer does not hang the walk; the tree is then answered as it
// stands.
//
// No callback is made for elements built by hand (no owner), from inside one of the parser's own
// callbacks, or once the message has failed (CCI_PARSER_EXCEPTION) or its parser has moved on
// to another message (CCI_PARSE_LOST). An exception thrown by a callback stops at this boundary:
// it is recorded in the message, which has then failed.
#include "broker/internal.h"

namespace broker::detail {

namespace {

CpiParseNavigationFn callbackFor(const CpiFunctionTable* table, Direction direction) {
  if (!table) return nullptr;
  switch (direction) {
    case Direction::firstChild:
      return table->cpiParseFirstChild;
    case Direction::lastChild:
      return table->cpiParseLastChild;
    case Direction::nextSibling:
      return table->cpiParseRightSibling;
    case Direction::previousSibling:
      return table->cpiParseLeftSibling;
  }
  return nullptr;
}

// Has the owning parser settle the answer; returns a return code.
int completeElement(CciElement* element, Direction direction) {
  Message::State* message = element->message;
  CciParser* owner = element->owner;
  // A sibling added by hand into a parsed folder: the folder's parser still builds its siblings.
  if (!owner && element->parent &&
      (direction == Direction::nextSibling || direction == Direction::previousSibling))
    owner = element->parent->owner;
  if (!owner) return CCI_SUCCESS;
  if (message->failure) return CCI_PARSER_EXCEPTION;
  // owner is only dereferenced once it is known to be the message's (live) parser.
  if (owner != message->parser || owner->current != message || owner->mode != Mode::parsing)
    return CCI_PARSE_LOST;
  if (owner->inCallback) return CCI_SUCCESS;
  CpiParseNavigationFn callback = callbackFor(owner->table, direction);
  if (!callback) return CCI_SUCCESS;

  int idleCalls = 0;
  while (!settled(element, direction) && idleCalls < 2) {
    const uint64_t before = message->changes;
    if (const int rc = runCallback(*owner, message->failure,
                                   [&] { callback(owner, owner->context, element); });
        rc != CCI_SUCCESS)
      return rc;
    idleCalls = message->changes == before ? idleCalls + 1 : 0;
  }
  return CCI_SUCCESS;
}

}  // namespace

CciElement* navigate(int* rc, CciElement* element, Direction direction, bool onDemand) {
  if (!validElement(element)) {
    setRc(rc, CCI_INV_ELEMENT_OBJECT);
    return nullptr;
  }
  if (onDemand && !settled(element, direction)) {
    if (const int status = completeElement(element, direction); status != CCI_SUCCESS) {
      setRc(rc, status);
      return nullptr;
    }
  }
  setRc(rc, CCI_SUCCESS);
  return rawAnswer(element, direction);
}

}  // namespace broker::detail

using broker::detail::Direction;
using broker::detail::navigate;

extern "C" {

CciElement* cpiParent(int* rc, CciElement* element) {
  if (!broker::detail::validElement(element)) {
    broker::detail::setRc(rc, CCI_INV_ELEMENT_OBJECT);
    return nullptr;
  }
  broker::detail::setRc(rc, CCI_SUCCESS);
  return element->parent;
}

CciElement* cpiFirstChild(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::firstChild, false);
}
CciElement* cpiLastChild(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::lastChild, false);
}
CciElement* cpiNextSibling(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::nextSibling, false);
}
CciElement* cpiPreviousSibling(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::previousSibling, false);
}
CciElement* cniFirstChild(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::firstChild, true);
}
CciElement* cniLastChild(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::lastChild, true);
}
CciElement* cniNextSibling(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::nextSibling, true);
}
CciElement* cniPreviousSibling(int* rc, CciElement* element) {
  return navigate(rc, element, Direction::previousSibling, true);
}

}  // extern "C"

// parser.cpp - parser instances and messages (broker::Parser, broker::Message) and the bit stream
// functions (cpiBufferSize, cpiBufferPointer, cpiAppendToBuffer, cpiRootElement).
//
// A parser serves one message at a time, its "current" message: parse attaches the new message
// (the plug-in's context now points into it), write attaches the message being written with a
// fresh output stream and detaches it when the write ends. An element of an earlier message that
// is still incomplete can then no longer be completed (CCI_PARSE_LOST).
#include <climits>
#include <string>

#include "broker/internal.h"

namespace broker {

namespace detail {

std::unique_ptr<Message::State> newMessage(CciParser& parser, const Properties& properties,
                                           bool bodyComplete) {
  auto message = std::make_unique<Message::State>();
  message->parser = &parser;
  message->nextOfParser = parser.firstMessage;
  if (parser.firstMessage) parser.firstMessage->previousOfParser = message.get();
  parser.firstMessage = message.get();
  Message::State& m = *message;

  m.root = newElement(m, nullptr, CCI_ELEMENT_TYPE_NAME, u"Root", true, true);
  m.properties = newElement(m, nullptr, CCI_ELEMENT_TYPE_NAME, u"Properties", true, true);
  linkLastChild(m.root, m.properties);
  auto addProperty = [&](std::u16string_view name, const std::u16string& value) {
    CciElement* property = newElement(m, nullptr, CCI_ELEMENT_TYPE_NAME_VALUE, name, true, true);
    int rc = CCI_SUCCESS;
    cpiSetElementCharacterValue(&rc, property, value.data(), static_cast<int>(value.size()));
    throwOnFailure(rc, property, "property");
    linkLastChild(m.properties, property);
  };
  addProperty(u"MessageSet", utf16(properties.messageSet));
  if (properties.hasCcsid) addProperty(u"CodedCharSetId", utf16(std::to_string(properties.ccsid)));
  // A parse leaves the body to the plug-in, which completes it; a tree built by hand has no
  // parser to complete it, so it is complete from the start.
  m.body = newElement(m, bodyComplete ? nullptr : &parser, CCI_ELEMENT_TYPE_NAME,
                      parser.className16, bodyComplete, bodyComplete);
  linkLastChild(m.root, m.body);
  return message;
}

}  // namespace detail

Message::State::~State() {
  tag = 0;
  if (parser) {
    if (previousOfParser)
      previousOfParser->nextOfParser = nextOfParser;
    else
      parser->firstMessage = nextOfParser;
    if (nextOfParser) nextOfParser->previousOfParser = previousOfParser;
    if (parser->current == this) {
      parser->current = nullptr;
      parser->mode = detail::Mode::idle;
    }
  }
}

Message::Message(std::unique_ptr<State> state) : state_(std::move(state)) {}
Message::Message(Message&&) noexcept = default;
Message& Message::operator=(Message&&) noexcept = default;
Message::~Message() = default;

Element Message::root() const {
  return Element(state_ ? state_->root : nullptr);
}
Element Message::properties() const {
  return Element(state_ ? state_->properties : nullptr);
}
Element Message::body() const {
  return Element(state_ ? state_->body : nullptr);
}
int Message::parsedLength() const {
  return state_ ? state_->parsedLength : 0;
}
const Error* Message::failure() const {
  return state_ && state_->failure ? &*state_->failure : nullptr;
}

namespace {

// One step of the walk of Message::complete, answered as Element's navigation methods answer it
// (operation names the method, for a failure) but on raw handles: the walk visits every element
// of every message written, and most answers are settled already.
CciElement* walkStep(CciElement* from, detail::Direction direction, bool onDemand,
                     const char* operation) {
  if (detail::validElement(from) && (!onDemand || detail::settled(from, direction)))
    return detail::rawAnswer(from, direction);
  int rc = CCI_SUCCESS;
  CciElement* to = detail::navigate(&rc, from, direction, onDemand);
  detail::throwOnFailure(rc, from, operation);
  return to;
}

CciElement* walkParent(CciElement* from) {
  if (!detail::validElement(from)) detail::throwOnFailure(CCI_INV_ELEMENT_OBJECT, from, "parent");
  return from->parent;
}

}  // namespace

void Message::complete() const {
  if (!state_) throw UsageError("complete: empty message");
  using detail::Direction;
  // Depth first, without recursion: down by first child, across by next sibling, and before
  // leaving an element up, have its last child settled too (a parser may have more children
  // for it even when no next sibling was asked for).
  CciElement* const root = state_->root;
  CciElement* current = root;
  while (current) {
    if (CciElement* child = walkStep(current, Direction::firstChild, true, "firstChild")) {
      current = child;
      continue;
    }
    walkStep(current, Direction::lastChild, true, "lastChild");
    while (current != root) {
      CciElement* next = walkStep(current, Direction::nextSibling, true, "nextSibling");
      if (!next) {
        CciElement* const parent = walkParent(current);
        walkStep(parent, Direction::lastChild, true, "lastChild");
        next = walkStep(current, Direction::nextSibling, false, "rawNextSibling");
        if (!next) {
          current = parent;
          continue;
        }
      }
      current = next;
      break;
    }
    if (current == root) break;
  }
}

Parser::Parser(const Plugin& plugin, const std::string& className) {
  const CpiFunctionTable* table = plugin.functionTable(className);
  if (!table)
    throw UsageError("parser class \"" + className + "\" is not defined by parser plug-in " +
                     plugin.path());
  if (!table->cpiCreateContext)
    throw UsageError("parser class \"" + className + "\" has no cpiCreateContext");
  state_ = std::make_unique<State>();
  state_->table = table;
  state_->className = className;
  state_->className16 = utf16(className);
  std::optional<Error> failure;
  CciContext* context = nullptr;
  if (detail::runCallback(*state_, failure, [&] { context = table->cpiCreateContext(handle()); }))
    throw Error(*failure);
  if (!context)
    throw UsageError("cpiCreateContext of parser class \"" + className + "\" gave no context");
  state_->context = context;
}

Parser::~Parser() {
  if (!state_) return;
  if (state_->table->cpiDeleteContext) {
    std::optional<Error> ignored;  // a destructor cannot pass it on
    detail::runCallback(*state_, ignored,
                        [&] { state_->table->cpiDeleteContext(handle(), state_->context); });
  }
  for (Message::State* message = state_->firstMessage; message; message = message->nextOfParser)
    message->parser = nullptr;
  state_->tag = 0;
}

Message Parser::parse(std::string_view bytes, const Properties& properties, int offset) {
  if (bytes.size() > INT_MAX) throw UsageError("parse: message too long");
  if (offset < 0 || static_cast<size_t>(offset) > bytes.size())
    throw UsageError("parse: offset " + std::to_string(offset) + " outside the message");
  if (!state_->table->cpiParseBuffer)
    throw UsageError("parser class \"" + state_->className + "\" has no cpiParseBuffer");
  std::unique_ptr<Message::State> message = detail::newMessage(*state_, properties, false);
  // Exactly as many bytes as given, so that a read past the end is caught by the sanitizers.
  message->input = std::vector<uint8_t>(bytes.begin(), bytes.end());
  state_->current = message.get();
  state_->mode = detail::Mode::parsing;
  state_->output.clear();
  int length = 0;
  if (detail::runCallback(*state_, message->failure, [&] {
        length = state_->table->cpiParseBuffer(handle(), state_->context, offset);
      }))
    throw Error(*message->failure);
  message->parsedLength = length;
  return Message(std::move(message));
}

Message Parser::createMessage(const Properties& properties) {
  return Message(detail::newMessage(*state_, properties, true));
}

std::string Parser::write(const Message& message) {
  Message::State* m = message.state();
  if (!m || m->tag != detail::kMessageTag) throw UsageError("write: empty message");
  if (!state_->table->cpiWriteBuffer)
    throw UsageError("parser class \"" + state_->className + "\" has no cpiWriteBuffer");
  message.complete();
  struct Attachment {
    CciParser& parser;
    ~Attachment() {
      parser.current = nullptr;
      parser.mode = detail::Mode::idle;
      parser.output.clear();
    }
  } attachment{*state_};
  state_->current = m;
  state_->mode = detail::Mode::writing;
  state_->output.clear();
  std::optional<Error> failure;
  if (detail::runCallback(*state_, failure,
                          [&] { state_->table->cpiWriteBuffer(handle(), state_->context); }))
    throw Error(*failure);
  return std::move(state_->output);
}

CciParser* Parser::handle() const {
  return state_.get();
}
CciContext* Parser::context() const {
  return state_->context;
}
const std::string& Parser::className() const {
  return state_->className;
}

}  // namespace broker

using broker::detail::setRc;
using broker::detail::validParser;

namespace {

// The parser when it is valid and serves a message (rc CCI_SUCCESS); null otherwise, with rc set.
CciParser* serving(int* rc, CciParser* parser) {
  const int status = !validParser(parser) ? CCI_INV_PARSER_OBJECT
                     : !parser->current   ? CCI_NO_MESSAGE
                                          : CCI_SUCCESS;
  setRc(rc, status);
  return status == CCI_SUCCESS ? parser : nullptr;
}

}  // namespace

extern "C" {

int cpiBufferSize(int* rc, CciParser* parser) {
  if (!serving(rc, parser)) return 0;
  return static_cast<int>(parser->mode == broker::detail::Mode::writing
                              ? parser->output.size()
                              : parser->current->input.size());
}

const uint8_t* cpiBufferPointer(int* rc, CciParser* parser) {
  if (!serving(rc, parser)) return nullptr;
  // During a write: the output stream, valid until the next append.
  if (parser->mode == broker::detail::Mode::writing)
    return reinterpret_cast<const uint8_t*>(parser->output.data());
  return parser->current->input.data();
}

int cpiAppendToBuffer(int* rc, CciParser* parser, const uint8_t* bytes, int length) {
  if (!validParser(parser)) {
    setRc(rc, CCI_INV_PARSER_OBJECT);
    return 0;
  }
  if (parser->mode != broker::detail::Mode::writing) {
    setRc(rc, CCI_NO_MESSAGE);
    return 0;
  }
  if (length < 0 || static_cast<size_t>(length) > INT_MAX - parser->output.size()) {
    setRc(rc, CCI_INV_ARGUMENT);
    return 0;
  }
  if (!bytes && length > 0) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return 0;
  }
  try {
    parser->output.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    setRc(rc, CCI_FAILURE);
    return 0;
  }
  setRc(rc, CCI_SUCCESS);
  return length;
}

CciElement* cpiRootElement(int* rc, CciParser* parser) {
  if (!serving(rc, parser)) return nullptr;
  return parser->current->body;
}

}  // extern "C"

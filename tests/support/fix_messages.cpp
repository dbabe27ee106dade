#include "tests/support/fix_messages.h"

#include <algorithm>
#include <cstdio>

#include "broker/broker.h"

namespace corvale_test {

namespace {

// "10=nnn<SOH>" for the sum of the bytes before it.
std::string trailer(std::string_view bytes) {
  unsigned sum = 0;
  for (unsigned char c : bytes) sum += c;
  char text[16];
  std::snprintf(text, sizeof text, "10=%03u\x01", sum % 256);
  return text;
}

std::u16string widen(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

std::string soh(std::string_view text) {
  std::string bytes(text);
  std::replace(bytes.begin(), bytes.end(), '|', '\x01');
  return bytes;
}

std::string withCheckSum(std::string_view bytes) {
  return std::string(bytes) + trailer(bytes);
}

std::string withCheckSumIn(std::u16string_view text, int ccsid) {
  const std::string bytes = broker::fromUnicode(text, ccsid);
  return bytes + broker::fromUnicode(widen(trailer(bytes)), ccsid);
}

std::string fixMessage(std::string_view beginString, std::string_view body) {
  const std::string items = soh(body);
  return withCheckSum("8=" + std::string(beginString) + "\x01" +
                      "9=" + std::to_string(items.size()) + "\x01" + items);
}

std::string fixMessageIn(std::string_view beginString, std::u16string_view body, int ccsid) {
  std::u16string items(body);
  std::replace(items.begin(), items.end(), u'|', u'\x01');
  const size_t length = broker::fromUnicode(items, ccsid).size();
  return withCheckSumIn(u"8=" + widen(beginString) + u"\x01" + u"9=" +
                            widen(std::to_string(length)) + u"\x01" + items,
                        ccsid);
}

}  // namespace corvale_test

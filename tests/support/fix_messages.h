// FIX messages as tests write them. In the texts given here "|" stands for SOH, so that messages
// stay legible; the CheckSum trailer "10=nnn<SOH>" is the sum of every byte before it modulo 256,
// and BodyLength, where it is computed, counts the bytes from after its own SOH up to the
// trailer. The "In" forms encode a message in a code page: lengths and sums are over the bytes of
// that code page, the trailer included in it.
#ifndef CORVALE_TESTS_SUPPORT_FIX_MESSAGES_H
#define CORVALE_TESTS_SUPPORT_FIX_MESSAGES_H

#include <string>
#include <string_view>

namespace corvale_test {

// The text with every "|" made an SOH.
std::string soh(std::string_view text);

// The bytes as given (no "|" replaced, BodyLength as written, if any) and their trailer.
std::string withCheckSum(std::string_view bytes);
// The text encoded in ccsid and its trailer, also in ccsid.
std::string withCheckSumIn(std::u16string_view text, int ccsid);

// "8=<beginString>|9=<length>|<body>10=<sum>|", body with "|" for SOH.
std::string fixMessage(std::string_view beginString, std::string_view body);
// The same message in ccsid: body with "|" for SOH, its length counted in ccsid bytes.
std::string fixMessageIn(std::string_view beginString, std::u16string_view body, int ccsid);

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_FIX_MESSAGES_H

// base64 - the standard alphabet with "=" padding, for byte-array values in printed trees.
#ifndef CORVALE_HOST_BASE64_H
#define CORVALE_HOST_BASE64_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fixhost {

std::string base64Encode(const uint8_t* data, size_t size);
// Blank space (as in an indented XML text) is skipped; anything else outside the alphabet, or
// padding in the wrong place, gives nullopt.
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);

}  // namespace fixhost

#endif  // CORVALE_HOST_BASE64_H

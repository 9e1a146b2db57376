#pragma once
// Base64 (RFC 4648) both ways: the support mail's parts and encoded words, and the photos
// of vCards. Pure functions, any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace voryx {

// `bytes` in base64 with padding, broken into lines of `lineLength` characters by CRLF
// (0: one line).
std::string encodeBase64(std::string_view bytes, std::size_t lineLength = 0);

// Base64 as bytes, the URL-safe alphabet too; white space anywhere is ignored (folding
// leaves some), padding is optional. Nothing when a character is not base64 or the
// length cannot be.
std::optional<std::string> decodeBase64(std::string_view s);

}  // namespace voryx

#pragma once
// The access token of `voryx serve`: 32 lowercase hex digits (128 random bits), printed in
// the start-up address and kept in the session cookie. It is kept in a file of the state
// folder so that the printed address, a bookmark and an open tab keep working when the
// server restarts.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace voryx::web {

// A new token from the kernel's random source.
std::string makeToken();

// True for 32 lowercase hex digits and nothing else.
bool isToken(std::string_view text);

// The token kept in `file`. It is read when the file is a regular file of this user that
// nobody else may read, holding a token and at most a line break after it. Otherwise, or
// when `renew` is set, a new token replaces it, written atomically with mode 0600 (the
// folder must exist). Errors (Io): the new token cannot be written. Any thread.
Result<std::string> keptToken(const std::filesystem::path& file, bool renew);

}  // namespace voryx::web

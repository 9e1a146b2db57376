#pragma once
// File-system steps shared by the store and start-up. The application's data, state and
// config folders hold message texts and phone numbers, so every folder it makes is 0700;
// a user's file is never replaced by accident.
#include <filesystem>
#include <system_error>

namespace voryx {

// Creates dir and its missing parents, each with mode 0700 (an existing folder keeps its
// mode). True when dir itself was made by this call; false when it already existed or
// could not be made (ec is set only then). Any thread.
bool createPrivateFolders(const std::filesystem::path& dir, std::error_code& ec);

// Renames from to to unless to exists (then false with errno EEXIST). Atomic where the
// file system supports it; else through a hard link. errno is set on failure.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace voryx

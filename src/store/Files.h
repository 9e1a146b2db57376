#pragma once
// Folders shared by the store and start-up. The application's data, state and config
// folders hold message texts and phone numbers, so every folder it makes is 0700. (Whole
// files are written by base/AtomicFile.h.)
#include <filesystem>
#include <system_error>

namespace voryx {

// Creates dir and its missing parents, each with mode 0700 (an existing folder keeps its
// mode). True when dir itself was made by this call; false when it already existed or
// could not be made (ec is set only then). Any thread.
bool createPrivateFolders(const std::filesystem::path& dir, std::error_code& ec);

}  // namespace voryx

#pragma once
// The user's desktop, where there is one: opening a folder or file with the program the
// desktop chooses (xdg-open). Any thread.
#include <filesystem>

namespace voryx {

// True when a graphical session is there to show something (DISPLAY or WAYLAND_DISPLAY).
bool hasDesktop();
// Starts `xdg-open path` in the background, detached (it outlives nothing of ours and
// leaves no zombie); false when it could not be started or there is no desktop.
bool openOnDesktop(const std::filesystem::path& path);

}  // namespace voryx

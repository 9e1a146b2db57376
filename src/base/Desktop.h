#pragma once
// The user's desktop, where there is one: opening a folder or file with the program the
// desktop chooses (xdg-open), handing a message to its mail client (xdg-email). Any thread.
#include <filesystem>
#include <string>
#include <vector>

namespace voryx {

// True when a graphical session is there to show something (DISPLAY or WAYLAND_DISPLAY).
bool hasDesktop();
// The program `name` as execvp would find it in PATH; empty when no folder of PATH holds
// an executable file of that name.
std::filesystem::path findProgram(const std::string& name);
// Starts the program argv[0] (found as findProgram finds it) with argv, no shell between:
// no argument is ever read as shell text. It runs detached: in a session of its own, its
// standard streams on /dev/null, no other descriptor of ours open, no signal blocked (this
// program blocks some in every thread), never waited for, and reaped by init rather than
// left as a zombie. Returns at once; false when the program is not found or could not be
// started.
bool startDetached(const std::vector<std::string>& argv);
// `xdg-open path`, started detached; false when there is no desktop or it could not start.
bool openOnDesktop(const std::filesystem::path& path);

}  // namespace voryx

#pragma once
// The UUCP lock of a serial port, as minicom, picocom, gammu and the other serial tools
// keep it: a file "LCK..ttyUSB2" in the lock folder (/var/lock) holding the owner's PID in
// HDB form, ten characters right-aligned and a newline ("      4711\n"). Taking it never
// disturbs a port another program holds; a lock whose PID is gone is stale and taken over.
// No lock folder, or no right to write there: the port is used without a lock, as those
// tools do. One object owns one taken lock and removes it when it goes (only while the
// file still names this process). Any thread; the objects share nothing.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace voryx::modem {

inline constexpr const char* kLockFolder = "/var/lock";

// The PID a lock file names: HDB text (blanks, digits, a newline) or the old binary form
// (a native 4-byte int). Nothing for anything else, or a PID that is not positive.
std::optional<pid_t> parseLockPid(std::string_view bytes);

// The lock file of `device` in `folder`: "LCK.." and the name of the node the path leads
// to, so that /dev/serial/by-id/... and /dev/ttyUSB2 share one lock.
std::filesystem::path lockFileFor(const std::filesystem::path& device,
                                  const std::filesystem::path& folder);

class PortLock {
 public:
  PortLock() = default;
  ~PortLock() { release(); }
  PortLock(PortLock&& other) noexcept { *this = std::move(other); }
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock of `device`. An empty folder means no locking at all.
  static PortLock take(const std::filesystem::path& device, const std::filesystem::path& folder);

  // Another live program (this one included, through another channel) holds the port:
  // the caller must not open it.
  bool held() const { return held_; }
  // The PID the holder's lock names; nothing when its file could not be read.
  std::optional<pid_t> holder() const { return holder_; }
  // This object owns the lock file.
  bool owned() const { return owned_; }
  const std::filesystem::path& file() const { return file_; }

  // Removes the lock file if this object owns it and it still names this process.
  void release();

 private:
  std::filesystem::path file_;
  bool owned_ = false;
  bool held_ = false;
  std::optional<pid_t> holder_;
};

}  // namespace voryx::modem

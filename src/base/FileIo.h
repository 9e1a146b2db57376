#pragma once
// Files read whole, and file descriptors that close themselves. Any thread.
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "base/Result.h"

namespace voryx {

// Owns one file descriptor and closes it when it goes (-1: none). Move only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held, if any, and holds `fd`.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The whole of the regular file `file`, at most `maxBytes` long. Errors:
//   NotFound  "<file>: no such file"
//   Io        "<file>: not a file", "<file>: <reason>" (errno's) when it cannot be opened
//             or read
//   TooLarge  "<file>: larger than <maxBytes> bytes"
Result<std::string> readWholeFile(const std::filesystem::path& file,
                                  std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());

}  // namespace voryx

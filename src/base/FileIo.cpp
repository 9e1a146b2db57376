#include "base/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace voryx {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

Result<std::string> readWholeFile(const std::filesystem::path& file, std::uintmax_t maxBytes) {
  const std::string name = file.string();
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT || errno == ENOTDIR) return Error{Errc::NotFound, name + ": no such file"};
    return Error{Errc::Io, name + ": " + std::strerror(errno)};
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error{Errc::Io, name + ": " + std::strerror(errno)};
  if (!S_ISREG(st.st_mode)) return Error{Errc::Io, name + ": not a file"};
  auto tooLarge = [&] { return Error{Errc::TooLarge, name + ": larger than " + std::to_string(maxBytes) + " bytes"}; };
  if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return tooLarge();
  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {  // to the end, which may have moved since the fstat
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error{Errc::Io, name + ": " + std::strerror(errno)};
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) return tooLarge();
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace voryx

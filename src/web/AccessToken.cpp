#include "web/AccessToken.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>

#include "base/FileIo.h"
#include "base/Random.h"
#include "base/Text.h"
#include "base/AtomicFile.h"

namespace voryx::web {
namespace {

constexpr std::size_t kTokenBytes = 16;

// The token in `file`, or nothing when the file is missing, not a private regular file
// of ours (a token others could read may have leaked), or holds anything else. Reads at
// most a few bytes past a token's length, and never waits: not on a FIFO, not through a
// symbolic link.
std::optional<std::string> readToken(const std::filesystem::path& file) {
  const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!fd) return std::nullopt;
  struct stat st {};
  std::array<char, 2 * kTokenBytes + 2> buf{};
  std::size_t got = 0;
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0) {
    while (got < buf.size()) {
      const ssize_t n = ::read(fd.get(), buf.data() + got, buf.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  std::string_view text(buf.data(), got);
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (!isToken(text)) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::string makeToken() { return hexLower(randomBytes(kTokenBytes)); }

bool isToken(std::string_view text) {
  if (text.size() != 2 * kTokenBytes) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

Result<std::string> keptToken(const std::filesystem::path& file, bool renew) {
  if (!renew) {
    if (auto kept = readToken(file)) return std::move(*kept);
  }
  std::string token = makeToken();
  if (Status written = writeFileAtomically(file, token + "\n", 0600); !written) return written.error();
  return token;
}

}  // namespace voryx::web

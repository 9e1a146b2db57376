#include "base/DebugLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "base/FileIo.h"

namespace voryx {
namespace {

std::mutex& pathMutex() {
  static std::mutex m;
  return m;
}

std::filesystem::path& logPath() {
  static std::filesystem::path p;
  return p;
}

// Writes the whole buffer to a file opened with the given flags; false on any failure.
bool writeFile(const std::filesystem::path& path, int flags, const char* data, std::size_t size) {
  if (path.empty()) return false;
  const UniqueFd fd(::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return false;
  ::fchmod(fd.get(), 0600);  // also when an older file was made with a wider mode
  while (size > 0) {
    const ssize_t n = ::write(fd.get(), data, size);
    if (n < 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void DebugLog::setPath(const std::filesystem::path& path) {
  std::lock_guard lock(pathMutex());
  logPath() = path;
}

std::filesystem::path DebugLog::path() {
  std::lock_guard lock(pathMutex());
  return logPath();
}

void DebugLog::append(const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendV(format, args);
  va_end(args);
}

void DebugLog::appendV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed < 0) return;
  std::vector<char> text(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  // One write call in append mode: the record lands whole at the end of the file.
  writeFile(path(), O_APPEND, text.data(), static_cast<std::size_t>(needed));
}

bool DebugLog::start() {
  static constexpr char kStart[] = "LOG START\n";
  return writeFile(path(), O_TRUNC, kStart, sizeof kStart - 1);
}

std::string DebugLog::contents() {
  auto text = readWholeFile(path());
  return text ? std::move(*text) : std::string();
}

}  // namespace voryx

#pragma once
// The seam between the channel and the line it talks over: wait until readable, read,
// write. FdLineIo is the real one over a descriptor; tests play a scripted line on a
// virtual clock (tests/modem/ScriptedLine.h), so the quiet-window rule runs without
// spending real seconds.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <span>

namespace voryx::modem {

class LineIo {
 public:
  enum class Wait { Readable, TimedOut, Failed };

  virtual ~LineIo() = default;
  // Readable also when the other side has hung up (the next read then returns 0).
  virtual Wait waitReadable(std::chrono::microseconds timeout) = 0;
  // As read(2)/write(2): the byte count, 0 at end of line, -1 on failure.
  virtual ssize_t read(std::span<char> into) = 0;
  virtual ssize_t write(std::span<const char> bytes) = 0;
  // The line's clock (steady; a scripted line's is virtual), for the bounds of a reply.
  virtual std::chrono::microseconds now() const = 0;
};

// Over a descriptor it does not own. Interrupted calls are resumed (a wait with the time
// that was left), so a signal never cuts a reply short.
class FdLineIo final : public LineIo {
 public:
  explicit FdLineIo(int fd = -1) : fd_(fd) {}
  void setFd(int fd) { fd_ = fd; }

  Wait waitReadable(std::chrono::microseconds timeout) override;
  ssize_t read(std::span<char> into) override;
  ssize_t write(std::span<const char> bytes) override;
  std::chrono::microseconds now() const override;

 private:
  int fd_;
};

}  // namespace voryx::modem

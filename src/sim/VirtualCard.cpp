#include "sim/VirtualCard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace voryx::sim {
namespace {

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads exactly `size` bytes; false at the end of the connection, an error or `stop`.
bool receiveAll(int fd, char* into, std::size_t size, const std::atomic<bool>& stop) {
  while (size > 0) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 100);
    if (stop) return false;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) continue;
    // vpcd sends a message's length and its bytes apart: an ACK held back for 40 ms would
    // hold the bytes back as long.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const ssize_t n = ::recv(fd, into, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool sendMessage(int fd, std::string_view bytes) {
  std::string message{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xFF)};
  message += bytes;
  return sendAll(fd, message);
}

}  // namespace

struct VirtualCard::Impl {
  mutable std::mutex mutex;
  SimCard card;
  CardFiles files;
  CardApdu apdu;
  std::function<void(const SimCard&)> onChange;
  std::map<std::uint8_t, int> counts;
  int fd = -1;
  std::atomic<bool> stop{false};
  std::atomic<bool> in{false};
  std::thread thread;

  Impl(SimCard c, CardOptions options, bool usim)
      : card(std::move(c)), files(card, usim), apdu(files, std::move(options)) {}

  void serve() {
    for (;;) {
      char head[2];
      if (!receiveAll(fd, head, 2, stop)) break;
      const std::size_t size = static_cast<unsigned char>(head[0]) << 8 | static_cast<unsigned char>(head[1]);
      std::string message(size, '\0');
      if (size > 0 && !receiveAll(fd, message.data(), size, stop)) break;
      if (size > 1 && apdu.delay().count() > 0) std::this_thread::sleep_for(apdu.delay());
      std::optional<std::string> response;
      std::optional<SimCard> changed;
      {
        std::lock_guard lock(mutex);
        if (size == 1) {
          switch (message[0]) {
            case 0x04: response = apdu.atr(); break;
            case 0x01:
            case 0x02: apdu.powerUp(); continue;
            default: continue;  // power off
          }
        } else {
          if (size >= 2) ++counts[static_cast<std::uint8_t>(message[1])];
          response = apdu.answer(message);
          if (!response) break;  // taken out
          if (apdu.changed() && onChange) changed = card;
        }
      }
      if (changed) onChange(*changed);
      if (!sendMessage(fd, *response)) break;
    }
    in = false;
    ::shutdown(fd, SHUT_RDWR);
  }
};

VirtualCard::VirtualCard(SimCard card, CardOptions options, bool usim)
    : impl_(std::make_unique<Impl>(std::move(card), std::move(options), usim)) {}

VirtualCard::~VirtualCard() { remove(); }

std::string VirtualCard::readerName(int port) {
  // pcscd names the driver's readers "Virtual PCD 00 0n", one per port from the first.
  return "Virtual PCD 00 0" + std::to_string(port - kFirstPort);
}

bool VirtualCard::insert(int port, std::string* error, std::chrono::milliseconds patience) {
  remove();
  const auto until = std::chrono::steady_clock::now() + patience;
  int fd = -1;
  for (;;) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
    const int why = errno;
    if (fd >= 0) ::close(fd);
    if (std::chrono::steady_clock::now() >= until) {
      if (error) {
        *error = "no virtual card reader on port " + std::to_string(port) + " (" + std::strerror(why) +
                 "); is pcscd running with vsmartcard-vpcd?";
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds{100});
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  impl_->fd = fd;
  impl_->stop = false;
  impl_->in = true;
  impl_->thread = std::thread([impl = impl_.get()] { impl->serve(); });
  return true;
}

void VirtualCard::remove() {
  if (!impl_->thread.joinable()) return;
  impl_->stop = true;
  impl_->thread.join();
  ::close(impl_->fd);
  impl_->fd = -1;
  impl_->in = false;
}

bool VirtualCard::inserted() const { return impl_->in; }

SimCard VirtualCard::sim() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->card;
}

void VirtualCard::modifySim(const std::function<void(SimCard&)>& change) {
  std::lock_guard lock(impl_->mutex);
  change(impl_->card);
}

void VirtualCard::setOnChange(std::function<void(const SimCard&)> onChange) { impl_->onChange = std::move(onChange); }

int VirtualCard::commandCount(std::uint8_t ins) const {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->counts.find(ins);
  return it == impl_->counts.end() ? 0 : it->second;
}

}  // namespace voryx::sim

#pragma once
// The far end of a real pseudo-terminal for channel tests: the test keeps the master
// and one slave descriptor (to inspect the line settings), and may serve the master on a
// thread that answers every CR-terminated command through a function.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace voryx::modem::testing {

class PtyPeer {
 public:
  // Chunks written for one command; a pause of `gap` between them.
  using Answer = std::function<std::vector<std::string>(const std::string& command)>;

  PtyPeer() {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~PtyPeer() {
    stop();
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  int slave() const { return slave_; }
  int master() const { return master_; }

  void serve(Answer answer, std::chrono::milliseconds gap = std::chrono::milliseconds(0)) {
    thread_ = std::thread([this, answer = std::move(answer), gap] {
      std::string pending;
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[512];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) continue;  // EIO while no slave is open
        pending.append(buf, static_cast<std::size_t>(n));
        for (auto cr = pending.find('\r'); cr != std::string::npos; cr = pending.find('\r')) {
          const std::string command = pending.substr(0, cr);
          pending.erase(0, cr + 1);
          bool first = true;
          for (const auto& chunk : answer(command)) {
            if (!first) std::this_thread::sleep_for(gap);
            first = false;
            if (::write(master_, chunk.data(), chunk.size()) < 0) break;
          }
        }
      }
    });
  }

  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Hangs up the line as an unplugged modem would.
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace voryx::modem::testing

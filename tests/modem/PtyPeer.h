#pragma once
// The far end of a real pseudo-terminal for channel tests: the test keeps the master
// and one slave descriptor (to inspect the line settings and the exclusive claim).
#include <pty.h>
#include <unistd.h>

#include <string>

namespace voryx::modem::testing {

class PtyPeer {
 public:
  PtyPeer() {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~PtyPeer() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  int slave() const { return slave_; }

  // Hangs up the line as an unplugged modem would.
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace voryx::modem::testing

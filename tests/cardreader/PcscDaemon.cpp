// pcscd for the reader tests: the system's when one answers (its vsmartcard-vpcd reader
// is on port 35963), else one of the test's own, started in the foreground with this
// folder's reader configuration and stopped at the end. ctest gives these tests one
// lock, so one of them at a time has the reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sim/VirtualCard.h"
#include "simfiles/PcscLink.h"

extern char** environ;

namespace {

// Whether this pcscd has --disable-polkit. One built with polkit (Debian 13's) asks polkit
// whether each client may connect and refuses them all when no polkit daemon answers, as in
// a bare build root; the test's own daemon serves only the test, so it goes without. Older
// ones (Debian 12's) know no such option and would refuse to start with it.
bool offersDisablePolkit() {
  FILE* help = popen("pcscd --help 2>&1", "r");
  if (help == nullptr) return false;
  std::string text;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, help) != nullptr) text += chunk;
  pclose(help);
  return text.find("--disable-polkit") != std::string::npos;
}

bool readerListed() {
  const std::string name = voryx::sim::VirtualCard::readerName(voryx::sim::VirtualCard::kFirstPort);
  for (const auto& r : voryx::simfiles::listReaders().readers) {
    if (r.name == name) return true;
  }
  return false;
}

class PcscDaemon : public ::testing::Environment {
 public:
  void SetUp() override {
    if (readerListed()) return;
    const std::string config = std::string(VORYX_SOURCE_DIR) + "/tests/cardreader/reader.conf.d";
    std::vector<const char*> argv = {"pcscd", "--foreground", "--config", config.c_str(), "--error"};
    if (offersDisablePolkit()) argv.push_back("--disable-polkit");
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawnp(&pid_, "pcscd", nullptr, nullptr, const_cast<char**>(argv.data()), environ), 0)
        << "pcscd is not installed (scripts/install-deps.sh)";
    for (int round = 0; round < 100 && !readerListed(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds{50});
    }
    ASSERT_TRUE(readerListed()) << "pcscd started without the virtual reader";
  }
  void TearDown() override {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = 0;
};

const auto* const kDaemon = ::testing::AddGlobalTestEnvironment(new PcscDaemon);

}  // namespace

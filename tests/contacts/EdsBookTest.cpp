#include "contacts/EdsBook.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace voryx::contacts {
namespace {

using namespace std::chrono_literals;

// A private session bus with evolution-data-server's source registry and address-book
// factory on it, in a home of its own; everything is stopped when it goes.
class PrivateEds {
 public:
  PrivateEds() {
    for (const char* dir : {"config", "data", "cache", "runtime"}) std::filesystem::create_directories(home_ / dir);
    ::chmod((home_ / "runtime").c_str(), 0700);
    ::setenv("HOME", home_.path.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home_ / "cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home_ / "runtime").c_str(), 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    const std::string address = "unix:path=" + (home_ / "bus").string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address});
    ready_ = waitFor([&] { return std::filesystem::exists(home_ / "bus"); }) &&
             (start({"/usr/libexec/evolution-source-registry"}), waitFor(owned("org.gnome.evolution.dataserver.Sources5"))) &&
             (start({"/usr/libexec/evolution-addressbook-factory"}), waitFor(owned("org.gnome.evolution.dataserver.AddressBook10")));
  }
  ~PrivateEds() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
      ::kill(*it, SIGTERM);
      ::waitpid(*it, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }

 private:
  void start(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    children_.push_back(pid);
  }
  static std::function<bool()> owned(const std::string& name) {
    return [name] {
      const std::string command = "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                                  "org.freedesktop.DBus.NameHasOwner string:" + name + " 2>/dev/null | grep -q 'boolean true'";
      return std::system(command.c_str()) == 0;
    };
  }
  static bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  test::TempDir home_;
  std::vector<pid_t> children_;
  bool ready_ = false;
};

TEST(EdsBookTest, ContactsWrittenAreReadBackWithTheirNumbersAndKinds) {
  PrivateEds eds;
  ASSERT_TRUE(eds.ready());
  auto books = edsBooks();
  ASSERT_TRUE(books) << books.error().detail;
  ASSERT_FALSE(books->empty());
  EXPECT_TRUE(books->front().isDefault);

  entries::Person anna;
  anna.first = "Anna";
  anna.last = "Rossi";
  anna.phones = {{"mobile", "+393331111111"}, {"home", "02 5555555"}};
  entries::Person acme;
  acme.organization = "ACME S.p.A.";
  acme.phones = {{"work", "0800 123456"}};
  for (const auto& person : {anna, acme}) {
    auto uid = addEdsContact("", person);
    ASSERT_TRUE(uid) << uid.error().detail;
    EXPECT_FALSE(uid->empty());
  }
  auto book = readEdsBook("");
  ASSERT_TRUE(book) << book.error().detail;
  ASSERT_EQ(book->persons.size(), 2u);
  for (const auto& person : book->persons) {
    SCOPED_TRACE(person.formatted);
    if (person.organization.empty()) {
      EXPECT_EQ(person.first, "Anna");
      EXPECT_EQ(person.last, "Rossi");
      ASSERT_EQ(person.phones.size(), 2u);
      EXPECT_EQ(person.phones[0].label, "mobile");
      EXPECT_EQ(person.phones[0].number, "+393331111111");
      EXPECT_EQ(person.phones[1].label, "home");
    } else {
      EXPECT_EQ(person.organization, "ACME S.p.A.");
      ASSERT_EQ(person.phones.size(), 1u);
      EXPECT_EQ(person.phones[0].label, "work");
    }
  }
}

}  // namespace
}  // namespace voryx::contacts

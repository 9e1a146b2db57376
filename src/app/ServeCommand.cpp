// voryx serve: the application. The screens run on this process's main thread; the HTTP
// server shows them to a browser on its own threads.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/Commands.h"
#include "base/FileIo.h"
#include "app/ModemChoice.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/AtomicFile.h"
#include "base/Desktop.h"
#include "base/Localized.h"
#include "store/Preferences.h"
#include "ui/About.h"
#include "ui/VoryxUi.h"
#include "web/WebServer.h"

namespace voryx {
namespace {

struct ServeOptions {
  int port = 8737;
  std::string listen = "127.0.0.1";
  bool newToken = false;  // replace the access token kept in the state folder
  bool open = false;      // open the address in the desktop's browser
  std::string contacts;   // the address book
  ModemArgs modem;
};

// Waits for SIGINT or SIGTERM (blocked in every thread, so they come only here) and then
// stops the main loop. Ends by itself once `done` is set.
class SignalWatch {
 public:
  explicit SignalWatch(VoryxUi& ui) : thread_([this, &ui] { watch(ui); }) {}
  ~SignalWatch() {
    done_ = true;
    thread_.join();
  }

  static void blockInThisThread() {
    sigset_t set = signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

 private:
  static sigset_t signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
  }

  void watch(VoryxUi& ui) {
    const sigset_t set = signals();
    const timespec tick{0, 200'000'000};
    while (!done_) {
      if (sigtimedwait(&set, nullptr, &tick) > 0) {
        ui.stop();
        return;
      }
    }
  }

  std::atomic<bool> done_{false};
  std::thread thread_;
};

// What a running server leaves in the state folder, so that a second `voryx serve --open`
// opens its page instead of failing on the taken port: "<pid>\n<address>\n", mode 0600
// (the address carries the token), written once the server listens, removed when it ends.
struct ServeRecord {
  pid_t pid = 0;
  std::string url;
};

// The record in `file`, or nothing when it is missing, not a regular file of this user,
// larger than any record, or not exactly a process number and an http address.
std::optional<ServeRecord> readServeRecord(const std::filesystem::path& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size > 4096) {
    return std::nullopt;
  }
  auto read = readWholeFile(file, 4096);
  if (!read || !read->ends_with('\n')) return std::nullopt;
  const std::string& text = *read;
  const std::size_t nl = text.find('\n');
  const std::string pid = text.substr(0, nl);
  const std::string url = text.substr(nl + 1, text.size() - nl - 2);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  const auto visible = [](char c) { return c > ' ' && c < 0x7f; };
  if (pid.empty() || pid.size() > 9 || !std::all_of(pid.begin(), pid.end(), digit)) return std::nullopt;
  if (!url.starts_with("http://") || !std::all_of(url.begin(), url.end(), visible)) return std::nullopt;
  ServeRecord record{static_cast<pid_t>(std::stol(pid)), url};
  if (record.pid <= 0) return std::nullopt;
  return record;
}

// The first line of /proc/PID/comm: the program's name as the kernel keeps it.
std::string programName(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// True when the record's process is alive and runs this program: a record left by a
// crash may name a process number reused since by something else.
bool isRunning(const ServeRecord& record) {
  if (record.pid == ::getpid() || ::kill(record.pid, 0) != 0) return false;
  const std::string name = programName(std::to_string(record.pid));
  return !name.empty() && name == programName("self");
}

// Hands `url` to the desktop's browser (xdg-open, detached); says why not when it cannot.
void openInBrowser(const std::string& url) {
  if (!hasDesktop()) {
    std::cerr << "voryx serve: no desktop here (DISPLAY, WAYLAND_DISPLAY): open the address in a browser\n";
  } else if (!startDetached({"xdg-open", url})) {
    std::cerr << "voryx serve: xdg-open could not be started: open the address in a browser\n";
  }
}

int runServe(const ServeOptions& options) {
  // Before any thread starts, so that every thread inherits the blocked signals.
  SignalWatch::blockInThisThread();
  Paths paths = startUp();
  if (options.open) {
    if (auto running = readServeRecord(paths.serveRecord); running && isRunning(*running)) {
      std::cerr << "voryx serve: already running (process " << running->pid << "): opening its page\n";
      std::cout << running->url << std::endl;
      openInBrowser(running->url);
      return 0;
    }
  }
  chooseAddressBook(paths, options.contacts);
  // Declared before the screens so that it stops after them: a transfer that is still
  // running at shutdown ends against a modem that is still there.
  std::optional<ModemChoice> modem =
      chooseModem(options.modem, "serve", paths.preferences);
  if (!modem) return 1;
  if (modem->simulation) {
    std::cerr << "voryx serve: virtual modem on " << modem->simulation->devicePath() << "\n";
  } else if (!findModem(*modem, "serve")) {
    std::cerr << "voryx serve: a transfer looks for the modem again when it starts\n";
  }
  VoryxUiOptions uiOptions;
  uiOptions.startupAlert = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded();
  uiOptions.device = modem->device;
  VoryxUi ui(paths, std::move(uiOptions));

  web::WebServerOptions webOptions;
  webOptions.listen = options.listen;
  webOptions.port = options.port;
  webOptions.tokenFile = paths.tokenFile;
  webOptions.newToken = options.newToken;
  // The how-to screen may show a page from another site: the page's policy lets that one in.
  webOptions.frameAddress = Preferences(paths.preferences).text(kPrefHowtoAddress).value_or("");
  webOptions.onPageLoad = [&ui](const std::string& acceptLanguage) {
    if (!acceptLanguage.empty()) ui.setLanguage(chooseLanguage(acceptLanguage));
  };
  web::WebServer server(ui.port(), webOptions);
  if (Status started = server.start(); !started) {
    std::cerr << "voryx serve: " << started.error().detail << "\n";
    return started.error().code == Errc::Invalid ? 2 : 1;
  }
  std::cout << server.url() << std::endl;
  if (Status kept = writeFileAtomically(paths.serveRecord, std::to_string(::getpid()) + "\n" + server.url() + "\n", 0600);
      !kept) {
    std::cerr << "voryx serve: " << kept.error().detail << "\n";
  }
  if (options.open) openInBrowser(server.url());

  {
    SignalWatch watch(ui);
    ui.run();
  }
  server.stop();
  // Another server may have written its own record meanwhile: only ours is removed.
  if (auto record = readServeRecord(paths.serveRecord); record && record->pid == ::getpid()) {
    std::error_code ignored;
    std::filesystem::remove(paths.serveRecord, ignored);
  }
  if (ui.transferRunning()) {
    std::cerr << "voryx serve: waiting for the transfer with the SIM to end\n";
  }
  return 0;
}

}  // namespace

void addServeCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ServeOptions>();
  auto* sub = app.add_subcommand(
      "serve",
      "Start the application: its screens are served to a browser; open the address it "
      "prints (it carries the access token)");
  sub->add_option("--port", options->port, "TCP port to listen on (0: any free port)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  sub->add_option("--listen", options->listen,
                  "Address to listen on, an IP address or a host name (anything but loopback lets "
                  "other machines reach the screens; they still need the token)")
      ->capture_default_str();
  sub->add_option("--contacts", options->contacts,
                  "The address book: a .vcf file or a folder of them (default: the \"contacts\" "
                  "path of the preferences file, else contacts.vcf in the data folder)")
      ->option_text("PATH");
  sub->add_flag("--new-token", options->newToken,
                "Make a new access token: addresses printed before stop working (the token "
                "is otherwise kept across restarts)");
  sub->add_flag("--open", options->open,
                "Open the address in the desktop's browser (xdg-open); when a server of this user "
                "is already running, open its address and end (status 0)");
  addModemOptions(*sub, options->modem);
  sub->add_flag("--simulate-card", options->modem.simulateCard,
                "Put the virtual SIM (the demo's, or --sim-file's) in the virtual card reader of "
                "vsmartcard-vpcd and use it (pcscd must be running)")
      ->excludes(sub->get_option("--simulate"))
      ->excludes(sub->get_option("--device"))
      ->excludes(sub->get_option("--reader"));
  addSimStateOptions(*sub, options->modem.simState);
  sub->footer("Every browser tab shows the same screens: the application keeps one state.\n"
              "Exit status: 0 stopped (SIGINT, SIGTERM), 1 could not start, 2 usage");
  sub->callback([options, &exitCode] { exitCode = runServe(*options); });
}

}  // namespace voryx

// voryx serve: the application. The screens run on this process's main thread; the HTTP
// server shows them to a browser on its own threads.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "app/Commands.h"
#include "app/ModemChoice.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
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

int runServe(const ServeOptions& options) {
  // Before any thread starts, so that every thread inherits the blocked signals.
  SignalWatch::blockInThisThread();
  Paths paths = startUp();
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

  {
    SignalWatch watch(ui);
    ui.run();
  }
  server.stop();
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
  addModemOptions(*sub, options->modem);
  addSimStateOptions(*sub, options->modem.simState);
  sub->footer("Every browser tab shows the same screens: the application keeps one state.\n"
              "Exit status: 0 stopped (SIGINT, SIGTERM), 1 could not start, 2 usage");
  sub->callback([options, &exitCode] { exitCode = runServe(*options); });
}

}  // namespace voryx

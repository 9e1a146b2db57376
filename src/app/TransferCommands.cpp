// voryx read / voryx write: the transfer jobs from a shell, with a progress bar on
// standard error fed by the same progress texts the screen shows.
//
// Exit status: 0 done; 1 the modem refused a write, fell silent, the listing or the
// database failed, or a read would drop changes not yet written; 2 usage; 3 no modem (no
// device opened, no answer, the line broke, or it answers too slowly).
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/ModemChoice.h"
#include "app/Startup.h"
#include "app/VoryxAppDelegate.h"
#include "base/Localized.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "transfer/TransferRunner.h"

namespace voryx {
namespace {

using transfer::JobOutcome;

struct TransferOptions {
  bool write = false;
  bool sms = false;
  std::string device;   // --device or VORYX_DEVICE
  bool simulate = false;
  std::string simFile;  // --sim-file: the virtual SIM's state, loaded and saved back
  bool discardChanges = false;  // read: replace rows that carry changes not yet written
};

// One status line on a terminal (redrawn in place), plain lines otherwise.
class ProgressBar {
 public:
  explicit ProgressBar(bool tty) : tty_(tty) {}

  void caption(const std::string& text) { line(text); }
  // One label per entry handled; `total` is the bar's end when known (0: unknown).
  void label(const std::string& text, int total) {
    ++count_;
    if (!tty_ || total <= 0) {
      line(text);
      return;
    }
    constexpr int kWidth = 30;
    int done = count_ >= total ? kWidth : count_ * kWidth / total;
    std::string bar(static_cast<std::size_t>(done), '#');
    bar.resize(kWidth, '-');
    std::fprintf(stderr, "\r\x1b[K[%s] %d/%d %s", bar.c_str(), count_, total, text.c_str());
    open_ = true;
  }
  void finish() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
  }

 private:
  void line(const std::string& text) {
    finish();
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  bool tty_;
  bool open_ = false;
  int count_ = 0;
};

// The command line's job host: its main loop is the calling thread, which runs what the
// job performs there until an end handler has run.
class CommandLineHost final : public transfer::JobHost {
 public:
  // `total`: the bar's end (the table's rows for a write, the SIM's last known capacity
  // for a read; 0 when unknown).
  CommandLineHost(bool tty, int total) : bar_(tty), total_(total) {}

  void updateCaption(const std::string& text) override {
    perform([this, text] { bar_.caption(text); });
  }
  void updateLabel(const std::string& text) override {
    perform([this, text] { bar_.label(text, total_); });
  }
  void endLoadSIM(const transfer::JobReport& report) override { end(report); }
  void endSaveSIM(const transfer::JobReport& report) override { end(report); }
  void showAlert(const std::string& title, const std::string& message) override {
    post([this, title, message] {
      bar_.finish();
      std::fprintf(stderr, "%s%s%s\n", title.c_str(), message.empty() ? "" : ": ",
                   message.c_str());
    });
  }

  // After run(): the ended job's report.
  const transfer::JobReport& report() const { return report_; }

  // The main loop: until the end handler ran.
  void run() {
    while (!ended_) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
    bar_.finish();
  }

 private:
  void end(const transfer::JobReport& report) {
    post([this, report] {
      report_ = report;
      ended_ = true;
    });
  }
  void post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
  }
  void perform(std::function<void()> task) {
    std::promise<void> done;
    post([&] {
      task();
      done.set_value();
    });
    done.get_future().wait();
  }

  ProgressBar bar_;
  int total_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool ended_ = false;  // main loop only
  transfer::JobReport report_;
};

int exitStatus(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Done: return 0;
    case JobOutcome::NoModem:
    case JobOutcome::TooSlow: return 3;
    case JobOutcome::WriteRefused:
    case JobOutcome::NoReply:
    case JobOutcome::ListingFailed:
    case JobOutcome::UnsentChanges:
    case JobOutcome::DatabaseError: return 1;
  }
  return 1;
}

int runTransfer(const TransferOptions& options) {
  const char* name = options.write ? "write" : "read";
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx " << name << ": " << *message << "\n";
    return 1;
  }
  Preferences preferences(paths.preferences);
  const ListStore store = options.sms ? ListStore::Sms : ListStore::Phonebook;
  const int sortField = preferences.integer(kPrefSort, 0);

  std::optional<ModemChoice> modem =
      chooseModem(options.simulate, options.simFile, options.device, name);
  if (!modem) return 3;

  transfer::JobContext context{paths.database(), modem->device, sortField};
  context.maxSIM = preferences.integer(kPrefMaxSIM, 0);
  // The bar's end: the table's rows for a write, the SIM's capacity for a read.
  int total = options.sms ? preferences.integer(kPrefMaxSMS, 0) : context.maxSIM;
  if (options.write) {
    total = static_cast<int>(loadEntries(paths.database(), store, "", sortField).entries.size());
  }
  CommandLineHost host(isatty(STDERR_FILENO) != 0, total);
  context.maxSIMLen = preferences.integer(kPrefMaxSIMLen, 14);
  context.discardChanges = options.discardChanges;
  const int tipoDisplay = options.sms ? 1 : 0;
  std::cerr << localized(options.write ? "WInitializing..." : "RInitializing...") << "\n";
  {
    transfer::TransferRunner runner(host);
    if (options.write ? !runner.save(tipoDisplay, context) : !runner.loadSIM(tipoDisplay, context)) {
      return 1;
    }
    host.run();
  }
  if (modem->simulation) modem->simulation->stop();

  // What the read learned is kept for the next run, as the screen keeps it.
  const transfer::JobReport& report = host.report();
  if (report.maxSIM && report.maxSIM->remember) preferences.store(kPrefMaxSIM, report.maxSIM->value);
  if (report.maxSIMLen) preferences.store(kPrefMaxSIMLen, *report.maxSIMLen);
  if (report.maxSMS && report.maxSMS->remember) preferences.store(kPrefMaxSMS, report.maxSMS->value);

  switch (report.outcome) {
    case JobOutcome::Done:
      if (options.write) {
        int stored = static_cast<int>(loadEntries(paths.database(), store, "", sortField).entries.size());
        std::cerr << "The SIM is up to date; the local " << (options.sms ? "SMS store" : "phonebook")
                  << " holds " << stored << " entries.\n";
      } else {
        std::cerr << "Read " << report.rows << (options.sms ? " messages" : " entries")
                  << " into the local database.\n";
      }
      break;
    case JobOutcome::UnsentChanges:
      std::cerr << "voryx read: use --discard-changes to read anyway.\n";
      break;
    case JobOutcome::WriteRefused:
      std::cerr << localized("Error writing phonebook") << "\n";
      [[fallthrough]];
    default:
      if (options.write && report.confirmed > 0) {
        std::cerr << report.confirmed << " entries reached the SIM; the others stay marked.\n";
      }
  }
  return exitStatus(report.outcome);
}

void addTransfer(CLI::App& app, int& exitCode, bool write) {
  auto options = std::make_shared<TransferOptions>();
  options->write = write;
  auto* sub = app.add_subcommand(
      write ? "write" : "read",
      write ? "Write the marked changes of the local phonebook (or SMS store) to the SIM"
            : "Read the SIM's phonebook (or SMS store) into the local database; a failed "
              "read keeps the local list");
  sub->add_flag("--sms", options->sms, "the SMS store instead of the phonebook");
  sub->add_option("--device", options->device, "the modem's AT port, e.g. /dev/ttyUSB2")
      ->envname("VORYX_DEVICE")
      ->option_text("PATH");
  sub->add_flag("--simulate", options->simulate,
                "talk to an in-process virtual modem holding the demo SIM (instead of any "
                "device)");
  sub->add_option("--sim-file", options->simFile,
                  "with the virtual modem: the SIM's state, read from FILE when it exists "
                  "and saved back to it")
      ->option_text("FILE");
  if (!write) {
    sub->add_flag("--discard-changes", options->discardChanges,
                  "read even when the local list holds changes not yet written to the SIM "
                  "(they are lost)");
  }
  sub->footer(
      "Exit status: 0 done, 1 the modem refused a write, the read failed or would drop "
      "unsent changes, 2 usage, 3 no modem answered (or it answers too slowly).");
  sub->callback([options, &exitCode] { exitCode = runTransfer(*options); });
}

}  // namespace

void addTransferCommands(CLI::App& app, int& exitCode) {
  addTransfer(app, exitCode, false);
  addTransfer(app, exitCode, true);
}

}  // namespace voryx

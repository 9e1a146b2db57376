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
#include <vector>

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
  ModemArgs modem;
  bool discardChanges = false;  // read: replace rows that carry changes not yet written
  bool quiet = false;           // no progress, no end line unless something failed
  std::string charset = "auto";  // --charset: hex, ucs2, gsm, ira, or auto (the negotiation)
};

// One status line on a terminal, redrawn in place: "[#####-----] 12/36 Reading phonebook…".
// Draws nothing when standard error is not a terminal, or with --quiet.
class ProgressBar {
 public:
  explicit ProgressBar(bool shown) : shown_(shown) {}

  void text(const std::string& text) {
    text_ = text;
    draw();
  }
  void step(int done, int total) {
    done_ = done;
    total_ = total;
    draw();
  }
  void finish() {
    if (open_) std::fputs("\r\x1b[K", stderr);
    open_ = false;
  }

 private:
  void draw() {
    if (!shown_) return;
    constexpr int kWidth = 30;
    std::string counter;
    if (total_ > 0) {
      std::string bar(static_cast<std::size_t>(done_ >= total_ ? kWidth : done_ * kWidth / total_), '#');
      bar.resize(kWidth, '-');
      counter = "[" + bar + "] " + std::to_string(done_) + "/" + std::to_string(total_) + " ";
    }
    std::fprintf(stderr, "\r\x1b[K%s%s", counter.c_str(), text_.c_str());
    std::fflush(stderr);
    open_ = true;
  }

  bool shown_;
  bool open_ = false;
  std::string text_;
  int done_ = 0;
  int total_ = 0;
};

// The command line's job host: its main loop is the calling thread, which runs what the
// job performs there until an end handler has run.
class CommandLineHost final : public transfer::JobHost {
 public:
  // `what`: the bar's text while entries go by ("Reading phonebook…"); the job's own
  // progress texts show until the first entry.
  CommandLineHost(bool shown, std::string what) : bar_(shown), what_(std::move(what)) {}

  void updateCaption(const std::string& text) override {
    perform([this, text] { bar_.text(text); });
  }
  void updateLabel(const std::string& text) override {
    perform([this, text] { bar_.text(stepping_ ? what_ : text); });
  }
  void updateProgress(int done, int total) override {
    perform([this, done, total] {
      stepping_ = true;
      bar_.text(what_);
      bar_.step(done, total);
    });
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
  std::string what_;
  bool stepping_ = false;
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
    case JobOutcome::CharsetRefused:
    case JobOutcome::UnsentChanges:
    case JobOutcome::DatabaseError: return 1;
  }
  return 1;
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What happened, in one line: "Read 36 entries (SIM capacity 250)", "Wrote 3 entries: 1 new,
// 1 changed, 1 deleted", "Nothing to write". Failures have been told by the job already;
// a write that stopped says what reached the SIM.
std::string endLine(const TransferOptions& options, const transfer::JobReport& report) {
  const char* one = options.sms ? "message" : "entry";
  const char* many = options.sms ? "messages" : "entries";
  if (report.outcome == JobOutcome::UnsentChanges) return "voryx read: use --discard-changes to read anyway";
  if (!options.write) {
    if (report.outcome != JobOutcome::Done) return {};
    const auto& capacity = options.sms ? report.maxSMS : report.maxSIM;
    std::string line = "Read " + counted(report.rows, one, many);
    if (capacity && capacity->remember) line += " (SIM capacity " + std::to_string(capacity->value) + ")";
    return line;
  }
  if (report.outcome == JobOutcome::Done && report.marked == 0) return "Nothing to write";
  std::string line;
  if (report.outcome == JobOutcome::WriteRefused) {
    line = localized("Error writing phonebook") + (report.refusal.empty() ? "" : ": " + report.refusal) + "\n";
  }
  if (report.outcome != JobOutcome::Done && report.confirmed == 0) return line + "Nothing was written";
  line += "Wrote " + counted(report.confirmed, one, many);
  std::vector<std::string> parts;
  if (report.added) parts.push_back(std::to_string(report.added) + " new");
  if (report.changed) parts.push_back(std::to_string(report.changed) + " changed");
  if (report.deleted) parts.push_back(std::to_string(report.deleted) + " deleted");
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? ": " : ", ") + parts[i];
  if (report.outcome != JobOutcome::Done) {
    line += "; " + counted(report.marked - report.confirmed, one, many) + " still to write";
  }
  return line;
}

int runTransfer(const TransferOptions& options) {
  const char* name = options.write ? "write" : "read";
  const Paths paths = startUp();
  if (auto message = VoryxAppDelegate(paths).createEditableCopyOfDatabaseIfNeeded()) {
    std::cerr << "voryx " << name << ": " << *message << "\n";
    return 1;
  }
  Preferences preferences(paths.preferences);
  const int sortField = preferences.integer(kPrefSort, 0);

  std::optional<ModemChoice> modem =
      chooseModem(options.modem, name, paths.preferences);
  if (!modem || !findModem(*modem, name, !options.quiet)) return 3;

  transfer::JobContext context{paths.database(), modem->device, sortField};
  context.maxSIM = preferences.integer(kPrefMaxSIM, 0);
  context.maxSIMLen = preferences.integer(kPrefMaxSIMLen, 14);
  context.discardChanges = options.discardChanges;
  // auto: the negotiation, UCS2 first when the setup screen's switch is on.
  context.charset.forced = transfer::charsetFromName(options.charset);
  context.charset.ucs2First = preferences.integer(kPrefUcs2, 0) != 0;
  context.createLog = shellCreateLog(paths);
  const char* what = options.write ? "Writing to the SIM…" : options.sms ? "Reading SMS…" : "Reading phonebook…";
  CommandLineHost host(!options.quiet && isatty(STDERR_FILENO) != 0, what);
  const int tipoDisplay = options.sms ? 1 : 0;
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

  const std::string done = endLine(options, report);
  if (!done.empty() && (!options.quiet || report.outcome != JobOutcome::Done)) {
    std::cerr << done << "\n";
  }
  return exitStatus(report.outcome);
}

void addTransfer(CLI::App& app, int& exitCode, bool write) {
  auto options = std::make_shared<TransferOptions>();
  options->write = write;
  auto* sub = app.add_subcommand(
      write ? "write" : "read",
      write ? "Write the marked changes of the local phonebook (or SMS store) to the SIM"
            : "Read the SIM's phonebook (or SMS store) into the local database (a failed "
              "read keeps the local list)");
  sub->add_flag("--sms", options->sms, "The SMS store instead of the phonebook");
  addModemOptions(*sub, options->modem);
  if (!write) {
    sub->add_flag("--discard-changes", options->discardChanges,
                  "Read even when the local list holds changes not yet written to the SIM "
                  "(they are lost)");
  }
  sub->add_option("--charset", options->charset,
                  "The modem's character set: hex, ucs2, gsm, ira, or auto (the first the modem "
                  "takes; UCS2 first when the setup screen says so). A set the modem refuses "
                  "changes nothing")
      ->check(CLI::IsMember({"hex", "ucs2", "gsm", "ira", "auto"}, CLI::ignore_case))
      ->capture_default_str();
  sub->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary, only errors");
  sub->footer(
      "Progress goes to standard error when it is a terminal.\n"
      "Exit status: 0 done, 1 the modem refused a write, the read failed or would drop "
      "unsent changes, 2 usage, 3 no modem answered (or it answers too slowly)");
  sub->callback([options, &exitCode] { exitCode = runTransfer(*options); });
}

}  // namespace

void addTransferCommands(CLI::App& app, int& exitCode) {
  addTransfer(app, exitCode, false);
  addTransfer(app, exitCode, true);
}

}  // namespace voryx

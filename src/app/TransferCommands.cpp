// voryx read / voryx write: the transfer jobs from a shell, with a progress bar on
// standard error fed by the same progress texts the screen shows. One command family, kept
// whole in one file.
//
// Exit status: 0 done; 1 the modem refused a write, fell silent, the listing or the
// database failed, or a read would drop changes not yet written; 2 usage; 3 no modem (no
// device opened, no answer, the line broke, or it answers too slowly); 4 the SIM is not
// ready (no SIM, busy, or a PIN or PUK not given or refused); 5 a write found a SIM other
// than the one the list was read from (nothing written). An SMS write that stored a
// changed message but could not delete its old copy (which stays on the SIM) ends with 3.
//
// voryx unlock: a SIM blocked after three wrong PINs, unblocked with its PUK and a new PIN.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <csignal>
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
#include "entries/SmsArchive.h"
#include "store/EntryList.h"
#include "store/Preferences.h"
#include "transfer/MessagingJobs.h"
#include "transfer/SimIdentity.h"
#include "transfer/SimState.h"
#include "transfer/TransferJobs.h"
#include "transfer/TransferRunner.h"

namespace voryx {
namespace {

using transfer::JobOutcome;


// The terminal's settings while a code is typed without echo, for the signal handler.
termios gShown{};

// Ctrl-C (or a hang-up, a kill) at the hidden prompt: the terminal gets its echo back
// before the process ends as the signal says.
void restoreEchoAndEnd(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &gShown);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// A line typed on the terminal without echo; nothing for an empty line or the end of
// input. Codes are short: a longer line is cut.
std::optional<std::string> readHidden(const std::string& prompt) {
  constexpr std::size_t kLongest = 64;
  constexpr std::array kEnding{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  termios shown{};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &shown) == 0;
  std::array<struct sigaction, kEnding.size()> before{};
  if (terminal) {
    gShown = shown;
    struct sigaction restore{};
    restore.sa_handler = restoreEchoAndEnd;
    for (std::size_t i = 0; i < kEnding.size(); ++i) ::sigaction(kEnding[i], &restore, &before[i]);
    termios hidden = shown;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  // The prompt only once echo is off: what is typed as soon as it shows is neither shown
  // nor flushed away.
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  std::string line;
  for (char c = 0; ::read(STDIN_FILENO, &c, 1) == 1 && c != '\n';) {
    if (c != '\r' && line.size() < kLongest) line += c;
  }
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
    for (std::size_t i = 0; i < kEnding.size(); ++i) ::sigaction(kEnding[i], &before[i], nullptr);
  }
  std::fputs("\n", stderr);
  if (line.empty()) return std::nullopt;  // end of input, or nothing typed: no answer
  return line;
}

// The codes the SIM may ask for in one run: each given on the command line answers its
// one question; otherwise, on a terminal, it is asked there without echo; without a
// terminal, nothing, and the reason said. Nothing is kept beyond the answer.
class CodeSource {
 public:
  CodeSource(std::string command, std::string pin, std::string puk = {}, std::string newPin = {},
             std::string pin2 = {})
      : command_(std::move(command)), pin_(std::move(pin)), puk_(std::move(puk)), newPin_(std::move(newPin)),
        pin2_(std::move(pin2)) {}

  // Main loop of the command line host.
  std::optional<std::string> answer(const transfer::CodeQuestion& question) {
    using Code = transfer::CodeQuestion::Code;
    std::string& given = question.code == Code::Pin    ? pin_
                         : question.code == Code::Puk  ? puk_
                         : question.code == Code::Pin2 ? pin2_
                                                       : newPin_;
    if (!given.empty()) return std::exchange(given, std::string());
    if (::isatty(STDIN_FILENO) == 0) {
      std::fprintf(stderr, "voryx %s: %s\n", command_.c_str(),
                   question.code == Code::Pin    ? "the SIM asks for its PIN: give --pin"
                   : question.code == Code::Pin2 ? "fixed dialling is written with PIN2: give --pin2"
                                                 : "the SIM asks for its PUK: give --puk and --new-pin");
      return std::nullopt;
    }
    std::fprintf(stderr, "%s\n", transfer::codeQuestionText(question).c_str());
    const std::string prompt = transfer::codeQuestionTitle(question) + ": ";
    std::optional<std::string> code = readHidden(prompt);
    if (!code || question.code != Code::NewPin) return code;
    const std::optional<std::string> again = readHidden(transfer::codeQuestionTitle(question) + " (" +
                                                        localized("again") + "): ");
    if (again == code) return code;
    std::fprintf(stderr, "voryx %s: %s\n", command_.c_str(),
                 localized("the two new PINs differ; nothing was sent to the SIM").c_str());
    return std::nullopt;
  }

 private:
  std::string command_;
  std::string pin_, puk_, newPin_, pin2_;
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
  // progress texts show until the first entry. `codes` answers the SIM's questions.
  CommandLineHost(bool shown, std::string what, CodeSource codes)
      : bar_(shown), what_(std::move(what)), codes_(std::move(codes)) {}

  void updateCaption(const std::string& text) override {
    perform([this, text] { bar_.text(text); });
  }
  void updateLabel(const std::string& text) override {
    perform([this, text] { bar_.text(stepping_ ? what_ : text); });
  }
  // A line of its own, above the bar.
  void showNote(const std::string& text) override {
    perform([this, text] {
      bar_.finish();
      std::fprintf(stderr, "%s\n", text.c_str());
    });
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

  std::optional<std::string> askCode(const transfer::CodeQuestion& question) override {
    std::optional<std::string> code;
    perform([&] {
      bar_.finish();
      code = codes_.answer(question);
    });
    return code;
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
  CodeSource codes_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool ended_ = false;  // main loop only
  transfer::JobReport report_;
};

int exitStatus(const transfer::JobReport& report) {
  if (report.outcome == JobOutcome::Done && report.skipped > 0) return 1;
  if (report.outcome == JobOutcome::Done && report.oldKept > 0) return 3;
  switch (report.outcome) {
    case JobOutcome::Done: return 0;
    case JobOutcome::NoModem:
    case JobOutcome::TooSlow: return 3;
    case JobOutcome::SimNotReady: return 4;
    case JobOutcome::OtherSim: return 5;
    case JobOutcome::NoReply: return 3;  // the modem stopped answering, as when it is gone
    case JobOutcome::WriteRefused:
    case JobOutcome::ListingFailed:
    case JobOutcome::CharsetRefused:
    case JobOutcome::StoreMissing:
    case JobOutcome::UnsentChanges:
    case JobOutcome::DatabaseError: return 1;
  }
  return 1;
}

// The stores the modem offered, for the setup screen's choice.
void rememberPhonebooks(Preferences& preferences, const std::vector<std::string>& codes) {
  const std::string list = phonebookList(codes);
  if (list.empty()) return;
  preferences.setText(kPrefPhonebooks, list);
  preferences.synchronize();
}

std::string upperCode(const std::string& store) {
  return std::string(phonebookKind(phonebookOf(store)).code);
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

constexpr const char* kCopyEntriesNote =
    "--to-other-sim: if this SIM is not the one the list was read from, every entry of the list "
    "is written onto it (not only the changes), each to its location; its other locations stay "
    "as they are.";
constexpr const char* kCopyMessagesNote =
    "--to-other-sim: if this SIM is not the one the list was read from, every message of the "
    "list is stored on it anew (not only the changes); its other messages stay as they are.";

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
    if (!options.sms && phonebookOf(options.store) != Phonebook::SM) line += " of " + upperCode(options.store);
    if (capacity && capacity->remember) line += " (SIM capacity " + std::to_string(capacity->value) + ")";
    return line;
  }
  if (report.outcome == JobOutcome::OtherSim) {
    return otherSimMessage(report) + " " +
           localized("Read this SIM first, or write with --to-other-sim to copy the list onto it.");
  }
  if (options.dryRun) {
    if (report.outcome != JobOutcome::Done) return {};
    const auto held = std::count_if(report.commands.begin(), report.commands.end(),
                                    [](const auto& c) { return c.second; });
    return "Dry run: nothing was written; " + counted(static_cast<int>(held), "change command", "change commands") +
           " held back (marked * above)";
  }
  if (report.outcome == JobOutcome::Done && report.marked == 0) return "Nothing to write";
  std::string line;
  if (report.outcome == JobOutcome::WriteRefused) {
    line = localized(options.sms ? "Error writing sms" : "Error writing phonebook") +
           (report.refusal.empty() ? "" : ": " + report.refusal) + "\n";
  }
  if (report.outcome != JobOutcome::Done && report.confirmed == 0) return line + "Nothing was written";
  line += "Wrote " + counted(report.confirmed, one, many);
  if (report.copiedOnto && report.outcome == JobOutcome::Done) line += " onto this SIM, the whole list";
  std::vector<std::string> parts;
  if (report.added) parts.push_back(std::to_string(report.added) + " new");
  if (report.changed) parts.push_back(std::to_string(report.changed) + " changed");
  if (report.deleted) parts.push_back(std::to_string(report.deleted) + " deleted");
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? ": " : ", ") + parts[i];
  if (report.marksPending) {
    line += "; " + localized("the local marks are cleared by the next read or write");
  } else if (report.outcome != JobOutcome::Done || report.unsent > report.oldKept) {
    line += "; " + counted(report.unsent, one, many) + " still to write";
  }
  if (report.oldKept > 0) line += "\n" + transfer::oldCopiesKeptMessage(report.oldKept);
  if (report.copiedOnto && report.leftovers > 0) line += "\n" + transfer::leftoversMessage(report);
  return line;
}

}  // namespace

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
  const Phonebook book = options.sms ? Phonebook::SM : phonebookOf(options.store);
  context.phonebook = book;
  context.maxSIM = preferences.integer(phonebookKey(kPrefMaxSIM, book), 0);
  context.maxSIMLen = preferences.integer(phonebookKey(kPrefMaxSIMLen, book), 14);
  context.maxNumberLen = preferences.integer(phonebookKey(kPrefMaxNumberLen, book), 0);
  context.discardChanges = options.discardChanges;
  // auto: the negotiation, UCS2 first when the setup screen's switch is on.
  context.charset.forced = codec::charsetFromName(options.charset);
  context.charset.ucs2First = preferences.integer(kPrefUcs2, 0) != 0;
  context.fast = options.fast == 0 ? preferences.integer(kPrefFast, 0) != 0 : options.fast > 0;
  context.createLog = shellCreateLog(paths);
  context.toOtherSim = options.toOtherSim;
  context.dryRun = options.dryRun;
  context.records = options.access.empty() ? preferences.integer(kPrefRecords, 0) != 0
                                           : options.access == "records";
  context.borrowModem = options.access == "modem";
  // Which way a modem ModemManager manages is reached, said first: its messaging leaves
  // calls and data alone; borrowing stops them for the transfer.
  if (options.sms) context.messaging = transfer::messagingModem(context);
  if (!options.quiet && context.device.line == nullptr) {
    if (context.messaging) {
      std::cerr << "voryx " << name << ": through ModemManager's messaging (" << context.messaging->name()
                << "; calls and mobile data go on)\n";
    } else if (!context.viaRecords() && managedByModemManager(context.device)) {
      std::cerr << "voryx " << name << ": borrowing the modem from ModemManager (calls and mobile data stop "
                << "until it ends)\n";
    }
  }
  if (options.toOtherSim && !options.quiet) {
    std::cerr << "voryx write: " << localized(options.sms ? kCopyMessagesNote : kCopyEntriesNote) << "\n";
  }
  const char* what = options.write ? "Writing to the SIM…" : options.sms ? "Reading SMS…" : "Reading phonebook…";
  CommandLineHost host(!options.quiet && isatty(STDERR_FILENO) != 0, what,
                       CodeSource(name, options.pin, {}, {}, options.pin2));
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
  if (report.maxSIM && report.maxSIM->remember) preferences.store(phonebookKey(kPrefMaxSIM, book), report.maxSIM->value);
  if (report.maxSIMLen) preferences.store(phonebookKey(kPrefMaxSIMLen, book), *report.maxSIMLen);
  if (report.maxNumberLen) preferences.store(phonebookKey(kPrefMaxNumberLen, book), *report.maxNumberLen);
  if (report.phonebooks) rememberPhonebooks(preferences, *report.phonebooks);
  if (report.nameSets && *report.nameSets != 0) preferences.store(kPrefNameSets, *report.nameSets);
  if (report.maxSMS && report.maxSMS->remember) preferences.store(kPrefMaxSMS, report.maxSMS->value);

  if (options.dryRun) {
    std::string out;
    for (const auto& [line, held] : report.commands) out += (held ? "* " : "  ") + line + "\n";
    std::cout << out << std::flush;
  }
  const std::string done = endLine(options, report);
  if (!done.empty() && (!options.quiet || report.outcome != JobOutcome::Done)) {
    std::cerr << done << "\n";
  }
  // A full store takes no new message: said even with --quiet, as a fault is.
  if (!options.write && options.sms && report.outcome == JobOutcome::Done && report.maxSMS &&
      report.maxSMS->remember) {
    const std::string full = entries::messageStoreFullMessage(report.rows, report.maxSMS->value);
    if (!full.empty()) std::cerr << full << " (voryx sms --archive FILE --clear)\n";
  }
  return exitStatus(report);
}

namespace {

void addTransfer(CLI::App& app, int& exitCode, bool write) {
  auto options = std::make_shared<TransferOptions>();
  options->write = write;
  auto* sub = app.add_subcommand(
      write ? "write" : "read",
      write ? "Write the marked changes of the local phonebook (or SMS store) to the SIM"
            : "Read the SIM's phonebook (or SMS store) into the local database (a failed "
              "read keeps the local list)");
  auto* sms = sub->add_flag("--sms", options->sms, "The SMS store instead of the phonebook");
  addPhonebookOption(*sub, options->store)->excludes(sms);
  addModemOptions(*sub, options->modem);
  if (write) {
    sub->add_flag("--to-other-sim", options->toOtherSim,
                  "When the SIM in the modem is not the one the list was read from, copy the whole "
                  "list onto it (every entry, not only the changes; its other locations stay as they are)");
    sub->add_flag("--dry-run", options->dryRun,
                  "Talk to the modem up to the first change, then print every command the write "
                  "would send (* before those held back) and send no change");
  }
  if (!write) {
    sub->add_flag("--discard-changes", options->discardChanges,
                  "Read even when the local list holds changes not yet written to the SIM "
                  "(they are lost)");
  }
  sub->add_option("--pin", options->pin,
                  "The SIM's PIN, when it asks for one (sent once, never stored; without it a "
                  "terminal asks, hidden)")
      ->option_text("PIN");
  if (write) {
    sub->add_option("--pin2", options->pin2,
                    "The SIM's PIN2, for a write of fixed dialling (--store FD; sent once, never "
                    "stored; without it a terminal asks, hidden)")
        ->option_text("PIN2");
  }
  sub->add_option("--charset", options->charset,
                  "The modem's character set: hex, ucs2, gsm, ira, or auto (the first the modem "
                  "takes; UCS2 first when the setup screen says so). A set the modem refuses "
                  "changes nothing")
      ->check(CLI::IsMember({"hex", "ucs2", "gsm", "ira", "auto"}, CLI::ignore_case))
      ->capture_default_str();
  sub->add_flag("--fast,!--no-fast", options->fast,
                "Take a reply as complete at its final result code (OK, ERROR), not after half "
                "a second of quiet; default: the setup screen's \"Fast transfers\"");
  sub->add_option("--access", options->access,
                  "How the SIM is reached through the modem: commands (its phonebook and message "
                  "commands; messages through ModemManager's messaging when ModemManager manages the "
                  "modem and offers it), records (the SIM's own files, with AT+CRSM, for modems whose "
                  "phonebook commands fail; each reply then ends at its final result code), or modem "
                  "(the modem's commands, the modem borrowed from ModemManager even when its messaging "
                  "is offered); default: the setup screen's \"Read the SIM's files "
                  "directly\". A card reader (--reader) always reads the records")
      ->check(CLI::IsMember({"commands", "records", "modem"}))
      ->option_text("HOW");
  sub->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary, only errors");
  sub->footer(
      "Progress goes to standard error when it is a terminal.\n"
      "Exit status: 0 done, 1 the modem refused a write, the read failed or would drop "
      "unsent changes, 2 usage, 3 no modem answered (or it answers too slowly)" +
          std::string(write ? ", or the old copy of a changed message could not be deleted and "
                              "stays on the SIM (the next write deletes it)" : "") +
          ", 4 the SIM is not ready (missing, busy, or a PIN not given or refused)" +
          std::string(write ? ", 5 the SIM is not the one the list was read from (nothing "
                              "was written)" : ""));
  sub->callback([options, &exitCode] { exitCode = runTransfer(*options); });
}

struct UnlockOptions {
  ModemArgs modem;
  std::string puk;
  std::string newPin;
};

int runUnlock(const UnlockOptions& options) {
  const Paths paths = startUp();
  std::optional<ModemChoice> modem = chooseModem(options.modem, "unlock", paths.preferences);
  // The PUK goes through the modem's AT port (borrowed from ModemManager when it keeps the
  // modem), never through qmi-proxy.
  if (!modem || !findModem(*modem, "unlock", true, false)) return 3;
  transfer::JobContext context{paths.database(), modem->device, 0};
  context.createLog = shellCreateLog(paths);
  CommandLineHost host(false, {}, CodeSource("unlock", {}, options.puk, options.newPin));
  {
    transfer::TransferRunner runner(host);
    if (!runner.unlock(context)) return 1;
    host.run();
  }
  if (modem->simulation) modem->simulation->stop();
  return exitStatus(host.report());
}

void addUnlock(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<UnlockOptions>();
  auto* sub = app.add_subcommand(
      "unlock", "Unblock a SIM blocked after three wrong PINs, with its PUK and a new PIN");
  addModemOptions(*sub, options->modem);
  sub->add_option("--puk", options->puk,
                  "The SIM's PUK (8 digits, on the card the SIM came on); without it a terminal asks, hidden")
      ->option_text("PUK");
  sub->add_option("--new-pin", options->newPin,
                  "The SIM's new PIN (4 to 8 digits); without it a terminal asks twice, hidden")
      ->option_text("PIN");
  sub->footer(
      "The PUK is sent once: after ten wrong PUKs a SIM is blocked for good.\n"
      "Exit status: 0 unblocked (or not blocked), 2 usage, 3 no modem answered, 4 the PUK "
      "was refused or not given, or there is no SIM");
  sub->callback([options, &exitCode] { exitCode = runUnlock(*options); });
}

}  // namespace

void addTransferCommands(CLI::App& app, int& exitCode) {
  addTransfer(app, exitCode, false);
  addTransfer(app, exitCode, true);
  addUnlock(app, exitCode);
}

}  // namespace voryx

// The driver of every write pass, whichever way it reaches the SIM (the modem's commands,
// the SIM's records): the table's full list, the line and the SIM's identity, the
// journals, one entry step per row with its progress line, the verdict on each entry, and
// the sweep that clears the marks of what the SIM took.
#include "transfer/WritePass.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/DebugLog.h"
#include "base/Localized.h"
#include "codec/Charset.h"
#include "modem/ErrorText.h"
#include "modem/Traffic.h"
#include "store/SimTable.h"
#include "transfer/JobSession.h"
#include "transfer/SimIdentity.h"
#include "transfer/TransferJobs.h"

namespace voryx::transfer {

const LineWording kWriteWording{
    "Write to SIM",
    "No modem could be opened; nothing was written.",
    "The modem did not answer; nothing was written.",
    "The connection to the modem was lost; the changes not yet written stay marked and "
    "will be sent again.",
    "The modem answers too slowly; the changes not yet written stay marked.",
    "The modem refused the character set; nothing was written.",
    "The card left the reader; the changes not yet written stay marked and will be sent "
    "again.",
    "ModemManager is holding this modem; it gets it back when the write ends",
    "this card reader is in use by another program; nothing was written. Close that program, or wait until "
    "it lets the card go, and try again.",
    "Through ModemManager's messaging: the modem stays ModemManager's, calls and data go on",
};

namespace {

constexpr const char* kListUnreadable = "The local database could not be read; nothing was written.";
constexpr const char* kSweepFailed =
    "The SIM was written, but the local marks could not be cleared; the next write sends "
    "the same changes again.";
// The sweep failed, but the pass journal holds what the SIM took.
constexpr const char* kSweepPending =
    "The SIM was written, but the local marks could not be cleared now; the next read or "
    "write clears them first and sends nothing twice.";
constexpr const char* kJournalFailed =
    "What the SIM took could not be recorded; the write stopped.";
constexpr const char* kIntentFailed =
    "The message about to be stored could not be recorded first; the write stopped before "
    "sending it.";
constexpr const char* kStoppedAnswering =
    "The modem stopped answering; the changes not yet written stay marked and will be sent again.";
constexpr const char* kIdentityUnreadable =
    "The modem does not tell which SIM is in it, so it cannot be checked that this is the SIM "
    "the list was read from; the write goes on.";
constexpr const char* kTooLongKey = "Too long for a modem command, entry nr.";
constexpr const char* kOccupiedKey = "location %d on the SIM holds another entry; read first";

// A token no other pass has: the journal's name for this one.
std::string passToken() {
  std::random_device random;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  return std::to_string(now) + "-" + std::to_string(random()) + std::to_string(random());
}

// The progress line of one entry (a string-table key): what the pass does with the row,
// by its mark. Shown for every row, the rows in step too.
const char* progressKey(ListStore store, int mark) {
  const bool sms = store == ListStore::Sms;
  if (mark == kMarkInStep) return sms ? "Analyzing sms entry nr." : "Analyzing phonebook entry nr.";
  if (mark == kMarkDeleted) return sms ? "Deleting sms entry nr." : "Deleting phonebook entry nr.";
  return sms ? "Writing sms entry nr." : "Writing phonebook entry nr.";
}

// One write pass, step by step: load, identity, journal, pass, sweep. Each step that can
// end the pass returns false, with the report saying why.
class WriteRun {
 public:
  WriteRun(const JobContext& context, const WritePass& pass, JobSession& s)
      : context_(context), pass_(pass), s_(s),
        // The whole table, the rows on display first (in the screen's order), then the
        // rows a search hid from the screen: none may stay unsent.
        table_(SimTable::open(context.database, pass.store, kShellBusy, context.phonebook)) {
    report_.sms = pass.store == ListStore::Sms;
  }

  JobReport run() {
    VORYX_LOG_IF(s_.logging(), "open baseband model |%s|\n", s_.machine().c_str());
    if (!load() || !identity() || !journal()) return report_;
    if (context_.dryRun) s_.holdChanges();
    pass();
    s_.close();
    if (report_.outcome == JobOutcome::Done) report_.retcode = 0;
    if (context_.dryRun) {
      report_.commands = s_.commands();
      return report_;
    }
    sweep();
    return report_;
  }

 private:
  // The table's rows for the pass, once what an earlier pass left in its journal is the
  // table's: the messages it was storing when it ended wait for a look at the SIM.
  bool load() {
    applied_ = table_ && !context_.dryRun ? table_->applyJournal(&unsettled_) : Status(Ok{});
    list_ = listTable();
    if (!list_) {
      s_.alert(kWriteWording.title, localized(kListUnreadable) + " (" + list_.error().detail + ")");
      report_.outcome = JobOutcome::DatabaseError;
      return false;
    }
    return sameLocations();
  }

  // The rows' locations name messages the way this pass does (ModemManager's numbers, or
  // the SIM's indexes), unless every row is new: a delete or a change aimed by the other
  // numbering would hit another message. Refused before anything is opened: the SIM is to
  // be read this way first.
  bool sameLocations() {
    if (pass_.store != ListStore::Sms) return true;
    const bool located = std::any_of(list_->begin(), list_->end(),
                                     [](const SimEntry& e) { return e.operazione != kMarkNew; });
    auto recorded = table_->locations();
    if (!located || (recorded && *recorded == pass_.locations)) return true;
    const bool byManager = recorded && *recorded == Locations::ModemManager;
    report_.outcome = JobOutcome::WriteRefused;
    report_.retcode = 1;
    report_.refusal = localized(
        byManager ? "the list was read through ModemManager's messaging, which numbers the messages its own way; "
                    "this write borrows the modem: read the messages this way first (voryx read --sms --access "
                    "modem), or write while ModemManager offers its messaging"
                  : "the list was read over the modem's commands or the SIM's files, and this write goes through "
                    "ModemManager's messaging, which numbers the messages its own way: read the messages this way "
                    "first, or write with --access modem");
    VORYX_LOG_IF(s_.logging(), "sms locations differ, nothing written |%s|\n", report_.refusal.c_str());
    return false;
  }

  Result<std::vector<SimEntry>> listTable() {
    if (!table_) return table_.error();
    if (!applied_) return applied_.error();
    auto shown = table_->list(context_.search, context_.sortField);
    if (!shown || context_.search.empty()) return shown;
    auto all = table_->list("", context_.sortField);
    if (!all) return all.error();
    std::set<std::int32_t> seen;
    for (const SimEntry& e : *shown) seen.insert(e.posizione);
    for (SimEntry& e : *all) {
      if (!seen.count(e.posizione)) shown->push_back(std::move(e));
    }
    return shown;
  }

  // The line opened and set up, and the SIM in it checked against the one the list was
  // read from; what the pass then knows of the SIM goes into the scope.
  bool identity() {
    if (!s_.open()) {
      report_.outcome = s_.failure();
      return false;
    }
    if (!pass_.setUp(s_, scope_) || !checkIdentity()) {
      if (report_.outcome == JobOutcome::Done) report_.outcome = s_.failure();
      report_.commands = s_.commands();
      return false;
    }
    // A record takes a name in any of the SIM's forms: the most compact one is chosen.
    if (pass_.store == ListStore::Phonebook) report_.nameSets = scope_.records ? codec::kNameSetHex : s_.nameSets();
    scope_.checkEmpty = pass_.store == ListStore::Phonebook && !copyOnto_;
    if (scope_.checkEmpty && readFromThis_) {
      auto held = table_->seen();
      if (held) {
        scope_.listed.emplace();
        for (const auto& [location, seen] : *held) scope_.listed->insert(location);
      }
    }
    return true;
  }

  // The SIM in the modem against the one the list was read from, before any change
  // command. False when the write must not go on: the dialogue ended, the table could not
  // say, or another SIM is in and the context does not copy the list onto it (OtherSim,
  // with both SIMs named in the report). `copyOnto_` is that other SIM when the context
  // copies; `readFromThis_` says whether the table's last read is known to come from this
  // very SIM.
  bool checkIdentity() {
    readFromThis_ = false;
    auto recorded = table_->identity();
    if (!recorded) {
      s_.alert(kWriteWording.title, localized(kListUnreadable) + " (" + recorded.error().detail + ")");
      report_.outcome = JobOutcome::DatabaseError;
      return false;
    }
    SimIdentity inserted;
    if (!askIdentity(s_, inserted)) return false;
    const SimIdentity readFrom = recorded->value_or(SimIdentity{});
    if (!inserted.known()) {
      // Many older modems refuse both commands: the write goes on, and the user knows it
      // was not checked.
      if (readFrom.known()) s_.alert(kWriteWording.title, localized(kIdentityUnreadable));
      return true;
    }
    const SameSim same = sameSim(readFrom, inserted);
    readFromThis_ = recorded->has_value() && same == SameSim::Yes;
    if (same != SameSim::No) return true;
    if (s_.context().toOtherSim) {
      copyOnto_ = inserted;
      VORYX_LOG_IF(s_.logging(), "copy onto other sim |%s| read from |%s|\n", inserted.iccid.c_str(),
                   readFrom.iccid.c_str());
      return true;
    }
    report_.outcome = JobOutcome::OtherSim;
    report_.readFrom = shortSimName(readFrom);
    report_.thisSim = shortSimName(inserted);
    VORYX_LOG_IF(s_.logging(), "other sim |%s| read from |%s|, nothing written\n",
                 inserted.iccid.c_str(), readFrom.iccid.c_str());
    return false;
  }

  // The journals: the messages an earlier pass was storing when it ended are looked for on
  // the SIM, and those it holds are not sent again (a list copied onto another SIM leaves
  // that for its own); then this pass's journal is started (a list copied onto another SIM
  // keeps none: it is sent whole again until it is all on that SIM).
  bool journal() {
    if (!unsettled_.empty() && pass_.settle && !copyOnto_ && !context_.dryRun) {
      std::vector<Confirmed> found;
      if (!pass_.settle(s_, scope_, *list_, unsettled_, found)) {
        report_.outcome = s_.failure();
        return false;
      }
      Status settled = table_->settleJournal(found);
      if (settled) {
        list_ = listTable();
        if (!list_) settled = list_.error();
      }
      if (!settled) {
        s_.alert(kWriteWording.title, localized(kListUnreadable) + " (" + settled.error().detail + ")");
        report_.outcome = JobOutcome::DatabaseError;
        return false;
      }
    }
    if (pass_.store == ListStore::Sms) {
      auto held = table_->records();
      if (held) scope_.held = std::move(*held);
    }
    journaling_ = !context_.dryRun && !copyOnto_;
    token_ = passToken();
    if (journaling_) {
      scope_.intend = [this](const Confirmed& intent) {
        Status recorded = table_->journal(token_, intent);
        if (!recorded) VORYX_LOG_IF(s_.logging(), "journal |%s|\n", recorded.error().detail.c_str());
        return recorded.ok();
      };
    }
    journaledAll_ = journaling_;
    return true;
  }

  // Every row in turn: its progress line, its entry step (none for a row in step), what
  // the SIM took recorded in the journal, and the verdict on it.
  void pass() {
    std::vector<SimEntry>& list = *list_;
    report_.marked = static_cast<int>(std::count_if(list.begin(), list.end(), [&](const SimEntry& e) {
      return copyOnto_ ? e.operazione != kMarkDeleted : e.operazione != kMarkInStep;
    }));
    int sent = 0;
    for (std::size_t i = 0; i < list.size() && report_.outcome == JobOutcome::Done; ++i) {
      const SimEntry& entry = list[i];
      SimEntry asSent = entry;
      if (copyOnto_) {
        if (entry.operazione == kMarkDeleted) {
          // Left out: that SIM's locations are not the first SIM's, nothing is erased
          // there; the rows go once the whole list is on it.
          leftOut_.push_back(Confirmed::of(entry, Confirmed::What::Erased));
          continue;
        }
        // Every row goes, to its location; a message is stored anew (nothing of the other
        // SIM is deleted first).
        asSent.operazione = pass_.store == ListStore::Sms ? kMarkNew : kMarkChanged;
      }
      if (asSent.operazione != kMarkInStep) s_.step(++sent, report_.marked);
      s_.progress(progressKey(pass_.store, asSent.operazione), asSent.posizione);
      if (asSent.operazione == kMarkInStep) continue;
      const std::size_t before = confirmed_.size();
      const Verdict v = pass_.entry(s_, scope_, asSent, static_cast<int>(i), lastNumber_, confirmed_);
      // The sweep matches a row by what the pass read from the table.
      for (std::size_t k = before; k < confirmed_.size(); ++k) confirmed_[k].sent = entry;
      Status recorded = Ok{};
      for (std::size_t k = before; journaling_ && recorded && k < confirmed_.size(); ++k) {
        recorded = table_->journal(token_, confirmed_[k]);
      }
      if (!recorded) {
        s_.alert(kWriteWording.title, localized(kJournalFailed) + " (" + recorded.error().detail + ")");
        report_.outcome = JobOutcome::DatabaseError;
        journaledAll_ = false;
        break;
      }
      verdict(v, entry);
    }
  }

  // What one entry's verdict does to the pass and its report.
  void verdict(Verdict v, const SimEntry& entry) {
    switch (v) {
      case Verdict::Go:
        break;
      case Verdict::Ended:
        report_.outcome = s_.failure();
        break;
      case Verdict::Unrecorded:
        s_.alert(kWriteWording.title, localized(kIntentFailed));
        report_.outcome = JobOutcome::DatabaseError;
        journaledAll_ = false;
        break;
      case Verdict::TooLong:
        scope_.skipped = localized(kTooLongKey) + " " + std::to_string(entry.posizione);
        [[fallthrough]];
      case Verdict::Skipped:
        // The row keeps its mark; the others are written all the same.
        report_.retcode = 1;
        ++report_.skipped;
        s_.alert(pass_.errorTitle, scope_.skipped);
        VORYX_LOG_IF(s_.logging(), "entry %d skipped: %s\n", entry.posizione, scope_.skipped.c_str());
        break;
      case Verdict::NoReply:
        s_.alert(pass_.errorTitle, localized(kStoppedAnswering));
        VORYX_LOG_IF(s_.logging(), "no reply to the write of |%s|\n", lastNumber_.c_str());
        report_.outcome = JobOutcome::NoReply;
        break;
      case Verdict::Occupied:
        report_.retcode = 1;
        report_.outcome = JobOutcome::WriteRefused;
        report_.refusal = localized(kOccupiedKey);
        if (auto at = report_.refusal.find("%d"); at != std::string::npos) {
          report_.refusal.replace(at, 2, std::to_string(entry.posizione));
        }
        VORYX_LOG_IF(s_.logging(), "location %d holds another entry, nothing written there\n",
                     entry.posizione);
        break;
      case Verdict::Refused:
        report_.retcode = 1;
        report_.outcome = JobOutcome::WriteRefused;
        if (!scope_.refusal.empty()) {
          report_.refusal = scope_.refusal;
          break;
        }
        report_.refusal = modem::refusalSentence(s_.answer());
        modem::logRefusal(s_.logging(), s_.answer());
        break;
    }
  }

  // Whatever ended the pass, what the SIM took is no longer a change to send: the marks
  // are cleared, the journal settled, and the report counts what went.
  void sweep() {
    report_.copiedOnto = copyOnto_.has_value();
    if (copyOnto_ && report_.outcome != JobOutcome::Done) {
      // Part of the list is on the other SIM, which is not yet the list's: every mark
      // stays (for the first SIM), and the next copy sends the whole list again.
      confirmed_.clear();
    }
    const bool copied = copyOnto_ && report_.outcome == JobOutcome::Done;
    if (copied) confirmed_.insert(confirmed_.end(), leftOut_.begin(), leftOut_.end());

    if (!confirmed_.empty() || report_.outcome == JobOutcome::Done) {
      Status swept = table_->sweep(confirmed_, copied ? copyOnto_ : std::nullopt, journaling_ ? token_ : "");
      if (!swept) {
        const bool pending = journaledAll_ && !confirmed_.empty();
        s_.alert(kWriteWording.title,
                 localized(pending ? kSweepPending : kSweepFailed) + " (" + swept.error().detail + ")");
        report_.outcome = JobOutcome::DatabaseError;
        report_.marksPending = pending;
      } else if (journaling_) {
        // Applied with its token: a journal left behind is recognised and only removed. A
        // message whose answer never came stays unsettled for the next pass to look for;
        // one the modem refused is known not to be on the SIM.
        if (report_.outcome == JobOutcome::Done || report_.outcome == JobOutcome::WriteRefused) {
          (void)table_->settleJournal({});
        } else {
          (void)table_->applyJournal();
        }
      }
    }
    // What is still to write, counted as `status` counts it.
    if (auto marked = table_->countMarked()) report_.unsent = *marked;
    if (copied) confirmed_.resize(confirmed_.size() - leftOut_.size());  // not counted as sent
    report_.confirmed = static_cast<int>(confirmed_.size());
    for (const Confirmed& c : confirmed_) {
      if (c.oldKept) ++report_.oldKept;
      if (c.what == Confirmed::What::Erased) {
        report_.deleted += c.sent.operazione == kMarkDeleted ? 1 : 0;
      } else {
        ++(c.sent.operazione == kMarkNew ? report_.added : report_.changed);
      }
    }
  }

  const JobContext& context_;
  const WritePass& pass_;
  JobSession& s_;
  JobReport report_;
  Result<SimTable> table_;
  Status applied_ = Ok{};
  // The messages an earlier pass was storing when it ended (from its journal).
  std::vector<Confirmed> unsettled_;
  Result<std::vector<SimEntry>> list_ = std::vector<SimEntry>{};
  std::optional<SimIdentity> copyOnto_;
  bool readFromThis_ = false;
  PassScope scope_;
  std::vector<Confirmed> confirmed_;
  // A list copied onto another SIM leaves out its deleted rows until the whole list is on it.
  std::vector<Confirmed> leftOut_;
  std::string lastNumber_;
  bool journaling_ = false;
  bool journaledAll_ = false;
  std::string token_;
};

}  // namespace

JobReport runWrite(const JobContext& context, const WritePass& pass, JobSession& s) {
  return WriteRun(context, pass, s).run();
}

}  // namespace voryx::transfer

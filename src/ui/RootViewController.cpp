// The main screen (RootViewController.h): its list, title, buttons and transfers. Its
// commands on entries are in RootViewEntries.cpp, its sheets in RootViewSheets.cpp, the
// address book's screens it opens in RootViewPickers.cpp, its commands on files in
// FileCommands.
#include "ui/RootViewController.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/Localized.h"
#include "base/DebugLog.h"
#include "entries/Pending.h"
#include "entries/SmsArchive.h"
#include "transfer/TransferJobs.h"
#include "store/SimTable.h"
#include "transfer/SimIdentity.h"
#include "ui/About.h"
#include "ui/GradientView.h"
#include "ui/Notices.h"
#include "ui/SetupViewController.h"

namespace voryx {
namespace {

constexpr const char* kDatabaseInUse = "The database is in use by another program; try again.";
constexpr const char* kUnsentChangesKey =
    "changes not yet written to the SIM will be lost. Read anyway?";
constexpr const char* kUnsentChangeKey = "change not yet written to the SIM will be lost. Read anyway?";
// After the shell's advice for a write that found another SIM, in the screen's terms.
constexpr const char* kOtherSimAdvice = "Read this SIM first, or tap Write anyway to copy the whole list onto it.";
// What a copy onto another SIM sends, said before it starts (the shell's --to-other-sim note).
constexpr const char* kCopyEntriesNote =
    "Every entry of the list is written onto this SIM (not only the changes), each to its "
    "location; its other locations stay as they are.";
constexpr const char* kCopyMessagesNote =
    "Every message of the list is stored on this SIM anew (not only the changes); its other "
    "messages stay as they are.";
constexpr const char* kCopiedKey = "The whole list was copied onto this SIM; the list now belongs to it.";
constexpr const char* kPartlyCopiedKey =
    "The list was not copied whole onto this SIM: it still belongs to the SIM it was read "
    "from, and every change stays marked.";

// Longest search text taken from the page; a person types far less.
constexpr std::size_t kLongestSearch = 256;

// The word a row shows beside its colour for what the next write does with it, so that
// the mark does not rest on colour alone; none for a row in step with the SIM. (A
// message's words have keys of their own: in Italian they agree with "messaggio".)
const char* markWord(std::int32_t mark, bool message) {
  switch (mark) {
    case kMarkNew: return message ? "mark: new message" : "mark: new";
    case kMarkChanged: return message ? "mark: changed message" : "mark: changed";
    case kMarkDeleted: return message ? "mark: deleted message" : "mark: deleted";
    default: return nullptr;
  }
}

kit::BarButton button(std::string id, std::function<void()> action) {
  kit::BarButton b;
  b.id = std::move(id);
  b.action = std::move(action);
  return b;
}

}  // namespace

RootViewController::RootViewController(kit::UiApplication& app, SnoopWindow& window,
                                       Paths& paths, Preferences& preferences,
                                       modem::DeviceChoice device)
    : kit::Screen("RootViewController"),
      app_(app),
      window_(window),
      paths_(paths),
      preferences_(preferences),
      device_(std::move(device)),
      watch_(paths.database()),
      files_(app, paths, preferences),
      transfers_(app, [this](bool write, const transfer::JobReport& r) { transferEnded(write, r); }) {
  tabella.rowHeight = kRowHeight;
  leggi = button("leggi", [this] { leggiPressed(); });
  scrivi = button("scrivi", [this] { scriviPressed(); });
  add = button("add", [this] { addPressed(); });
  tool = button("tool", [this] { toolPressed(); });
  search.id = "search";
  tipo.id = "tipo";
  tipo.items = {localized("Phonebook"), localized("SMS")};
  add.title = localized("Add");
  tool.title = localized("Tools");
  setToolbarItems({&leggi, &add, &tool, &scrivi});
}

void RootViewController::languageDidChange() {
  search.placeholder = localized("Search");
  search.cancelTitle = localized("Cancel");
  tipo.items = {localized("Phonebook"), localized("SMS")};
  add.title = localized("Add");
  tool.title = localized("Tools");
  nameStoreButtons();
  setupButton_.title = localized("Setup");
  howtoButton_.title = localized("How to");
}

RootViewController::~RootViewController() { app_.notifications().removeObserver(this); }

// The phone's own memory is not the SIM: the buttons say where they read and write.
void RootViewController::nameStoreButtons() {
  const bool phone = tipoDisplay == 0 && book == Phonebook::ME;
  leggi.title = localized(phone ? "Read from phone" : "Read from SIM");
  scrivi.title = localized(phone ? "Write to phone" : "Write to SIM");
}

void RootViewController::viewDidLoad() {
  createLog = 0;
  tipoDisplay = 0;
  setupButton_ = button("setup", [this] { setup(); });
  howtoButton_ = button("howto", [this] { howto(); });
  languageDidChange();
  setLeftButton(&setupButton_);
  setRightButton(&howtoButton_);
  contatti.clear();
  takePhonebookPreferences();
  tool.enabled = book == Phonebook::SM;
  if (watch_.changed()) watch_.seen();  // what the first load shows
  loadDB();
  window_.setListView(&app_.navigation().view());
  watchDatabase();
  auto& center = app_.notifications();
  center.addObserver(this, "DoubleTapTop", [this](const kit::Notification& n) { gotop(n); });
  center.addObserver(this, "DoubleTapMiddle", [this](const kit::Notification& n) { gomiddle(n); });
  center.addObserver(this, "DoubleTapBottom", [this](const kit::Notification& n) { gobottom(n); });
}

void RootViewController::viewDidAppear() {
  preferences_.synchronize();
  sortField = preferences_.integer(kPrefSort, 0);
  const bool otherBook = takePhonebookPreferences();
  maxSMS = preferences_.integer(kPrefMaxSMS, 0);
  tool.enabled = tipoDisplay != 1 && book == Phonebook::SM;
  if (otherBook && tipoDisplay == 0) loadDB();
  setCountTitle(',', capacity());
}

bool RootViewController::takePhonebookPreferences() {
  const Phonebook chosen = phonebookNamed(preferences_.text(kPrefPhonebook).value_or("SM")).value_or(Phonebook::SM);
  const bool changed = chosen != book;
  book = chosen;
  maxSIM = preferences_.integer(phonebookKey(kPrefMaxSIM, book), 0);
  maxSIMLen = preferences_.integer(phonebookKey(kPrefMaxSIMLen, book), kDefaultMaxSIMLen);
  add.enabled = !readOnly();
  nameStoreButtons();
  return changed;
}

// "Vorx (36/250)"; another phonebook store than the SIM's names itself: "Vorx FD (2/10)".
void RootViewController::setCountTitle(char separator, int capacity) {
  const std::string store = tipoDisplay == 0 && book != Phonebook::SM ? " " + std::string(phonebookKind(book).code) : "";
  setTitle("Vorx" + store + " (" + std::to_string(contatti.size()) + separator + std::to_string(capacity) + ")");
}

void RootViewController::loadDB() {
  if (tipoDisplay == 0) loadDB1();
  if (tipoDisplay == 1) loadDB2();
}

void RootViewController::loadDB1() {
  shownSearch_ = search.text;
  showList(loadStore(0), maxSIM);
}

void RootViewController::loadDB2() {
  shownSearch_.clear();
  showList(loadStore(1), maxSMS);
}

ListLoad RootViewController::loadStore(int store) const {
  if (store == 1) return loadEntries(paths_.database(), ListStore::Sms, "", 0, kScreenBusy);
  return loadEntries(paths_.database(), ListStore::Phonebook, search.text, sortField, kScreenBusy, book);
}

void RootViewController::watchDatabase() {
  app_.loop().afterDelay(kWatchSeconds, [this] {
    watchDatabase();
    if (!watch_.changed()) return;
    if (transfers_.busy() || app_.covered() || app_.navigation().modal() ||
        app_.navigation().top() != this) {
      return;
    }
    ListLoad load = loadStore(tipoDisplay);
    if (load.failure == LoadFailure::Busy) return;  // the other program is not done yet
    watch_.seen();
    shownSearch_ = tipoDisplay == 1 ? "" : search.text;
    showList(std::move(load), capacity());
  });
}

void RootViewController::showList(ListLoad load, int capacity) {
  if (load.failure == LoadFailure::Busy) {
    app_.showAlert({localized("Database error"), localized(kDatabaseInUse), nullptr,
                    localized("Ok"), {}});
    return;
  }
  if (load.failure != LoadFailure::None) {
    contatti.clear();
    simName_.clear();
    std::string message = localized("Data are corrupted, please close application and try again.");
    if (!load.movedAsideTo.empty()) {
      const std::string where = load.movedAsideTo.string();
      message += "\n" + localized("The damaged file was moved to") + " " + where;
      std::fprintf(stderr, "voryx serve: the damaged database was moved to %s\n", where.c_str());
      DebugLog::append("damaged database moved to |%s|\n", where.c_str());
    } else if (!load.detail.empty()) {
      message += "\n" + load.detail;
    }
    app_.showAlert({localized("Database error"), message, nullptr, localized("Ok"), {}});
    return;
  }
  contatti = std::move(load.entries);
  setCountTitle('/', capacity);
  readSimName();
}

void RootViewController::showNewRows(const std::vector<std::int32_t>& locations) {
  if (locations.empty()) return;
  highlighted_ = locations;
  for (std::size_t i = 0; i < contatti.size(); ++i) {
    if (std::find(locations.begin(), locations.end(), contatti[i].posizione) == locations.end()) continue;
    tabella.scrollToRow(static_cast<int>(i));
    break;
  }
  const std::uint64_t seq = ++highlightSeq_;
  app_.loop().afterDelay(kHighlightSeconds, [this, seq] {
    if (seq == highlightSeq_) highlighted_.clear();
  });
}

void RootViewController::readSimName() {
  auto table = SimTable::open(paths_.database(), tipoDisplay == 1 ? ListStore::Sms : ListStore::Phonebook,
                              kScreenBusy, book);
  auto sim = table ? table->identity() : Result<std::optional<SimIdentity>>(table.error());
  if (!sim && sim.error().code == Errc::Busy) return;  // the name shown stays until it answers
  simName_ = sim && *sim ? shortSimName(**sim) : std::string();
}

void RootViewController::tipoPressed() {
  tipoDisplay = tipo.selected;
  highlighted_.clear();  // the rows just added are the other store's
  loadDB();
  // The tools work on the SIM phonebook.
  tool.enabled = tipoDisplay != 1 && book == Phonebook::SM;
  add.enabled = !readOnly();
  nameStoreButtons();
  setCountTitle(',', capacity());
}

void RootViewController::leggiPressed() {
  if (transfers_.busy()) return;
  // The read replaces the table: changes not yet written are lost unless the user says so.
  auto table = SimTable::open(paths_.database(), tipoDisplay == 1 ? ListStore::Sms : ListStore::Phonebook,
                              kScreenBusy, book);
  auto marked = table ? table->countMarked() : Result<int>(table.error());
  if (marked && *marked > 0) {
    actionType = kActionConfirmRead;
    const char* lost = *marked == 1 ? kUnsentChangeKey : kUnsentChangesKey;
    app_.showAlert({localized("Read from SIM"), std::to_string(*marked) + " " + localized(lost), this,
                    localized("Cancel"), {localized("Read")}});
    return;
  }
  startTransfer(false);
}

void RootViewController::scriviPressed() {
  if (transfers_.busy()) return;
  // What the write would send, counted as `voryx status` counts it. A table that cannot
  // be read now: the write starts as it always did, and reports what stops it.
  auto pending = entries::pendingChanges(editTarget());
  if (pending && pending->total() > 0) {
    const int n = pending->total();
    actionType = kActionConfirmWrite;
    app_.showAlert({localized("Write") + " " + std::to_string(n) + " " +
                        localized(n == 1 ? "change to the SIM?" : "changes to the SIM?") + " (" +
                        entries::pendingCounts(*pending) + ")",
                    "", this, localized("Cancel"), {localized("Write")}});
    return;
  }
  startTransfer(true);
}

void RootViewController::startTransfer(bool write, bool discardChanges, bool toOtherSim) {
  transfer::JobContext context{paths_.database(), device_, sortField};
  context.maxSIM = maxSIM;
  context.maxSIMLen = maxSIMLen;
  context.maxNumberLen = preferences_.integer(phonebookKey(kPrefMaxNumberLen, book), 0);
  context.createLog = createLog;
  context.discardChanges = discardChanges;
  context.charset.ucs2First = preferences_.integer(kPrefUcs2, 0) != 0;  // the setup screen's switches
  context.fast = preferences_.integer(kPrefFast, 0) != 0;
  context.records = preferences_.integer(kPrefRecords, 0) != 0;
  context.phonebook = book;
  if (tipoDisplay == 0) context.search = shownSearch_;
  context.toOtherSim = toOtherSim;
  const char* note = !toOtherSim ? "" : tipoDisplay == 1 ? kCopyMessagesNote : kCopyEntriesNote;
  transfers_.start(write, tipoDisplay, context, toOtherSim ? localized(note) : std::string());
}

void RootViewController::applyReport(const transfer::JobReport& report) {
  if (report.maxSIM) {
    maxSIM = report.maxSIM->value;
    if (report.maxSIM->remember) preferences_.store(phonebookKey(kPrefMaxSIM, book), maxSIM);
  }
  if (report.maxSIMLen) {
    maxSIMLen = *report.maxSIMLen;
    preferences_.store(phonebookKey(kPrefMaxSIMLen, book), maxSIMLen);
  }
  if (report.maxNumberLen) preferences_.store(phonebookKey(kPrefMaxNumberLen, book), *report.maxNumberLen);
  if (report.phonebooks && !phonebookList(*report.phonebooks).empty()) {
    preferences_.setText(kPrefPhonebooks, phonebookList(*report.phonebooks));
    preferences_.synchronize();
  }
  if (report.nameSets && *report.nameSets != 0) preferences_.store(kPrefNameSets, *report.nameSets);
  if (report.maxSMS) {
    maxSMS = report.maxSMS->value;
    if (report.maxSMS->remember) preferences_.store(kPrefMaxSMS, maxSMS);
  }
  if (report.createLog) createLog = 1;
  if (report.retcode) retcode = *report.retcode;
}

void RootViewController::transferEnded(bool write, const transfer::JobReport& report) {
  applyReport(report);
  loadDB();
  if (report.outcome == transfer::JobOutcome::Done && !report.copiedOnto) {
    app_.showNotice(write ? notices::wrote(report.confirmed) : notices::read(tipoDisplay == 1, report.rows));
  }
  if (!write) {
    scrivi.enabled = maxSIM != 0;
    if (!askToArchiveMessages(report)) offerFastTransfers(report);
    return;
  }
  offerFastTransfers(report);
  if (report.outcome == transfer::JobOutcome::OtherSim) {
    actionType = kActionConfirmOtherSim;
    app_.showAlert({localized("Write to SIM"), transfer::otherSimMessage(report) + " " + localized(kOtherSimAdvice),
                    this, localized("Cancel"), {localized("Write anyway")}});
    return;
  }
  const std::string errorTitle = localized(report.sms ? "Error writing sms" : "Error writing phonebook");
  // This write's own refusal: retcode keeps a refusal of an earlier write, which a write
  // that stopped before any command (no modem, another SIM) must not show again.
  if (report.retcode == 1) {
    std::string message = report.refusal;
    if (report.copiedOnto) message += (message.empty() ? "" : "\n") + localized(kPartlyCopiedKey);
    app_.showAlert({errorTitle, message, nullptr, localized("Ok"), {}});
  } else if (report.copiedOnto && report.outcome == transfer::JobOutcome::Done) {
    const std::string leftovers = transfer::leftoversMessage(report);
    app_.showAlert({localized("Write to SIM"), localized(kCopiedKey) + (leftovers.empty() ? "" : " " + leftovers),
                    nullptr, localized("Ok"), {}});
  }
  if (report.oldKept > 0) {
    app_.showAlert({errorTitle, transfer::oldCopiesKeptMessage(report.oldKept), nullptr, localized("Ok"), {}});
  }
}

bool RootViewController::askToArchiveMessages(const transfer::JobReport& report) {
  if (tipoDisplay != 1 || report.outcome != transfer::JobOutcome::Done || !report.maxSMS || !report.maxSMS->remember) {
    return false;
  }
  const std::string full = entries::messageStoreFullMessage(report.rows, report.maxSMS->value);
  if (full.empty()) return false;
  confirm(full + " " + localized("Archive and clear it?"),
          localized("Every message goes into an archive in the export folder (a backup, and an mbox file for a "
                    "mail program); once it reads back whole, the messages are deleted from the SIM.") +
              " " + FileCommands::breakablePath(paths_.exportDir),
          kActionConfirmArchiveSms, localized("Cancel"), localized("Archive and clear"));
  return true;
}

void RootViewController::archiveAndClearMessages() {
  if (transfers_.busy()) return;
  const bool archived = files_.archiveMessages(maxSMS);
  loadDB();
  if (!archived) return;
  ownChangeMade();
  startTransfer(true);
}

void RootViewController::offerFastTransfers(const transfer::JobReport& report) {
  if (report.outcome != transfer::JobOutcome::Done || report.quietWaited <= kSlowQuietWaits) return;
  preferences_.synchronize();
  if (preferences_.integer(kPrefFast, 0) != 0 || preferences_.integer(kPrefFastOffered, 0) != 0) return;
  confirm(localized("Fast transfers"),
          localized("Transfers can be much faster on this modem: turn on Fast transfers?"), kActionOfferFast,
          localized("No"), localized("Yes"));
}

void RootViewController::setup() {
  app_.navigation().push(std::make_unique<SetupViewController>(preferences_, app_.navigation(), paths_));
}
void RootViewController::howto(const std::string& anchor) {
  app_.navigation().push(std::make_unique<About>(app_, preferences_, anchor));
}

void RootViewController::searchBarTextDidBeginEditing() { search.showsCancel = true; }

void RootViewController::searchBarTextDidEndEditing() { search.showsCancel = false; }

void RootViewController::searchBarSearchButtonClicked() {
  searchBarTextDidEndEditing();  // the keyboard goes
  if (!search.text.empty()) loadDB();
}

void RootViewController::searchBarCancelButtonClicked() {
  searchBarTextDidEndEditing();
  search.text.clear();
  loadDB();
}

void RootViewController::gotop(const kit::Notification&) {
  if (!contatti.empty()) tabella.scrollToRow(0);
}

void RootViewController::gomiddle(const kit::Notification&) {
  if (!contatti.empty()) tabella.scrollToRow(static_cast<int>((contatti.size() - 1) / 2));
}

void RootViewController::gobottom(const kit::Notification&) {
  if (!contatti.empty()) tabella.scrollToRow(static_cast<int>(contatti.size() - 1));
}

void RootViewController::renderParts(nlohmann::json& screen) const {
  screen["banner"] = {{"text", "Voryx"}, {"frame", kit::toJson({0, 0, 320, 50})}};
  // Which SIM the list is a copy of, under the title.
  // Another phonebook store than the SIM's: its name first.
  std::string subtitle = simName_.empty() ? "" : localized("SIM") + " " + simName_;
  if (tipoDisplay == 0 && book != Phonebook::SM) {
    subtitle = localized(phonebookKind(book).title) + (subtitle.empty() ? "" : " \u00B7 " + subtitle);
  }
  screen["subtitle"] = subtitle.empty() ? nlohmann::json(nullptr) : nlohmann::json(subtitle);
  screen["segments"] = tipo.render();
  // The search narrows the phonebook only: on the messages the field is off, empty, and
  // says so; the phonebook's text waits for it there.
  kit::SearchBar shown = search;
  if (tipoDisplay == 1) {
    shown.text.clear();
    shown.showsCancel = false;
    shown.enabled = false;
    shown.placeholder = localized("Search works on the phonebook");
  }
  screen["search"] = shown.render();
  screen["rowHeight"] = tabella.rowHeight;
  nlohmann::json rows = nlohmann::json::array();
  for (std::size_t i = 0; i < contatti.size(); ++i) {
    const SimEntry& e = contatti[i];
    GradientView background;
    switch (e.operazione) {
      case kMarkNew: background.green(); break;
      case kMarkDeleted: background.red(); break;
      case kMarkChanged: background.cyan(); break;
      default: background.gray(); break;
    }
    const char* mark = markWord(e.operazione, tipoDisplay == 1);
    const bool fresh = std::find(highlighted_.begin(), highlighted_.end(), e.posizione) != highlighted_.end();
    rows.push_back({{"id", "row:" + std::to_string(i)},
                    {"labels", {std::to_string(e.posizione), e.nome, e.telefono}},
                    {"colors", background.colors().name},
                    {"mark", mark ? nlohmann::json(localized(mark)) : nlohmann::json(nullptr)},
                    {"highlight", fresh}});
  }
  screen["rows"] = std::move(rows);
  // The how-to's section on what the colours and the mark words mean.
  screen["legend"] = {{"id", "legend"}, {"title", localized("What the colours mean")}};
  if (!contatti.empty()) {
    screen["empty"] = nullptr;
  } else if (tipoDisplay == 1) {
    screen["empty"] = localized("No messages. Read from SIM to copy the SIM's messages here.");
  } else if (book == Phonebook::ME && shownSearch_.empty()) {
    screen["empty"] = localized("No entries. Read from phone to copy the phone's memory here.");
  } else if (!shownSearch_.empty()) {
    screen["empty"] = localized("No entry matches") + " \u201C" + shownSearch_ + "\u201D.";
  } else {
    screen["empty"] = localized("No entries. Read from SIM to copy the SIM's phonebook here.");
  }
  screen["gradients"] = GradientView::table();
  screen["scrollTo"] = tabella.renderScroll();
}

kit::EventResult RootViewController::handleOwnEvent(const kit::Event& e) {
  if (e.target == tipo.id) {
    if (e.action != "select") return kit::invalidEvent("tipo takes the action \"select\"");
    auto segment = kit::indexValue(e.value, tipo.items.size());
    if (!segment) return kit::invalidEvent("the value is a segment index");
    tipo.selected = *segment;
    tipoPressed();
    return kit::done();
  }
  if (e.target == search.id) return handleSearch(e);
  if (e.target == "legend") {
    if (e.action != "tap") return kit::invalidEvent("legend takes the action \"tap\"");
    howto("marks");
    return kit::done();
  }
  if (e.target.starts_with("row:")) {
    auto row = kit::targetNumber(e.target, "row:");
    if (!row) return kit::invalidEvent("a row target is row:<index>");
    if (e.action != "tap") return kit::invalidEvent("a row takes the action \"tap\"");
    if (*row >= contatti.size()) return kit::staleEvent("there is no row " + std::to_string(*row));
    tableViewWillSelectRowAtIndexPath(static_cast<int>(*row));
    return kit::done();
  }
  return Screen::handleOwnEvent(e);
}

kit::EventResult RootViewController::handleSearch(const kit::Event& e) {
  // Typed on the messages, a text would wait there for the phonebook, and narrow it
  // unasked: the field takes nothing there.
  if (tipoDisplay == 1) return kit::staleEvent("the search works on the phonebook");
  const bool takesText = e.action == "change" || e.action == "search";
  if (takesText && !(e.value.is_string() || (e.action == "search" && e.value.is_null()))) {
    return kit::invalidEvent("the value is the search text");
  }
  if (e.value.is_string()) {
    if (!takesText) return kit::invalidEvent("only change and search take a text");
    const auto& text = e.value.get_ref<const std::string&>();
    if (text.size() > kLongestSearch) return kit::invalidEvent("the search text is too long");
    search.text = text;
  }
  if (e.action == "begin") {
    searchBarTextDidBeginEditing();
  } else if (e.action == "end") {
    searchBarTextDidEndEditing();
  } else if (e.action == "search") {
    searchBarSearchButtonClicked();
  } else if (e.action == "cancel") {
    searchBarCancelButtonClicked();
  } else if (e.action != "change") {
    return kit::invalidEvent("search takes begin, change, search, cancel or end");
  }
  return kit::done();
}

}  // namespace voryx

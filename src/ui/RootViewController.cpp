#include "ui/RootViewController.h"

#include <cstdio>

#include "base/Localized.h"
#include "entries/DebugLog.h"
#include "store/SimTable.h"
#include "ui/GradientView.h"

namespace voryx {
namespace {

constexpr const char* kDatabaseInUse = "The database is in use by another program; try again.";
constexpr const char* kUnsentChangesKey =
    "changes not yet written to the SIM will be lost. Read anyway?";

// Longest search text taken from the page; a person types far less.
constexpr std::size_t kLongestSearch = 256;

kit::BarButton button(std::string id, std::function<void()> action) {
  kit::BarButton b;
  b.id = std::move(id);
  b.action = std::move(action);
  return b;
}

// The progress overlay over the whole 320 by 480 screen, with a 50-point spinner in its
// middle. A read moves the spinner down and gives the caption room for several lines
// (the SIM's capacity); a write keeps the caption to one line.
kit::Overlay progressOverlay(bool write) {
  constexpr kit::Rect kCentred{(320 - 50) / 2.0, (480 - 50) / 2.0, 50, 50};
  kit::Overlay o;
  o.frame = {0, 0, 320, 480};
  o.alpha = 0.75;
  o.spinner = true;
  if (write) {
    o.caption = localized("WInitializing...");
    o.spinnerFrame = kCentred;
    o.captionFrame = {20, 130, 280, 50};
    o.captionLines = 1;
    o.labelFrame = {20, 280, 280, 50};
  } else {
    o.caption = localized("RInitializing...");
    o.spinnerFrame = {kCentred.x, kCentred.y + 35, kCentred.width, kCentred.height};
    o.captionFrame = {20, 100, 280, 150};
    o.captionLines = 0;
    o.labelFrame = {20, 320, 280, 50};
  }
  return o;
}

}  // namespace

RootViewController::RootViewController(kit::UiApplication& app, SnoopWindow& window,
                                       const Paths& paths, Preferences& preferences,
                                       modem::DeviceChoice device)
    : kit::Screen("RootViewController"),
      app_(app),
      window_(window),
      paths_(paths),
      preferences_(preferences),
      device_(std::move(device)) {
  tabella.rowHeight = kRowHeight;
  leggi = button("leggi", [this] { leggiPressed(); });
  scrivi = button("scrivi", [this] { scriviPressed(); });
  add = button("add", [this] { addPressed(); });
  add.title = localized("Add");
  tool = button("tool", [this] { toolPressed(); });
  tool.title = localized("Tools");
  search.id = "search";
  tipo.id = "tipo";
  tipo.items = {localized("Phonebook"), localized("SMS")};
  setToolbarItems({&leggi, &add, &tool, &scrivi});
}

RootViewController::~RootViewController() {
  runner_.wait();  // before anything the job calls back into goes
  app_.notifications().removeObserver(this);
}

void RootViewController::viewDidLoad() {
  createLog = 0;
  leggi.title = localized("Read from SIM");
  scrivi.title = localized("Write to SIM");
  tipoDisplay = 0;
  setupButton_ = button("setup", [this] { setup(); });
  setupButton_.title = localized("Setup");
  howtoButton_ = button("howto", [this] { howto(); });
  howtoButton_.title = localized("How to");
  setLeftButton(&setupButton_);
  setRightButton(&howtoButton_);
  contatti.clear();
  if (lookForChanges()) seenVersion_ = pendingVersion_;  // what the first load shows
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
  maxSIM = preferences_.integer(kPrefMaxSIM, 0);
  maxSMS = preferences_.integer(kPrefMaxSMS, 0);
  setCountTitle(',', capacity());
  maxSIMLen = preferences_.integer(kPrefMaxSIMLen, kDefaultMaxSIMLen);
}

void RootViewController::setCountTitle(char separator, int capacity) {
  setTitle("Vorx (" + std::to_string(contatti.size()) + separator + std::to_string(capacity) + ")");
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
  return loadEntries(paths_.database(), ListStore::Phonebook, search.text, sortField, kScreenBusy);
}

void RootViewController::watchDatabase() {
  app_.loop().afterDelay(kWatchSeconds, [this] {
    watchDatabase();
    if (!lookForChanges()) return;
    if (busy_ || runner_.running() || app_.covered() || app_.navigation().top() != this) return;
    ListLoad load = loadStore(tipoDisplay);
    if (load.failure == LoadFailure::Busy) return;  // the other program is not done yet
    seenVersion_ = pendingVersion_;
    shownSearch_ = tipoDisplay == 1 ? "" : search.text;
    showList(std::move(load), capacity());
  });
}

// True when the database changed since the list was loaded (or may have: the watch's
// connection was lost). Never waits for a lock: the main loop must not stall on another
// program's work.
bool RootViewController::lookForChanges() {
  constexpr BusyPolicy kNoWait{std::chrono::milliseconds(0)};
  if (!watch_) {
    auto table = SimTable::open(paths_.database(), ListStore::Phonebook, kNoWait);
    if (!table) return false;
    watch_.emplace(std::move(*table));
  }
  auto version = watch_->dataVersion();
  if (!version) {
    // Locked: ask again next time. Anything else (the file moved aside): a fresh
    // connection, whose numbers start anew; the list is reloaded once it answers.
    if (version.error().code != Errc::Busy) {
      watch_.reset();
      seenVersion_.reset();
    }
    return false;
  }
  pendingVersion_ = *version;
  return !seenVersion_ || *version != *seenVersion_;
}

void RootViewController::showList(ListLoad load, int capacity) {
  if (load.failure == LoadFailure::Busy) {
    app_.showAlert({localized("Database error"), localized(kDatabaseInUse), nullptr,
                    localized("Ok"), {}});
    return;
  }
  if (load.failure != LoadFailure::None) {
    contatti.clear();
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
}

void RootViewController::tipoPressed() {
  tipoDisplay = tipo.selected;
  loadDB();
  tool.enabled = tipoDisplay != 1;
  setCountTitle(',', capacity());
}

void RootViewController::leggiPressed() {
  if (busy_ || runner_.running()) return;
  // The read replaces the table: changes not yet written are lost unless the user says so.
  auto table = SimTable::open(paths_.database(), tipoDisplay == 1 ? ListStore::Sms : ListStore::Phonebook,
                              kScreenBusy);
  auto marked = table ? table->countMarked() : Result<int>(table.error());
  if (marked && *marked > 0) {
    actionType = kActionConfirmRead;
    app_.showAlert({localized("Read from SIM"), std::to_string(*marked) + " " + localized(kUnsentChangesKey), this,
                    localized("Cancel"), {localized("Read")}});
    return;
  }
  startTransfer(false);
}

void RootViewController::scriviPressed() { startTransfer(true); }

void RootViewController::alertViewClickedButtonAtIndex(const kit::Alert&, int index) {
  if (actionType != kActionConfirmRead) return;
  actionType = 0;
  if (index == 1) startTransfer(false, true);
}

void RootViewController::startTransfer(bool write, bool discardChanges) {
  if (busy_ || runner_.running()) return;
  app_.addOverlay(kSpinnerTag, progressOverlay(write));
  app_.setIdleTimerDisabled(true);
  transfer::JobContext context{paths_.database(), device_, sortField};
  context.maxSIM = maxSIM;
  context.maxSIMLen = maxSIMLen;
  context.createLog = createLog;
  context.discardChanges = discardChanges;
  if (tipoDisplay == 0) context.search = shownSearch_;
  busy_ = write ? runner_.save(tipoDisplay, context) : runner_.loadSIM(tipoDisplay, context);
  if (!busy_) endTransfer();
}

void RootViewController::updateCaption(const std::string& text) {
  app_.loop().performOnMain(
      [this, text] {
        if (auto* o = app_.overlay(kSpinnerTag)) o->caption = text;
      },
      true);
}

void RootViewController::updateLabel(const std::string& text) {
  app_.loop().performOnMain(
      [this, text] {
        if (auto* o = app_.overlay(kSpinnerTag)) o->label = text;
      },
      true);
}

void RootViewController::applyReport(const transfer::JobReport& report) {
  if (report.maxSIM) {
    maxSIM = report.maxSIM->value;
    if (report.maxSIM->remember) preferences_.store(kPrefMaxSIM, maxSIM);
  }
  if (report.maxSIMLen) {
    maxSIMLen = *report.maxSIMLen;
    preferences_.store(kPrefMaxSIMLen, maxSIMLen);
  }
  if (report.maxSMS) {
    maxSMS = report.maxSMS->value;
    if (report.maxSMS->remember) preferences_.store(kPrefMaxSMS, maxSMS);
  }
  if (report.createLog) createLog = 1;
  if (report.retcode) retcode = *report.retcode;
}

void RootViewController::endLoadSIM(const transfer::JobReport& report) {
  app_.loop().performOnMain([this, report] {
    applyReport(report);
    loadDB();
    scrivi.enabled = maxSIM != 0;
    endTransfer();
  });
}

void RootViewController::endSaveSIM(const transfer::JobReport& report) {
  app_.loop().performOnMain([this, report] {
    applyReport(report);
    loadDB();
    endTransfer();
    if (retcode == 1) {
      app_.showAlert({localized("Error writing phonebook"), "", nullptr, localized("Ok"), {}});
    }
  });
}

void RootViewController::endTransfer() {
  app_.removeOverlay(kSpinnerTag);
  app_.setIdleTimerDisabled(false);
  busy_ = false;
}

void RootViewController::showAlert(const std::string& title, const std::string& message) {
  app_.loop().performOnMain(
      [this, title, message] { app_.showAlert({title, message, nullptr, localized("Ok"), {}}); });
}

void RootViewController::addPressed() {}
void RootViewController::toolPressed() {}
void RootViewController::setup() {}
void RootViewController::howto() {}
void RootViewController::tableViewWillSelectRowAtIndexPath(int /*row*/) {}

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
  screen["segments"] = tipo.render();
  screen["search"] = search.render();
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
    rows.push_back({{"id", "row:" + std::to_string(i)},
                    {"labels", {std::to_string(e.posizione), e.nome, e.telefono}},
                    {"colors", background.colors().name}});
  }
  screen["rows"] = std::move(rows);
  if (!contatti.empty()) {
    screen["empty"] = nullptr;
  } else if (tipoDisplay == 1) {
    screen["empty"] = localized("No messages. Read from SIM to copy the SIM's messages here.");
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

#include "ui/FileCommands.h"

#include <ctime>
#include <memory>

#include "base/DebugLog.h"
#include "base/Desktop.h"
#include "base/FileIo.h"
#include "base/Localized.h"
#include "entries/AddressBook.h"
#include "entries/Csv.h"
#include "entries/Import.h"
#include "entries/SmsArchive.h"
#include "entries/SupportMail.h"
#include "ui/MailComposer.h"
#include "ui/Notices.h"
#include "ui/TransferController.h"
#include "contacts/Book.h"
#include "entries/ContactPlan.h"

namespace voryx {

void FileCommands::failed(const char* title, const std::string& why, const std::string& detail) {
  app_.showAlert({localized(title), localized(why) + " " + detail, nullptr, localized("Ok"), {}});
}

void FileCommands::showWaitOverlay(int tag) {
  app_.addOverlay(tag, waitOverlay(localized("Please wait..."), false));
}

std::string FileCommands::breakablePath(const std::filesystem::path& path) {
  std::string out;
  for (char c : path.string()) {
    out += c;
    if (c == '/') out += "\u200B";
  }
  return out;
}

std::optional<std::string> FileCommands::copyToBookPlan(const std::vector<SimEntry>& list) {
  auto book = contacts::readBook(paths_.contacts);
  if (!book) {
    failed("T9", "No address book:", book.error().detail);
    return std::nullopt;
  }
  const auto plan = entries::planSimToBook(list, book->persons, preferences_.integer(kPrefLastFirst, 0),
                                           contacts::addsToPersons(paths_.contacts));
  if (plan.contacts.empty() && plan.joins.empty()) {
    app_.showAlert({localized("T9"), notices::copiedToBook(0, 0, plan.already), nullptr, localized("Ok"), {}});
    return std::nullopt;
  }
  return notices::copyToBookPlan(static_cast<int>(plan.contacts.size()), plan.merged, plan.mergedInto, plan.joined,
                                 plan.already);
}

void FileCommands::copyToBook(const std::vector<SimEntry>& list) {
  auto book = contacts::readBook(paths_.contacts);
  if (!book) return failed("T9", "No address book:", book.error().detail);
  const auto plan = entries::planSimToBook(list, book->persons, preferences_.integer(kPrefLastFirst, 0),
                                           contacts::addsToPersons(paths_.contacts));
  int added = 0;
  int joined = 0;
  Status done = Ok{};
  for (const auto& person : plan.contacts) {
    if (done = contacts::addToBook(paths_.contacts, person); !done) break;
    ++added;
  }
  for (std::size_t i = 0; done && i < plan.joins.size(); ++i) {
    if (done = contacts::addToPerson(paths_.contacts, plan.joins[i].person, plan.joins[i].phones); !done) break;
    joined += static_cast<int>(plan.joins[i].phones.size());
  }
  if (!done) failed("T9", "The address book refused a contact:", done.error().detail);
  app_.showNotice(notices::copiedToBook(added, joined, plan.already));
}

entries::ImportOptions FileCommands::importOptions(const Sim& sim) const {
  entries::ImportOptions o;
  o.lastFirst = preferences_.integer(kPrefLastFirst, 0);
  o.maxSIM = sim.maxSIM;
  o.maxSIMLen = sim.maxSIMLen;
  o.nameSets = preferences_.integer(kPrefNameSets, 0);
  o.maxNumberLen = preferences_.integer(kPrefMaxNumberLen, codec::kSimNumberDigits);
  o.createLog = sim.createLog;
  o.busy = kScreenBusy;  // the main loop waits for a lock no longer than any screen does
  return o;
}

std::optional<std::string> FileCommands::importPlan(const Sim& sim) {
  auto book = contacts::readBook(paths_.contacts);
  if (!book) {
    failed("T1", "No address book:", book.error().detail);
    return std::nullopt;
  }
  // The whole list, not the rows a search shows: every row holds its location and number.
  auto table = SimTable::open(paths_.database(), ListStore::Phonebook, kScreenBusy);
  auto list = table ? table->list() : Result<std::vector<SimEntry>>(table.error());
  if (!list) {
    failed("T1", "The list cannot be read:", list.error().detail);
    return std::nullopt;
  }
  const entries::ImportOptions o = importOptions(sim);
  const auto plan = entries::planBookToSim(book->persons, *list, {o.maxSIMLen, o.nameSets, o.maxNumberLen},
                                           o.maxSIM, o.lastFirst);
  if (plan.fits.empty()) {
    app_.showAlert({localized("T1"), notices::importPlan(plan), nullptr, localized("Ok"), {}});
    return std::nullopt;
  }
  return notices::importPlan(plan);
}

std::vector<std::int32_t> FileCommands::importAll(const Sim& sim, kit::AlertDelegate* fullAnswer) {
  auto book = contacts::readBook(paths_.contacts);
  if (!book) {
    failed("T1", "No address book:", book.error().detail);
    return {};
  }
  const entries::ImportOptions o = importOptions(sim);
  const auto report = entries::importAll(paths_.database(), book->persons, o);
  app_.showNotice(notices::added(static_cast<int>(report.added.size()), report.duplicates));
  // The numbers the SIM cannot hold were skipped: each is named.
  if (!report.refused.empty()) {
    app_.showAlert({localized("T1"), entries::importNotes(report), nullptr, localized("Ok"), {}});
  }
  if (report.end == entries::ImportReport::End::SimFull) {
    app_.showAlert({localized("Add phone number"), localized("SIM is full!"), fullAnswer, localized("Ok"), {}});
  } else if (report.end == entries::ImportReport::End::DatabaseError) {
    app_.showAlert({localized("Database error"),
                    localized("The import stopped; the entries added before stay.") + "\n" + report.detail, nullptr,
                    localized("Ok"), {}});
  }
  std::vector<std::int32_t> added;
  for (const SimEntry& entry : report.added) added.push_back(entry.posizione);
  return added;
}

void FileCommands::restore(const Sim& sim) {
  entries::EditTarget target{paths_.database(), ListStore::Phonebook, sim.maxSIM, sim.maxSIMLen, kScreenBusy,
                             preferences_.integer(kPrefNameSets, 0)};
  target.maxNumberLen = preferences_.integer(kPrefMaxNumberLen, codec::kSimNumberDigits);
  auto report = entries::restoreCsv(csvFile(), target);
  if (!report) return failed("T7", "Nothing was restored:", report.error().detail);
  app_.showNotice(notices::restored(report->restored, csvFile().filename().string()));
  std::string message = entries::skippedLinesText(report->skipped, report->skippedLines);
  if (std::string refused = entries::refusedLinesText(*report); !refused.empty()) {
    message += (message.empty() ? "" : "\n") + refused;
  }
  if (report->leftOut == 0 && message.empty()) return;
  if (report->leftOut > 0) {
    if (!message.empty()) message += "\n";
    message += std::to_string(report->leftOut) + " " + localized("lines were left out: the SIM holds") + " " +
               std::to_string(sim.maxSIM);
  }
  app_.showAlert({localized("T7"), message, nullptr, localized("Ok"), {}});
}

std::optional<FileCommands::Exported> FileCommands::exportCsv(const std::vector<SimEntry>& list) {
  const std::string warning = entries::notRestorableText(entries::entriesNotRestorable(list));
  if (Status written = entries::exportCsv(csvFile(), list); !written) {
    failed("T6", "The file was not written:", written.error().detail);
    return std::nullopt;
  }
  return Exported{localized("File Voryx.csv create into") + " " + breakablePath(paths_.exportDir),
                  (warning.empty() ? "" : warning + "\n") + localized("Do you want view it?")};
}

std::optional<FileCommands::Exported> FileCommands::exportVCard(const std::vector<SimEntry>& list) {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  if (Status written = entries::exportVCards(paths_.exportDir / "Voryx.vcf", list, lastFirst,
                                             entries::VCardVersion::V40);
      !written) {
    failed("T8", "The file was not written:", written.error().detail);
    return std::nullopt;
  }
  return Exported{localized("File Voryx.vcf create into") + " " + breakablePath(paths_.exportDir),
                  localized("Do you want view it?")};
}

void FileCommands::viewExport(const char* name, const char* type) {
  auto bytes = readWholeFile(paths_.exportDir / name);
  if (!bytes) return;
  app_.openURL(app_.serveFile({type, name, std::move(*bytes)}));
  openOnDesktop(paths_.exportDir);
}

bool FileCommands::archiveMessages(int maxSMS) {
  std::error_code ec;
  std::filesystem::create_directories(paths_.exportDir, ec);
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem = std::string("Voryx-SMS-") + stamp;
  std::filesystem::path file = paths_.exportDir / (stem + ".json");
  for (int n = 2; std::filesystem::exists(file, ec) || std::filesystem::exists(entries::mboxBeside(file), ec); ++n) {
    file = paths_.exportDir / (stem + "-" + std::to_string(n) + ".json");
  }
  auto archive = entries::archiveMessages(file, paths_.database(),
                                          maxSMS, true, kScreenBusy);
  if (!archive) {
    app_.showAlert({localized("The messages were not archived; nothing was deleted."), archive.error().detail,
                    nullptr, localized("Ok"), {}});
    return false;
  }
  const std::string name = archive->file.filename().string();
  app_.showNotice(archive->messages == 1
                      ? notices::filled("Archived 1 message in %s", {name})
                      : notices::filled("Archived %d messages in %s", {std::to_string(archive->messages), name}));
  return true;
}

bool FileCommands::startLog() {
  if (DebugLog::start()) {
    app_.showNotice(localized("Debug log started"));
    return true;
  }
  failed("T4", "The debug log cannot be written:", DebugLog::path().string());
  return false;
}

void FileCommands::sendLog() {
  auto mail = entries::makeSupportMail(entries::supportAddress(preferences_), DebugLog::contents());
  app_.navigation().present(std::make_unique<MailComposer>(app_, std::move(mail), DebugLog::path().parent_path()),
                            kit::NavigationController::Transition::PageCurl);
}

}  // namespace voryx

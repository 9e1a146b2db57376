// The main screen's commands on files: the address book (pick a person, import them all),
// the debug log and its mail, the CSV export and restore, the vCard export.
#include "ui/RootViewController.h"

#include <memory>

#include "base/DebugLog.h"
#include "base/Desktop.h"
#include "base/FileIo.h"
#include "base/Localized.h"
#include "entries/Csv.h"
#include "entries/Import.h"
#include "entries/SupportMail.h"
#include "ui/MailComposer.h"
#include "ui/PeoplePicker.h"
#include "ui/UnknownPerson.h"
#include "ui/addContact.h"

namespace voryx {

// --- The address book ----------------------------------------------------------------------

void RootViewController::openPeoplePicker() {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  app_.navigation().present(std::make_unique<PeoplePicker>(app_, *this, paths_.contacts, lastFirst));
}

void RootViewController::peoplePickerDidSelectPerson(const entries::Person& person, const std::string& photo) {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  auto picker = std::make_unique<addContact>(*this, app_.navigation(), person, photo, lastFirst);
  app_.navigation().dismiss();
  app_.navigation().push(std::move(picker));
}

void RootViewController::peoplePickerDidCancel() { app_.navigation().dismiss(); }

void RootViewController::openUnknownPerson() {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  app_.navigation().push(std::make_unique<UnknownPerson>(
      app_, *this, paths_.contacts, entries::personFromEntry(contatti[modifica], lastFirst)));
}

void RootViewController::unknownPersonViewControllerDidResolveToPerson(const entries::Person&) {
  app_.navigation().pop();
}

// The overlay of the import (and the restore): "Please wait..." over the whole screen.
void RootViewController::showImportOverlay() {
  app_.addOverlay(kSpinnerTag, waitOverlay(localized("Please wait..."), false));
}

void RootViewController::importAll() {
  auto book = entries::readAddressBook(paths_.contacts);
  if (!book) {
    app_.showAlert({localized("T1"), localized("No address book:") + " " + book.error().detail, nullptr,
                    localized("Ok"), {}});
  } else {
    entries::ImportOptions o;
    o.lastFirst = preferences_.integer(kPrefLastFirst, 0);
    o.maxSIM = maxSIM;
    o.maxSIMLen = maxSIMLen;
    o.nameSets = preferences_.integer(kPrefNameSets, 0);
    o.createLog = createLog;
    o.busy = kScreenBusy;  // the main loop waits for a lock no longer than any screen does
    const auto report = entries::importAll(paths_.database(), book->persons, o);
    if (report.end == entries::ImportReport::End::SimFull) {
      app_.showAlert({localized("Add phone number"), localized("SIM is full!"), this, localized("Ok"), {}});
    } else if (report.end == entries::ImportReport::End::DatabaseError) {
      app_.showAlert({localized("Database error"),
                      localized("The import stopped; the entries added before stay.") + "\n" + report.detail,
                      nullptr, localized("Ok"), {}});
    }
  }
  loadDB();
  ownChangeMade();
  app_.removeOverlay(kSpinnerTag);
}

// --- The debug log ----------------------------------------------------------------------------

void RootViewController::startLog() {
  if (!DebugLog::start()) {
    app_.showAlert({localized("T4"), localized("The debug log cannot be written:") + " " + DebugLog::path().string(),
                    nullptr, localized("Ok"), {}});
    return;
  }
  createLog = 1;
}

void RootViewController::sendLog() {
  auto mail = entries::makeSupportMail(entries::supportAddress(preferences_), DebugLog::contents());
  app_.navigation().present(std::make_unique<MailComposer>(app_, std::move(mail), DebugLog::path().parent_path()),
                            kit::NavigationController::Transition::PageCurl);
  createLog = 0;
}

// --- The CSV file ---------------------------------------------------------------------------

std::filesystem::path RootViewController::csvFile() const { return paths_.exportDir / "Voryx.csv"; }

void RootViewController::exportFile() {
  const std::string warning = entries::notRestorableText(entries::entriesNotRestorable(contatti));
  if (Status written = entries::exportCsv(csvFile(), contatti); !written) {
    app_.showAlert({localized("T6"), localized("The file was not written:") + " " + written.error().detail,
                    nullptr, localized("Ok"), {}});
    return;
  }
  confirm(localized("File Voryx.csv create into") + " " + paths_.exportDir.string(),
          (warning.empty() ? "" : warning + "\n") + localized("Do you want view it?"), kActionExported,
          localized("No"), localized("Yes"));
}

void RootViewController::exportVCard() {
  const int lastFirst = preferences_.integer(kPrefLastFirst, 0);
  if (Status written = entries::exportVCards(paths_.exportDir / "Voryx.vcf", contatti, lastFirst,
                                             entries::VCardVersion::V40);
      !written) {
    app_.showAlert({localized("T8"), localized("The file was not written:") + " " + written.error().detail,
                    nullptr, localized("Ok"), {}});
    return;
  }
  confirm(localized("File Voryx.vcf create into") + " " + paths_.exportDir.string(), localized("Do you want view it?"),
          kActionExportedVCard, localized("No"), localized("Yes"));
}

// The file as a download for the page, and the folder on the desktop where there is one.
void RootViewController::viewExport(const char* name, const char* type) {
  auto bytes = readWholeFile(paths_.exportDir / name);
  if (!bytes) return;
  app_.openURL(app_.serveFile({type, name, std::move(*bytes)}));
  openOnDesktop(paths_.exportDir);
}

void RootViewController::restore() {
  auto report = entries::restoreCsv(csvFile(), paths_.database(), maxSIM, kScreenBusy);
  if (!report) {
    app_.showAlert({localized("T7"), localized("Nothing was restored:") + " " + report.error().detail, nullptr,
                    localized("Ok"), {}});
  } else if (report->leftOut > 0 || report->skipped > 0) {
    std::string message = entries::skippedLinesText(report->skipped, report->skippedLines);
    if (report->leftOut > 0) {
      if (!message.empty()) message += "\n";
      message += std::to_string(report->leftOut) + " " + localized("lines were left out: the SIM holds") + " " +
                 std::to_string(maxSIM);
    }
    app_.showAlert({localized("T7"), message, nullptr, localized("Ok"), {}});
  }
  loadDB();
  ownChangeMade();
  app_.removeOverlay(kSpinnerTag);
}

}  // namespace voryx

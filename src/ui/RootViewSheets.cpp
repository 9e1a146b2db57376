// The main screen's sheets (tools, a row, add) and its confirmations.
#include "ui/RootViewController.h"

#include "base/Localized.h"
#include "entries/Pending.h"

namespace voryx {

std::vector<RootViewController::SheetCommand> RootViewController::toolCommands() {
  auto ask = [this](const char* title, Action action) {
    return [this, title, action] {
      confirm(localized(title), localized("Please confirm action"), action, localized("Cancel"), localized("Ok"));
    };
  };
  return {
      {"T0", ask("T0", kActionConfirmEmpty)},
      {"T1",
       [this] {
         // The plan first: what would be added, left out and cut; nothing is marked yet.
         if (auto plan = files_.importPlan(sim())) {
           confirm(localized("T1"), *plan, kActionConfirmImport, localized("Cancel"), localized("Add"));
         }
       }},
      {"T2", [this] { sortBy(0); }},
      {"T3", [this] { sortBy(1); }},
      {"T6", [this] { askToView(files_.exportCsv(contatti), kActionExported); }},
      {"T7",
       [this] {
         // The question names the file it will read.
         confirm(localized("All contacts will be replaced with content of file..."),
                 FileCommands::breakablePath(files_.csvFile()) + "\n" + localized("Please confirm action"),
                 kActionConfirmRestore, localized("No"), localized("Yes"));
       }},
      {createLog == 0 ? "T4" : "T5",
       [this] {
         if (createLog != 0) {
           files_.sendLog();  // logging stops at once, whatever the user then does with it
           createLog = 0;
         } else if (files_.startLog()) {
           createLog = 1;  // the sheet then offers the support mail in its place
         }
       }},
      {"T8", [this] { askToView(files_.exportVCard(contatti), kActionExportedVCard); }},
      {"T9",
       [this] {
         // The plan first: what would be added, merged and left out.
         if (auto plan = files_.copyToBookPlan(contatti)) {
           confirm(localized("T9"), *plan, kActionConfirmCopyToBook, localized("Cancel"), localized("Copy"));
         }
       }},
  };
}

// The SIM phonebook's row: the address book's person, delete, an unknown person, edit,
// call; a message: delete and edit, and only delete for a message sent in parts (shown
// as one row with its parts' texts joined, which no one message could hold again); a
// row of a store that is not written: the address book's person and the call.
// `modifica` keeps the row: a pick from the address book changes it.
std::vector<RootViewController::SheetCommand> RootViewController::entryCommands() {
  const SheetCommand pick{"E0", [this] { openPeoplePicker(); }};
  const SheetCommand remove{"E1", [this] { deleteEntry(); }};
  const SheetCommand person{"E2", [this] { openUnknownPerson(); }};
  const SheetCommand edit{"E3", [this] { openEditor(true); }};
  const SheetCommand call{"E4", [this] { app_.openURL("tel://" + contatti[modifica].telefono); }};
  if (readOnly()) return {person, call};
  if (tipoDisplay == 0) return {pick, remove, person, edit, call};
  if (modificaInParts_) return {remove};
  return {remove, edit};
}

std::vector<RootViewController::SheetCommand> RootViewController::addCommands() {
  const bool phonebook = tipoDisplay == 0;
  return {
      {phonebook ? "A0" : "Future function",
       [this, phonebook] {
         if (!phonebook) return;
         modifica = -1;
         openPeoplePicker();
       }},
      {"A1",
       [this] {
         modifica = -1;
         openEditor(false);
       }},
  };
}

std::vector<std::string> RootViewController::labelsOf(const std::vector<SheetCommand>& commands) {
  std::vector<std::string> labels;
  for (const auto& c : commands) labels.push_back(localized(c.key));
  return labels;
}

void RootViewController::toolPressed() {
  actionType = kActionToolSheet;
  app_.showSheet({"", this, localized("Cancel"), labelsOf(toolCommands())});
}

void RootViewController::tableViewWillSelectRowAtIndexPath(int row) {
  actionType = kActionEntrySheet;
  modifica = row;
  // Taken once for the sheet, so that its buttons and its answer agree.
  modificaInParts_ = tipoDisplay == 1 && messageInParts(contatti[row].posizione);
  const std::string title = readOnly() ? localized(phonebookKind(book).title)
                            : tipoDisplay == 0 ? localized("Edit SIM contact")
                                               : localized("Edit SMS");
  kit::ActionSheet sheet{title, this, localized("Cancel"), labelsOf(entryCommands())};
  sheet.message = replacedValue(contatti[row]);
  app_.showSheet(std::move(sheet));
}

bool RootViewController::messageInParts(std::int32_t posizione) const {
  auto table = SimTable::open(paths_.database(), ListStore::Sms, kScreenBusy);
  auto parts = table ? table->parts() : Result<MessageParts>(table.error());
  return parts && parts->contains(posizione);
}

std::string RootViewController::replacedValue(const SimEntry& entry) const {
  if (entry.operazione != kMarkChanged) return {};
  auto pending = entries::pendingChanges(editTarget());
  if (!pending) return {};  // the sheet goes without it: the row's commands still work
  for (const entries::PendingRow& p : pending->changed) {
    if (p.row.posizione != entry.posizione || !p.replaces) continue;
    std::string value = p.replaces->nome;
    if (!p.replaces->telefono.empty()) value += (value.empty() ? "" : ", ") + p.replaces->telefono;
    return localized("Replaces:") + " " + value;
  }
  return {};
}

void RootViewController::addPressed() {
  if (readOnly()) return;
  actionType = kActionAddSheet;
  app_.showSheet({localized("Add"), this, localized("Cancel"), labelsOf(addCommands())});
}

void RootViewController::actionSheetClickedButtonAtIndex(const kit::ActionSheet&, int index) {
  std::vector<SheetCommand> commands;
  switch (actionType) {
    case kActionToolSheet: commands = toolCommands(); break;
    case kActionEntrySheet:
      if (modifica < 0 || modifica >= static_cast<int>(contatti.size())) return;
      commands = entryCommands();
      break;
    case kActionAddSheet: commands = addCommands(); break;
    default: return;
  }
  if (index >= 0 && index < static_cast<int>(commands.size())) commands[static_cast<std::size_t>(index)].run();
}

void RootViewController::confirm(const std::string& title, const std::string& message,
                                 Action action, const std::string& cancel, const std::string& ok) {
  actionType = action;
  app_.showAlert({title, message, this, cancel, {ok}});
}

void RootViewController::alertViewClickedButtonAtIndex(const kit::Alert&, int index) {
  const int answered = actionType;
  switch (answered) {
    case kActionConfirmEmpty:
    case kActionConfirmImport:
    case kActionExported:
    case kActionExportedVCard:
    case kActionConfirmRestore:
    case kActionConfirmRead:
    case kActionConfirmWrite:
    case kActionConfirmOtherSim:
    case kActionOfferFast:
    case kActionConfirmCopyToBook:
    case kActionConfirmArchiveSms:
      break;
    default:
      return;  // an alert of another kind
  }
  actionType = kActionNone;
  if (answered == kActionOfferFast) {
    // Either answer is remembered: the offer is made once.
    preferences_.setValue(kPrefFastOffered, 1);
    if (index == 1) preferences_.setValue(kPrefFast, 1);
    preferences_.synchronize();
    return;
  }
  if (index != 1) return;
  if (answered == kActionConfirmEmpty) emptySim();
  if (answered == kActionConfirmImport) runUnderOverlay([this] { return files_.importAll(sim(), this); });
  if (answered == kActionExported) files_.viewExport("Voryx.csv", "text/csv; charset=utf-8");
  if (answered == kActionExportedVCard) files_.viewExport("Voryx.vcf", "text/vcard; charset=utf-8");
  if (answered == kActionConfirmCopyToBook) files_.copyToBook(contatti);
  if (answered == kActionConfirmRestore) {
    runUnderOverlay([this] {
      files_.restore(sim());
      return std::vector<std::int32_t>();
    });
  }
  if (answered == kActionConfirmRead) startTransfer(false, true);
  if (answered == kActionConfirmWrite) startTransfer(true);
  if (answered == kActionConfirmOtherSim) startTransfer(true, false, true);
  if (answered == kActionConfirmArchiveSms) archiveAndClearMessages();
}

void RootViewController::runUnderOverlay(std::function<std::vector<std::int32_t>()> command) {
  files_.showWaitOverlay(kSpinnerTag);
  app_.loop().afterDelay(0.1, [this, command = std::move(command)] {
    const std::vector<std::int32_t> added = command();
    loadDB();
    showNewRows(added);
    ownChangeMade();
    app_.removeOverlay(kSpinnerTag);
  });
}

void RootViewController::askToView(const std::optional<FileCommands::Exported>& exported, Action action) {
  if (exported) confirm(exported->title, exported->message, action, localized("No"), localized("Yes"));
}

}  // namespace voryx

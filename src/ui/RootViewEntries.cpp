// The main screen's commands on entries: the edit screen, add, change, delete, empty and
// sort, each through entries/Editing, and what the screen shows when the database did not
// take one.
#include "ui/RootViewController.h"

#include <memory>

#include "base/Localized.h"
#include "ui/EditViewController.h"

namespace voryx {

entries::EditTarget RootViewController::editTarget() const {
  const bool sms = tipoDisplay == 1;
  return {paths_.database(), sms ? ListStore::Sms : ListStore::Phonebook, capacity(), maxSIMLen,
          kScreenBusy, preferences_.integer(kPrefNameSets, 0), book,
          preferences_.integer(phonebookKey(kPrefMaxNumberLen, book), codec::kSimNumberDigits)};
}

void RootViewController::ownChangeMade() {
  if (watch_.changed()) watch_.seen();
}

void RootViewController::changeNotSaved(const std::string& detail) {
  app_.showAlert({localized("Database error"), localized("The change was not saved.") + "\n" + detail,
                  nullptr, localized("Ok"), {}});
  reloadUnlessBusy();
}

void RootViewController::reloadUnlessBusy() {
  ListLoad load = loadStore(tipoDisplay);
  if (load.failure == LoadFailure::Busy) return;
  shownSearch_ = tipoDisplay == 1 ? "" : search.text;
  showList(std::move(load), capacity());
}

void RootViewController::openEditor(bool existing) {
  auto editor = std::make_unique<EditViewController>();
  editor->mainView = this;
  editor->tipo = tipoDisplay == 1 ? EditViewController::kTipoMessage : EditViewController::kTipoPhonebookEntry;
  if (existing) {
    actionType = kActionEditing;
    editor->testo = contatti[modifica].nome;
    editor->numero = contatti[modifica].telefono;
  }
  app_.navigation().present(std::move(editor), kit::NavigationController::Transition::PageCurl);
}

bool RootViewController::refresh(int kind, const std::string& testo, const std::string& numero) {
  if (kind != kEditCancelled && !addEntry(testo, numero)) return false;
  app_.loop().afterDelay(kDismissDelay, [this] { rilascia2(); });
  return true;
}

void RootViewController::rilascia2() { app_.navigation().dismiss(); }

bool RootViewController::addEntry(const std::string& name, const std::string& phone) {
  const bool adding = modifica == -1;
  if (!adding && (modifica < 0 || modifica >= static_cast<int>(contatti.size()))) return true;
  const entries::EditResult result =
      adding ? entries::addEntry(editTarget(), name, phone)
             : entries::changeEntry(editTarget(), contatti[modifica].posizione, name, phone);
  switch (result.outcome) {
    case entries::EditOutcome::Stored:
      if (adding) {
        contatti.push_back(result.entry);
      } else {
        contatti[modifica] = result.entry;
      }
      ownChangeMade();
      break;
    case entries::EditOutcome::SimFull:
      app_.showAlert({localized("Add phone number"), localized("SIM is full!"), this, localized("Ok"), {}});
      break;
    case entries::EditOutcome::NotSaved:
      changeNotSaved(result.detail);
      return true;
    case entries::EditOutcome::Refused:
      app_.showAlert({localized("The change was not saved."), result.detail, nullptr, localized("Ok"), {}});
      return false;
  }
  sortEntries(contatti, sortField);
  setCountTitle('/', capacity());
  return true;
}

void RootViewController::deleteEntry() {
  SimEntry entry = contatti[modifica];
  if (Status done = entries::deleteEntry(editTarget(), entry.posizione); !done) {
    changeNotSaved(done.error().detail);
    return;
  }
  entry.operazione = kMarkDeleted;
  contatti[modifica] = entry;
  ownChangeMade();
}

void RootViewController::emptySim() {
  if (Status done = entries::emptySim(paths_.database(), kScreenBusy); !done) {
    changeNotSaved(done.error().detail);
    return;
  }
  for (SimEntry& entry : contatti) entry.operazione = kMarkDeleted;
  ownChangeMade();
}

void RootViewController::sortBy(int field) {
  sortField = field;
  sortEntries(contatti, sortField);
  preferences_.store(kPrefSort, sortField);
}

}  // namespace voryx

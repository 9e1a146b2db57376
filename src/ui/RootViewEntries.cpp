// The main screen's commands on entries: the edit screen, add, change, delete, empty and
// sort, each through entries/Editing, and what the screen shows when the database did not
// take one.
#include "ui/RootViewController.h"

#include <memory>

#include "base/Localized.h"
#include "codec/GsmAlphabet.h"
#include "entries/ContactPlan.h"
#include "ui/EditViewController.h"
#include "ui/Notices.h"

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

std::optional<SimEntry> RootViewController::putEntry(const std::string& name, const std::string& phone,
                                                    bool& refused) {
  refused = false;
  const bool adding = modifica == -1;
  if (!adding && (modifica < 0 || modifica >= static_cast<int>(contatti.size()))) return std::nullopt;
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
      return std::nullopt;
    case entries::EditOutcome::Refused:
      app_.showAlert({localized("The change was not saved."), result.detail, nullptr, localized("Ok"), {}});
      refused = true;
      return std::nullopt;
  }
  sortEntries(contatti, sortField);
  setCountTitle('/', capacity());
  if (result.outcome != entries::EditOutcome::Stored) return std::nullopt;
  return result.entry;
}

std::string RootViewController::nameCutNotice(const std::string& typed, const SimEntry& stored) const {
  if (tipoDisplay != 0 || stored.nome == entries::withoutControlCharacters(typed)) return {};
  return notices::nameShortened(stored.nome, static_cast<int>(codec::utf8ToCodePoints(stored.nome).size()));
}

bool RootViewController::addEntry(const std::string& name, const std::string& phone) {
  const bool adding = modifica == -1;
  bool refused = false;
  const std::optional<SimEntry> stored = putEntry(name, phone, refused);
  if (refused) return false;
  if (!stored) return true;
  if (adding) showNewRows({stored->posizione});
  if (std::string cut = nameCutNotice(name, *stored); !cut.empty()) app_.showNotice(std::move(cut));
  return true;
}

bool RootViewController::onTheList(const std::string& number) const {
  const entries::EditTarget target = editTarget();
  auto cleaned = entries::cleanNumber(number, target.maxNumberLen);
  if (!cleaned) return false;  // the add refuses it and says why
  auto table = SimTable::open(target.database, target.store, target.busy, target.book);
  auto held = table ? table->countNumber(*cleaned) : Result<int>(table.error());
  return held && *held > 0;
}

void RootViewController::addEntries(const std::string& name, const entries::Person& person) {
  std::vector<std::string> numbers;
  for (const entries::Phone& phone : person.phones) {
    numbers.push_back(phone.number);
    std::erase(numbers.back(), ' ');
  }
  if (modifica != -1) {
    for (const std::string& number : numbers) addEntry(name, number);
    return;
  }
  std::vector<std::int32_t> added;
  int already = 0;
  std::string cut;
  if (name.empty()) {
    // No name to give a suffix to: each number as it is, under no name.
    for (const std::string& number : numbers) {
      if (onTheList(number)) {
        ++already;
        continue;
      }
      bool refused = false;
      const std::optional<SimEntry> stored = putEntry(name, number, refused);
      if (!stored) continue;
      added.push_back(stored->posizione);
      if (cut.empty()) cut = nameCutNotice(name, *stored);
    }
  } else {
    // The entries the import would make of the person: "/M", "/H" ... after the name.
    const entries::EditTarget target = editTarget();
    auto table = SimTable::open(target.database, target.store, target.busy, target.book);
    auto list = table ? table->list() : Result<std::vector<SimEntry>>(table.error());
    if (!list) return changeNotSaved(list.error().detail);
    std::vector<entries::HeldNumber> known = entries::numbersOnList(*list);
    const entries::PersonOnSim named =
        entries::personOnSim(person, known, target.room(), preferences_.integer(kPrefLastFirst, 0));
    for (const entries::PersonOnSim::Number& n : named.numbers) {
      if (n.fate == entries::PersonOnSim::Number::Fate::Already) {
        ++already;
        continue;
      }
      if (n.fate == entries::PersonOnSim::Number::Fate::Refused) {
        app_.showAlert({localized("The change was not saved."), n.why, nullptr, localized("Ok"), {}});
        continue;
      }
      bool refused = false;
      const std::optional<SimEntry> stored = putEntry(n.entry, n.number, refused);
      if (!stored) continue;
      added.push_back(stored->posizione);
      if (cut.empty() && named.cut != named.name) {
        cut = notices::nameShortened(stored->nome, static_cast<int>(codec::utf8ToCodePoints(stored->nome).size()));
      }
    }
  }
  showNewRows(added);
  std::string notice = notices::added(static_cast<int>(added.size()), already);
  if (!cut.empty()) notice += ". " + cut;
  app_.showNotice(std::move(notice));
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

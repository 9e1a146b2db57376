#include "contacts/EdsBook.h"

#if VORYX_EDS
#include <libebook/libebook.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "base/FileIo.h"
#include "entries/ContactPlan.h"

namespace voryx::contacts {

#if VORYX_EDS
namespace {

template <class T>
struct Unref {
  void operator()(T* p) const { g_object_unref(p); }
};
template <class T>
using Ref = std::unique_ptr<T, Unref<T>>;

Error edsError(std::string_view what, GError* e) {
  std::string detail(what);
  if (e) {
    detail += ": ";
    detail += e->message;
    g_error_free(e);
  }
  return Error{Errc::Io, detail};
}

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

// The registry's view of the sources. The registry service reloads its sources now and
// then (a source file changed), and a view taken in that moment lacks even the built-in
// book EDS always has: such a view is taken again, for up to two seconds.
Result<Ref<ESourceRegistry>> registry() {
  for (int attempt = 0;; ++attempt) {
    GError* e = nullptr;
    ESourceRegistry* r = e_source_registry_new_sync(nullptr, &e);
    if (!r) return edsError("evolution-data-server does not answer", e);
    Ref<ESourceRegistry> view(r);
    Ref<ESource> builtin(e_source_registry_ref_source(r, "system-address-book"));
    if (builtin || attempt == 20) return view;
    g_usleep(100'000);
  }
}

Result<Ref<EBookClient>> connect(const std::string& uid) {
  auto sources = registry();
  if (!sources) return sources.error();
  Ref<ESource> source(uid.empty() ? e_source_registry_ref_default_address_book(sources->get())
                                  : e_source_registry_ref_source(sources->get(), uid.c_str()));
  if (!source) return Error{Errc::NotFound, "eds:" + uid + " is none of the desktop's address books"};
  GError* e = nullptr;
  // A finite timeout waits all of it for a local book that never reports "connected".
  EClient* client = e_book_client_connect_sync(source.get(), static_cast<guint32>(-1), nullptr, &e);
  if (!client) return edsError("the address book cannot be opened", e);
  return Ref<EBookClient>(E_BOOK_CLIENT(client));
}

// The TYPE parameters of a TEL attribute as one of the labels a vCard's types read as.
std::string phoneLabel(EVCardAttribute* attribute) {
  bool cell = false, home = false, work = false, fax = false, pager = false, voice = false, pref = false;
  for (GList* p = e_vcard_attribute_get_param(attribute, EVC_TYPE); p; p = p->next) {
    std::string type = text(static_cast<const char*>(p->data));
    for (char& c : type) c = g_ascii_tolower(c);
    cell |= type == "cell";
    home |= type == "home";
    work |= type == "work";
    fax |= type == "fax";
    pager |= type == "pager";
    voice |= type == "voice";
    pref |= type == "pref";
  }
  if (cell) return "mobile";
  if (fax) return home ? "home fax" : work ? "work fax" : "fax";
  if (pager) return "pager";
  if (home) return "home";
  if (work) return "work";
  if (voice) return "other";
  return pref ? "main" : "";
}

// The contact's photo, inlined or a local file (as GNOME Contacts keeps it), as large as
// a vCard file's line may hold one; none otherwise.
void photoOf(EContact* contact, entries::Person& person) {
  auto* photo = static_cast<EContactPhoto*>(e_contact_get(contact, E_CONTACT_PHOTO));
  if (!photo) return;
  std::string bytes, declared;
  if (photo->type == E_CONTACT_PHOTO_TYPE_INLINED && photo->data.inlined.data) {
    if (photo->data.inlined.length <= entries::kMaxVCardLineBytes) {
      bytes.assign(reinterpret_cast<const char*>(photo->data.inlined.data), photo->data.inlined.length);
    }
    declared = text(photo->data.inlined.mime_type);
  } else if (photo->type == E_CONTACT_PHOTO_TYPE_URI && photo->data.uri) {
    if (char* file = g_filename_from_uri(photo->data.uri, nullptr, nullptr)) {
      if (auto read = readWholeFile(file, entries::kMaxVCardLineBytes)) bytes = std::move(*read);
      g_free(file);
    }
  }
  e_contact_photo_free(photo);
  for (char& c : declared) c = g_ascii_tolower(c);
  const std::string type = entries::photoTypeOf(declared, bytes);
  if (bytes.empty() || type.empty()) return;
  person.photo = std::move(bytes);
  person.photoType = type;
}

entries::Person personOf(EContact* contact) {
  entries::Person person;
  person.first = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_GIVEN_NAME)));
  person.last = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_FAMILY_NAME)));
  person.organization = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_ORG)));
  person.formatted = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_FULL_NAME)));
  person.uid = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID)));
  if (person.first.empty() && person.last.empty()) person.first = person.formatted;
  photoOf(contact, person);
  GList* phones = e_contact_get_attributes(contact, E_CONTACT_TEL);
  for (GList* a = phones; a; a = a->next) {
    auto* attribute = static_cast<EVCardAttribute*>(a->data);
    char* value = e_vcard_attribute_get_value(attribute);
    if (value && *value) person.phones.push_back({phoneLabel(attribute), value});
    g_free(value);
  }
  g_list_free_full(phones, reinterpret_cast<GDestroyNotify>(e_vcard_attribute_free));
  return person;
}

// The TYPE a number of this label is written with; none for a number without a label,
// which then reads back without one.
const char* vCardType(std::string_view label) {
  if (label.empty()) return nullptr;
  if (label == "mobile") return "CELL";
  if (label == "home") return "HOME";
  if (label == "work") return "WORK";
  if (label == "main") return "PREF";  // the address books' "Primary"
  if (label == "pager") return "PAGER";
  if (label.ends_with("fax")) return "FAX";
  return "VOICE";
}

void appendPhone(EContact* contact, const entries::Phone& phone) {
  EVCardAttribute* tel = e_vcard_attribute_new(nullptr, EVC_TEL);
  if (const char* type = vCardType(phone.label)) {
    e_vcard_attribute_add_param_with_value(tel, e_vcard_attribute_param_new(EVC_TYPE), type);
  }
  e_vcard_append_attribute_with_value(E_VCARD(contact), tel, phone.number.c_str());
}

}  // namespace

Result<std::vector<EdsBookInfo>> edsBooks() {
  auto sources = registry();
  if (!sources) return sources.error();
  Ref<ESource> fallback(e_source_registry_ref_default_address_book(sources->get()));
  const std::string defaultUid = fallback ? text(e_source_get_uid(fallback.get())) : std::string();
  std::vector<EdsBookInfo> books;
  GList* list = e_source_registry_list_enabled(sources->get(), E_SOURCE_EXTENSION_ADDRESS_BOOK);
  for (GList* s = list; s; s = s->next) {
    auto* source = static_cast<ESource*>(s->data);
    EdsBookInfo info{text(e_source_get_uid(source)), text(e_source_get_display_name(source)), false};
    info.isDefault = info.uid == defaultUid;
    books.insert(info.isDefault ? books.begin() : books.end(), std::move(info));
  }
  g_list_free_full(list, g_object_unref);
  return books;
}

Result<entries::AddressBook> readEdsBook(const std::string& uid) {
  auto client = connect(uid);
  if (!client) return client.error();
  GSList* contacts = nullptr;
  GError* e = nullptr;
  EBookQuery* any = e_book_query_any_field_contains("");
  char* query = e_book_query_to_string(any);
  e_book_query_unref(any);
  const bool read = e_book_client_get_contacts_sync(client->get(), query, &contacts, nullptr, &e);
  g_free(query);
  if (!read) return edsError("the address book cannot be read", e);
  entries::AddressBook book;
  for (GSList* c = contacts; c; c = c->next) book.persons.push_back(personOf(E_CONTACT(c->data)));
  g_slist_free_full(contacts, g_object_unref);
  return book;
}

Result<std::string> addEdsContact(const std::string& uid, const entries::Person& person) {
  auto client = connect(uid);
  if (!client) return client.error();
  Ref<EContact> contact(e_contact_new());
  EContactName* name = e_contact_name_new();
  name->given = g_strdup(person.first.c_str());
  name->family = g_strdup(person.last.c_str());
  name->additional = g_strdup(person.middle.c_str());
  e_contact_set(contact.get(), E_CONTACT_NAME, name);
  e_contact_name_free(name);
  std::string full = person.formatted;
  if (full.empty()) {
    for (const std::string* part : {&person.first, &person.middle, &person.last}) {
      if (part->empty()) continue;
      if (!full.empty()) full += ' ';
      full += *part;
    }
  }
  if (full.empty()) full = person.organization;
  e_contact_set(contact.get(), E_CONTACT_FULL_NAME, full.c_str());
  if (!person.organization.empty()) e_contact_set(contact.get(), E_CONTACT_ORG, person.organization.c_str());
  for (const entries::Phone& phone : person.phones) appendPhone(contact.get(), phone);
  if (!person.photo.empty()) {
    EContactPhoto photo{};
    photo.type = E_CONTACT_PHOTO_TYPE_INLINED;
    photo.data.inlined.mime_type = const_cast<char*>(person.photoType.c_str());
    photo.data.inlined.length = person.photo.size();
    photo.data.inlined.data = reinterpret_cast<guchar*>(const_cast<char*>(person.photo.data()));
    e_contact_set(contact.get(), E_CONTACT_PHOTO, &photo);
  }
  GError* e = nullptr;
  char* added = nullptr;
  if (!e_book_client_add_contact_sync(client->get(), contact.get(), E_BOOK_OPERATION_FLAG_NONE, &added, nullptr, &e)) {
    return edsError("the contact cannot be added", e);
  }
  std::string addedUid = text(added);
  g_free(added);
  return addedUid;
}

Status addEdsPhones(const std::string& uid, const std::string& contactUid, const std::vector<entries::Phone>& phones) {
  auto client = connect(uid);
  if (!client) return client.error();
  EContact* found = nullptr;
  GError* e = nullptr;
  if (!e_book_client_get_contact_sync(client->get(), contactUid.c_str(), &found, nullptr, &e)) {
    const bool gone = e && g_error_matches(e, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND);
    Error error = edsError("the contact cannot be read", e);
    if (gone) error.code = Errc::NotFound;
    return error;
  }
  Ref<EContact> contact(found);
  const entries::Person held = personOf(contact.get());
  bool added = false;
  for (const entries::Phone& phone : phones) {
    const bool known = std::any_of(held.phones.begin(), held.phones.end(), [&](const entries::Phone& p) {
      return entries::sameNumber(p.number, phone.number);
    });
    if (known) continue;
    appendPhone(contact.get(), phone);
    added = true;
  }
  if (!added) return Ok{};
  if (!e_book_client_modify_contact_sync(client->get(), contact.get(), E_BOOK_OPERATION_FLAG_NONE, nullptr, &e)) {
    return edsError("the contact cannot be changed", e);
  }
  return Ok{};
}

struct EdsWatch::State {
  std::mutex mutex;
  std::condition_variable cv;
  bool started = false;  // the thread has got as far as it will
  bool running = false;  // and watches
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  bool complete = false;  // the view has listed the contacts it starts with
  std::function<void()> changed;
};

namespace {

void onChange(EBookClientView*, gpointer, gpointer data) {
  auto* state = static_cast<EdsWatch::State*>(data);
  if (state->complete) state->changed();
}

void onComplete(EBookClientView*, const GError*, gpointer data) { static_cast<EdsWatch::State*>(data)->complete = true; }

gboolean quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

// The watch's thread: the view's signals come in the main context that was this thread's
// own when the view was made, which this thread runs until the watch goes.
void watch(const std::string& uid, const std::shared_ptr<EdsWatch::State>& state) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  EBookClientView* view = nullptr;
  auto client = connect(uid);
  if (client) {
    EBookQuery* any = e_book_query_any_field_contains("");
    char* query = e_book_query_to_string(any);
    e_book_query_unref(any);
    if (e_book_client_get_view_sync(client->get(), query, &view, nullptr, nullptr)) {
      for (const char* signal : {"objects-added", "objects-modified", "objects-removed"}) {
        g_signal_connect(view, signal, G_CALLBACK(onChange), state.get());
      }
      g_signal_connect(view, "complete", G_CALLBACK(onComplete), state.get());
      GError* e = nullptr;
      e_book_client_view_start(view, &e);
      if (e) {
        g_error_free(e);
        g_object_unref(view);
        view = nullptr;
      }
    }
    g_free(query);
  }
  {
    std::lock_guard lock(state->mutex);
    state->started = true;
    state->running = view != nullptr;
    state->context = context;
    state->loop = loop;
  }
  state->cv.notify_all();
  if (view) {
    g_main_loop_run(loop);
    e_book_client_view_stop(view, nullptr);
    g_signal_handlers_disconnect_by_data(view, state.get());
    g_object_unref(view);
  }
  if (client) client->reset();  // the client goes while this context is still the default
  g_main_context_pop_thread_default(context);
  g_main_loop_unref(loop);
  g_main_context_unref(context);
}

}  // namespace

EdsWatch::EdsWatch(std::string uid, std::function<void()> changed) : state_(std::make_shared<State>()) {
  state_->changed = std::move(changed);
  thread_ = std::thread([uid = std::move(uid), state = state_] { watch(uid, state); });
}

EdsWatch::~EdsWatch() {
  if (watching()) {
    // An idle source of the watch's own context ends its loop, even one not yet running.
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, quit, state_->loop, nullptr);
    g_source_attach(idle, state_->context);
    g_source_unref(idle);
  }
  thread_.join();
}

bool EdsWatch::watching() {
  std::unique_lock lock(state_->mutex);
  state_->cv.wait(lock, [&] { return state_->started; });
  return state_->running;
}

#else

Status addEdsPhones(const std::string&, const std::string&, const std::vector<entries::Phone>&) {
  return edsBooks().error();
}

struct EdsWatch::State {};
EdsWatch::EdsWatch(std::string, std::function<void()>) {}
EdsWatch::~EdsWatch() = default;
bool EdsWatch::watching() { return false; }

Result<std::vector<EdsBookInfo>> edsBooks() {
  return Error{Errc::NotFound, "this Voryx was built without evolution-data-server"};
}
Result<entries::AddressBook> readEdsBook(const std::string&) { return edsBooks().error(); }
Result<std::string> addEdsContact(const std::string&, const entries::Person&) { return edsBooks().error(); }

#endif

}  // namespace voryx::contacts

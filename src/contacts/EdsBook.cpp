#include "contacts/EdsBook.h"

#if VORYX_EDS
#include <libebook/libebook.h>
#endif

#include <memory>

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

Result<Ref<ESourceRegistry>> registry() {
  GError* e = nullptr;
  ESourceRegistry* r = e_source_registry_new_sync(nullptr, &e);
  if (!r) return edsError("evolution-data-server does not answer", e);
  return Ref<ESourceRegistry>(r);
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
  bool cell = false, home = false, work = false, fax = false, pager = false, voice = false;
  for (GList* p = e_vcard_attribute_get_param(attribute, EVC_TYPE); p; p = p->next) {
    std::string type = text(static_cast<const char*>(p->data));
    for (char& c : type) c = g_ascii_tolower(c);
    cell |= type == "cell";
    home |= type == "home";
    work |= type == "work";
    fax |= type == "fax";
    pager |= type == "pager";
    voice |= type == "voice";
  }
  if (cell) return "mobile";
  if (fax) return home ? "home fax" : work ? "work fax" : "fax";
  if (pager) return "pager";
  if (home) return "home";
  if (work) return "work";
  return voice ? "other" : "";
}

entries::Person personOf(EContact* contact) {
  entries::Person person;
  person.first = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_GIVEN_NAME)));
  person.last = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_FAMILY_NAME)));
  person.organization = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_ORG)));
  person.formatted = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_FULL_NAME)));
  person.uid = text(static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID)));
  if (person.first.empty() && person.last.empty()) person.first = person.formatted;
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

const char* vCardType(std::string_view label) {
  if (label == "mobile") return "CELL";
  if (label == "home") return "HOME";
  if (label == "work") return "WORK";
  return "VOICE";
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
  for (const entries::Phone& phone : person.phones) {
    EVCardAttribute* tel = e_vcard_attribute_new(nullptr, EVC_TEL);
    e_vcard_attribute_add_param_with_value(tel, e_vcard_attribute_param_new(EVC_TYPE), vCardType(phone.label));
    e_vcard_append_attribute_with_value(E_VCARD(contact.get()), tel, phone.number.c_str());
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

#else

Result<std::vector<EdsBookInfo>> edsBooks() {
  return Error{Errc::NotFound, "this Voryx was built without evolution-data-server"};
}
Result<entries::AddressBook> readEdsBook(const std::string&) { return edsBooks().error(); }
Result<std::string> addEdsContact(const std::string&, const entries::Person&) { return edsBooks().error(); }

#endif

}  // namespace voryx::contacts

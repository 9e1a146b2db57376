// An address book's text as a user's file may hold it. Besides "no crash, no overrun":
// every person read, written as a card and read again, keeps its names, organization,
// phones and UID.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "entries/AddressBook.h"

namespace {

using voryx::entries::Person;
using voryx::entries::Phone;

bool same(const Person& a, const Person& b) {
  const auto samePhone = [](const Phone& x, const Phone& y) {
    return x.label == y.label && x.number == y.number;
  };
  return a.first == b.first && a.middle == b.middle && a.last == b.last &&
         a.organization == b.organization && a.uid == b.uid &&
         std::equal(a.phones.begin(), a.phones.end(), b.phones.begin(), b.phones.end(), samePhone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text{reinterpret_cast<const char*>(data), size};
  const auto book = voryx::entries::parseVCards(text, "fuzz.vcf");
  for (const auto& person : book.persons) {
    if (person.uid.empty()) continue;  // a card without one gets a new one
    const auto again = voryx::entries::parseVCards(voryx::entries::writeVCard(person));
    if (again.persons.size() != 1 || !same(person, again.persons[0])) __builtin_trap();
  }
  return 0;
}

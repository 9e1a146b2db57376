#pragma once
// Moving contacts between the SIM phonebook and an address book without doubles: when two
// numbers are one, the phone convention's type suffixes on SIM names ("Anna/M", "Anna/H"),
// and the plan of each copy, made whole before anything is written or marked. Pure
// functions of their input; any thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "entries/AddressBook.h"
#include "entries/Editing.h"
#include "store/SimEntry.h"

namespace voryx::entries {

// Two phone numbers are one when their digits are equal (blanks, dashes, dots and
// parentheses ignored; a leading "00" read as "+"), or when one is international ("+",
// a country code of 1 to 3 digits, the rest) and the other is how that country dials the
// rest at home: the rest whole where there is no trunk prefix (Spain, the Czech Republic,
// Denmark, ... and Italy, whose fixed numbers keep their "0" abroad); the rest or "1" and
// the rest in the North American plan (code 1); "0" and the rest everywhere else. A code
// of the first kinds decides alone; an unknown start is tried as a code of each length. A
// national number of fewer than 6 digits (a service number) is one only with itself.
bool sameNumber(std::string_view a, std::string_view b);

// The kind of a number, as the suffix of a SIM name and the label of an address book's
// phone say it.
enum class PhoneKind { None, Mobile, Home, Work, Other };

// "/M", "/H", "/W", "/O"; "" for None.
std::string_view typeSuffix(PhoneKind kind);
// The label an address book gives a number of this kind: "mobile", "home", "work",
// "other"; "" for None.
std::string_view kindLabel(PhoneKind kind);
// An address book's label as a kind: mobile/cell/iPhone Mobile, home, work, anything
// else (main, fax, pager, a custom label) Other; "" None.
PhoneKind kindOfLabel(std::string_view label);

// A SIM name split into the name and the kind its suffix says: "/M", "/H", "/W", "/O"
// (either case, blanks before the slash allowed) or a blank and one of M, H, W, O at the
// end ("Anna M"). A name that is only a suffix keeps it as its name.
struct TypedName {
  std::string name;
  PhoneKind kind = PhoneKind::None;
};
TypedName splitTypeSuffix(std::string_view simName);

// The SIM into the address book: every entry (rows marked deleted left out) becomes a
// contact, unless its number is already on a contact of `book` or on an entry before it
// (heldAlready). Entries whose names differ only by a type suffix become one contact with
// a number of each kind. Names are split by `lastFirst` as the import joins them. With
// `joinExisting` (a book whose contacts take numbers), the numbers of a name that one
// contact of the book bears (and no other) go to that contact instead of a new one.
struct SimToBookPlan {
  std::vector<Person> contacts;  // to create, in the order of their first entry
  int merged = 0;                // numbers that joined another entry's contact
  int mergedInto = 0;            // contacts holding more than one number
  int already = 0;               // entries whose number the book (or an earlier entry) has
  struct Join {
    Person person;               // the book's, with its UID
    std::vector<Phone> phones;   // to add to it
  };
  std::vector<Join> joins;       // numbers for contacts already in the book
  int joined = 0;                // numbers in `joins`
};
SimToBookPlan planSimToBook(const std::vector<SimEntry>& entries, const std::vector<Person>& book, int lastFirst,
                            bool joinExisting = false);

// A number as held under a name (a SIM entry's, or an address-book person's). A copy
// leaves a number out as already there when something holds it with the same digits, or
// in its other form (sameNumber) under the same name: a SIM name cut to its budget or
// with a type suffix counts as the name it was made from, case and blanks at the ends
// aside. Two people's numbers that only a country code's guess makes one ("+33 6 12345678"
// and a "06 12345678" of another name) stay two: a number too many, never one lost.
struct HeldNumber {
  std::string number;
  std::string name;
};
bool heldAlready(const std::vector<HeldNumber>& held, std::string_view number, std::string_view name);

// The numbers of the list that an import leaves out: those of every row but the rows
// marked deleted, under their names.
std::vector<HeldNumber> numbersOnList(const std::vector<SimEntry>& list);

// One person of the address book as SIM entries, one per number: the naming rule of the
// import and its plan. A person with several numbers gets each number's type suffix
// after the name (an unlabelled number "/O"), and the name, not the suffix, is cut to
// what a location holds, so that the copy back into an address book joins the entries
// into one contact again. A number `known` holds (heldAlready) is already there; each new
// one joins `known`, so that a later person's copy of it is too.
struct PersonOnSim {
  std::string name;  // without control characters, uncut; "" for a person with no name
                     // and no organization, who gets no entries (numbers is empty)
  std::string cut;   // the name as its entries hold it, suffix not included
  struct Number {
    enum class Fate { New, Already, Refused };
    Fate fate = Fate::New;
    std::string number;  // cleaned as an edit stores it; Refused: as the book has it
    std::string entry;   // New: the entry's name, suffix included
    std::string why;     // Refused: cleanNumber's reason, readable by a user
  };
  std::vector<Number> numbers;  // in the person's order
};
PersonOnSim personOnSim(const Person& person, std::vector<HeldNumber>& known, const EntryRoom& room,
                        int lastFirst);

// The address book into the SIM: personOnSim of each person in the book's order, the
// new numbers placed in the free locations of 1 to `capacity` in turn, as the import's
// cursor places them; entries past the free locations do not fit.
struct BookToSimPlan {
  struct Entry {
    std::string name;    // as the SIM will hold it
    std::string number;  // cleaned as an edit stores it
    std::int32_t posizione = 0;  // the location the import gives it
    bool operator==(const Entry&) const = default;
  };
  struct Cut {
    std::string from, to;  // the person's whole name, the name as cut (suffix not included)
  };
  std::vector<Entry> fits;     // what the import adds, in this order
  int beyond = 0;              // entries past the free locations
  int already = 0;             // numbers the list already holds
  int nameless = 0;            // persons with no name and no organization
  std::vector<Cut> cuts;       // one per person with new numbers whose name is cut
  std::vector<std::string> refused;  // "Anna: 0800-FLOWERS: 'F' cannot be stored in a SIM number."
  int free = 0;                // free locations before the import
};
BookToSimPlan planBookToSim(const std::vector<Person>& persons, const std::vector<SimEntry>& list,
                            const EntryRoom& room, int capacity, int lastFirst);

}  // namespace voryx::entries

#pragma once
// What the address book's file reading shares with its text parser. Not for other modules.
#include <string>
#include <string_view>

#include "entries/AddressBook.h"

namespace voryx::entries {

// Parses the cards of `text` into `book` (appending), reading at most `cardsLeft` more
// cards and counting each card it meets against it; the cards past the bound are counted
// as skipped, with one problem line.
void parseVCardsInto(AddressBook& book, std::string_view text, std::string_view source,
                     int& cardsLeft);

// "urn:uuid:" and a random version 4 UUID.
std::string newVCardUid();

}  // namespace voryx::entries

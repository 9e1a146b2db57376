#include "entries/ContactPlan.h"

#include <gtest/gtest.h>

namespace voryx::entries {
namespace {

TEST(ContactPlanTest, NumbersAreOneInTheirNationalAndInternationalForms) {
  struct Case {
    const char *a, *b;
    bool same;
  };
  const Case kCases[] = {
      {"02 1234567", "(02) 123-4567", true},
      {"+39 02 1234567", "02 1234567", true},         // Italy keeps its 0
      {"+49 30 123456", "030 123456", true},          // the trunk 0 dropped
      {"0049 30 123456", "+4930123456", true},        // 00 is the international prefix
      {"+44 (0)20 7946 0958", "020 7946 0958", true},
      {"+44 (0)20 7946 0958", "+442079460958", true},
      {"+39 (0)2 1234567", "02 1234567", true},
      {"+39 (0)2 1234567", "+3921234567", false},
      {"+1 555 123 4567", "5551234567", true},
      {"+1 212 555 0100", "(212) 555-0100", true},
      {"+1 212 555 0100", "1 212 555 0100", true},    // the North American "1" before the area code
      {"+420 212345678", "212345678", true},          // no trunk prefix at home
      {"+420 212345678", "02 12345678", false},       // a number in Milan, not in Prague
      {"+34 912345678", "912345678", true},
      {"+34 912345678", "0912345678", false},
      {"+34 912345678", "012345678", false},          // not "+349" and a trunk 0
      {"+39 333 1234567", "333 1234567", true},       // an Italian mobile has no 0
      {"+44 20 7946 0000", "020 7946 0000", true},
      {"+49 30 1234567", "030 1234567", true},
      {"+49 30 1234567", "30 1234567", false},        // the common rule wants the trunk 0
      {"+39112", "112", false},                       // a service number is only itself
      {"+393331234567", "+493331234567", false},
      {"3331234567", "3331234568", false},
      {"", "", false},
      {"+", "+", false},
      {"abc", "abc", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b);
    EXPECT_EQ(sameNumber(c.a, c.b), c.same);
    EXPECT_EQ(sameNumber(c.b, c.a), c.same);
  }
}

TEST(ContactPlanTest, TypeSuffixesOfSimNames) {
  struct Case {
    const char* simName;
    const char* name;
    PhoneKind kind;
  };
  const Case kCases[] = {
      {"Anna/M", "Anna", PhoneKind::Mobile},       {"Anna /h", "Anna", PhoneKind::Home},
      {"Anna W", "Anna", PhoneKind::Work},         {"Bruno Rossi/O ", "Bruno Rossi", PhoneKind::Other},
      {"Studio m", "Studio m", PhoneKind::None},   {"Anna X", "Anna X", PhoneKind::None},
      {"/M", "/M", PhoneKind::None},               {"Anna", "Anna", PhoneKind::None},
      {"A/B/H", "A/B", PhoneKind::Home},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.simName);
    const TypedName typed = splitTypeSuffix(c.simName);
    EXPECT_EQ(typed.name, c.name);
    EXPECT_EQ(typed.kind, c.kind);
  }
  for (const PhoneKind kind : {PhoneKind::Mobile, PhoneKind::Home, PhoneKind::Work, PhoneKind::Other}) {
    EXPECT_EQ(splitTypeSuffix("Anna" + std::string(typeSuffix(kind))).kind, kind);
    EXPECT_EQ(kindOfLabel(kindLabel(kind)), kind);
  }
  EXPECT_EQ(kindOfLabel("cell"), PhoneKind::Mobile);
  EXPECT_EQ(kindOfLabel("home fax"), PhoneKind::Other);
  EXPECT_EQ(kindOfLabel(""), PhoneKind::None);
}

TEST(ContactPlanTest, TheSimIntoTheAddressBookMergesSuffixesAndSkipsKnownNumbers) {
  Person bruno;
  bruno.first = "Bruno";
  bruno.phones = {{"mobile", "02 7777777"}};
  const std::vector<SimEntry> sim = {
      {1, "Anna Rossi/M", "+393331111111", 0}, {2, "Anna Rossi/H", "02 5555555", 0},
      {3, "Bruno", "+39 02 7777777", 0},       {4, "Carla", "3334444444", 2},
      {5, "Dino", "12345678", 0},              {6, "Dino", "87654321", 0},
      {7, "Anna Rossi/M", "+393331111111", 0}, {8, "Anna Rossi", "0267676767", 0},
      {9, "Empty", "", 0},
      // Another's number that only a guess at a country code makes Bruno's: kept.
      {10, "Café Noël", "+33 2 7777777", 0},
  };
  const SimToBookPlan plan = planSimToBook(sim, {bruno}, 0);
  ASSERT_EQ(plan.contacts.size(), 4u);
  EXPECT_EQ(plan.contacts[3].first, "Café");
  EXPECT_EQ(plan.contacts[0].first, "Anna");
  EXPECT_EQ(plan.contacts[0].last, "Rossi");
  ASSERT_EQ(plan.contacts[0].phones.size(), 3u);
  EXPECT_EQ(plan.contacts[0].phones[0].label, "mobile");
  EXPECT_EQ(plan.contacts[0].phones[1].label, "home");
  EXPECT_EQ(plan.contacts[0].phones[2].label, "");  // the plain name joins the typed ones
  EXPECT_EQ(plan.contacts[1].first, "Dino");
  EXPECT_EQ(plan.contacts[2].phones[0].number, "87654321");  // two plain Dinos stay two
  EXPECT_EQ(plan.merged, 3);
  EXPECT_EQ(plan.mergedInto, 1);
  EXPECT_EQ(plan.already, 2);  // Bruno's number in the book, Anna's mobile twice

  // A book whose contacts take numbers: the name's one contact gets them; a name two
  // contacts bear gets a contact of its own.
  Person anna;
  anna.first = "anna";
  anna.last = "ROSSI";
  anna.uid = "a";
  Person dino = anna;
  dino.first = "Dino";
  dino.last = "";
  const SimToBookPlan joining = planSimToBook(sim, {bruno, anna, dino, dino}, 0, true);
  ASSERT_EQ(joining.joins.size(), 1u);
  EXPECT_EQ(joining.joins[0].person.uid, "a");
  EXPECT_EQ(joining.joins[0].phones.size(), 3u);
  EXPECT_EQ(joining.joined, 3);
  EXPECT_EQ(joining.contacts.size(), 3u);  // the two Dinos and Café Noël
  EXPECT_EQ(joining.mergedInto, 0);

  // lastFirst 1: the first word is the family name.
  EXPECT_EQ(planSimToBook({{1, "Rossi Anna/M", "+393331111111", 0}}, {}, 1).contacts[0].last, "Rossi");
}

TEST(ContactPlanTest, TheAddressBookIntoTheSimFitsNamesSuffixesAndPlaces) {
  const auto person = [](std::string first, std::string last, std::vector<Phone> phones) {
    Person p;
    p.first = std::move(first);
    p.last = std::move(last);
    p.phones = std::move(phones);
    return p;
  };
  Person acme;
  acme.organization = "ACME";
  acme.phones = {{"work", "0800-FLOWERS"}, {"work", "0800 123456"}};
  const std::vector<Person> book = {
      person("Alessandra", "Bianchini", {{"mobile", "+39 333 1111111"}, {"home fax", "02 12345678"}}),
      person("Bruno", "", {{"mobile", "02 1234567"}}),  // on the list as +39021234567
      acme,
      person("", "", {{"mobile", "3330000000"}}),
      person("Carla", "", {{"", "3339999999"}}),
  };
  const std::vector<SimEntry> list = {{1, "Bruno", "+39021234567", 0}, {2, "Old", "555000", 2}};
  const EntryRoom room;  // 14 bytes of the GSM alphabet
  const BookToSimPlan plan = planBookToSim(book, list, room, 5, 0);
  EXPECT_EQ(plan.free, 3);
  // The free locations in turn, as the import's cursor hands them out.
  EXPECT_EQ(plan.fits, (std::vector<BookToSimPlan::Entry>{{"Alessandra B/M", "+393331111111", 3},
                                                          {"Alessandra B/O", "0212345678", 4},
                                                          {"ACME/W", "0800123456", 5}}));
  EXPECT_EQ(plan.beyond, 1);  // Carla
  EXPECT_EQ(plan.already, 1);
  EXPECT_EQ(plan.nameless, 1);
  ASSERT_EQ(plan.cuts.size(), 1u);
  EXPECT_EQ(plan.cuts[0].from, "Alessandra Bianchini");
  EXPECT_EQ(plan.cuts[0].to, "Alessandra B");
  ASSERT_EQ(plan.refused.size(), 1u);
  EXPECT_TRUE(plan.refused[0].starts_with("ACME: 0800-FLOWERS: ")) << plan.refused[0];

  // A SIM never read takes nothing; the round trip gives the SIM's entries back.
  EXPECT_EQ(planBookToSim(book, {}, room, 0, 0).fits.size(), 0u);
  const SimToBookPlan back = planSimToBook({{1, "Alessandra B/M", "+393331111111", 0},
                                            {2, "Alessandra B/O", "0212345678", 0}}, {}, 0);
  ASSERT_EQ(back.contacts.size(), 1u);
  EXPECT_EQ(planBookToSim(back.contacts, {}, room, 2, 0).fits.size(), 2u);
}

}  // namespace
}  // namespace voryx::entries

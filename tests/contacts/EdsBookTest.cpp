#include "contacts/EdsBook.h"

#include <gtest/gtest.h>

#include "support/PrivateEds.h"

namespace voryx::contacts {
namespace {

TEST(EdsBookTest, ContactsWrittenAreReadBackWithTheirNumbersAndKinds) {
  test::PrivateEds eds;
  ASSERT_TRUE(eds.ready());
  auto books = edsBooks();
  ASSERT_TRUE(books) << books.error().detail;
  ASSERT_FALSE(books->empty());
  EXPECT_TRUE(books->front().isDefault);

  entries::Person anna;
  anna.first = "Anna";
  anna.last = "Rossi";
  anna.phones = {{"mobile", "+393331111111"}, {"home", "02 5555555"}};
  entries::Person labels;  // each label as it comes back
  labels.first = "Labels";
  labels.photo = std::string("\x89PNG\r\n\x1a\n\0\0", 10);  // comes back with its type found

  labels.phones = {{"", "1"}, {"main", "2"}, {"other", "3"}, {"fax", "4"}, {"pager", "5"}, {"work", "6"}};
  entries::Person acme;
  acme.organization = "ACME S.p.A.";
  acme.phones = {{"work", "0800 123456"}};
  for (const auto& person : {anna, acme, labels}) {
    auto uid = addEdsContact("", person);
    ASSERT_TRUE(uid) << uid.error().detail;
    EXPECT_FALSE(uid->empty());
  }
  auto book = readEdsBook("");
  ASSERT_TRUE(book) << book.error().detail;
  ASSERT_EQ(book->persons.size(), 3u);
  for (const auto& person : book->persons) {
    SCOPED_TRACE(person.formatted);
    if (person.first == "Labels") {
      std::vector<std::string> read;
      for (const auto& phone : person.phones) read.push_back(phone.label + ":" + phone.number);
      EXPECT_EQ(read, (std::vector<std::string>{":1", "main:2", "other:3", "fax:4", "pager:5", "work:6"}));
      EXPECT_EQ(person.photo, labels.photo);
      EXPECT_EQ(person.photoType, "image/png");
    } else if (person.organization.empty()) {
      EXPECT_EQ(person.first, "Anna");
      EXPECT_EQ(person.last, "Rossi");
      ASSERT_EQ(person.phones.size(), 2u);
      EXPECT_EQ(person.phones[0].label, "mobile");
      EXPECT_EQ(person.phones[0].number, "+393331111111");
      EXPECT_EQ(person.phones[1].label, "home");
    } else {
      EXPECT_EQ(person.organization, "ACME S.p.A.");
      ASSERT_EQ(person.phones.size(), 1u);
      EXPECT_EQ(person.phones[0].label, "work");
    }
  }
}

}  // namespace
}  // namespace voryx::contacts

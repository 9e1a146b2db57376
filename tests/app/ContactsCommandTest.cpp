// The address book commands against the desktop's own address book: a real
// evolution-data-server on a private bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>

#include "app/RunVoryx.h"
#include "sim/SimCard.h"
#include "support/ListIsSim.h"
#include "support/PrivateEds.h"

namespace voryx {
namespace {

using test::runVoryx;

TEST(ContactsCommandTest, TheSimGoesIntoTheDesktopsBookOnceMerged) {
  {
    // No session bus at all: the desktop's book was asked for, and the answer says why
    // there is none; a vCard file still serves.
    test::TempDir away;
    const test::Env noBus{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (away.path / "bus").string()},
                          {"XDG_RUNTIME_DIR", away.path.string()}};
    const auto asked = runVoryx(away, {"contacts", "--contacts", "eds:"}, noBus);
    EXPECT_EQ(asked.status, 1);
    EXPECT_NE(asked.err.find("evolution-data-server does not answer"), std::string::npos) << asked.err;
    std::filesystem::create_directories(away.path / "data");
    test::writeFile(away.path / "data" / "contacts.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL:1\r\nEND:VCARD\r\n");
    EXPECT_EQ(runVoryx(away, {"contacts"}, noBus).out, "Anna\t\t1\n");
  }
  test::PrivateEds eds;
  ASSERT_TRUE(eds.ready());
  test::TempDir home;
  ASSERT_EQ(runVoryx(home, {"read", "--simulate", "--fast"}).status, 0);

  const auto books = runVoryx(home, {"contacts", "--books"});
  EXPECT_EQ(books.status, 0) << books.err;
  EXPECT_EQ(books.out, "eds:system-address-book\tPersonal\tdefault\n");

  struct Step {
    std::vector<std::string> args;
    const char* says;
  };
  const Step kSteps[] = {
      {{"--dry-run"}, "voryx contacts: would add "},
      {{}, "voryx contacts: added "},
      {{}, "voryx contacts: added 0 contacts, "},  // everything is there now
  };
  for (const Step& step : kSteps) {
    std::vector<std::string> args{"contacts", "--from-sim", "--contacts", "eds:"};
    args.insert(args.end(), step.args.begin(), step.args.end());
    const auto ran = runVoryx(home, args);
    SCOPED_TRACE(ran.err);
    EXPECT_EQ(ran.status, 0);
    EXPECT_TRUE(ran.err.starts_with(step.says));
  }
  const auto listed = runVoryx(home, {"contacts", "--contacts", "eds:"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("Anna Rossi\t"), std::string::npos) << listed.out;

  // The round trip: the book into an emptied SIM gives the SIM's entries back.
  const auto entries = [](const std::string& listing) {
    std::multiset<std::string> out;  // "name<TAB>number" of each row
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
      const auto first = line.find('\t');
      out.insert(line.substr(first + 1, line.rfind('\t') - first - 1));
    }
    return out;
  };
  test::TempDir other;
  const std::string simFile = (other.path / "sim.json").string();
  const auto on = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--simulate", "--fast", "--sim-file", simFile});
    const auto ran = runVoryx(other, args);
    EXPECT_EQ(ran.status, 0) << args[0] << ": " << ran.err;
  };
  on({"read"});
  ASSERT_EQ(runVoryx(other, {"empty"}).status, 0);
  on({"write"});
  on({"read"});
  EXPECT_EQ(runVoryx(other, {"list"}).out, "");
  const auto imported = runVoryx(other, {"import", "--contacts", "eds:"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  on({"write"});
  on({"read"});
  const auto back = entries(runVoryx(other, {"list"}).out);
  const auto sim = entries(runVoryx(home, {"list"}).out);
  std::vector<std::string> lost, gained;
  std::set_difference(sim.begin(), sim.end(), back.begin(), back.end(), std::back_inserter(lost));
  std::set_difference(back.begin(), back.end(), sim.begin(), sim.end(), std::back_inserter(gained));
  EXPECT_EQ(lost, std::vector<std::string>{});
  EXPECT_EQ(gained, std::vector<std::string>{});
  std::string error;
  const auto held = sim::SimCard::load(simFile, error);
  ASSERT_TRUE(held) << error;
  EXPECT_TRUE(test::listIsSim(other / "data" / "Voryx.sqlitedb", ListStore::Phonebook, *held));

  // A new number of a name the book has goes to that contact.
  ASSERT_EQ(runVoryx(home, {"add", "Anna Rossi/H", "02 5555555"}).status, 0);
  const auto joined = runVoryx(home, {"contacts", "--from-sim", "--contacts", "eds:"});
  EXPECT_EQ(joined.status, 0);
  EXPECT_EQ(joined.out, "+Anna Rossi\thome\t025555555\n");
  EXPECT_TRUE(joined.err.starts_with("voryx contacts: added 0 contacts, 1 number to contacts already there")) << joined.err;
  EXPECT_NE(runVoryx(home, {"contacts", "--contacts", "eds:"}).out.find("Anna Rossi\t\t+393331234567\thome\t025555555\n"),
            std::string::npos);

  const auto none = runVoryx(home, {"contacts", "--contacts", "eds:nope"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("eds:nope is none of the desktop's address books"), std::string::npos) << none.err;
}

// The import's dry run prints the entries the import then adds, where it adds them, and
// changes nothing: a person with two numbers as two typed entries under a name cut before
// the suffix, a number on the list in its national form left out.
TEST(ContactsCommandTest, TheImportsDryRunPrintsWhatTheImportAdds) {
  test::TempDir home;
  ASSERT_EQ(runVoryx(home, {"read", "--simulate", "--fast"}).status, 0);
  const std::string vcf = (home.path / "book.vcf").string();
  test::writeFile(vcf,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchini;Alessandra;;;\r\nTEL;TYPE=CELL:+39 333 7654321\r\n"
                  "TEL;TYPE=HOME:02 87654329\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL:333 1234567\r\nEND:VCARD\r\n");
  const auto before = runVoryx(home, {"list"});
  const auto planned = runVoryx(home, {"import", "--dry-run", "--contacts", vcf});
  EXPECT_EQ(planned.status, 0) << planned.err;
  EXPECT_EQ(planned.out, "37\tAlessandra B/M\t+393337654321\t1\n38\tAlessandra B/H\t0287654329\t1\n");
  EXPECT_EQ(planned.err,
            "voryx import: would add 2 entries; 1 number is already there\n"
            "voryx import: name cut to what the SIM holds: Alessandra Bianchini \u2192 Alessandra B\n");
  EXPECT_EQ(runVoryx(home, {"list"}).out, before.out);
  const auto imported = runVoryx(home, {"import", "--contacts", vcf});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, planned.out);
}

}  // namespace
}  // namespace voryx

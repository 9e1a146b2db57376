#include "store/Database.h"

#include <gtest/gtest.h>

#include "store/SimEntry.h"
#include "support/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

using DatabaseTest = test::ShippedDbTest;

TEST_F(DatabaseTest, BindsTransientCopiesAndReusesStatements) {
  {
    auto db = Database::open(db_);
    auto stmt = db->prepare("INSERT INTO sim (desc,number,entry,operazione) VALUES (?,?,?,?)");
    ASSERT_TRUE(stmt.ok());
    for (int i = 1; i <= 2; ++i) {
      // The bound text is a temporary: gone before the step. An empty view binds '', not NULL.
      EXPECT_TRUE(stmt->bindText(1, std::string("name \xC3\xA8 ") + std::to_string(i)));
      EXPECT_TRUE(stmt->bindText(2, std::string_view()));
      EXPECT_TRUE(stmt->bindInt(3, i));
      EXPECT_TRUE(stmt->bindInt(4, kMarkNew));
      EXPECT_EQ(stmt->step(), Statement::Step::Done);
      stmt->reset();
      stmt->clearBindings();
    }
    EXPECT_EQ(stmt->step(), Statement::Step::Done);  // bindings cleared: a row of NULLs
    EXPECT_FALSE(stmt->bindInt(5, 1));
    // A second row with the same entry breaks the table's uniqueness.
    stmt->reset();
    stmt->bindInt(3, 1);
    EXPECT_EQ(stmt->step(), Statement::Step::Error);
    EXPECT_EQ(stmt->lastCode() & 0xff, SQLITE_CONSTRAINT);
    EXPECT_FALSE(stmt->errorMessage().empty());
  }
  // The rows as SQL literals, so that NULL and '' stay apart.
  EXPECT_EQ(test::queryText(db_, "SELECT group_concat(quote(entry)||','||quote(desc)||','||quote(number)||','||"
                                   "quote(operazione), ' ') FROM (SELECT * FROM sim ORDER BY entry)"),
            "NULL,NULL,NULL,NULL 1,'name \xC3\xA8 1','',1 2,'name \xC3\xA8 2','',1");
}

// A missing file and one that is not a database: EntryListTest.OnlyADamagedFileIsMovedAside.
TEST_F(DatabaseTest, PrepareTellsFailuresApart) {
  auto db = Database::open(db_);
  auto missing = db->prepare("SELECT * FROM absent");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, Errc::Invalid);
  EXPECT_NE(missing.error().detail.find("no such table"), std::string::npos) << missing.error().detail;
  // A second statement is refused rather than silently skipped.
  EXPECT_EQ(db->exec("DELETE FROM sim; DELETE FROM simsms").error().code, Errc::Invalid);
  EXPECT_TRUE(db->exec("DELETE FROM sim;  \n").ok());
}

}  // namespace
}  // namespace voryx

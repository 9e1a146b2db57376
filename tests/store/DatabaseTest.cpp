#include "store/Database.h"

#include <gtest/gtest.h>

#include "store/SimEntry.h"
#include "store/TempDir.h"

namespace voryx {
namespace {

namespace fs = std::filesystem;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy_file(test::shippedDatabase(), file_); }

  std::vector<SimEntry> rows() {
    auto db = Database::open(file_);
    auto stmt = db->prepare("SELECT entry,desc,number,operazione FROM sim ORDER BY entry");
    EXPECT_TRUE(stmt.ok());
    std::vector<SimEntry> out;
    while (stmt->step() == Statement::Step::Row) {
      out.push_back({stmt->columnInt(0), stmt->columnText(1), stmt->columnText(2), stmt->columnInt(3)});
    }
    return out;
  }

  test::TempDir dir_;
  fs::path file_ = dir_ / "Voryx.sqlitedb";
};

TEST_F(DatabaseTest, BindsTransientCopiesAndReusesStatements) {
  {
    auto db = Database::open(file_);
    ASSERT_TRUE(db.ok());
    auto stmt = db->prepare("INSERT INTO sim (desc,number,entry,operazione) VALUES (?,?,?,?)");
    ASSERT_TRUE(stmt.ok());
    for (int i = 1; i <= 2; ++i) {
      // The bound text is a temporary: gone before the step.
      EXPECT_TRUE(stmt->bindText(1, std::string("name \xC3\xA8 ") + std::to_string(i)));
      EXPECT_TRUE(stmt->bindText(2, std::string_view()));
      EXPECT_TRUE(stmt->bindInt(3, i));
      EXPECT_TRUE(stmt->bindInt(4, kMarkNew));
      EXPECT_EQ(stmt->step(), Statement::Step::Done);
      stmt->reset();
      stmt->clearBindings();
    }
    // Bindings cleared: entry and desc are NULL now, which the row reads as 0 and "".
    EXPECT_EQ(stmt->step(), Statement::Step::Done);
    EXPECT_FALSE(stmt->bindInt(5, 1));
    // A second row with the same entry breaks the table's uniqueness.
    stmt->reset();
    stmt->bindInt(3, 1);
    EXPECT_EQ(stmt->step(), Statement::Step::Error);
    EXPECT_EQ(stmt->lastCode() & 0xff, SQLITE_CONSTRAINT);
    EXPECT_FALSE(stmt->errorMessage().empty());
  }
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{0, "", "", 0},
                                           {1, "name \xC3\xA8 1", "", kMarkNew},
                                           {2, "name \xC3\xA8 2", "", kMarkNew}}));
}

TEST_F(DatabaseTest, OpenAndPrepareTellFailuresApart) {
  auto none = Database::open(dir_ / "none.sqlitedb");
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.error().code, Errc::NotFound);
  EXPECT_FALSE(fs::exists(dir_ / "none.sqlitedb"));  // not created

  auto db = Database::open(file_);
  auto missing = db->prepare("SELECT * FROM absent");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, Errc::Invalid);
  EXPECT_NE(missing.error().detail.find("no such table"), std::string::npos) << missing.error().detail;
  // A second statement is refused rather than silently skipped.
  EXPECT_EQ(db->exec("DELETE FROM sim; DELETE FROM simsms").error().code, Errc::Invalid);
  EXPECT_TRUE(db->exec("DELETE FROM sim;  \n").ok());

  test::writeFile(dir_ / "garbage", std::string(4096, 'g'));
  auto garbage = Database::open(dir_ / "garbage");
  ASSERT_TRUE(garbage.ok());
  auto stmt = garbage->prepare("SELECT * FROM sim");
  ASSERT_FALSE(stmt.ok());
  EXPECT_EQ(stmt.error().code, Errc::Corrupt);
}

TEST_F(DatabaseTest, TransactionRollsBackUnlessCommitted) {
  {
    auto db = Database::open(file_);
    ASSERT_TRUE(db.ok());
    {
      Transaction t(*db);
      ASSERT_TRUE(t.active());
      ASSERT_TRUE(db->exec("INSERT INTO sim VALUES (1,'kept','1',0)").ok());
      EXPECT_TRUE(t.commit().ok());
      EXPECT_FALSE(t.active());
    }
    Transaction t(*db);
    ASSERT_TRUE(db->exec("INSERT INTO sim VALUES (2,'dropped','2',0)").ok());
  }
  EXPECT_EQ(rows(), (std::vector<SimEntry>{{1, "kept", "1", 0}}));
}

}  // namespace
}  // namespace voryx

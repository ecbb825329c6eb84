// LocalDB: where the database lives, opening, reopening and closing.
#include <gtest/gtest.h>


#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/testing/scoped.h"
#include "localdb/local_db.h"

namespace zentrak {
namespace {

namespace fs = std::filesystem;

class LocalDBTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_ / "profile"); }

  bool SetDBName(TLocalDB& db, const Variant& name, const Variant& path) {
    Variant rv;
    db.setDBName(name, path, rv);
    EXPECT_EQ(rv.Type(), VarType::Boolean);
    return rv.BoolValue();
  }

  ScopedTempDir dir_{"zentrak-localdb"};
  const fs::path root_ = dir_.path();
  ScopedEnv profile_{"USERPROFILE", (root_ / "profile").string()};
  ScopedEnv drive_f_{"ZENTRAK_DRIVE_F", (root_ / "driveF").string()};
};

TEST_F(LocalDBTest, VersionNeedsNoDatabase) {
  TLocalDB db;
  Variant v;
  db.GetVersion(v);
  EXPECT_EQ(v.WideText(), u"Corvel SqliteDB 0.8");
  ASSERT_TRUE(SetDBName(db, Variant(u"orders"), Variant()));
  db.GetVersion(v);
  EXPECT_EQ(v.WideText(), u"Corvel SqliteDB 0.8");
}

TEST_F(LocalDBTest, SetDBNameInTheProfileFolderCreatesFolderAndRegistry) {
  TLocalDB db;
  ASSERT_TRUE(SetDBName(db, Variant(u"orders"), Variant(u"")));
  EXPECT_TRUE(fs::exists(root_ / "profile" / "Zentrak" / "orders.db"));
  auto t = TSQLiteDatabase((root_ / "profile" / "Zentrak" / "orders.db").string())
               .QueryTable("select sql from sqlite_master where name='CacheObjs'");
  ASSERT_EQ(t->RowCount(), 1u);
  EXPECT_EQ(t->CellText(0),
            "CREATE TABLE CacheObjs (TableName TEXT NOT NULL PRIMARY KEY,PK_Field TEXT  NOT NULL, Version TEXT)");
}

TEST_F(LocalDBTest, PathWithAndWithoutTrailingSeparatorGiveTheSameFile) {
  std::string data = (root_ / "data").string();
  const std::string paths[] = {data, data + "\\", data + "/"};
  for (const auto& p : paths) {
    TLocalDB db;
    EXPECT_TRUE(SetDBName(db, Variant(u"orders"), Variant::FromAnsi(p))) << p;
  }
  EXPECT_TRUE(fs::exists(root_ / "data" / "Zentrak" / "orders.db"));
  EXPECT_FALSE(fs::exists(root_ / "data\\"));
}

TEST_F(LocalDBTest, OnlyOneFolderLevelIsCreated) {
  TLocalDB db;
  ASSERT_TRUE(SetDBName(db, Variant(u"first"), Variant()));
  EXPECT_FALSE(SetDBName(db, Variant(u"orders"), Variant::FromAnsi((root_ / "a" / "b").string())));
  EXPECT_FALSE(fs::exists(root_ / "a"));
  // The earlier database was closed before the failed open: none is open now.
  EXPECT_FALSE(db.HasDatabase());
}

TEST_F(LocalDBTest, EmptyNameAndReopening) {
  TLocalDB db;
  ASSERT_TRUE(SetDBName(db, Variant(u""), Variant()));
  EXPECT_TRUE(fs::exists(root_ / "profile" / "Zentrak" / ".db"));
  ASSERT_TRUE(SetDBName(db, Variant(u"one"), Variant()));
  ASSERT_TRUE(SetDBName(db, Variant(u"two"), Variant()));
  EXPECT_TRUE(db.HasDatabase());
  // A number as the name is joined by its text.
  ASSERT_TRUE(SetDBName(db, Variant::FromInt32(42), Variant()));
  EXPECT_TRUE(fs::exists(root_ / "profile" / "Zentrak" / "42.db"));
}

TEST_F(LocalDBTest, SetDBNameNeverFailsAsACall) {
  TLocalDB db;
  EXPECT_FALSE(SetDBName(db, Variant::Null(), Variant()));
  EXPECT_FALSE(SetDBName(db, Variant(u"x"), Variant::Null()));
  EXPECT_FALSE(db.HasDatabase());
}

TEST_F(LocalDBTest, InitDBOpensOnDriveFWithoutFolderOrRegistry) {
  TLocalDB db;
  db.InitDB(Variant(u"demo"), Variant(u"1.0"), Variant(u"Demo"), Variant::FromInt32(1000));
  EXPECT_TRUE(fs::exists(root_ / "driveF" / "demo.db"));
  auto t = TSQLiteDatabase((root_ / "driveF" / "demo.db").string()).QueryTable("select * from sqlite_master");
  EXPECT_EQ(t->RowCount(), 0u);
}

TEST_F(LocalDBTest, InitDBFailureKeepsTheEarlierDatabase) {
  TLocalDB db;
  ASSERT_TRUE(SetDBName(db, Variant(u"orders"), Variant()));
  try {
    db.InitDB(Variant(u"missing\\sub\\demo"), Variant(), Variant(), Variant());
    FAIL() << "no error";
  } catch (const ESQLiteException& e) {
    EXPECT_EQ(e.Message(), "Failed to open database \"F:\\missing\\sub\\demo.db\" : unable to open database file");
  }
  EXPECT_TRUE(db.HasDatabase());
}

TEST_F(LocalDBTest, CloseTwiceAndDestructionCloses) {
  auto db = std::make_unique<TLocalDB>();
  ASSERT_TRUE(SetDBName(*db, Variant(u"orders"), Variant()));
  db->close();
  db->close();
  EXPECT_FALSE(db->HasDatabase());
  ASSERT_TRUE(SetDBName(*db, Variant(u"orders"), Variant()));
  db.reset();  // the connection is closed: the file can be locked exclusively by another one
  TSQLiteDatabase other((root_ / "profile" / "Zentrak" / "orders.db").string());
  other.RunStatement("BEGIN EXCLUSIVE");
  other.RunStatement("COMMIT");
}

}  // namespace
}  // namespace zentrak

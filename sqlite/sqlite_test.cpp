// The SQLite access layer against real database files in a temporary folder, mapped as drive F:.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "base/testing/scoped.h"
#include "platform/codepage.h"
#include "sqlite/sqlite_database.h"

namespace zentrak {
namespace {

namespace fs = std::filesystem;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESQLiteException& e) {
    return e.Message();
  }
  return "<no exception>";
}

class SQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = std::make_unique<TSQLiteDatabase>(Path("test.db")); }
  void TearDown() override { db_.reset(); }

  // A system path ("F:\name") to a file in the temporary folder.
  static std::string Path(const std::string& name) { return "F:\\" + name; }

  // The text of every cell of the first column, one per row.
  std::vector<std::string> Column(const std::string& sql) {
    auto t = db_->QueryTable(sql);
    std::vector<std::string> v;
    for (; !t->AtEnd(); t->Advance()) v.push_back(t->CellText(0));
    return v;
  }

  ScopedTempDir dir_{"zentrak-sqlite"};
  ScopedEnv drive_f_{"ZENTRAK_DRIVE_F", dir_.path().string()};
  std::unique_ptr<TSQLiteDatabase> db_;
};

TEST(SQLiteErrorText, FixedTextsAndUnknownCodes) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {0, "Successful result"},
      {1, "SQL error or missing database"},
      {5, "The database file is locked"},
      {14, "Unable to open the database file"},
      {19, "Abort due to contraint violation"},
      {26, "File opened that is not a database file"},
      {27, "Unknown SQLite Error Code \"27\""},
      {99, "Unknown SQLite Error Code \"99\""},
      {100, "sqlite3_step() has another row ready"},
      {101, "sqlite3_step() has finished executing"},
      {102, "Unknown SQLite Error Code \"102\""},
      {-1, "Unknown SQLite Error Code \"-1\""},
      {2067, "Unknown SQLite Error Code \"2067\""},  // an extended code is not mapped
  };
  for (const auto& c : cases) EXPECT_EQ(SQLiteErrorText(c.code), c.text) << c.code;
}

TEST_F(SQLiteTest, StatementFailureMessages) {
  db_->RunStatement("create table t(id INTEGER primary key, name TEXT)");
  db_->RunStatement("insert into t values(1, 'a')");
  const bool kRun = true, kQuery = false;
  const struct {
    bool run;
    const char* sql;
    const char* message;
  } cases[] = {
      {kRun, "selec 1",
       "Error executing SQL.\rError [1]: SQL error or missing database.\r\"selec 1\": "
       "near \"selec\": syntax error"},
      {kQuery, "select * from missing",
       "Error executing SQL.\rError [1]: SQL error or missing database.\r"
       "\"select * from missing\": no such table: missing"},
      {kRun, "", "Could not prepare SQL statement.\r\"\": No message"},
      {kQuery, "", "Could not prepare SQL statement.\r\"\": No message"},
      {kRun, "-- x", "Could not prepare SQL statement.\r\"-- x\": No message"},
      {kQuery, " \t\r\n ", "Could not prepare SQL statement.\r\" \t\r\n \": No message"},
      {kRun, "select 1", "Error executing SQL statement.\r\"select 1\": No message"},
      {kRun, "insert into t values(1, 'b')",
       "Error executing SQL statement.\rError [19]: Abort due to contraint violation.\r"
       "\"insert into t values(1, 'b')\": UNIQUE constraint failed: t.id"},
      {kQuery, "select abs(-9223372036854775807 - 1)",
       "Could not retrieve data.\rError [1]: SQL error or missing database.\r"
       "\"select abs(-9223372036854775807 - 1)\": integer overflow"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageOf([&] {
                if (c.run)
                  db_->RunStatement(c.sql);
                else
                  db_->QueryTable(c.sql);
              }),
              c.message)
        << c.sql;
  }
  // A failed statement leaves the connection usable.
  EXPECT_EQ(Column("select name from t"), std::vector<std::string>{"a"});
}

TEST_F(SQLiteTest, OpenFailureNamesThePathAsGiven) {
  const std::string path = Path("missing\\folder\\x.db");
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(path); }),
            "Failed to open database \"F:\\missing\\folder\\x.db\" : unable to open database file");
  fs::create_directory(dir_.File("notadb.db"));
  EXPECT_EQ(MessageOf([&] { TSQLiteDatabase db(Path("notadb.db")); }),
            "Failed to open database \"F:\\notadb.db\" : unable to open database file");
}

TEST_F(SQLiteTest, NonAsciiPathsAndStatementsReachSQLiteAsUtf8) {
  const std::u16string name = u"\u6570\u636E";  // held by both UTF-8 and GBK
  const std::string utf8 = WideToUtf8(name);
  {
    TSQLiteDatabase db(Path(platform::WideToAnsi(name) + ".db"));
    db.RunStatement("create table t(v TEXT)");
  }
  EXPECT_TRUE(fs::exists(dir_.File(utf8 + ".db")));

  db_->RunStatement("create table t(v TEXT)");
  db_->RunStatement("insert into t values('" + platform::WideToAnsi(name) + "')");
  EXPECT_EQ(Column("select v from t"), std::vector<std::string>{utf8});
  EXPECT_EQ(Column("select v from t where v = '" + utf8 + "'").size(), 1u);
  // A failed statement is named in its UTF-8 form, as SQLite saw it.
  EXPECT_EQ(MessageOf([&] { db_->RunStatement(platform::WideToAnsi(name)); }),
            "Error executing SQL.\rError [1]: SQL error or missing database.\r\"" + utf8 +
                "\": near \"" + utf8 + "\": syntax error");
}

TEST_F(SQLiteTest, EveryStatementOfATextRunsUntilOneFails) {
  db_->RunStatement("create table m(a); insert into m values(1); insert into m values(2)");
  EXPECT_EQ(Column("select a from m"), (std::vector<std::string>{"1", "2"}));
  // A remainder of blanks, comments and semicolons is no further statement.
  db_->RunStatement("insert into m values(3);; -- done\n /* really */ ;  ");
  EXPECT_EQ(Column("select count(*) from m"), std::vector<std::string>{"3"});
  // The failure stops the text; what ran before it stays.
  const std::string text = "insert into m values(4); insert into nowhere values(5); insert into m values(6)";
  EXPECT_EQ(MessageOf([&] { db_->RunStatement(text); }),
            "Error executing SQL.\rError [1]: SQL error or missing database.\r\"" + text +
                "\": no such table: nowhere");
  EXPECT_EQ(Column("select a from m"), (std::vector<std::string>{"1", "2", "3", "4"}));
  // A statement that yields rows fails in second place as in first.
  EXPECT_EQ(MessageOf([&] { db_->RunStatement("insert into m values(7); select 1"); }),
            "Error executing SQL statement.\r\"insert into m values(7); select 1\": No message");
  EXPECT_EQ(Column("select count(*) from m"), std::vector<std::string>{"5"});
}

TEST_F(SQLiteTest, Cursor) {
  auto empty = db_->QueryTable("select 1 as a where 0");
  EXPECT_EQ(empty->RowCount(), 0u);
  EXPECT_EQ(empty->ColumnCount(), 0);  // no row, so no columns
  EXPECT_TRUE(empty->AtEnd());
  EXPECT_FALSE(empty->Rewind());
  EXPECT_FALSE(empty->SeekRow(0));
  EXPECT_FALSE(empty->Advance());
  EXPECT_EQ(MessageOf([&] { empty->CellText(0); }), "Table is at End of File");

  auto t = db_->QueryTable("select column1 from (values (10), (11), (12))");
  ASSERT_EQ(t->RowCount(), 3u);
  EXPECT_EQ(t->ColumnCount(), 1);
  EXPECT_EQ(t->CurrentRow(), 0u);
  EXPECT_TRUE(t->SeekRow(1));
  EXPECT_FALSE(t->SeekRow(3));  // RowCount itself is no row
  EXPECT_FALSE(t->SeekRow(UINT32_MAX));
  EXPECT_EQ(t->CellText(0), "11");
  EXPECT_TRUE(t->Advance());
  EXPECT_TRUE(t->Advance());
  EXPECT_TRUE(t->AtEnd());
  EXPECT_EQ(t->CurrentRow(), 3u);
  EXPECT_FALSE(t->Advance());
  EXPECT_EQ(t->CurrentRow(), 3u);
  for (const auto& f : std::vector<std::function<void()>>{
           [&] { t->CellIsNull(0); }, [&] { t->CellText(0); }, [&] { t->CellTextOrEmpty(0); },
           [&] { t->CellInteger(0); }, [&] { t->CellFloat(0); }, [&] { t->CellBytes(0); }})
    EXPECT_EQ(MessageOf(f), "Table is at End of File");
  EXPECT_TRUE(t->Rewind());
  EXPECT_EQ(t->CellText(0), "10");
}

TEST_F(SQLiteTest, ColumnKindsAndNames) {
  // The declared type is compared exactly as the table's definition spells it: "integer" and
  // "Real" declare Text columns, as "boolean" and "float" do.
  db_->RunStatement(
      "create table k(a INTEGER, b integer, c INT, d BOOLEAN, e NUMERIC, f FLOAT, g DOUBLE, "
      "h REAL, i BLOB, j TEXT, k VARCHAR(20), l BIGINT, m Real, n, o boolean, p Numeric, "
      "q float, r double)");
  db_->RunStatement(
      "insert into k values(1, 2, 3, 1, 4.5, 5.5, 6.5, 7.5, x'01', 't', 'v', 8, 9, 10, 1, 2, 3, 4)");
  auto t = db_->QueryTable("select * from k");
  using K = ColumnKind;
  const K expected[] = {K::Integer, K::Text,  K::Text,  K::Integer, K::Float, K::Float,
                        K::Float,   K::Float, K::Blob,  K::Text,    K::Text,  K::Text,
                        K::Text,
                        K::Integer,  // n has no declared type: its first value decides
                        K::Text,    K::Text,    K::Text,  K::Text};
  ASSERT_EQ(t->ColumnCount(), 18);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(t->Kind(i), expected[i]) << t->ColumnName(i);
  EXPECT_EQ(t->CellText(2), "3");  // a Text column reads SQLite's text of the value

  auto e = db_->QueryTable("select 1 as one, 1.5 as Mixed_Case, 'x', x'01', null, count(*) from k");
  const K expr[] = {K::Integer, K::Float, K::Text, K::Blob, K::Null, K::Integer};
  const char* names[] = {"ONE", "MIXED_CASE", "'X'", "X'01'", "NULL", "COUNT(*)"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(e->Kind(i), expr[i]) << i;
    EXPECT_EQ(e->ColumnName(i), names[i]);
  }
  EXPECT_EQ(MessageOf([&] { e->ColumnName(6); }), "Column index 6 out of range");
  EXPECT_EQ(MessageOf([&] { e->CellText(-1); }), "Column index -1 out of range");

  // The first row decides the kind of an expression; a Null column never shows a value.
  auto n = db_->QueryTable("select nullif(column1, 1) from (values (1), (2), (3.5))");
  ASSERT_EQ(n->RowCount(), 3u);
  EXPECT_EQ(n->Kind(0), K::Null);
  EXPECT_TRUE(n->CellIsNull(0));
  n->Advance();
  EXPECT_FALSE(n->CellIsNull(0));
  EXPECT_EQ(n->CellText(0), "");
  EXPECT_EQ(n->CellTextOrEmpty(0), "");
  EXPECT_EQ(n->CellBytes(0), "2");
}

TEST_F(SQLiteTest, CellTextByKind) {
  const struct {
    const char* decl;
    const char* value;  // SQL literal
    std::string text;
    bool is_null;
  } cases[] = {
      {"INTEGER", "-42", "-42", false},
      {"INTEGER", "9223372036854775807", "9223372036854775807", false},
      {"INTEGER", "'abc'", "0", false},  // SQLite's conversion of the text
      {"INTEGER", "2.7", "2", false},
      {"INTEGER", "null", "0", true},
      {"BOOLEAN", "1", "1", false},
      {"integer", "5", "5", false},
      {"boolean", "'yes'", "yes", false},  // not BOOLEAN: a Text column
      {"INT", "2.5", "2.5", false},
      {"REAL", "2", "2", false},
      {"REAL", "2.5", "2.5", false},
      {"REAL", "-0.1", "-0.1", false},
      {"REAL", "1e20", "1E20", false},
      {"DOUBLE", "0.1 + 0.2", "0.3", false},  // 15 significant digits
      {"NUMERIC", "'1.5'", "1.5", false},
      {"FLOAT", "'x'", "0", false},
      {"REAL", "null", "0", true},
      {"TEXT", "''", "", false},
      {"TEXT", "null", "", true},
      {"TEXT", "12", "12", false},
      {"TEXT", "cast(x'610062' as text)", "a", false},  // text ends at a zero byte
      {"VARCHAR(10)", "x'41'", "A", false},
      {"BLOB", "x''", "", true},  // a zero-length blob holds no value
      {"BLOB", "null", "", true},
      {"BLOB", "x'610062'", std::string("a\0b", 3), false},  // zero bytes kept
      {"BLOB", "'txt'", "txt", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string table = "c" + std::to_string(n++);
    db_->RunStatement("create table " + table + "(v " + c.decl + ")");
    db_->RunStatement("insert into " + table + " values(" + c.value + ")");
    auto t = db_->QueryTable("select v from " + table);
    ASSERT_EQ(t->RowCount(), 1u);
    const std::string& expected = c.text;
    EXPECT_EQ(t->CellText(0), expected) << c.decl << " " << c.value;
    EXPECT_EQ(t->CellIsNull(0), c.is_null) << c.decl << " " << c.value;
    EXPECT_EQ(t->CellTextOrEmpty(0), c.is_null ? "" : expected) << c.decl << " " << c.value;
  }
}

TEST_F(SQLiteTest, DeclaredTypeIsReadAsWritten) {
  using K = ColumnKind;
  // One column, one value: the kind and the text that follow from the type as written.
  const struct {
    const char* decl;
    const char* value;
    K kind;
    const char* text;
  } cases[] = {
      {"integer", "5", K::Text, "5"},
      {"Integer", "2.5", K::Text, "2.5"},
      {"integer primary key", "7", K::Text, "7"},
      {"integer not null", "3", K::Text, "3"},
      {"INTEGER", "2.5", K::Integer, "2"},
      {"INTEGER primary key", "7", K::Integer, "7"},
      {"real", "2.0", K::Text, "2.0"},
      {"real", "2", K::Text, "2.0"},  // the column's affinity still makes it a real
      {"REAL", "2.0", K::Float, "2"},
      {"REAL default 0", "2.5", K::Float, "2.5"},
      {"blob", "x'41'", K::Text, "A"},
      {"BLOB", "x'41'", K::Blob, "A"},
      {"text", "12", K::Text, "12"},
      {"int", "2.5", K::Text, "2.5"},
      {"\"integer\"", "5", K::Text, "5"},  // quotes do not change the spelling
      {"[REAL]", "2.0", K::Float, "2"},
      {"'Blob'", "x'41'", K::Text, "A"},
      {"varchar( 20 )", "2.0", K::Text, "2.0"},
      {"DOUBLE PRECISION", "2.0", K::Text, "2.0"},
      {"real /* REAL */ collate nocase", "2.0", K::Text, "2.0"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string table = "d" + std::to_string(n++);
    db_->RunStatement("create table " + table + "(v " + c.decl + ")");
    db_->RunStatement("insert into " + table + " values(" + c.value + ")");
    auto t = db_->QueryTable("select v from " + table);
    ASSERT_EQ(t->RowCount(), 1u);
    EXPECT_EQ(t->Kind(0), c.kind) << c.decl;
    EXPECT_EQ(t->CellText(0), c.text) << c.decl << " " << c.value;
  }
}

TEST_F(SQLiteTest, DeclaredTypeFollowsTheColumnToItsTable) {
  using K = ColumnKind;
  for (const char* sql : {
           "create table a(id INTEGER, price real, qty REAL)",
           "insert into a values(1, 2.0, 3.0)",
           "create table b(id integer, a_id INTEGER, note text)",
           "insert into b values(4, 1, 'n')",
           "create table \"q \"\"x\"\"\"(\"my col\" integer, [b x] REAL, `c``d` real, 'e' INTEGER)",
           "insert into \"q \"\"x\"\"\" values(1.0, 2.0, 3.0, 4.0)",
           "create table w(k integer primary key, v REAL, r real) without rowid",
           "insert into w values(1, 2.0, 3.0)",
           "create view v as select price, qty, id from a",
           "create temp table tt(r real, R2 REAL)",
           "insert into tt values(1.0, 2.0)",
           "create table c(x integer default (1 + 2), y text check(y in ('a,b', 'c')), "
           "z REAL, -- integer\n"
           "u real, unique(y), check(z > 0))",
           "insert into c(y, z, u) values('c', 2.0, 3.0)",
           "create table g(a integer, b INTEGER generated always as (a * 2), c real as (a + 0.5))",
           "insert into g(a) values(2)",
           "create table ca as select price, qty from a",
       })
    db_->RunStatement(sql);

  const struct {
    const char* query;
    std::vector<K> kinds;
    std::vector<std::string> texts;
  } cases[] = {
      {"select * from a", {K::Integer, K::Text, K::Float}, {"1", "2.0", "3"}},
      {"select price as p, qty as q from a", {K::Text, K::Float}, {"2.0", "3"}},
      {"select a.price, b.id, a.id, b.a_id, a.qty from a join b on b.a_id = a.id",
       {K::Text, K::Text, K::Integer, K::Integer, K::Float},
       {"2.0", "4", "1", "1", "3"}},
      {"select * from v", {K::Text, K::Float, K::Integer}, {"2.0", "3", "1"}},
      {"select x from (select price as x from a)", {K::Text}, {"2.0"}},
      {"select * from \"q \"\"x\"\"\"", {K::Text, K::Float, K::Text, K::Integer}, {"1", "2", "3.0", "4"}},
      {"select * from w", {K::Text, K::Float, K::Text}, {"1", "2", "3.0"}},
      {"select * from tt", {K::Text, K::Float}, {"1.0", "2"}},
      {"select * from temp.tt", {K::Text, K::Float}, {"1.0", "2"}},
      {"select * from c", {K::Text, K::Text, K::Float, K::Text}, {"3", "c", "2", "3.0"}},
      {"select * from g", {K::Text, K::Integer, K::Text}, {"2", "4", "2.5"}},
      // A table made from a query is defined with the affinity names, in upper case.
      {"select * from ca", {K::Float, K::Float}, {"2", "3"}},
      // Expressions have no declared type: their first value decides.
      {"select price + 0, cast(qty as integer) from a", {K::Float, K::Integer}, {"2", "3"}},
  };
  for (const auto& c : cases) {
    auto t = db_->QueryTable(c.query);
    ASSERT_EQ(t->RowCount(), 1u) << c.query;
    ASSERT_EQ(t->ColumnCount(), static_cast<int>(c.kinds.size())) << c.query;
    for (int i = 0; i < t->ColumnCount(); ++i) {
      EXPECT_EQ(t->Kind(i), c.kinds[static_cast<size_t>(i)]) << c.query << " column " << i;
      EXPECT_EQ(t->CellText(i), c.texts[static_cast<size_t>(i)]) << c.query << " column " << i;
    }
  }

  // Each query reads the definition as it stands then.
  db_->RunStatement("create table s(v REAL)");
  db_->RunStatement("insert into s values(2.0)");
  EXPECT_EQ(Column("select v from s"), std::vector<std::string>{"2"});
  db_->RunStatement("drop table s");
  db_->RunStatement("create table s(v real)");
  db_->RunStatement("insert into s values(2.0)");
  EXPECT_EQ(Column("select v from s"), std::vector<std::string>{"2.0"});
}

TEST_F(SQLiteTest, TypedCellAccess) {
  db_->RunStatement("create table t(i INTEGER, r REAL, s TEXT, b BLOB, n INTEGER)");
  db_->RunStatement("insert into t values(-7, -2.75, 'abc', x'00ff', null)");
  auto t = db_->QueryTable("select * from t");
  EXPECT_EQ(t->CellInteger(0), -7);
  EXPECT_EQ(t->CellFloat(0), -7.0);
  EXPECT_EQ(t->CellInteger(1), -2);  // truncated
  EXPECT_EQ(t->CellFloat(1), -2.75);
  EXPECT_EQ(t->CellInteger(4), 0);
  EXPECT_EQ(t->CellFloat(4), 0.0);
  EXPECT_EQ(t->CellBytes(0), "");
  EXPECT_EQ(t->CellBytes(2), "abc");
  EXPECT_EQ(t->CellBytes(3), std::string("\0\xff", 2));
  EXPECT_EQ(t->CellBlob(3), std::string("\0\xff", 2));
  EXPECT_EQ(t->CellBlob(4), std::nullopt);  // no value comes before the kind
  EXPECT_EQ(t->CellBlobText(3), std::string("\0\xff", 2));
  EXPECT_EQ(MessageOf([&] { t->CellFloat(2); }), "Not an integer or numeric field");
  EXPECT_EQ(MessageOf([&] { t->CellFloat(3); }), "Not an integer or numeric field");
  EXPECT_EQ(MessageOf([&] { t->CellInteger(2); }), "Not an integer or numeric field");
  EXPECT_EQ(MessageOf([&] { t->CellBlob(2); }), "Not a Blob field");
  EXPECT_EQ(MessageOf([&] { t->CellBlob(0); }), "Not a Blob field");
  EXPECT_EQ(MessageOf([&] { t->CellBlobText(1); }), "Not a Blob field");
}

TEST_F(SQLiteTest, ManyRowsKeepEveryCellApart) {
  db_->RunStatement("create table t(i INTEGER, s TEXT, r REAL, b BLOB)");
  db_->StartTransaction();
  for (int i = 0; i < 3000; ++i) {
    std::string s(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
    db_->RunStatement("insert into t values(" + std::to_string(i) + ", '" + s + "', " +
                      std::to_string(i) + ".5, " + (i % 3 ? "x'0102'" : "null") + ")");
  }
  db_->CommitTransaction();
  auto t = db_->QueryTable("select * from t order by i");
  ASSERT_EQ(t->RowCount(), 3000u);
  for (uint32_t i = 0; !t->AtEnd(); t->Advance(), ++i) {
    ASSERT_EQ(t->CellInteger(0), i);
    ASSERT_EQ(t->CellText(1), std::string(i % 37, static_cast<char>('a' + i % 26)));
    ASSERT_EQ(t->CellFloat(2), i + 0.5);
    ASSERT_EQ(t->CellIsNull(3), i % 3 == 0);
    if (i % 3) {
      ASSERT_EQ(t->CellBytes(3), "\x01\x02");
    }
  }
}

TEST_F(SQLiteTest, Transactions) {
  db_->RunStatement("create table t(v INTEGER)");
  EXPECT_FALSE(db_->InTransaction());
  db_->StartTransaction();
  db_->RunStatement("insert into t values(1)");
  EXPECT_EQ(MessageOf([&] { db_->StartTransaction(); }), "Transaction already open");
  EXPECT_TRUE(db_->InTransaction());  // the first one is still open
  db_->CommitTransaction();
  EXPECT_FALSE(db_->InTransaction());

  db_->StartTransaction();
  db_->RunStatement("insert into t values(2)");
  db_->RollbackTransaction();
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Column("select v from t"), std::vector<std::string>{"1"});

  // Closing with a transaction open rolls it back.
  {
    TSQLiteDatabase other(Path("test.db"));
    other.StartTransaction();
    other.RunStatement("insert into t values(3)");
  }
  EXPECT_EQ(Column("select v from t"), std::vector<std::string>{"1"});

  // A COMMIT that fails leaves the transaction open.
  db_->RunStatement("pragma foreign_keys = on");
  db_->RunStatement("create table p(id INTEGER primary key)");
  db_->RunStatement(
      "create table c(p INTEGER references p(id) deferrable initially deferred)");
  db_->StartTransaction();
  db_->RunStatement("insert into c values(9)");
  EXPECT_EQ(MessageOf([&] { db_->CommitTransaction(); }),
            "Error executing SQL statement.\rError [19]: Abort due to contraint violation.\r"
            "\"COMMIT\": FOREIGN KEY constraint failed");
  EXPECT_TRUE(db_->InTransaction());
  db_->RollbackTransaction();
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Column("select count(*) from c"), std::vector<std::string>{"0"});

  // ROLLBACK without a transaction fails and changes nothing.
  EXPECT_EQ(MessageOf([&] { db_->RollbackTransaction(); }),
            "Error executing SQL statement.\rError [1]: SQL error or missing database.\r"
            "\"ROLLBACK\": cannot rollback - no transaction is active");
}

TEST_F(SQLiteTest, ALockHeldElsewhereFailsAtOnce) {
  db_->RunStatement("create table t(v INTEGER)");
  db_->RunStatement("insert into t values(1)");
  ASSERT_EQ(Column("select v from t").size(), 1u);  // the schema is read before the lock
  TSQLiteDatabase other(Path("test.db"));
  other.RunStatement("begin exclusive");
  other.RunStatement("insert into t values(2)");

  EXPECT_EQ(MessageOf([&] { db_->QueryTable("select v from t"); }),
            "Could not prepare SQL statement.\r\"select v from t\": SQLite is Busy");
  EXPECT_EQ(MessageOf([&] { db_->RunStatement("insert into t values(3)"); }),
            "Error executing SQL statement.\rError [5]: The database file is locked.\r"
            "\"insert into t values(3)\": database is locked");

  other.RunStatement("commit");
  EXPECT_EQ(Column("select v from t"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(SQLiteTest, FloatTextUsesTheLocaleDecimalSeparator) {
  db_->RunStatement("create table t(r REAL)");
  db_->RunStatement("insert into t values(2.5)");
  db_->RunStatement("insert into t values(1.5e-7)");
  std::vector<std::string> texts;
  {
    ScopedLocale german(LC_NUMERIC, "de_DE.UTF-8");
    if (!german.Installed()) GTEST_SKIP() << "de_DE.UTF-8 not generated";
    texts = Column("select r from t");
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"2,5", "1,5E-7"}));
}

TEST_F(SQLiteTest, MovedDatabaseKeepsItsConnection) {
  db_->RunStatement("create table t(v INTEGER)");
  TSQLiteDatabase moved(std::move(*db_));
  moved.RunStatement("insert into t values(1)");
  EXPECT_EQ(MessageOf([&] { db_->RunStatement("select 1"); }), "Database is not open");
  *db_ = std::move(moved);
  EXPECT_EQ(Column("select v from t"), std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace zentrak

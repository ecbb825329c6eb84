// LocalDB: executeSql, transactions, query results and paging, and the table cache registry.
#include <gtest/gtest.h>


#include <filesystem>
#include <string>

#include "base/exception_testing.h"
#include "base/testing/scoped.h"
#include "base/text.h"
#include "codec/base64.h"
#include "common/common.h"
#include "common/result_stream.h"
#include "localdb/local_db.h"
#include "platform/codepage.h"

namespace zentrak {
namespace {

namespace fs = std::filesystem;

std::u16string W(const std::string& utf8) { return Utf8ToWide(utf8); }
std::string U(const Variant& v) { return WideToUtf8(v.WideText()); }

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Variant rv;
    db_.setDBName(Variant(u"t"), Variant(), rv);
    ASSERT_TRUE(rv.BoolValue());
  }
  void TearDown() override { db_.close(); }

  // executeSql(sql): the call's value and what Data holds afterwards.
  std::pair<Variant, Variant> Exec(const std::string& sql) {
    Variant data(W(sql)), value;
    db_.executeSql(data, value);
    return {data, value};
  }
  void Run(const std::string& sql) {
    auto [data, value] = Exec(sql);
    ASSERT_EQ(value.Type(), VarType::Boolean) << sql << ": " << U(data);
    ASSERT_TRUE(value.BoolValue()) << sql << ": " << U(data);
  }
  std::string All(const std::string& sql) {
    Variant out;
    db_.queryAll(Variant(W(sql)), out);
    return U(out);
  }
  std::string Page(const std::string& sql, int size, int page) {
    Variant out;
    db_.queryByPage(Variant(W(sql)), Variant::FromInt32(size), Variant::FromInt32(page), out);
    return U(out);
  }
  bool InitCache(const std::string& doc) {
    Variant v;
    db_.initCache(Variant(W(doc)), v);
    EXPECT_EQ(v.Type(), VarType::Boolean);
    return v.BoolValue();
  }

  ScopedTempDir dir_{"zentrak-queries"};
  const fs::path root_ = dir_.path();
  ScopedEnv profile_{"USERPROFILE", root_.string()};
  TLocalDB db_;
};

TEST_F(QueriesTest, ResultShapeAndCellKinds) {
  EXPECT_EQ(All("select * from CacheObjs"), R"({"size":-1,"total":0,"page":-1,"meta":[],"data":[]})");
  Run("create table t(id INTEGER, name TEXT)");
  Run("insert into t values(1,'abc')");
  Run("insert into t values(2,null)");
  EXPECT_EQ(All("select * from t"),
            R"({"size":-1,"total":2,"page":-1,"meta":["ID","NAME"],"data":[["1","abc"],["2",null]]})");
  Run("create table k(r REAL, i INTEGER, b BLOB, x TEXT, n NUMERIC)");
  Run("insert into k values(2.0, -7, x'', x'e9', 1e20)");
  Run("insert into k values(2.5, 'abc', x'41', 'O''Hara/\"', 0.1)");
  EXPECT_EQ(All("select r, i, b, x, n, case when i=-7 then null else 'v' end as e, 1+1 from k"),
            R"({"size":-1,"total":2,"page":-1,"meta":["R","I","B","X","N","E","1+1"],)"
            R"("data":[["2","-7",null,"","1E20",null,"2"],["2.5","0","A","O'Hara\/\"","0.1","",)"
            R"("2"]]})");
  EXPECT_EQ(All("select name as n from t where id=1"), R"({"size":-1,"total":1,"page":-1,"meta":["N"],"data":[["abc"]]})");
}

TEST_F(QueriesTest, TextIsDecodedFromUtf8IncludingFourByteCharacters) {
  Run("create table u(s TEXT)");
  // A character outside the Basic Multilingual Plane keeps its text instead of emptying the cell.
  Run("insert into u values(x'" "41F09F988042" "')");
  Run("insert into u values('\xE4\xB8\xAD')");
  std::string text = All("select s from u");
  EXPECT_EQ(Utf8ToWide(text), u"{\"size\":-1,\"total\":2,\"page\":-1,\"meta\":[\"S\"],\"data\":[[\"A\U0001F600B\"],[\"\u4E2D\"]]}");
}

TEST_F(QueriesTest, PagingTable) {
  Run("create table p(n INTEGER)");
  Run("with recursive c(x) as (select 0 union all select x+1 from c where x<24) insert into p select x from c");
  auto rows = [](int from, int to) {
    std::string s = "[";
    for (int i = from; i <= to; ++i) s += (i > from ? ",[\"" : "[\"") + std::to_string(i) + "\"]";
    return s + "]";
  };
  auto shape = [](int size, int page, const std::string& data) {
    return R"({"size":)" + std::to_string(size) + R"(,"total":25,"page":)" + std::to_string(page) +
           R"(,"meta":["N"],"data":)" + data + "}";
  };
  struct Case {
    int size, page, from, to;  // from > to: an empty page
  } cases[] = {
      {10, 3, 20, 24}, {10, 4, 1, 0},   {10, 0, 0, 9},   {10, 1, 0, 9},    {10, -1, 0, 9},
      {-1, 3, 0, 24},  {0, 2, 0, 24},   {-5, 1, 0, 24},  {10, -7, 0, 9},   {25, 1, 0, 24},
      {24, 2, 24, 24}, {1, 25, 24, 24}, {1, 26, 1, 0},   {-2, 3, 0, 24},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Page("select * from p", c.size, c.page), shape(c.size, c.page, rows(c.from, c.to)))
        << c.size << " " << c.page;
  }
  // (page - 1) * size wraps in 32-bit arithmetic: a negative offset starts at row 0.
  EXPECT_EQ(Page("select * from p", 1 << 30, 3), shape(1 << 30, 3, rows(0, 24)));
}

TEST_F(QueriesTest, QueryErrorsFailTheCall) {
  EXPECT_EQ(RaisedMessage([&] { All("select * from nothere"); }),
            "Error executing SQL.\rError [1]: SQL error or missing database.\r\"select * from nothere\": "
            "no such table: nothere");
  EXPECT_EQ(RaisedMessage([&] { All(""); }).rfind("Could not prepare SQL statement", 0), 0u);
  Variant out;
  EXPECT_EQ(RaisedMessage([&] { db_.queryAll(Variant::Null(), out); }),
            "Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(RaisedMessage([&] { db_.queryByPage(Variant(u"select 1"), Variant(u"ten"), Variant(), out); }),
            "Could not convert variant of type (OleStr) into type (Boolean)");
  EXPECT_TRUE(out.IsEmpty());
  db_.close();
  EXPECT_EQ(RaisedMessage([&] { All("select 1"); }), "No database is open: call setDBName first");
  EXPECT_EQ(RaisedMessage([&] { db_.getCacheObjs(Variant(), out); }), "No database is open: call setDBName first");
  EXPECT_EQ(RaisedMessage([&] { db_.isTableCached(Variant(u"x"), out); }), "No database is open: call setDBName first");
  EXPECT_EQ(RaisedMessage([&] { db_.BeginTrans(); }), "No database is open: call setDBName first");
}

TEST_F(QueriesTest, ExecuteSqlClassification) {
  Run("create table e(a INTEGER)");
  Run("insert into e values(0)");
  struct Case {
    const char* sql;
    bool query_path;
  } cases[] = {
      {"  SELECT * FROM e", true},
      {"s e l e c t 1", true},  // blanks inside the first word are skipped too
      {"\tselect * from e", false},
      {"(select 1)", false},
      {"with x as (select 1) select * from x", false},
      {"selec", false},
      {"", false},
  };
  for (const auto& c : cases) {
    auto [data, value] = Exec(c.sql);
    if (c.query_path) {
      EXPECT_EQ(value.Type(), VarType::OleStr) << c.sql;
      EXPECT_EQ(U(data), U(value)) << c.sql;
    } else {
      EXPECT_EQ(value.Type(), VarType::Boolean) << c.sql;
      EXPECT_FALSE(value.BoolValue()) << c.sql;
    }
  }
  auto [d1, v1] = Exec("s e l e c t 1");
  EXPECT_EQ(U(v1).rfind("Error executing SQL.\rError [1]: SQL error or missing database.", 0), 0u);
  auto [d2, v2] = Exec("\tselect * from e");
  EXPECT_EQ(U(d2).rfind("Error executing SQL statement", 0), 0u);
  auto [d3, v3] = Exec("");
  EXPECT_EQ(U(d3).rfind("Could not prepare SQL statement", 0), 0u);
  auto [d4, v4] = Exec("insert into e values(1)");
  EXPECT_TRUE(v4.BoolValue());
  EXPECT_EQ(U(d4), "insert into e values(1)");  // Data keeps the SQL text
  auto [d5, v5] = Exec("select * from e where 0");
  EXPECT_EQ(U(v5), R"({"size":-1,"total":0,"page":-1,"meta":[],"data":[]})");
  auto [d6, v6] = Exec("select * from missing");
  EXPECT_EQ(U(d6), U(v6));
  EXPECT_NE(U(v6).find("\rError [1]: SQL error or missing database."), std::string::npos);
  Variant null_data = Variant::Null(), value;
  EXPECT_EQ(RaisedMessage([&] { db_.executeSql(null_data, value); }),
            "Could not convert variant of type (Null) into type (String)");
  db_.close();
  auto [d7, v7] = Exec("insert into e values(2)");
  EXPECT_FALSE(v7.BoolValue());
  EXPECT_EQ(U(d7), "No database is open: call setDBName first");
}

TEST_F(QueriesTest, ExecuteSqlRunsEveryStatementAndReportsTheFirstFailure) {
  Run("create table m(a); insert into m values(1); insert into m values(2)");
  EXPECT_NE(All("select count(*) as n from m").find(R"("data":[["2"]])"), std::string::npos);
  auto [data, value] = Exec("insert into m values(3); insert into m values('x', 'y')");
  EXPECT_FALSE(value.BoolValue());
  EXPECT_NE(U(data).find("table m has 1 columns but 2 values were supplied"), std::string::npos) << U(data);
  EXPECT_NE(All("select count(*) as n from m").find(R"("data":[["3"]])"), std::string::npos);
}

TEST_F(QueriesTest, TransactionMembersUseTheOpenDatabase) {
  Run("create table x(a INTEGER)");
  db_.BeginTrans();
  Run("insert into x values(1)");
  db_.RollBackTrans();
  EXPECT_EQ(All("select count(*) from x"), R"J({"size":-1,"total":1,"page":-1,"meta":["COUNT(*)"],"data":[["0"]]})J");
  db_.BeginTrans();
  EXPECT_EQ(RaisedMessage([&] { db_.BeginTrans(); }), "Transaction already open");
  Run("insert into x values(1)");
  db_.CommitTrans();
  EXPECT_EQ(All("select count(*) from x"), R"J({"size":-1,"total":1,"page":-1,"meta":["COUNT(*)"],"data":[["1"]]})J");
}

const char kExample[] =
    R"J({"zip":"false","content":[{"key":"Goods","pk":"ID","scheme":"CREATE TABLE IF NOT EXISTS Goods(ID TEXT PRIMARY KEY,Name TEXT,Price TEXT)","ver":"3","meta":["ID","Name","Price"],"data":[["1","Tea","$NULL$"],["2","Rice","4.5"]],"delete":["7"]}]})J";
const char kGoods[] =
    R"({"size":-1,"total":2,"page":-1,"meta":["ID","NAME","PRICE"],"data":[["1","Tea",null],["2","Rice","4.5"]]})";
const char kRegistry[] =
    R"({"size":-1,"total":1,"page":-1,"meta":["TABLENAME","PK_FIELD","VERSION"],"data":[["Goods","ID","3"]]})";

TEST_F(QueriesTest, InitCacheExampleAndEncodedForms) {
  Variant out;
  db_.getCacheObjs(Variant(), out);
  EXPECT_EQ(U(out), R"({"size":-1,"total":0,"page":-1,"meta":[],"data":[]})");
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(InitCache(kExample));
    EXPECT_EQ(All("select * from Goods"), kGoods);
    db_.getCacheObjs(Variant(), out);
    EXPECT_EQ(U(out), kRegistry);
  }
  std::string doc = kExample;
  std::string array = doc.substr(doc.find('['), doc.rfind(']') - doc.find('[') + 1);
  std::string b64 = EncodeBase64(array);
  EXPECT_TRUE(InitCache(R"({"zip":"true","content":")" + b64 + "\"}"));
  EXPECT_TRUE(InitCache(R"({"zip":true,"content":")" + b64 + "\"}"));
  EXPECT_FALSE(InitCache(R"({"zip":"TRUE","content":")" + b64 + "\"}"));
  EXPECT_EQ(All("select * from Goods"), kGoods);
  Variant cached;
  db_.isTableCached(Variant(u"Goods"), cached);
  EXPECT_TRUE(cached.BoolValue());
  db_.isTableCached(Variant(u"goods"), cached);  // SQLite's case-sensitive text comparison
  EXPECT_FALSE(cached.BoolValue());
}

TEST_F(QueriesTest, InitCacheFailuresRollBackEverything) {
  ASSERT_TRUE(InitCache(kExample));
  const std::string good_section =
      R"J({"key":"Other","pk":"k","scheme":"CREATE TABLE IF NOT EXISTS Other(k TEXT)","ver":"1","meta":["k"],"data":[["a"]]})J";
  auto doc = [&](const std::string& bad) { return R"({"zip":false,"content":[)" + good_section + "," + bad + "]}"; };
  const std::string failures[] = {
      "not json",
      "[1]",
      R"({"content":[]})",
      R"({"zip":false})",
      R"({"zip":1,"content":[]})",
      R"({"zip":false,"content":{}})",
      doc("5"),
      doc(R"({"pk":"ID","scheme":"","ver":"1"})"),
      doc(R"({"key":"Goods","scheme":"","ver":"1"})"),
      doc(R"({"key":"Goods","pk":"ID","ver":"1"})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":""})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":null,"ver":"1"})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":null})"),
      doc(R"J({"key":"Goods","pk":"ID","scheme":"CREATE TABLE Goods(x)","ver":"1"})J"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","meta":["ID","Name","Price"],"data":[["9","x",5]]})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","meta":["ID","Name","Price"],"data":["9"]})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","meta":["ID","Name","Price"]})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","meta":["ID","Name","Price"],"data":[["9","x"]]})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","meta":["ID","Name","Price"],"data":[["9","x","1","2"]]})"),
      doc(R"({"key":"Goods","pk":"ID","scheme":"","ver":"1","delete":[7]})"),
      doc(R"({"key":"Nope","pk":"ID","scheme":"","ver":"1","meta":["ID"],"data":[["1"]]})"),
  };
  for (const auto& f : failures) {
    EXPECT_FALSE(InitCache(f)) << f;
    EXPECT_EQ(All("select * from Goods"), kGoods) << f;
    Variant out;
    db_.getCacheObjs(Variant(), out);
    EXPECT_EQ(U(out), kRegistry) << f;
    EXPECT_EQ(RaisedMessage([&] { All("select * from Other"); }).rfind("Error executing SQL", 0), 0u) << f;
  }
  // A transaction begun by script makes BEGIN fail.
  Run("BEGIN TRANSACTION");
  EXPECT_FALSE(InitCache(kExample));
  Run("ROLLBACK");
  db_.close();
  EXPECT_FALSE(InitCache(kExample));
}

TEST_F(QueriesTest, InitCacheValuesAndKeys) {
  // Neither meta nor data: scheme, registry row and deletions only.
  EXPECT_TRUE(InitCache(R"J({"zip":false,"content":[{"key":"A","pk":"k","scheme":"CREATE TABLE A(k TEXT, v TEXT)","ver":"1"}]})J"));
  // A quote in a value is stored unchanged; a pk not in meta deletes rows whose key is empty.
  EXPECT_TRUE(InitCache(
      R"({"zip":false,"content":[{"key":"A","pk":"k","scheme":"","ver":2,"meta":["v"],"data":[["O'Hara"],["x"]]}]})"));
  EXPECT_EQ(All("select k, v from A"), R"({"size":-1,"total":2,"page":-1,"meta":["K","V"],"data":[[null,"O'Hara"],[null,"x"]]})");
  EXPECT_TRUE(InitCache(
      R"({"zip":false,"content":[{"key":"A","pk":"K","scheme":"","ver":true,"meta":["k","v"],"data":[["","y"]]}]})"));
  EXPECT_EQ(All("select * from A"), R"({"size":-1,"total":3,"page":-1,"meta":["K","V"],"data":[[null,"O'Hara"],[null,"x"],["","y"]]})");
  EXPECT_EQ(All("select * from CacheObjs"), R"({"size":-1,"total":1,"page":-1,"meta":["TABLENAME","PK_FIELD","VERSION"],"data":[["A","K","True"]]})");
  // A non-ASCII table name registered by initCache is found by isTableCached.
  EXPECT_TRUE(InitCache("{\"zip\":false,\"content\":[{\"key\":\"\u8868\",\"pk\":\"k\",\"scheme\":\"CREATE TABLE IF NOT EXISTS \u8868(k)\",\"ver\":\"1\"}]}"));
  Variant cached;
  db_.isTableCached(Variant(u"\u8868"), cached);
  EXPECT_TRUE(cached.BoolValue());
}

}  // namespace
}  // namespace zentrak

namespace zentrak {
namespace {

// The direct text path must give exactly what building the tree and writing it gives.
TEST_F(QueriesTest, DirectTextEqualsTreeAndWriter) {
  Run("create table m(i INTEGER, r REAL, t TEXT, b BLOB, x, \"na/me\"\"\" TEXT, \"\xE5\x90\x8D\" TEXT)");
  Run("insert into m values(1, 2.5, 'a\"b\\c/d', x'00ff', null, 'tab\tnl\ncr\r\x01\x1f', '\xE4\xB8\xAD')");
  Run("insert into m values(-7, 1e20, x'e9', x'', 3, '\xF0\x9F\x98\x80', null)");
  Run("insert into m values(null, null, '', x'41', 'v', 'O''Hara', 'caf\xC3\xA9')");
  TSQLiteDatabase check((root_ / "Zentrak" / "t.db").string());
  const int sizes[][2] = {{-1, -1}, {2, 1}, {2, 2}, {2, 3}, {1, 0}, {0, 5}, {-3, 2}, {5, -1}};
  for (auto [size, page] : sizes) {
    auto a = check.QueryTable("select * from m");
    TvxJSONobject obj;
    TCommonClass::TableToJSON(*a, obj, size, page);
    auto b = check.QueryTable("select * from m");
    EXPECT_EQ(TCommonClass::TableToJSONText(*b, size, page), ResultText(obj)) << size << " " << page;
  }
}

}  // namespace
}  // namespace zentrak

namespace zentrak {
namespace {

// Collects the pieces of a streamed result.
class Pieces : public ResultStream {
 public:
  void Write(std::string_view utf8) override { pieces.emplace_back(utf8); }
  std::vector<std::string> pieces;
};

// A result made while its rows are fetched is the whole text, cut into a beginning (the result)
// and pieces that each hold whole rows, for results on both sides of the batch and piece sizes.
TEST_F(QueriesTest, StreamedResultJoinsToTheWholeText) {
  Run("create table s(i INTEGER, r REAL, t TEXT, b BLOB, x)");
  Run("insert into s values(1, 2.5, 'a\"b\\c/d', x'00ff', null)");
  Run("insert into s values(-7, 1e20, x'e9', x'', 3)");
  Run("insert into s values(null, null, '\xE8\x8C\xB6 \xF0\x9F\x98\x80', x'41', 'v')");
  Run("insert into s select i, r, t, b, x from s, (with recursive n(k) as (select 1 union all select k + 1 "
      "from n where k < 20000) select k from n)");
  TSQLiteDatabase check((root_ / "Zentrak" / "t.db").string());
  for (int rows : {0, 1, 3, 1024, 1025, 20000, 60003}) {
    std::string sql = "select * from s order by rowid limit " + std::to_string(rows);
    Pieces out;
    std::u16string head = TCommonClass::StreamQueryJSON(check, sql, out);
    // The host's form of the text: standard UTF-8, a surrogate pair as one four-byte character.
    Variant all;
    db_.queryAll(Variant(W(sql)), all);
    std::string whole = WideToStandardUtf8(all.WideText());
    if (out.pieces.empty()) {
      EXPECT_TRUE(WideToStandardUtf8(head) == whole) << rows;
      EXPECT_LT(rows, 2000);
      continue;
    }
    EXPECT_GE(rows, 20000);
    std::string joined = WideToStandardUtf8(head);
    EXPECT_TRUE(joined == whole.substr(0, joined.size())) << rows << ": " << joined;
    for (const std::string& p : out.pieces) {
      EXPECT_TRUE(p.back() == ']' || p.back() == '}') << rows;
      std::u16string unused;
      EXPECT_TRUE(TryUtf8ToWide(p, unused)) << rows;
      joined += p;
    }
    EXPECT_TRUE(joined == whole) << rows;  // (too long to print)
  }
}

// queryAll takes a stream offered to its call, once; a query that fails after some pieces went
// out still fails, with SQLite's message.
TEST_F(QueriesTest, QueryAllTakesAnOfferedStreamOnce) {
  Run("create table big(n INTEGER, t TEXT)");
  Run("insert into big with recursive n(k) as (select 1 union all select k + 1 from n where k < 50000) "
      "select k, 'row ' || k from n");
  Pieces out;
  {
    ScopedResultStreamOffer offer(&out);
    Variant head;
    db_.queryAll(Variant(u"select * from big"), head);
    ASSERT_FALSE(out.pieces.empty());
    std::string joined = U(head);
    for (const std::string& p : out.pieces) joined += p;
    EXPECT_TRUE(joined == All("select * from big"));
    EXPECT_EQ(TakeOfferedResultStream(), nullptr);
  }
  Pieces failing;
  ScopedResultStreamOffer offer(&failing);
  Variant head;
  EXPECT_EQ(RaisedMessage([&] {
              db_.queryAll(Variant(u"select case when n < 40000 then t else abs(-9223372036854775807 - 1) end "
                                   u"from big"),
                           head);
            }).find("integer overflow") != std::string::npos,
            true);
  EXPECT_FALSE(failing.pieces.empty());
  EXPECT_EQ(head.Type(), VarType::Empty);
}

}  // namespace
}  // namespace zentrak

// The reader of CREATE TABLE texts, one definition per line. Unless a line says otherwise, the
// expected names and types are those PRAGMA table_info reports for the same text (letter case
// aside for SQLite's standard type names, which it reports upper-cased; table_xinfo for
// generated columns).
#include "sqlite/table_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zentrak {
namespace {

using Columns = std::vector<std::pair<std::string, std::string>>;  // name, declared type

TEST(TableDefinition, ColumnsAndDeclaredTypes) {
  const struct {
    const char* sql;
    Columns columns;
  } cases[] = {
      {"CREATE TABLE t(a INTEGER, b text, c)", {{"a", "INTEGER"}, {"b", "text"}, {"c", ""}}},
      {"create table t(a integer, b Real, c bLoB)", {{"a", "integer"}, {"b", "Real"}, {"c", "bLoB"}}},
      {"CREATE TEMP TABLE IF NOT EXISTS main.t(A INTEGER NOT NULL, B REAL DEFAULT 0)",
       {{"A", "INTEGER"}, {"B", "REAL"}}},
      // The four quoting styles, with a doubled quote standing for one.
      {"create table \"q \"\"x\"\"\"(\"my col\" integer, [b x] REAL, `c``d` real, 'e''f' INTEGER)",
       {{"my col", "integer"}, {"b x", "REAL"}, {"c`d", "real"}, {"e'f", "INTEGER"}}},
      {"create table t(\"primary\" integer, [check] real, `not` blob)",
       {{"primary", "integer"}, {"check", "real"}, {"not", "blob"}}},
      {"create table t(v \"integer\")", {{"v", "integer"}}},  // a quoted type is read dequoted
      {"create table t(v [Real] not null)", {{"v", "Real"}}},
      // Comments are blanks, wherever they stand.
      {"create table t(a integer, -- b INTEGER,\n c /* REAL */ real)", {{"a", "integer"}, {"c", "real"}}},
      {"create table t( -- (\n a integer /* ) */, b real -- ,x\n)", {{"a", "integer"}, {"b", "real"}}},
      // Types with arguments and of several words keep their inner spacing.
      {"create table t(p DECIMAL(10,2), q decimal( 10 , 2 ) not null, r VARCHAR(20))",
       {{"p", "DECIMAL(10,2)"}, {"q", "decimal( 10 , 2 )"}, {"r", "VARCHAR(20)"}}},
      {"create table t(a unsigned big int, b double  precision, c character varying(5) unique)",
       {{"a", "unsigned big int"}, {"b", "double  precision"}, {"c", "character varying(5)"}}},
      // Column constraints end the type; their parentheses and commas stay inside them.
      {"create table t(x integer default (1 + 2), y text check(y in ('a,b', 'c)')), z REAL, u real, "
       "unique(y), check(z > 0))",
       {{"x", "integer"}, {"y", "text"}, {"z", "REAL"}, {"u", "real"}}},
      {"create table t(a integer constraint nn not null, b real references p(id) on delete cascade, "
       "c text collate nocase, d blob null, e INTEGER primary key autoincrement)",
       {{"a", "integer"}, {"b", "real"}, {"c", "text"}, {"d", "blob"}, {"e", "INTEGER"}}},
      {"create table g(a integer, b INTEGER generated always as (a * 2), c real as (a + 0.5) stored)",
       {{"a", "integer"}, {"b", "INTEGER"}, {"c", "real"}}},
      {"create table t(a primary key, b)", {{"a", ""}, {"b", ""}}},
      // The table's own constraints end the columns, with or without a name.
      {"create table t(a integer, b real, constraint pk primary key(a, b))", {{"a", "integer"}, {"b", "real"}}},
      {"create table t(a integer, foreign key(a) references p(id))", {{"a", "integer"}}},
      // Options after the list.
      {"create table w(k integer primary key, v REAL) without rowid", {{"k", "integer"}, {"v", "REAL"}}},
      {"CREATE TABLE w(k INTEGER PRIMARY KEY, v real) STRICT, WITHOUT ROWID", {{"k", "INTEGER"}, {"v", "real"}}},
      {"create table t(\xe5\x90\x8d integer, caf\xc3\xa9 real)", {{"\xe5\x90\x8d", "integer"}, {"caf\xc3\xa9", "real"}}},
  };
  for (const auto& c : cases) {
    std::optional<std::vector<DeclaredColumn>> read = ReadTableDefinition(c.sql);
    ASSERT_TRUE(read.has_value()) << c.sql;
    Columns got;
    for (const DeclaredColumn& column : *read) got.emplace_back(column.name, column.type);
    EXPECT_EQ(got, c.columns) << c.sql;
  }
}

// Texts the reader does not follow give nothing, so the caller keeps SQLite's own report.
TEST(TableDefinition, TextsThatAreNotReadGiveNothing) {
  for (const char* sql : {
           "",
           "select 1",
           "create table t",
           "create virtual table v using fts5(a, b)",
           "create table ca as select (1) as x",
           "create table t(\"a integer)",
           "create table t([a integer)",
           "create table t(a integer /* x)",
           "create table t(a 'integer)",
           "create table t(a integer",
           "create table t(a decimal(10, 2)",
           "create table t(, a integer)",
       })
    EXPECT_FALSE(ReadTableDefinition(sql).has_value()) << sql;
}

}  // namespace
}  // namespace zentrak

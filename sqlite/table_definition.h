// Reading a table's own definition: the column names and declared types of a "CREATE TABLE" text
// as SQLite stores it in the schema. Pure text work, without SQLite; it relies on base/ascii.h
// for keywords, which SQLite matches without regard to ASCII case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrak {

// A column of a table's definition: its name and its declared type, both as SQLite reads them
// from the definition (dequoted: "x", [x], `x` and 'x' give x, a doubled quote stands for one),
// the type with its inner spacing as written ("DECIMAL(10, 2)"). A column without a type has the
// empty type.
struct DeclaredColumn {
  std::string name;
  std::string type;
};

// The columns of a "CREATE [TEMP] TABLE [IF NOT EXISTS] name(...)" text, in order, up to the
// table's own constraints; WITHOUT ROWID and other options after the list are ignored.
// Nothing for any other text: a virtual table, a table made AS a query, an unterminated quote
// or comment, or a list this reading does not follow. The caller then keeps what SQLite reported.
std::optional<std::vector<DeclaredColumn>> ReadTableDefinition(std::string_view create_sql);

}  // namespace zentrak

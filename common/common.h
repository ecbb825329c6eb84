// TCommonClass: the conversions from fetched result tables and text lines to the result JSON
// that every query and printer list leaves the system in, and the document decoding both
// database-backed objects share. Class-level operations only; no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.h"
#include "automation/variant.h"
#include "sqlite/sqlite_database.h"

namespace zentrak {

class ResultStream;

class TCommonClass {
 public:
  // Appends "size", "total", "page", "meta" and "data" to target for one page of table. Moves
  // the table's cursor.
  static void TableToJSON(TSQLiteTable& table, TvxJSONobject& target, int32_t pageSize, int32_t pageIndex);
  // The text that TableToJSON followed by the writer gives, decoded to UTF-16, written straight
  // from the table without building the tree: the path every query result takes.
  static std::u16string TableToJSONText(TSQLiteTable& table, int32_t pageSize, int32_t pageIndex);
  // The result of queryAll for `sql` (passed to SQLite unchanged), as TableToJSONText gives it
  // for the whole table, made while the rows are fetched. Once the rows' text grows long, it
  // goes to `stream` in pieces, ending with the text's end, and the result is the beginning
  // up to the "[" of "data" (with the row count); a short result is returned whole and nothing
  // is written. A failure partway raises after some pieces may have been written.
  static std::u16string StreamQueryJSON(TSQLiteDatabase& database, std::string_view sql, ResultStream& stream);
  // Runs sql (its 8-bit text, passed to SQLite unchanged) and returns the result JSON text.
  static std::u16string QueryToJSON(TSQLiteDatabase& database, const Variant& sql, const Variant& pageSize,
                                    const Variant& pageIndex);
  // A one-column result from lines of text (CR LF, CR or LF; a final break adds no line).
  static void LinesToJSON(std::string_view columnName, std::string_view lines, TvxJSONobject& target);
  // Forwards to the Base64 decoder.
  static std::string DecodeBase64(std::string_view text);
};

// The tree's JSON text decoded from UTF-8, as results are handed back.
std::u16string ResultText(const TvxJSONbase& root);

}  // namespace zentrak

// LocalDB: SQL execution, transactions and query results.
#include "base/exception.h"
#include "base/text.h"
#include "common/common.h"
#include "common/result_stream.h"
#include "localdb/local_db.h"
#include "platform/codepage.h"
#include "automation/convert.h"

namespace zentrak {
namespace {

// The first six non-blank characters, lower-cased (A to Z only), decide: "select" is a query.
// Only the blank (32) is skipped; tabs and line breaks count as characters.
bool IsQuery(std::string_view sql) {
  char word[6];
  size_t n = 0;
  for (size_t i = 0; i < sql.size() && n < 6; ++i) {
    char c = sql[i];
    if (c == ' ') continue;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    word[n++] = c;
  }
  return n == 6 && std::string_view(word, 6) == "select";
}

}  // namespace

void TLocalDB::executeSql(Variant& Data, Variant& Value) {
  Value = Variant::FromBool(false);
  std::string sql = VarToText(Data);  // a conversion failure fails the call
  if (IsQuery(sql)) {
    try {
      auto table = OpenDatabase().QueryTable(platform::AnsiToUtf8(sql));
      Data = Variant(TCommonClass::TableToJSONText(*table, -1, -1));
      Value = Data;
    } catch (const Exception& e) {
      Data = Variant(platform::AnsiToWide(e.Message()));
      Value = Data;
    }
  } else {
    try {
      OpenDatabase().RunStatement(sql);
      Value = Variant::FromBool(true);
    } catch (const Exception& e) {
      Data = Variant(platform::AnsiToWide(e.Message()));
      Value = Variant::FromBool(false);
    }
  }
}

// The transaction members start, commit and roll back a real transaction on the open database.
void TLocalDB::BeginTrans() { OpenDatabase().StartTransaction(); }
void TLocalDB::CommitTrans() { OpenDatabase().CommitTransaction(); }
void TLocalDB::RollBackTrans() { OpenDatabase().RollbackTransaction(); }

void TLocalDB::queryByPage(const Variant& SQL, const Variant& pageSize, const Variant& pageIndex, Variant& Param4) {
  std::string s = platform::AnsiToUtf8(VarToText(SQL));
  auto table = OpenDatabase().QueryTable(s);
  int32_t size = VarToInteger(pageSize);
  int32_t page = VarToInteger(pageIndex);
  Param4 = Variant(TCommonClass::TableToJSONText(*table, size, page));
}

void TLocalDB::queryAll(const Variant& SQL, Variant& Param2) {
  // A server that can take the rows' text in pieces gets it while the query runs.
  if (ResultStream* stream = TakeOfferedResultStream()) {
    std::string s = platform::AnsiToUtf8(VarToText(SQL));
    Param2 = Variant(TCommonClass::StreamQueryJSON(OpenDatabase(), s, *stream));
    return;
  }
  queryByPage(SQL, Variant::FromInt32(-1), Variant::FromInt32(-1), Param2);
}

}  // namespace zentrak

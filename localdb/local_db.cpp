// LocalDB: database location and lifecycle, and the binding of its members.
#include "localdb/local_db.h"

#include "base/exception.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "automation/convert.h"
#include "automation/dispids.h"
#include "common/data_folder.h"

namespace zentrak {

const char kCreateCacheObjs[] =
    "CREATE TABLE IF NOT EXISTS CacheObjs (TableName TEXT NOT NULL PRIMARY KEY,PK_Field TEXT  NOT NULL, "
    "Version TEXT)";

namespace {

const char kVersion[] = "Corvel SqliteDB 0.8";

}  // namespace

TLocalDB::TLocalDB() : AutomationObject(LocalDBClass()) {}

TLocalDB::~TLocalDB() { close(); }

TSQLiteDatabase& TLocalDB::OpenDatabase() {
  if (!Database) throw Exception("No database is open: call setDBName first");
  return *Database;
}

void TLocalDB::GetVersion(Variant& Value) { Value = Variant(platform::AnsiToWide(kVersion)); }

void TLocalDB::InitDB(const Variant& shortName, const Variant&, const Variant&, const Variant&) {
  std::string path = "F:\\" + VarToText(shortName) + ".db";
  // The new connection is opened before the earlier one is closed: a failed open keeps the
  // database that was open, and a successful one closes it, so no connection is left behind.
  auto opened = std::make_unique<TSQLiteDatabase>(path);
  Database = std::move(opened);
}

void TLocalDB::setDBName(const Variant& DBName, const Variant& Path, Variant& ReturnValue) {
  try {
    std::string file = DatabaseFileName(DBName, Path);
    close();
    Database = std::make_unique<TSQLiteDatabase>(file);
    Database->RunStatement(kCreateCacheObjs);
    ReturnValue = Variant::FromBool(true);
  } catch (const std::exception&) {
    // Every failure is reported only through ReturnValue.
    ReturnValue = Variant::FromBool(false);
  }
}

void TLocalDB::close() { Database.reset(); }

void TLocalDB::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  switch (member.dispid) {
    case dispid::local_db::kGetVersion:
      return GetVersion(result);
    case dispid::local_db::kInitDB:
      return InitDB(a[0], a[1], a[2], a[3]);
    case dispid::local_db::kExecuteSql:
      return executeSql(a[0], result);
    case dispid::local_db::kBeginTrans:
      return BeginTrans();
    case dispid::local_db::kCommitTrans:
      return CommitTrans();
    case dispid::local_db::kRollBackTrans:
      return RollBackTrans();
    case dispid::local_db::kSetDBName:
      return setDBName(a[0], a[1], result);
    case dispid::local_db::kIsTableCached:
      return isTableCached(a[0], result);
    case dispid::local_db::kInitCache:
      return initCache(a[0], result);
    case dispid::local_db::kQueryAll:
      return queryAll(a[0], result);
    case dispid::local_db::kQueryByPage:
      return queryByPage(a[0], a[1], a[2], result);
    case dispid::local_db::kGetCacheObjs:
      return getCacheObjs(a[0], result);
    case dispid::local_db::kClose:
      return close();
    default:
      throw Exception("Unknown member");
  }
}

}  // namespace zentrak

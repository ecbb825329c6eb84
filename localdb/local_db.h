// TLocalDB, the implementation class of LocalDB: one SQLite database at a time in the per-user
// Zentrak folder (or under a folder script names), SQL in and result JSON out, and the table
// cache registry.
#pragma once

#include <memory>
#include <span>

#include "automation/automation_object.h"
#include "sqlite/sqlite_database.h"

namespace zentrak {

class TLocalDB : public AutomationObject {
 public:
  TLocalDB();
  // An open database is closed as close does.
  ~TLocalDB() override;

  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  // The members, by the names of the type library.
  void GetVersion(Variant& Value);
  void InitDB(const Variant& shortName, const Variant& version, const Variant& displayName,
              const Variant& maxSize);
  void executeSql(Variant& Data, Variant& Value);
  void BeginTrans();
  void CommitTrans();
  void RollBackTrans();
  void setDBName(const Variant& DBName, const Variant& Path, Variant& ReturnValue);
  void isTableCached(const Variant& TableName, Variant& Value);
  void initCache(const Variant& InitJsonString, Variant& Value);
  void queryAll(const Variant& SQL, Variant& Param2);
  void queryByPage(const Variant& SQL, const Variant& pageSize, const Variant& pageIndex, Variant& Param4);
  void getCacheObjs(const Variant& Reversed, Variant& Param1);
  void close();

  bool HasDatabase() const noexcept { return Database != nullptr; }

 private:
  // REQUIRES nothing; raises "No database is open" when none is.
  TSQLiteDatabase& OpenDatabase();

  std::unique_ptr<TSQLiteDatabase> Database;
};

// The registry table created in every database that setDBName opens.
extern const char kCreateCacheObjs[];

}  // namespace zentrak

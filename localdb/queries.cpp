// LocalDB: SQL execution, transactions, query results and the table cache registry.
#include "base/exception.h"
#include "localdb/local_db.h"

namespace zentrak {

void TLocalDB::executeSql(Variant&, Variant&) { throw ENotAvailable("executeSql"); }
void TLocalDB::BeginTrans() { throw ENotAvailable("BeginTrans"); }
void TLocalDB::CommitTrans() { throw ENotAvailable("CommitTrans"); }
void TLocalDB::RollBackTrans() { throw ENotAvailable("RollBackTrans"); }
void TLocalDB::isTableCached(const Variant&, Variant&) { throw ENotAvailable("isTableCached"); }
void TLocalDB::initCache(const Variant&, Variant&) { throw ENotAvailable("initCache"); }
void TLocalDB::queryAll(const Variant&, Variant&) { throw ENotAvailable("queryAll"); }
void TLocalDB::queryByPage(const Variant&, const Variant&, const Variant&, Variant&) {
  throw ENotAvailable("queryByPage");
}
void TLocalDB::getCacheObjs(const Variant&, Variant&) { throw ENotAvailable("getCacheObjs"); }

}  // namespace zentrak

// LocalDB: the table cache registry. initCache applies one JSON document in one transaction;
// values are written into the SQL text, quoted by doubling single quotes.
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "base/text.h"
#include "localdb/common.h"
#include "localdb/local_db.h"
#include "platform/codepage.h"
#include "server/convert.h"

namespace zentrak {
namespace {

// A document that initCache cannot apply. Never leaves initCache.
class EBadCacheDocument : public Exception {
 public:
  using Exception::Exception;
};

std::string Quoted(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (char c : value) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// A member's value as an automation value, as the value classes give it: a number as a double,
// a string as its text, a boolean as a boolean, anything else as Null.
Variant ValueOf(const TvxJSONbase* v) {
  if (auto n = dynamic_cast<const TvxJSONnumber*>(v)) return Variant::FromDouble(static_cast<double>(n->Value()));
  if (auto s = dynamic_cast<const TvxJSONstring*>(v)) return Variant(s->Value());
  if (auto b = dynamic_cast<const TvxJSONboolean*>(v)) return Variant::FromBool(b->Value());
  return Variant::Null();
}

// The text of a required member; a missing member fails the section, and so does a value
// without text (null, a list or an object), through the text conversion.
std::string RequiredText(const TvxJSONobject& section, const char16_t* name) {
  const TvxJSONbase* v = section.MemberValue(name);
  if (!v) throw EBadCacheDocument("member missing");
  return VarToText(ValueOf(v));
}

const TvxJSONlist& RequiredList(const TvxJSONbase* v) {
  auto list = dynamic_cast<const TvxJSONlist*>(v);
  if (!list) throw EBadCacheDocument("not an array");
  return *list;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return platform::AnsiUpperCase(a) == platform::AnsiUpperCase(b);
}

struct TInitSectionObj {
  std::string TableName;
  std::string KeyField;
  std::vector<std::string> Columns;

  std::string BuildInsertHead() const {
    std::string head = "insert into " + TableName + "(";
    for (size_t i = 0; i < Columns.size(); ++i) {
      if (i) head += ',';
      head += Columns[i];
    }
    head += ") values ";
    return head;
  }
};

void ApplyDataRow(TSQLiteDatabase& db, const TvxJSONbase* element, const TInitSectionObj& section) {
  const TvxJSONlist& row = RequiredList(element);
  int32_t k = -1;
  for (size_t i = 0; i < section.Columns.size(); ++i) {
    if (SameTextIgnoringCase(section.Columns[i], section.KeyField)) {
      k = static_cast<int32_t>(i);
      break;
    }
  }
  std::string key_value = k < 0 ? std::string() : row.TextAt(k);
  db.RunStatement("delete from " + section.TableName + " where " + section.KeyField + "=" + Quoted(key_value));
  std::string sql = section.BuildInsertHead();
  const int32_t n = row.ItemCount();
  for (int32_t i = 0; i < n; ++i) {
    std::string v = row.TextAt(i);
    if (v == "$NULL$") {
      sql += i == 0 ? "(null" : ",null";
    } else {
      sql += i == 0 ? "(" : ",";
      sql += Quoted(v);
    }
  }
  sql += ")";
  db.RunStatement(sql);
}

void ApplyTableSection(TSQLiteDatabase& db, const TvxJSONbase* element) {
  auto obj = dynamic_cast<const TvxJSONobject*>(element);
  if (!obj) throw EBadCacheDocument("section is not an object");
  TInitSectionObj section;
  section.TableName = RequiredText(*obj, u"key");
  section.KeyField = RequiredText(*obj, u"pk");
  std::string scheme = RequiredText(*obj, u"scheme");
  std::string ver = RequiredText(*obj, u"ver");
  if (!scheme.empty()) db.RunStatement(scheme);
  db.RunStatement("delete from CacheObjs where TableName=" + Quoted(section.TableName));
  db.RunStatement("insert into CacheObjs values(" + Quoted(section.TableName) + "," + Quoted(section.KeyField) +
                  "," + Quoted(ver) + ")");
  if (const TvxJSONbase* meta = obj->MemberValue(u"meta")) {
    const TvxJSONlist& columns = RequiredList(meta);
    for (int32_t i = 0; i < columns.ItemCount(); ++i) section.Columns.push_back(columns.TextAt(i));
    const TvxJSONbase* data = obj->MemberValue(u"data");
    if (!data) throw EBadCacheDocument("\"meta\" without \"data\"");
    const TvxJSONlist& rows = RequiredList(data);
    for (int32_t i = 0; i < rows.ItemCount(); ++i) ApplyDataRow(db, rows.ItemAt(i), section);
  }
  if (const TvxJSONbase* del = obj->MemberValue(u"delete")) {
    const TvxJSONlist& keys = RequiredList(del);
    for (int32_t i = 0; i < keys.ItemCount(); ++i) {
      db.RunStatement("delete from " + section.TableName + " where " + section.KeyField + "=" +
                      Quoted(keys.TextAt(i)));
    }
  }
}

// The array of table sections of a document, or an error.
std::unique_ptr<TvxJSONbase> ReadSections(const Variant& document, const TvxJSONlist*& sections) {
  const Variant& d = document.Target();
  std::u16string wide = d.Type() == VarType::OleStr ? d.WideText() : VarToWideText(d);
  std::unique_ptr<TvxJSONbase> root = TvxJSON::ReadText(WideToUtf8(wide));
  auto obj = dynamic_cast<const TvxJSONobject*>(root.get());
  if (!obj) throw EBadCacheDocument("root is not an object");
  const TvxJSONbase* zip = obj->MemberValue(u"zip");
  const TvxJSONbase* content = obj->MemberValue(u"content");
  if (!zip || !content) throw EBadCacheDocument("\"zip\" or \"content\" missing");
  if (dynamic_cast<const TvxJSONnumber*>(zip)) throw EBadCacheDocument("\"zip\" is a number");
  bool encoded = false;
  if (auto s = dynamic_cast<const TvxJSONstring*>(zip)) encoded = s->Utf8Value() == "true";
  if (auto b = dynamic_cast<const TvxJSONboolean*>(zip)) encoded = b->Value();
  if (encoded) {
    std::string bytes = TCommonClass::DecodeBase64(VarToText(ValueOf(content)));
    std::unique_ptr<TvxJSONbase> inner = TvxJSON::ReadText(bytes);
    sections = dynamic_cast<const TvxJSONlist*>(inner.get());
    if (!sections) throw EBadCacheDocument("decoded content is not an array");
    return inner;
  }
  sections = dynamic_cast<const TvxJSONlist*>(content);
  if (!sections) throw EBadCacheDocument("content is not an array");
  return root;
}

}  // namespace

void TLocalDB::isTableCached(const Variant& TableName, Variant& Value) {
  // The name is converted to UTF-8, as initCache stores it, so that non-ASCII names are found.
  std::string sql = "select * from CacheObjs where Tablename=" + Quoted(VarToText(TableName));
  auto table = OpenDatabase().QueryTable(platform::AnsiToUtf8(sql));
  Value = Variant::FromBool(table->RowCount() != 0);
}

void TLocalDB::getCacheObjs(const Variant&, Variant& Param1) {
  queryAll(Variant(u"select * from CacheObjs"), Param1);
}

void TLocalDB::initCache(const Variant& InitJsonString, Variant& Value) {
  Value = Variant::FromBool(false);
  if (!Database) return;
  std::unique_ptr<TvxJSONbase> owner;
  const TvxJSONlist* sections = nullptr;
  try {
    owner = ReadSections(InitJsonString, sections);
    Database->StartTransaction();
  } catch (const std::exception&) {
    return;
  }
  try {
    for (int32_t i = 0; i < sections->ItemCount(); ++i) ApplyTableSection(*Database, sections->ItemAt(i));
    Database->CommitTransaction();
    Value = Variant::FromBool(true);
  } catch (const std::exception&) {
    try {
      Database->RollbackTransaction();
    } catch (const std::exception&) {
      // The call still succeeds, with false.
    }
  }
}

}  // namespace zentrak

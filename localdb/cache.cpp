// LocalDB: the table cache registry. initCache applies one JSON document in one transaction;
// values are written into the SQL text, quoted by doubling single quotes.
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "base/text.h"
#include "common/common.h"
#include "localdb/local_db.h"
#include "platform/codepage.h"
#include "automation/convert.h"

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

  // Rows are applied through statements prepared once per section and shape, with the values
  // bound. Every observable result is that of the literal statements: a bound text value is the
  // same value as its quoted literal, and whenever a bound statement fails (or cannot be
  // prepared as exactly one statement) the literal statement runs and raises its own error.
  std::unique_ptr<TSQLiteStatement> delete_row;
  bool delete_row_tried = false;
  std::vector<std::unique_ptr<TSQLiteStatement>> insert_row;  // by value count
  std::vector<bool> insert_row_tried;
  // The position of KeyField in Columns, matched without regard to letter case; -1 when absent.
  int32_t key_position = -1;
  std::vector<std::string> values;  // the current row's texts, kept between rows

  TSQLiteStatement* DeleteStatement(TSQLiteDatabase& db) {
    if (!delete_row_tried) {
      delete_row_tried = true;
      delete_row = std::make_unique<TSQLiteStatement>(
          db, platform::AnsiToUtf8("delete from " + TableName + " where " + KeyField + "=?"), 1);
    }
    return delete_row->Usable() ? delete_row.get() : nullptr;
  }
  TSQLiteStatement* InsertStatement(TSQLiteDatabase& db, size_t n) {
    if (n == 0) return nullptr;
    if (insert_row.size() <= n) {
      insert_row.resize(n + 1);
      insert_row_tried.resize(n + 1);
    }
    if (!insert_row_tried[n]) {
      insert_row_tried[n] = true;
      std::string sql = BuildInsertHead() + "(?";
      for (size_t i = 1; i < n; ++i) sql += ",?";
      sql += ")";
      insert_row[n] = std::make_unique<TSQLiteStatement>(db, platform::AnsiToUtf8(sql), static_cast<int>(n));
    }
    return insert_row[n]->Usable() ? insert_row[n].get() : nullptr;
  }

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

std::string LiteralInsert(const TInitSectionObj& section, const std::vector<std::string>& values) {
  std::string sql = section.BuildInsertHead();
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string& v = values[i];
    if (v == "$NULL$") {
      sql += i == 0 ? "(null" : ",null";
    } else {
      sql += i == 0 ? "(" : ",";
      sql += Quoted(v);
    }
  }
  sql += ")";
  return sql;
}

void ApplyDataRow(TSQLiteDatabase& db, const TvxJSONbase* element, TInitSectionObj& section) {
  const TvxJSONlist& row = RequiredList(element);
  const int32_t k = section.key_position;
  std::string key_value = k < 0 ? std::string() : row.TextAt(k);
  std::vector<std::string>& values = section.values;
  values.clear();
  const int32_t n = row.ItemCount();
  bool has_zero_byte = key_value.find('\0') != std::string::npos;
  for (int32_t i = 0; i < n; ++i) {
    values.push_back(row.TextAt(i));
    if (values.back().find('\0') != std::string::npos) has_zero_byte = true;
  }
  // A zero byte ends a literal statement's text early; such rows keep the literal statements.
  TSQLiteStatement* del = has_zero_byte ? nullptr : section.DeleteStatement(db);
  const std::string key_utf8 = platform::AnsiToUtf8(key_value);
  if (!del || !del->BindText(1, key_utf8) || !del->Run()) {
    db.RunStatement("delete from " + section.TableName + " where " + section.KeyField + "=" + Quoted(key_value));
  }
  TSQLiteStatement* ins = has_zero_byte ? nullptr : section.InsertStatement(db, values.size());
  bool done = ins != nullptr;
  // The UTF-8 form RunStatement would give each value; ASCII text is its own.
  std::vector<std::string> converted(done ? values.size() : 0);
  for (size_t i = 0; done && i < values.size(); ++i) {
    int p = static_cast<int>(i) + 1;
    if (values[i] == "$NULL$") {
      done = ins->BindNull(p);
    } else if (IsAscii(values[i])) {
      done = ins->BindText(p, values[i]);
    } else {
      converted[i] = platform::AnsiToUtf8(values[i]);
      done = ins->BindText(p, converted[i]);
    }
  }
  if (!done || !ins->Run()) db.RunStatement(LiteralInsert(section, values));
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
    for (size_t i = 0; i < section.Columns.size(); ++i) {
      if (SameTextIgnoringCase(section.Columns[i], section.KeyField)) {
        section.key_position = static_cast<int32_t>(i);
        break;
      }
    }
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

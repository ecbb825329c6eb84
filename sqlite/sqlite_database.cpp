// TSQLiteDatabase and TSQLiteTable over the SQLite 3 function interface, and the layer's error
// texts. Paths and statement texts arrive as 8-bit text in the system code page; the paths are
// mapped to the platform's files by platform/env.h.
#include "sqlite/sqlite_database.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "base/ascii.h"
#include "base/number_text.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/locale.h"
#include "sqlite/table_definition.h"

namespace zentrak {
namespace {

// Finalizes its statement on every path out of a scope.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }  // a no-op for none
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt** Out() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The parts of a message that names a statement, in the one arrangement every message of this
// layer uses: the fixed text, a full stop, a carriage return, then the statement in double
// quotes, a colon and the detail. A composed message puts "Error [<code>]: <code text>." on its
// own line between the fixed text and the statement; the two messages without a code ("No
// message" when SQLite reports none, "SQLite is Busy" for a query meeting a lock) leave it out:
//   Error executing SQL.\rError [1]: SQL error or missing database.\r"selec 1": near "selec": ...
//   Could not prepare SQL statement.\r"-- x": No message
//   Could not prepare SQL statement.\r"select * from t": SQLite is Busy
std::string StatementMessage(std::string_view text, std::string_view sql, std::string_view detail) {
  std::string m;
  m.reserve(text.size() + sql.size() + detail.size() + 8);
  m.append(text).append(".\r\"").append(sql).append("\": ").append(detail);
  return m;
}

constexpr std::string_view kBusyText = "Could not prepare SQL statement";

}  // namespace

std::string SQLiteErrorText(int code) {
  static const char* const kTexts[] = {
      "Successful result",
      "SQL error or missing database",
      "An internal logic error in SQLite",
      "Access permission denied",
      "Callback routine requested an abort",
      "The database file is locked",
      "A table in the database is locked",
      "A malloc() failed",
      "Attempt to write a readonly database",
      "Operation terminated by sqlite3_interrupt()",
      "Some kind of disk I/O error occurred",
      "The database disk image is malformed",
      "(Internal Only) Table or record not found",
      "Insertion failed because database is full",
      "Unable to open the database file",
      "Database lock protocol error",
      "Database is empty",
      "The database schema changed",
      "Too much data for one row of a table",
      "Abort due to contraint violation",  // sic: the spelling callers have always been given
      "Data type mismatch",
      "Library used incorrectly",
      "Uses OS features not supported on host",
      "Authorization denied",
      "Auxiliary database format error",
      "2nd parameter to sqlite3_bind out of range",
      "File opened that is not a database file",
  };
  if (code >= 0 && code < static_cast<int>(std::size(kTexts))) return kTexts[code];
  if (code == SQLITE_ROW) return "sqlite3_step() has another row ready";
  if (code == SQLITE_DONE) return "sqlite3_step() has finished executing";
  return "Unknown SQLite Error Code \"" + std::to_string(code) + "\"";
}

// ---- TSQLiteDatabase ----

TSQLiteDatabase::TSQLiteDatabase(const std::string& path) {
  std::string file = platform::AnsiToUtf8(platform::NativePath(path));
  int rc = sqlite3_open(file.c_str(), &handle_);
  if (rc == SQLITE_OK) return;
  if (handle_ == nullptr)
    throw ESQLiteException("Failed to open database \"" + path + "\" : unknown error");
  std::string message = "Failed to open database \"" + path + "\" : " + sqlite3_errmsg(handle_);
  Close();
  throw ESQLiteException(std::move(message));
}

TSQLiteDatabase::~TSQLiteDatabase() { Close(); }

TSQLiteDatabase::TSQLiteDatabase(TSQLiteDatabase&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      in_transaction_(std::exchange(other.in_transaction_, false)) {}

TSQLiteDatabase& TSQLiteDatabase::operator=(TSQLiteDatabase&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    in_transaction_ = std::exchange(other.in_transaction_, false);
  }
  return *this;
}

void TSQLiteDatabase::Close() noexcept {
  if (in_transaction_ && handle_) {
    try {
      RollbackTransaction();
    } catch (...) {
      // Closing goes ahead: SQLite rolls back what is left open when the connection closes.
    }
  }
  in_transaction_ = false;
  if (handle_) sqlite3_close(handle_);  // every statement of this layer is already finalized
  handle_ = nullptr;
}

sqlite3* TSQLiteDatabase::Handle() const {
  if (!handle_) throw ESQLiteException("Database is not open");
  return handle_;
}

void TSQLiteDatabase::RaiseSQLiteError(std::string_view text, std::string_view sql) const {
  int code = sqlite3_errcode(handle_);
  if (code == SQLITE_OK) throw ESQLiteException(StatementMessage(text, sql, "No message"));
  std::string head(text);
  head.append(".\rError [").append(std::to_string(code)).append("]: ").append(SQLiteErrorText(code));
  throw ESQLiteException(StatementMessage(head, sql, sqlite3_errmsg(handle_)));
}

void TSQLiteDatabase::RunStatement(const std::string& sql) {
  sqlite3* db = Handle();
  const std::string u = platform::AnsiToUtf8(sql);
  // Every statement of the text runs, in order, as sqlite3_exec runs them; the first failure
  // stops the rest and is raised, and the statements before it stay applied. A remainder of
  // blanks, comments and semicolons prepares to no statement and ends the text.
  const char* next = u.c_str();
  for (bool first = true;; first = false) {
    Statement stmt;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, next, -1, stmt.Out(), &tail) != SQLITE_OK)
      RaiseSQLiteError("Error executing SQL", u);
    if (!stmt.get()) {
      if (first) RaiseSQLiteError("Could not prepare SQL statement", u);
      return;
    }
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
      sqlite3_reset(stmt.get());
      RaiseSQLiteError("Error executing SQL statement", u);
    }
    next = tail;
  }
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::QueryTable(const std::string& sql) {
  return std::make_unique<TSQLiteTable>(*this, sql);
}

void TSQLiteDatabase::StartTransaction() {
  if (in_transaction_) throw ESQLiteException("Transaction already open");
  RunStatement("BEGIN TRANSACTION");
  in_transaction_ = true;
}

void TSQLiteDatabase::CommitTransaction() {
  RunStatement("COMMIT");
  in_transaction_ = false;
}

void TSQLiteDatabase::RollbackTransaction() {
  RunStatement("ROLLBACK");
  in_transaction_ = false;
}

// ---- TSQLiteTable ----

namespace {

ColumnKind KindOfDeclaredType(std::string_view decl) {
  // Whole and case-sensitive on purpose: "INT", "BIGINT", "integer" or "boolean" declares a
  // Text column, read through SQLite's text of the value.
  if (decl == "INTEGER" || decl == "BOOLEAN") return ColumnKind::Integer;
  if (decl == "NUMERIC" || decl == "FLOAT" || decl == "DOUBLE" || decl == "REAL")
    return ColumnKind::Float;
  if (decl == "BLOB") return ColumnKind::Blob;
  return ColumnKind::Text;
}

// SQLite reports a column declared with one of its standard type names (INT, INTEGER, REAL,
// TEXT, BLOB, ANY, in any letter case) by the name's upper-case spelling, so "integer" and
// "INTEGER" look alike in sqlite3_column_decltype. The kind follows the spelling of the
// table's definition, so a reported name that would decide the kind is looked up there. The
// other standard names give Text in every spelling and need no look-up.
bool SpellingDecidesKind(const char* decl) {
  return std::strcmp(decl, "INTEGER") == 0 || std::strcmp(decl, "REAL") == 0 ||
         std::strcmp(decl, "BLOB") == 0;
}

// Per query: the declared columns of each table a result column comes from, read once from
// the schema of the table's database when first needed.
class DeclaredTypes {
 public:
  explicit DeclaredTypes(sqlite3* db) : db_(db) {}

  // The declared type of result column i as the table's definition spells it, when SQLite's
  // report `decl` may have changed its letter case; `decl` itself otherwise, and whenever the
  // column has no table column of origin or the definition cannot be read.
  std::string_view Of(sqlite3_stmt* stmt, int i, const char* decl) {
    if (!SpellingDecidesKind(decl)) return decl;
    const char* database = sqlite3_column_database_name(stmt, i);
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* column = sqlite3_column_origin_name(stmt, i);
    if (!database || !table || !column) return decl;
    const std::vector<DeclaredColumn>* columns = Columns(database, table);
    if (!columns) return decl;
    for (const DeclaredColumn& c : *columns) {
      if (!EqualsIgnoringAsciiCase(c.name, column)) continue;
      // Only a difference of letter case is SQLite's doing; anything else is a misreading.
      if (EqualsIgnoringAsciiCase(c.type, decl)) return c.type;
      return decl;
    }
    return decl;
  }

 private:
  struct Table {
    std::string database, name;
    bool read;
    std::vector<DeclaredColumn> columns;
  };

  const std::vector<DeclaredColumn>* Columns(const char* database, const char* name) {
    for (const Table& t : tables_)
      if (t.database == database && t.name == name) return t.read ? &t.columns : nullptr;
    Table t{database, name, false, {}};
    // A statement of its own on the same connection: the query being stepped is not touched.
    std::string sql = "SELECT sql FROM \"" + Doubled(database, '"') +
                      "\".sqlite_master WHERE type = 'table' AND name = '" + Doubled(name, '\'') + "'";
    Statement stmt;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, stmt.Out(), &tail) == SQLITE_OK && stmt.get() &&
        sqlite3_step(stmt.get()) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
      if (text) {
        std::string_view create(reinterpret_cast<const char*>(text),
                                static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 0)));
        if (std::optional<std::vector<DeclaredColumn>> columns = ReadTableDefinition(create)) {
          t.columns = std::move(*columns);
          t.read = true;
        }
      }
    }
    tables_.push_back(std::move(t));
    return tables_.back().read ? &tables_.back().columns : nullptr;
  }

  static std::string Doubled(std::string_view text, char quote) {
    std::string out;
    for (char c : text) {
      out.push_back(c);
      if (c == quote) out.push_back(c);
    }
    return out;
  }

  sqlite3* db_;
  std::vector<Table> tables_;
};

}  // namespace

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& db, std::string_view sql) { Fetch(db, sql, UINT32_MAX, nullptr); }

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& db, std::string_view sql, uint32_t batch_rows,
                           const std::function<void(TSQLiteTable&)>& on_batch) {
  Fetch(db, sql, batch_rows == 0 ? 1 : batch_rows, &on_batch);
}

void TSQLiteTable::Fetch(TSQLiteDatabase& db, std::string_view sql_view, uint32_t batch_rows,
                         const std::function<void(TSQLiteTable&)>* on_batch) {
  sqlite3* h = db.Handle();
  // The statement text must end in a zero byte for SQLite and is named in messages as given.
  const std::string sql(sql_view);
  Statement stmt;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, stmt.Out(), &tail) != SQLITE_OK)
    db.RaiseSQLiteError("Error executing SQL", sql);
  if (!stmt.get()) db.RaiseSQLiteError("Could not prepare SQL statement", sql);
  sqlite3_stmt* s = stmt.get();

  for (;;) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) break;
    if (rc == SQLITE_BUSY) throw ESQLiteException(StatementMessage(kBusyText, sql, "SQLite is Busy"));
    if (rc != SQLITE_ROW) {
      sqlite3_reset(s);
      db.RaiseSQLiteError("Could not retrieve data", sql);
    }
    if (!described_) {
      described_ = true;
      column_count_ = sqlite3_column_count(s);
      column_names_.reserve(static_cast<size_t>(column_count_));
      column_kinds_.reserve(static_cast<size_t>(column_count_));
      DeclaredTypes declared(h);
      for (int i = 0; i < column_count_; ++i) {
        const char* name = sqlite3_column_name(s, i);
        column_names_.push_back(platform::AnsiUpperCase(name ? name : ""));
        const char* decl = sqlite3_column_decltype(s, i);
        column_kinds_.push_back(decl ? KindOfDeclaredType(declared.Of(s, i, decl))
                                     : static_cast<ColumnKind>(sqlite3_column_type(s, i)));
      }
    }
    if (row_count_ == batch_rows) HandOver(*on_batch);  // only in batches: a full batch
    ++row_count_;
    ++fetched_rows_;
    Cell* row = cells_.Extend(static_cast<size_t>(column_count_));
    for (int i = 0; i < column_count_; ++i) {
      Cell& c = row[i];
      c.offset = 0;
      c.length = 0;
      c.has_value = false;
      // One call into the statement per cell: the sqlite3_column_* accessors each take the
      // connection's mutex, the value accessors do not, and this loop dominates a large query.
      // The value is read at once, on this thread, as those accessors would read it.
      sqlite3_value* v = sqlite3_column_value(s, i);
      if (sqlite3_value_type(v) == SQLITE_NULL) continue;
      switch (column_kinds_[static_cast<size_t>(i)]) {
        case ColumnKind::Integer:
          c.integer = sqlite3_value_int64(v);
          c.has_value = true;
          break;
        case ColumnKind::Float:
          c.real = sqlite3_value_double(v);
          c.has_value = true;
          break;
        case ColumnKind::Blob: {
          const void* p = sqlite3_value_blob(v);
          int n = sqlite3_value_bytes(v);
          if (n <= 0) break;  // a zero-length blob holds no value
          if (!p) throw std::bad_alloc();
          c.offset = arena_.size();
          c.length = static_cast<uint32_t>(n);
          c.has_value = true;
          std::memcpy(arena_.Extend(static_cast<size_t>(n)), p, static_cast<size_t>(n));
          break;
        }
        case ColumnKind::Text:
        case ColumnKind::Null: {
          const unsigned char* p = sqlite3_value_text(v);
          if (!p) throw std::bad_alloc();  // a value that is not NULL always has a text
          int n = sqlite3_value_bytes(v);
          // Text ends at its first zero byte.
          if (n > 0) {
            if (const void* z = std::memchr(p, 0, static_cast<size_t>(n)))
              n = static_cast<int>(static_cast<const unsigned char*>(z) - p);
            std::memcpy(arena_.Extend(static_cast<size_t>(n)), p, static_cast<size_t>(n));
          } else {
            n = 0;
          }
          c.offset = arena_.size() - static_cast<size_t>(n);
          c.length = static_cast<uint32_t>(n);
          c.has_value = true;
          break;
        }
      }
    }
  }
  current_row_ = 0;
  if (on_batch && row_count_ > 0) HandOver(*on_batch);
}

void TSQLiteTable::HandOver(const std::function<void(TSQLiteTable&)>& on_batch) {
  current_row_ = 0;
  on_batch(*this);
  row_count_ = 0;
  cells_.Clear();
  arena_.Clear();
}

void TSQLiteTable::RaiseBadColumn(int i) {
  throw ESQLiteException("Column index " + std::to_string(i) + " out of range");
}

const std::string& TSQLiteTable::ColumnName(int i) const {
  if (i < 0 || i >= column_count_) RaiseBadColumn(i);
  return column_names_[static_cast<size_t>(i)];
}

ColumnKind TSQLiteTable::Kind(int i) const {
  if (i < 0 || i >= column_count_) RaiseBadColumn(i);
  return column_kinds_[static_cast<size_t>(i)];
}

bool TSQLiteTable::Rewind() noexcept {
  if (row_count_ == 0) return false;
  current_row_ = 0;
  return true;
}

bool TSQLiteTable::SeekRow(uint32_t n) noexcept {
  if (row_count_ == 0 || n >= row_count_) return false;
  current_row_ = n;
  return true;
}

bool TSQLiteTable::Advance() noexcept {
  if (AtEnd()) return false;
  ++current_row_;
  return true;
}

const TSQLiteTable::Cell& TSQLiteTable::CurrentCell(int i) const {
  if (AtEnd()) throw ESQLiteException("Table is at End of File");
  if (i < 0 || i >= column_count_) RaiseBadColumn(i);
  return cells_[static_cast<size_t>(current_row_) * static_cast<size_t>(column_count_) +
                static_cast<size_t>(i)];
}

bool TSQLiteTable::CellIsNull(int i) const { return !CurrentCell(i).has_value; }

std::string_view TSQLiteTable::CellBytes(int i) const {
  const Cell& c = CurrentCell(i);
  ColumnKind k = column_kinds_[static_cast<size_t>(i)];
  if (!c.has_value || k == ColumnKind::Integer || k == ColumnKind::Float) return {};
  return std::string_view(arena_.data() + c.offset, c.length);
}

int64_t TSQLiteTable::CellInteger(int i) const {
  const Cell& c = CurrentCell(i);
  if (!c.has_value) return 0;
  switch (column_kinds_[static_cast<size_t>(i)]) {
    case ColumnKind::Integer:
      return c.integer;
    case ColumnKind::Float:
      // Truncated toward zero; NaN gives 0 and magnitudes beyond the range its nearer limit.
      if (std::isnan(c.real)) return 0;
      if (c.real >= 9223372036854775807.0) return INT64_MAX;
      if (c.real <= -9223372036854775808.0) return INT64_MIN;
      return static_cast<int64_t>(c.real);
    default:
      throw ESQLiteException("Not an integer or numeric field");
  }
}

double TSQLiteTable::CellFloat(int i) const {
  const Cell& c = CurrentCell(i);
  if (!c.has_value) return 0;
  switch (column_kinds_[static_cast<size_t>(i)]) {
    case ColumnKind::Integer:
      return static_cast<double>(c.integer);
    case ColumnKind::Float:
      return c.real;
    default:
      throw ESQLiteException("Not an integer or numeric field");
  }
}

std::optional<std::string> TSQLiteTable::CellBlob(int i) const {
  const Cell& c = CurrentCell(i);
  if (!c.has_value) return std::nullopt;
  if (column_kinds_[static_cast<size_t>(i)] != ColumnKind::Blob)
    throw ESQLiteException("Not a Blob field");
  return std::string(arena_.data() + c.offset, c.length);
}

std::string TSQLiteTable::CellBlobText(int i) const {
  std::optional<std::string> blob = CellBlob(i);
  return blob ? std::move(*blob) : std::string();
}

void TSQLiteTable::AppendCellText(int i, std::string& out) const {
  const Cell& c = CurrentCell(i);
  switch (column_kinds_[static_cast<size_t>(i)]) {
    case ColumnKind::Integer: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, c.has_value ? c.integer : 0);
      out.append(buf, r.ptr);
      return;
    }
    case ColumnKind::Float:
      AppendGeneralNumber(c.has_value ? c.real : 0.0, platform::DecimalSeparator(), out);
      return;
    case ColumnKind::Text:
    case ColumnKind::Blob:
      if (c.has_value) out.append(arena_.data() + c.offset, c.length);
      return;
    case ColumnKind::Null:
      return;  // even when a later row holds a value
  }
}

std::string TSQLiteTable::CellText(int i) const {
  std::string out;
  AppendCellText(i, out);
  return out;
}

std::string TSQLiteTable::CellTextOrEmpty(int i) const {
  if (CellIsNull(i)) return std::string();
  return CellText(i);
}

TSQLiteStatement::TSQLiteStatement(TSQLiteDatabase& db, std::string_view utf8_sql, int parameter_count) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db.Handle(), utf8_sql.data(), static_cast<int>(utf8_sql.size()), &stmt, &tail) !=
          SQLITE_OK ||
      !stmt) {
    if (stmt) sqlite3_finalize(stmt);
    return;
  }
  bool only_blanks = true;
  for (const char* p = tail; p && p < utf8_sql.data() + utf8_sql.size(); ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') only_blanks = false;
  }
  if (!only_blanks || sqlite3_bind_parameter_count(stmt) != parameter_count) {
    sqlite3_finalize(stmt);
    return;
  }
  stmt_ = stmt;
}

TSQLiteStatement::~TSQLiteStatement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

bool TSQLiteStatement::BindText(int i, std::string_view utf8) {
  // The caller keeps the text alive until Run, so SQLite need not copy it.
  return sqlite3_bind_text(stmt_, i, utf8.data(), static_cast<int>(utf8.size()), SQLITE_STATIC) == SQLITE_OK;
}

bool TSQLiteStatement::BindNull(int i) { return sqlite3_bind_null(stmt_, i) == SQLITE_OK; }

bool TSQLiteStatement::Run() {
  int rc = sqlite3_step(stmt_);
  sqlite3_reset(stmt_);
  return rc == SQLITE_DONE;
}

}  // namespace zentrak

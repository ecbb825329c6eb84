// The object layer over the SQLite 3 function interface: one connection per TSQLiteDatabase, and
// TSQLiteTable, a query's result fetched whole into memory with a row cursor over it. Every
// failure is raised as an ESQLiteException. No busy timeout, pragma or other connection option
// is ever set, and statement parameters are never bound: values travel inside the SQL text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "platform/memory.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zentrak {

// The one exception type of the layer. It carries only its message; a SQLite result code
// appears in the text and nowhere else.
class ESQLiteException : public Exception {
 public:
  using Exception::Exception;
};

// The fixed English text of a SQLite primary result code, used in composed error messages.
// Unknown codes give "Unknown SQLite Error Code \"<code>\"".
std::string SQLiteErrorText(int code);

// The storage kind of a result column. The values are SQLite's fundamental type codes, so a
// kind can be taken straight from sqlite3_column_type.
enum class ColumnKind { Integer = 1, Float = 2, Text = 3, Blob = 4, Null = 5 };

class TSQLiteTable;

namespace internal {

// A growable array of trivially copyable elements in one block from realloc, which moves the
// pages of a large block instead of copying them. A result of many rows grows to tens of
// megabytes, so this halves the cost of fetching it.
template <typename T>
class PodBuffer {
 public:
  PodBuffer() = default;
  ~PodBuffer() { std::free(data_); }
  PodBuffer(PodBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  PodBuffer& operator=(PodBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  PodBuffer(const PodBuffer&) = delete;
  PodBuffer& operator=(const PodBuffer&) = delete;

  size_t size() const noexcept { return size_; }
  const T* data() const noexcept { return data_; }
  // Empties the buffer and keeps its memory.
  void Clear() noexcept { size_ = 0; }
  const T& operator[](size_t i) const noexcept { return data_[i]; }

  // Appends n elements, left uninitialised, and returns the first.
  T* Extend(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    T* p = data_ + size_;
    size_ += n;
    return p;
  }

 private:
  static_assert(std::is_trivially_copyable_v<T>);
  void Grow(size_t n) {
    size_t want = std::max(size_ + n, capacity_ < 64 ? size_t{64} : capacity_ * 2);
    if (want > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = std::realloc(data_, want * sizeof(T));
    if (!p) throw std::bad_alloc();
    platform::AdviseLargeBuffer(p, want * sizeof(T));
    data_ = static_cast<T*>(p);
    capacity_ = want;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace internal

// One open SQLite connection, owned. Move-only; a moved-from object holds no connection and
// every operation on it raises.
class TSQLiteDatabase {
 public:
  // Opens the database file. `path` is 8-bit text in the system code page with "\" separators;
  // the file opened is its native form, in UTF-8. The error messages name `path` as given.
  // On failure raises ESQLiteException and no connection is left open.
  explicit TSQLiteDatabase(const std::string& path);
  // Rolls back an open transaction (any failure of that is swallowed), then closes.
  ~TSQLiteDatabase();

  TSQLiteDatabase(TSQLiteDatabase&& other) noexcept;
  TSQLiteDatabase& operator=(TSQLiteDatabase&& other) noexcept;
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // Runs every statement of `sql` (system code page, converted to UTF-8 first), in order. The
  // first that fails stops the rest and is raised; those before it stay applied. A statement
  // must return no rows: one that yields a row fails. Text with no statement at all fails.
  void RunStatement(const std::string& sql);

  // Runs `sql` (passed to SQLite unchanged, so UTF-8 in practice) and fetches every row.
  // On failure raises and no table is left behind.
  std::unique_ptr<TSQLiteTable> QueryTable(const std::string& sql);

  // "BEGIN TRANSACTION", "COMMIT", "ROLLBACK". The flag changes only when the statement
  // succeeds, so a failed COMMIT leaves the transaction open. There is no nesting.
  void StartTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const noexcept { return in_transaction_; }

 private:
  friend class TSQLiteTable;
  friend class TSQLiteStatement;

  // REQUIRES: a connection. Raises when the object has been moved from.
  sqlite3* Handle() const;
  // Composes the message from `text`, the connection's last error and `sql`, and raises.
  [[noreturn]] void RaiseSQLiteError(std::string_view text, std::string_view sql) const;
  void Close() noexcept;

  sqlite3* handle_ = nullptr;
  bool in_transaction_ = false;
};

// A prepared statement with bound text values, for callers that run one statement shape many
// times (the table cache's rows). It reports failure by its result instead of raising: such a
// caller then runs the same statement as literal SQL text through RunStatement, which raises the
// error exactly as it always has. Holds the connection's statement until destroyed.
class TSQLiteStatement {
 public:
  // Prepares utf8_sql. Usable() is false when it does not compile to exactly one statement with
  // parameter_count parameters and nothing after it.
  TSQLiteStatement(TSQLiteDatabase& db, std::string_view utf8_sql, int parameter_count);
  ~TSQLiteStatement();
  TSQLiteStatement(const TSQLiteStatement&) = delete;
  TSQLiteStatement& operator=(const TSQLiteStatement&) = delete;

  bool Usable() const noexcept { return stmt_ != nullptr; }
  // Binds parameter i (from 1): UTF-8 text, which must stay alive until Run, or SQL NULL.
  bool BindText(int i, std::string_view utf8);
  bool BindNull(int i);
  // Runs the statement to its end and resets it; true when it finished without a row or error.
  bool Run();

 private:
  ::sqlite3_stmt* stmt_ = nullptr;
};

// A query's complete result: every row is fetched when the table is constructed and nothing is
// read from SQLite afterwards. Cells are stored once, in their column's kind; text is made only
// when a cell is read. Cell operations act on the row under the cursor and raise "Table is at
// End of File" when the cursor stands past the last row.
class TSQLiteTable {
 public:
  // Runs `sql` unchanged on `db` and fetches every row. On failure raises; the statement is
  // finalized either way.
  TSQLiteTable(TSQLiteDatabase& db, std::string_view sql);
  // Runs `sql` the same way but holds at most `batch_rows` rows at a time: each time that many
  // are fetched, and once more for the rest at the end (when there are any), `on_batch` is
  // called with the cursor on the first of them; they are dropped when it returns. RowCount is
  // the rows of the batch; FetchedRows counts every row so far. An exception from `on_batch`
  // ends the query.
  TSQLiteTable(TSQLiteDatabase& db, std::string_view sql, uint32_t batch_rows,
               const std::function<void(TSQLiteTable&)>& on_batch);

  // Number of rows fetched, and of columns. A query that produced no row has no columns.
  uint32_t RowCount() const noexcept { return row_count_; }
  uint32_t FetchedRows() const noexcept { return fetched_rows_; }
  int ColumnCount() const noexcept { return column_count_; }
  // The column's name as SQLite gave it, upper-cased by the system's 8-bit rule.
  const std::string& ColumnName(int i) const;
  // Decided once, at the first row: from the declared type, or for a column without one from
  // the first row's value.
  ColumnKind Kind(int i) const;

  // Cursor. It starts at row 0 and may stand at RowCount, which is the end.
  uint32_t CurrentRow() const noexcept { return current_row_; }
  bool AtEnd() const noexcept { return current_row_ >= row_count_; }
  // Back to row 0; false, and no change, for an empty table.
  bool Rewind() noexcept;
  // To row n; false, and no change, when n is not a row.
  bool SeekRow(uint32_t n) noexcept;
  // One row on; false at the end.
  bool Advance() noexcept;

  // True when the cell holds no value.
  bool CellIsNull(int i) const;
  // The cell as text: Integer in decimal and Float in the general 15-digit form with the
  // user's decimal separator (both "0" without a value), Text as stored, Blob its bytes, and
  // always the empty text for a Null column.
  std::string CellText(int i) const;
  // Appends CellText(i) to `out`.
  void AppendCellText(int i, std::string& out) const;
  // The empty text for a cell without value, otherwise CellText.
  std::string CellTextOrEmpty(int i) const;
  // 0 without a value. An Integer column gives the stored integer and a Float column its value
  // truncated; any other kind raises "Not an integer or numeric field".
  int64_t CellInteger(int i) const;
  // 0 without a value. An Integer column gives the integer converted, a Float column the stored
  // double; any other kind raises "Not an integer or numeric field".
  double CellFloat(int i) const;
  // None without a value, the stored bytes on a Blob column; any other kind raises
  // "Not a Blob field".
  std::optional<std::string> CellBlob(int i) const;
  // All bytes of CellBlob, zero bytes included; the empty text without a value.
  std::string CellBlobText(int i) const;
  // The stored bytes of a Text, Null or Blob cell without a copy; empty without a value and for
  // Integer and Float cells. Valid while the table lives. On a Null column these are the bytes
  // that CellText never shows, so a reader that wants CellText's result checks Kind first.
  std::string_view CellBytes(int i) const;

 private:
  // One fixed-size cell. Integer and Float cells hold their number; Text, Null and Blob cells
  // hold a range of the table's byte arena.
  struct Cell {
    union {
      int64_t integer;
      double real;
      uint64_t offset;
    };
    uint32_t length;
    bool has_value;
  };

  const Cell& CurrentCell(int i) const;
  [[noreturn]] static void RaiseBadColumn(int i);
  void Fetch(TSQLiteDatabase& db, std::string_view sql, uint32_t batch_rows,
             const std::function<void(TSQLiteTable&)>* on_batch);
  // Hands the rows fetched so far to on_batch, cursor on the first, then drops them.
  void HandOver(const std::function<void(TSQLiteTable&)>& on_batch);

  bool described_ = false;
  uint32_t fetched_rows_ = 0;
  uint32_t row_count_ = 0;
  int column_count_ = 0;
  uint32_t current_row_ = 0;
  std::vector<std::string> column_names_;
  std::vector<ColumnKind> column_kinds_;
  // Row-major: cell (row, col) is cells_[row * column_count_ + col].
  internal::PodBuffer<Cell> cells_;
  // The bytes of every Text, Null and Blob cell, end to end.
  internal::PodBuffer<char> arena_;
};

}  // namespace zentrak

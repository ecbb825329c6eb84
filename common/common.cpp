// The result JSON shape.
#include "common/common.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "base/text.h"
#include "codec/base64.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "automation/convert.h"
#include "common/result_stream.h"

namespace zentrak {

namespace {

// Puts the cursor on the first row of the page; false when the page is empty. All rows when size
// or page is -1; otherwise from row (page - 1) * size, computed in 32-bit signed arithmetic, which
// wraps: an offset below 0 starts at row 0.
bool SeekFirstRow(TSQLiteTable& table, int32_t size, int32_t page) {
  if (size == -1 || page == -1) {
    table.Rewind();
    return true;
  }
  int32_t offset = static_cast<int32_t>((static_cast<uint32_t>(page) - 1u) * static_cast<uint32_t>(size));
  if (offset < 0) {
    table.Rewind();
    return true;
  }
  if (static_cast<uint32_t>(offset) < table.RowCount()) {
    table.SeekRow(static_cast<uint32_t>(offset));
    return true;
  }
  return false;
}

}  // namespace

void TCommonClass::TableToJSON(TSQLiteTable& table, TvxJSONobject& target, int32_t size, int32_t page) {
  const uint32_t rows = table.RowCount();
  target.AddMember(u"size", size);
  if (rows <= static_cast<uint32_t>(INT32_MAX)) {
    target.AddMember(u"total", static_cast<int32_t>(rows));
  } else {
    target.AddMember(u"total", static_cast<double>(rows));
  }
  target.AddMember(u"page", page);

  auto meta = std::make_unique<TvxJSONlist>();
  const int columns = table.ColumnCount();
  for (int i = 0; i < columns; ++i) meta->Append(std::string_view(table.ColumnName(i)));
  target.AddMember(u"meta", std::move(meta));

  auto data = std::make_unique<TvxJSONlist>();
  if (SeekFirstRow(table, size, page)) {
    std::vector<ColumnKind> kinds;
    for (int i = 0; i < columns; ++i) kinds.push_back(table.Kind(i));
    std::string scratch;
    int32_t collected = 0;
    while (!table.AtEnd()) {
      auto row = std::make_unique<TvxJSONlist>();
      for (int i = 0; i < columns; ++i) {
        if (table.CellIsNull(i)) {
          row->Append(std::make_unique<TvxJSONnull>());
          continue;
        }
        switch (kinds[static_cast<size_t>(i)]) {
          case ColumnKind::Text:
          case ColumnKind::Blob:
            // The cell text is the stored bytes.
            row->Append(TvxJSONstring::FromUtf8(table.CellBytes(i)));
            break;
          default:
            scratch.clear();
            table.AppendCellText(i, scratch);
            row->Append(TvxJSONstring::FromUtf8(scratch));
            break;
        }
      }
      data->Append(std::move(row));
      table.Advance();
      if (++collected == size) break;
    }
  }
  target.AddMember(u"data", std::move(data));
}

namespace {

// The result text under construction: units are written through a pointer into a buffer that
// grows geometrically, so appending a unit costs no capacity check of its own.
class WideOut {
 public:
  explicit WideOut(size_t reserve) { Grow(reserve); }
  // REQUIRES: room for n more units before the next Ensure.
  void Ensure(size_t n) {
    if (static_cast<size_t>(end_ - pos_) < n) Grow(n);
  }
  void Put(char16_t c) { *pos_++ = c; }
  void Put(const char16_t* s) {
    while (*s) *pos_++ = *s++;
  }
  // Appends one unit with the writer's escaping. The writer escapes the bytes of the UTF-8 form,
  // and every byte it escapes is ASCII, so escaping the units gives the same text. At most six
  // units are written.
  void PutEscaped(char16_t c) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    if (c >= 0x20 && c != u'"' && c != u'\\' && c != u'/') {
      *pos_++ = c;
      return;
    }
    *pos_++ = u'\\';
    switch (c) {
      case u'"': *pos_++ = u'"'; return;
      case u'\\': *pos_++ = u'\\'; return;
      case u'/': *pos_++ = u'/'; return;
      case 0x08: *pos_++ = u'b'; return;
      case 0x09: *pos_++ = u't'; return;
      case 0x0A: *pos_++ = u'n'; return;
      case 0x0C: *pos_++ = u'f'; return;
      case 0x0D: *pos_++ = u'r'; return;
      default:
        *pos_++ = u'u';
        *pos_++ = u'0';
        *pos_++ = u'0';
        *pos_++ = kHex[c >> 4];
        *pos_++ = kHex[c & 15];
    }
  }
  void PutInteger(int64_t n) {
    char buf[24];
    int len = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
    Ensure(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i) *pos_++ = static_cast<char16_t>(buf[i]);
  }
  void PutWideString(std::u16string_view text) {
    Ensure(text.size() * 6 + 2);
    *pos_++ = u'"';
    for (char16_t c : text) PutEscaped(c);
    *pos_++ = u'"';
  }
  // A cell's UTF-8 bytes as a JSON string: a text with a malformed sequence is the empty string.
  void PutUtf8String(std::string_view utf8, std::u16string& scratch) {
    Ensure(utf8.size() * 6 + 2);
    *pos_++ = u'"';
    char16_t* start = pos_;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* e = p + utf8.size();
    for (; p < e; ++p) {
      if (*p >= 0x80) break;
      PutEscaped(*p);
    }
    if (p < e) {
      pos_ = start;
      if (TryUtf8ToWide(utf8, scratch)) {
        for (char16_t c : scratch) PutEscaped(c);
      }
    }
    *pos_++ = u'"';
  }
  size_t Size() const noexcept { return buf_.empty() ? 0 : static_cast<size_t>(pos_ - buf_.data()); }
  std::u16string_view View() const noexcept { return {buf_.data(), Size()}; }
  // Forgets the text written so far and keeps the buffer.
  void Clear() noexcept { pos_ = buf_.data(); }
  // The text written so far; the buffer is handed over without a copy.
  std::u16string Take() {
    buf_.resize(static_cast<size_t>(pos_ - buf_.data()));
    pos_ = end_ = nullptr;
    return std::move(buf_);
  }

 private:
  void Grow(size_t n) {
    size_t used = buf_.empty() ? 0 : static_cast<size_t>(pos_ - buf_.data());
    size_t want = std::max(buf_.size() * 2, used + n + 1024);
    buf_.reserve(want);
    platform::AdviseLargeBuffer(buf_.data(), want * sizeof(char16_t));
    buf_.resize(want);
    pos_ = buf_.data() + used;
    end_ = buf_.data() + buf_.size();
  }

  std::u16string buf_;
  char16_t* pos_ = nullptr;
  char16_t* end_ = nullptr;
};

// The result's opening, up to and including the "[" of "data".
void PutHead(WideOut& out, const TSQLiteTable& table, int32_t size, uint32_t total, int32_t page) {
  const int columns = table.ColumnCount();
  out.Ensure(16);
  out.Put(u"{\"size\":");
  out.PutInteger(size);
  out.Ensure(16);
  out.Put(u",\"total\":");
  out.PutInteger(total);
  out.Ensure(16);
  out.Put(u",\"page\":");
  out.PutInteger(page);
  out.Ensure(16);
  out.Put(u",\"meta\":[");
  for (int i = 0; i < columns; ++i) {
    if (i) {
      out.Ensure(1);
      out.Put(u',');
    }
    out.PutWideString(platform::AnsiToWide(table.ColumnName(i)));
  }
  out.Ensure(16);
  out.Put(u"],\"data\":[");
}

// Writes the rows from the cursor on, each after a comma but the result's first, until the end
// of the table or until `collected` reaches `size`.
class RowWriter {
 public:
  explicit RowWriter(const TSQLiteTable& table) {
    for (int i = 0; i < table.ColumnCount(); ++i) kinds_.push_back(table.Kind(i));
  }
  void Put(WideOut& out, TSQLiteTable& table, int32_t& collected, int32_t size) {
    const int columns = static_cast<int>(kinds_.size());
    while (!table.AtEnd()) {
      out.Ensure(2);
      if (collected) out.Put(u',');
      out.Put(u'[');
      for (int i = 0; i < columns; ++i) {
        out.Ensure(5);
        if (i) out.Put(u',');
        if (table.CellIsNull(i)) {
          out.Put(u"null");
          continue;
        }
        switch (kinds_[static_cast<size_t>(i)]) {
          case ColumnKind::Text:
          case ColumnKind::Blob:
            out.PutUtf8String(table.CellBytes(i), scratch_);
            break;
          default:
            number_.clear();
            table.AppendCellText(i, number_);
            out.PutUtf8String(number_, scratch_);
            break;
        }
      }
      out.Ensure(1);
      out.Put(u']');
      table.Advance();
      if (++collected == size) break;
    }
  }

 private:
  std::vector<ColumnKind> kinds_;
  std::string number_;
  std::u16string scratch_;
};

}  // namespace

std::u16string TCommonClass::TableToJSONText(TSQLiteTable& table, int32_t size, int32_t page) {
  const uint32_t rows = table.RowCount();
  WideOut out(256 + static_cast<size_t>(rows) * static_cast<size_t>(table.ColumnCount()) * 12);
  PutHead(out, table, size, rows, page);
  if (SeekFirstRow(table, size, page)) {
    int32_t collected = 0;
    RowWriter(table).Put(out, table, collected, size);
  }
  out.Ensure(2);
  out.Put(u"]}");
  return out.Take();
}

std::u16string TCommonClass::StreamQueryJSON(TSQLiteDatabase& database, std::string_view sql, ResultStream& stream) {
  // Rows are fetched a batch at a time and written on; a piece goes out once the text not yet
  // sent reaches kPieceUnits, always after a whole row, so no character is cut in two.
  constexpr uint32_t kBatchRows = 1024;
  constexpr size_t kPieceUnits = 128 * 1024;
  WideOut rows(kPieceUnits + 64 * 1024);
  std::optional<RowWriter> writer;
  bool streamed = false;
  int32_t collected = 0;
  TSQLiteTable table(database, sql, kBatchRows, [&](TSQLiteTable& batch) {
    if (!writer) writer.emplace(batch);
    writer->Put(rows, batch, collected, -1);
    if (rows.Size() >= kPieceUnits) {
      stream.Write(WideToStandardUtf8(rows.View()));
      rows.Clear();
      streamed = true;
    }
  });
  WideOut head(256);
  PutHead(head, table, -1, table.FetchedRows(), -1);
  rows.Ensure(2);
  rows.Put(u"]}");
  if (streamed) {
    stream.Write(WideToStandardUtf8(rows.View()));
    return head.Take();
  }
  std::u16string whole = head.Take();
  whole += rows.View();
  return whole;
}

std::u16string ResultText(const TvxJSONbase& root) { return Utf8ToWide(TvxJSON::WriteText(&root)); }

std::u16string TCommonClass::QueryToJSON(TSQLiteDatabase& database, const Variant& sql, const Variant& pageSize,
                                         const Variant& pageIndex) {
  std::string s = VarToText(sql);
  auto table = database.QueryTable(s);
  int32_t size = VarToInteger(pageSize);
  int32_t page = VarToInteger(pageIndex);
  return TableToJSONText(*table, size, page);
}

void TCommonClass::LinesToJSON(std::string_view columnName, std::string_view lines, TvxJSONobject& target) {
  std::vector<std::string_view> split;
  size_t start = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == '\r' || lines[i] == '\n') {
      split.push_back(lines.substr(start, i - start));
      if (lines[i] == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < lines.size()) split.push_back(lines.substr(start));
  target.AddMember(u"size", -1);
  target.AddMember(u"total", static_cast<int32_t>(split.size()));
  target.AddMember(u"page", -1);
  auto meta = std::make_unique<TvxJSONlist>();
  meta->Append(columnName);
  target.AddMember(u"meta", std::move(meta));
  auto data = std::make_unique<TvxJSONlist>();
  for (std::string_view line : split) {
    auto row = std::make_unique<TvxJSONlist>();
    row->Append(line);
    data->Append(std::move(row));
  }
  target.AddMember(u"data", std::move(data));
}

std::string TCommonClass::DecodeBase64(std::string_view text) { return zentrak::DecodeBase64(text); }

}  // namespace zentrak

// The result JSON shape.
#include "localdb/common.h"

#include "base/text.h"
#include "codec/base64.h"
#include "platform/codepage.h"
#include "server/convert.h"

namespace zentrak {

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
  bool empty_page = false;
  if (size == -1 || page == -1) {
    table.Rewind();
  } else {
    // (page - 1) * size in 32-bit signed arithmetic, wrapping as the original arithmetic does.
    int32_t offset = static_cast<int32_t>((static_cast<uint32_t>(page) - 1u) * static_cast<uint32_t>(size));
    if (offset < 0) {
      table.Rewind();
    } else if (static_cast<uint32_t>(offset) < rows) {
      table.SeekRow(static_cast<uint32_t>(offset));
    } else {
      empty_page = true;
    }
  }
  if (!empty_page) {
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

std::u16string ResultText(const TvxJSONbase& root) { return Utf8ToWide(TvxJSON::WriteText(&root)); }

std::u16string TCommonClass::QueryToJSON(TSQLiteDatabase& database, const Variant& sql, const Variant& pageSize,
                                         const Variant& pageIndex) {
  std::string s = VarToText(sql);
  auto table = database.QueryTable(s);
  TvxJSONobject obj;
  int32_t size = VarToInteger(pageSize);
  int32_t page = VarToInteger(pageIndex);
  TableToJSON(*table, obj, size, page);
  return ResultText(obj);
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

// Whole-process runs of the JSON library for bench/json_bench.sh, which times them beside
// python3's json module and the sqlite3 shell's -json output.
//   json_bench read FILE     reads FILE with TvxJSON::ReadText, prints the element count
//   json_bench query DB SQL  runs SQL, builds the result tree (strings and nulls, objects without
//                            name index) and writes it with TvxJSON::WriteText to stdout
// Both print the time of their JSON work and the peak resident size to stderr.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "json/value.h"

namespace {

using zentrak::TvxJSON;
using zentrak::TvxJSONlist;
using zentrak::TvxJSONnull;
using zentrak::TvxJSONobject;
using zentrak::TvxJSONstring;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

int Read(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::cerr << "cannot open " << path << "\n";
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  std::string text(static_cast<size_t>(std::ftell(f)), '\0');
  std::fseek(f, 0, SEEK_SET);
  size_t got = std::fread(text.data(), 1, text.size(), f);
  std::fclose(f);
  text.resize(got);
  auto start = std::chrono::steady_clock::now();
  std::unique_ptr<zentrak::TvxJSONbase> root = TvxJSON::ReadText(text);
  double read = Seconds(start);
  if (!root) {
    std::cerr << "not a JSON document\n";
    return 1;
  }
  long peak = PeakMiB();
  start = std::chrono::steady_clock::now();
  int32_t count = root->ItemCount();
  root.reset();
  double destroy = Seconds(start);
  std::printf("%d\n", count);
  std::fprintf(stderr, "ReadText %.3f s, destroy %.3f s, peak RSS %ld MiB\n", read, destroy, peak);
  return 0;
}

int Query(const char* db_path, const char* sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(db_path, &db) != SQLITE_OK) {
    std::cerr << "cannot open " << db_path << "\n";
    return 1;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    std::cerr << sqlite3_errmsg(db) << "\n";
    sqlite3_close(db);
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  // The shape of a query result: size, total, page, meta (column names), data (rows of cells).
  auto meta = std::make_unique<TvxJSONlist>();
  int columns = sqlite3_column_count(stmt);
  for (int i = 0; i < columns; ++i)
    meta->Append(TvxJSONstring::FromUtf8(sqlite3_column_name(stmt, i)));
  auto data = std::make_unique<TvxJSONlist>();
  int32_t total = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    auto row = std::make_unique<TvxJSONlist>();
    row->Reserve(columns);
    for (int i = 0; i < columns; ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
        row->Append(std::make_unique<TvxJSONnull>());
      } else {
        const char* cell = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        int bytes = sqlite3_column_bytes(stmt, i);
        row->Append(TvxJSONstring::FromUtf8(std::string_view(cell, static_cast<size_t>(bytes))));
      }
    }
    data->Append(std::move(row));
    ++total;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  TvxJSONobject result(false);
  result.AddMember(u"size", -1);
  result.AddMember(u"total", total);
  result.AddMember(u"page", -1);
  result.AddMember(u"meta", std::move(meta));
  result.AddMember(u"data", std::move(data));
  double build = Seconds(start);
  start = std::chrono::steady_clock::now();
  std::string text = TvxJSON::WriteText(&result);
  double write = Seconds(start);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fprintf(stderr, "query+build %.3f s, WriteText %.3f s (%zu bytes), peak RSS %ld MiB\n",
               build, write, text.size(), PeakMiB());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "query") == 0) return Query(argv[2], argv[3]);
  std::cerr << "usage: json_bench read FILE | json_bench query DB SQL\n";
  return 2;
}

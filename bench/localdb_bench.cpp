// Whole-process benchmark of LocalDB paths, to be timed beside the sqlite3 shell and Python:
//   localdb_bench queryall FILE.db SQL     queryAll from the SQL text to the UTF-16 result text
//   localdb_bench readtext FILE.json       ReadText of a JSON text (the tree is then destroyed)
//   localdb_bench initcache FILE.db DOC    initCache of a document into a new database
// Prints the size of what it produced, so that the work cannot be optimised away.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "base/text.h"
#include "json/value.h"
#include "localdb/local_db.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const char* path) {
  std::string text;
  if (FILE* f = std::fopen(path, "rb")) {
    std::fseek(f, 0, SEEK_END);
    text.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(text.data(), 1, text.size(), f) != text.size()) text.clear();
    std::fclose(f);
  }
  return text;
}

// Opens FILE.db through setDBName: the profile folder is the file's grandparent when the file
// lies in a folder named Zentrak, as setDBName builds it.
bool Open(zentrak::TLocalDB& db, const char* file) {
  fs::path p = fs::absolute(file);
  if (p.parent_path().filename() != "Zentrak") {
    std::cerr << "the database must lie in a folder named Zentrak\n";
    return false;
  }
  setenv("USERPROFILE", p.parent_path().parent_path().c_str(), 1);
  zentrak::Variant rv;
  db.setDBName(zentrak::Variant(zentrak::Utf8ToWide(p.stem().string())), zentrak::Variant(), rv);
  return rv.BoolValue();
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc >= 4 && std::strcmp(argv[1], "queryall") == 0) {
    zentrak::TLocalDB db;
    if (!Open(db, argv[2])) return 1;
    zentrak::Variant out;
    db.queryAll(zentrak::Variant(zentrak::Utf8ToWide(argv[3])), out);
    std::printf("%zu\n", out.WideText().size());
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "readtext") == 0) {
    std::string text = ReadFile(argv[2]);
    auto root = zentrak::TvxJSON::ReadText(text);
    std::printf("%d\n", root ? root->ItemCount() : -1);
    return 0;
  }
  if (argc >= 4 && std::strcmp(argv[1], "initcache") == 0) {
    zentrak::TLocalDB db;
    if (!Open(db, argv[2])) return 1;
    zentrak::Variant value;
    db.initCache(zentrak::Variant(zentrak::Utf8ToWide(ReadFile(argv[3]))), value);
    std::printf("%s\n", value.BoolValue() ? "true" : "false");
    return value.BoolValue() ? 0 : 1;
  }
  std::cerr << "usage: localdb_bench queryall FILE.db SQL | readtext FILE.json | initcache FILE.db DOC\n";
  return 2;
}

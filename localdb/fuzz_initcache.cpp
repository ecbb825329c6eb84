// libFuzzer target: initCache of arbitrary documents on a scratch database. Every document must
// give true or false, never a crash, a leak or a runaway allocation.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/text.h"
#include "localdb/local_db.h"

namespace {

std::unique_ptr<zentrak::TLocalDB> db;
int runs = 0;
std::filesystem::path folder;

void Reopen() {
  db.reset();
  std::filesystem::remove_all(folder / "Zentrak");
  db = std::make_unique<zentrak::TLocalDB>();
  zentrak::Variant ok;
  db->setDBName(zentrak::Variant(u"fuzz"), zentrak::Variant(), ok);
  if (!ok.BoolValue()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!db) {
    folder = std::filesystem::temp_directory_path() / ("zentrak-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    setenv("USERPROFILE", folder.c_str(), 1);
    Reopen();
  }
  if (++runs % 500 == 0) Reopen();  // keep the scratch database small
  std::string text(reinterpret_cast<const char*>(data), size);
  zentrak::Variant value;
  db->initCache(zentrak::Variant(zentrak::Utf8ToWide(text)), value);
  // Also as 8-bit text, which takes the conversion path of non-wide arguments.
  db->initCache(zentrak::Variant::FromAnsi(text), value);
  return 0;
}

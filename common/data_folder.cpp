// The per-user data folder, on the platform's folder and profile interfaces.
#include "common/data_folder.h"

#include "automation/convert.h"
#include "platform/env.h"

namespace zentrak {

std::string PrepareDataFolder(const std::string& path) {
  std::string folder;
  if (path.empty()) {
    folder = platform::UserProfileDir() + "\\Zentrak";
  } else {
    std::string p = path;
    // One trailing separator, of either kind, is removed.
    if (p.back() == '\\' || p.back() == '/') p.pop_back();
    if (!platform::DirectoryExists(p)) platform::MakeDirectory(p);
    folder = p + "\\Zentrak";
  }
  if (!platform::DirectoryExists(folder)) platform::MakeDirectory(folder);
  return folder;
}

std::string DatabaseFileName(const Variant& DBName, const Variant& Path) {
  std::string folder = PrepareDataFolder(VarToText(Path));
  return folder + "\\" + VarToText(DBName) + ".db";
}

}  // namespace zentrak

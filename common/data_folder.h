// The per-user data folder that both database-backed objects (LocalDB and PrintServer) open their
// databases in.
#pragma once

#include <string>

#include "automation/variant.h"

namespace zentrak {

// The per-user data folder: the profile folder followed by "\Zentrak", or p + "\Zentrak" for a
// folder p that script names (one trailing "\" or "/" removed). Creates p and the folder, one
// level each, ignoring failures; a folder that cannot be made shows when the database is opened.
std::string PrepareDataFolder(const std::string& path);

// The database file that setDBName opens: PrepareDataFolder(Path) followed by "\", DBName and
// ".db", both arguments converted to text (the conversion errors leave as exceptions).
std::string DatabaseFileName(const Variant& DBName, const Variant& Path);

}  // namespace zentrak

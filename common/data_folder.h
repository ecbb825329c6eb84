// The per-user data folder that both database-backed objects (LocalDB and PrintServer) open their
// databases in.
#pragma once

#include <string>

namespace zentrak {

// The per-user data folder: the profile folder followed by "\Zentrak", or p + "\Zentrak" for a
// folder p that script names (one trailing "\" or "/" removed). Creates p and the folder, one
// level each, ignoring failures; a folder that cannot be made shows when the database is opened.
std::string PrepareDataFolder(const std::string& path);

}  // namespace zentrak

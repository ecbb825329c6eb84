// The environment and the mapping of the system's paths onto the platform's files.
#pragma once

#include <string>
#include <string_view>

namespace zentrak::platform {

// The value of an environment variable as 8-bit text, or the empty text when it is not set.
std::string GetEnvironment(const char* name);

// The user's profile folder: "USERPROFILE", on Linux falling back to HOME. At most 254
// characters are kept, as the system reads it into a 255-character buffer; the text ends at
// the first zero character.
std::string UserProfileDir();

// The system builds paths with "\" separators and drive letters ("F:\demo.db"). On Windows they
// are used as they are. On Linux every "\" becomes "/", and a leading drive "X:" stands for the
// folder named by ZENTRAK_DRIVE_X, by default $HOME/.local/share/zentrak/drives/x; that folder
// (the drive's root) is created when missing, as a drive root always exists.
std::string NativePath(std::string_view system_path);

bool DirectoryExists(std::string_view system_path);
// Creates one folder level; returns false on failure (callers may ignore it).
bool MakeDirectory(std::string_view system_path);

}  // namespace zentrak::platform

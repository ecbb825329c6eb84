// The text of a Win32 error code, for the messages of the system's exceptions. Windows only: the
// one place where Win32 codes become words.
#pragma once

#include <windows.h>

#include <string>

namespace zentrak::platform {

// The system's text for error, in the user's language, without the closing line break;
// "System error N" when the system has no text for it.
std::string Win32ErrorText(DWORD error);

}  // namespace zentrak::platform

// The document file that the preview windows read: a copy of a Base64 document's bytes in the
// per-user Zentrak folder, named "ToPrint", the local time as yyyyMMddhhmmss, a random number
// from 0 to 99 and ".pdf" (ToPrint2026120813450742.pdf). PrintServer's preview and the viewer
// control both write it.
#pragma once

#include <string>
#include <string_view>

namespace zentrak {

// Decodes doc (Base64, 8-bit text) and writes the bytes as a new document file in
// UserProfileDir() + "\Zentrak", creating that folder (one level) when it is missing. A file of
// the chosen name that already exists is deleted first. Returns the file's name in the system's
// form (with "\"; platform::NativePath gives the file to open on Linux).
// Throws "Cannot create file "<name>". <reason>" when the file cannot be written; nothing is
// left behind then.
std::string SaveDocumentToFile(std::string_view doc);

}  // namespace zentrak

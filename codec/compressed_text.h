// The compressed-text codec: a byte string carried as the single entry, named "PDF", of a zip
// archive built in memory. Callers carry the archive as Base64 text.
#pragma once

#include <string>
#include <string_view>

namespace zentrak {

// A one-entry archive holding `bytes` deflated under the name "PDF", stamped with the current
// local time. Empty input gives a 106-byte archive.
std::string compressText(std::string_view bytes);

// The bytes of the entry named "PDF" (in any letter case) of `archive`; when there are several,
// those of the last. Empty when `archive` is empty or has no such entry. Throws EIncompleteZip,
// EBadZipFile, EFatalUnzipError or EZCompressionError (codec/zip.h).
std::string decompressText(std::string_view archive);

}  // namespace zentrak

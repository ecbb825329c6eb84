// The zip archive subset of the system: a writer that produces the one-entry archive of the
// compressed-text codec, and a reader that extracts named entries from an archive in memory.
// Entries may be stored, deflated (zlib, raw streams) or use the legacy methods shrunk, reduced
// and imploded. Names are handled as bytes; letter case is ignored for ASCII letters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/exception.h"
#include "codec/memory_stream.h"

namespace zentrak {

// No end-of-central-directory record in the last 65,557 bytes, or fewer than 22 bytes.
class EIncompleteZip : public Exception {
 public:
  EIncompleteZip() : Exception("Incomplete Zip File") {}
};

// The central directory cannot be read and no entry could be found from the local headers.
class EBadZipFile : public Exception {
 public:
  EBadZipFile() : Exception("Not a valid zip file!") {}
};

// The archive ends inside a stored entry's data (or inside a local header).
class EFatalUnzipError : public Exception {
 public:
  EFatalUnzipError() : Exception("Premature end of file reached") {}
};

// zlib failed: damaged or cut-off deflate data, or a stream that could not be set up.
class EZCompressionError : public Exception {
 public:
  EZCompressionError() : Exception("error") {}
};

// Where the reader sends what the user must be shown ("Unknown Compression Method", captioned
// "Zip Error"). The default sink writes "<caption>: <text>" to standard error; a host with a user
// interface installs one that shows a message box. Passing nullptr restores the default.
using ZipMessageSink = void (*)(const std::string& text, const std::string& caption);
void SetZipMessageSink(ZipMessageSink sink);

// One entry's header fields, as in its central directory header. The name is the stored name
// with every "/" turned into "\".
struct TZipHeaderInfo {
  uint16_t version_made_by = 45;
  uint16_t version_needed = 20;
  uint16_t flags = 0;
  uint16_t method = 8;
  uint16_t mod_time = 0;
  uint16_t mod_date = 0;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t disk_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0x20;  // archive
  uint32_t local_header_offset = 0;
  std::string name;
};

// The end-of-central-directory record.
struct TEndCentral {
  uint16_t disk_number = 0;
  uint16_t directory_disk = 0;
  uint16_t entries_on_disk = 0;
  uint16_t total_entries = 0;
  uint32_t directory_size = 0;
  uint32_t directory_offset = 0;
  uint16_t comment_length = 0;
};

// True when `name` matches `pattern`, byte for byte, where in the pattern "?" stands for any one
// character, "*" for any run of characters and "<" for any run that does not pass the name's last
// ".". Neither side is case-folded here.
bool ZipNameMatches(std::string_view pattern, std::string_view name);

// Extracts entries from an archive held in a caller-owned memory stream.
class TZipReader {
 public:
  TZipReader() = default;
  virtual ~TZipReader() = default;
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;

  // The stream stays the caller's; nullptr detaches it.
  void SetArchiveStream(TMemoryStream* archive) { archive_ = archive; }
  TMemoryStream* ArchiveStream() const { return archive_; }

  // Reads the directory and returns its entries in directory order. An empty (or absent) archive
  // stream has none. Throws EIncompleteZip or EBadZipFile.
  const std::vector<TZipHeaderInfo>& ReadDirectory();

  // Extracts every entry whose name matches `name` (both lower-cased; `name` may hold pattern
  // characters) into `output`, in directory order, each from the beginning of `output`: afterwards
  // it holds the bytes decoded from the last such entry, never more than that entry's declared
  // uncompressed size. Encrypted entries are skipped. Returns the number of entries whose decoded
  // bytes had the CRC-32 of their header. Throws the four exceptions above; on a throw, `output`
  // holds whatever was decoded so far.
  int extractToStream(TMemoryStream& output, std::string_view name);

 protected:
  TMemoryStream* archive_ = nullptr;
  std::vector<TZipHeaderInfo> entries_;
  TEndCentral end_;

 private:
  bool ReadCentralDirectory();
  void RebuildFromLocalHeaders();
  bool ExtractEntry(const TZipHeaderInfo& entry, TMemoryStream& output);
};

// Writes entries into a caller-owned archive stream, deflated at level 6.
class TZipWriter : public TZipReader {
 public:
  // Adds an entry named `name` ("\" stored as "/") holding the bytes of `input` from its position
  // to its end, stamped with the current local time. The first entry goes at the archive stream's
  // position, each later one where the previous central directory began; afterwards the archive
  // stream holds the complete archive and is positioned at its end. Throws EZCompressionError.
  void addStreamEntry(TMemoryStream& input, std::string_view name);
};

}  // namespace zentrak

// The compressed-text codec on top of the zip writer and reader, all in memory.
#include "codec/compressed_text.h"

#include "codec/zip.h"

namespace zentrak {

std::string compressText(std::string_view bytes) {
  TMemoryStream input{std::string(bytes)};
  TMemoryStream archive;
  TZipWriter writer;
  writer.SetArchiveStream(&archive);
  writer.addStreamEntry(input, "PDF");
  writer.SetArchiveStream(nullptr);
  return archive.TakeBytes();
}

std::string decompressText(std::string_view archive_bytes) {
  TMemoryStream archive;
  TZipReader reader;
  reader.SetArchiveStream(&archive);
  archive.Write(archive_bytes);
  TMemoryStream output;
  reader.extractToStream(output, "PDF");
  reader.SetArchiveStream(nullptr);
  return output.TakeBytes();
}

}  // namespace zentrak

// TFileSystemObject, the implementation class of FileSystemObject: the file-open dialog, whose
// choice comes back as JSON text, and byte ranges of local files as Base64 text, optionally
// packed into a one-entry zip archive first. The object keeps no state between calls.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "automation/automation_object.h"

namespace zentrak {

// The size of the file at path (8-bit text) as a signed 32-bit number: the low 32 bits of the
// byte count, so sizes of 2 GiB and more do not fit. -1 when the file cannot be opened (missing,
// in use, no access). The file is opened with exclusive sharing and closed again.
int32_t FileSizeOf(std::string_view path);

class TFileSystemObject : public AutomationObject {
 public:
  TFileSystemObject();
  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  // Shows the file-open dialog (several files when multiFiles converts to true). Value becomes
  // the JSON array of {"filename", "size"} objects of the chosen files, or the empty text when
  // the user cancels. Fails when the argument does not convert or no dialog can be shown.
  void selectFiles(const Variant& multiFiles, Variant& Value);

  // Value becomes the Base64 text of up to iLength bytes of the file FileName from byte
  // iStartPos (a negative start counts as 0; a start past the end gives no bytes), packed by
  // compressText first when bEncrypt converts to true. Fails with "Cannot open file "%s". %s"
  // when the file cannot be opened, or with the conversion error of an argument; Value then
  // stays Empty.
  void GetFileStream(const Variant& FileName, const Variant& bEncrypt, const Variant& iStartPos,
                     const Variant& iLength, Variant& Value);
};

}  // namespace zentrak

// TFileSystemObject, the implementation class of FileSystemObject: the file-open dialog and byte
// ranges of local files as Base64 text.
#pragma once

#include <span>

#include "server/automation_object.h"

namespace zentrak {

class TFileSystemObject : public AutomationObject {
 public:
  TFileSystemObject();
  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  void selectFiles(const Variant& multiFiles, Variant& Value);
  void GetFileStream(const Variant& FileName, const Variant& bEncrypt, const Variant& iStartPos,
                     const Variant& iLength, Variant& Value);
};

}  // namespace zentrak

// FileSystemObject: the binding of its members.
#include "files/file_system_object.h"

#include "base/exception.h"

namespace zentrak {

TFileSystemObject::TFileSystemObject() : AutomationObject(*ZentrakTypeLibrary().classes[2]) {}

void TFileSystemObject::selectFiles(const Variant&, Variant&) { throw ENotAvailable("selectFiles"); }
void TFileSystemObject::GetFileStream(const Variant&, const Variant&, const Variant&, const Variant&, Variant&) {
  throw ENotAvailable("GetFileStream");
}

void TFileSystemObject::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  switch (member.dispid) {
    case 201:
      return selectFiles(a[0], result);
    case 202:
      return GetFileStream(a[0], a[1], a[2], a[3], result);
    default:
      throw Exception("Unknown member");
  }
}

}  // namespace zentrak

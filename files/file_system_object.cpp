// FileSystemObject: the file choice document of the file-open dialog, byte ranges of local files
// as Base64 text, and the binding of its members. Files are opened with exclusive sharing and
// closed before the member returns, on every path.
#include "files/file_system_object.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/text.h"
#include "codec/base64.h"
#include "codec/compressed_text.h"
#include "json/value.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "automation/convert.h"
#include "automation/dispids.h"

namespace zentrak {
namespace {

[[noreturn]] void FailOpen(const std::string& name, const std::string& reason) {
  throw Exception("Cannot open file \"" + platform::FullPath(name) + "\". " + reason);
}

[[noreturn]] void FailRead(const std::string& name, const std::string& reason) {
  throw Exception("Cannot read file \"" + platform::FullPath(name) + "\". " + reason);
}

}  // namespace

int32_t FileSizeOf(std::string_view path) {
  platform::ExclusiveFile file;
  std::string reason;
  if (!file.Open(path, reason)) return -1;
  int64_t size = file.SeekToEnd(reason);
  // The size travels as a signed 32-bit number: its low 32 bits.
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(size)));
}

TFileSystemObject::TFileSystemObject() : AutomationObject(FileSystemObjectClass()) {}

void TFileSystemObject::selectFiles(const Variant& multiFiles, Variant& Value) {
  Value = Variant();
  bool multiple = VarToBoolean(multiFiles);
  std::vector<std::string> paths;
  std::unique_ptr<TvxJSONlist> list;
  if (platform::ChooseFilesToOpen(multiple, paths)) {
    list = std::make_unique<TvxJSONlist>();
    for (const std::string& path : paths) {
      auto file = std::make_unique<TvxJSONobject>(false);
      file->AddMember(u"filename", std::string_view(path));
      file->AddMember(u"size", FileSizeOf(path));
      list->Append(std::move(file));
    }
  }
  // A cancelled dialog writes no tree, which is the empty text rather than an empty array.
  Value = Variant(Utf8ToWide(TvxJSON::WriteText(list.get())));
}

void TFileSystemObject::GetFileStream(const Variant& FileName, const Variant& bEncrypt, const Variant& iStartPos,
                                      const Variant& iLength, Variant& Value) {
  Value = Variant();
  int32_t length = VarToInteger(iLength);
  std::string name = VarToText(FileName);

  std::string slice;
  {
    platform::ExclusiveFile file;
    std::string reason;
    if (!file.Open(name, reason)) FailOpen(name, reason);
    // A negative start leaves the position at the start of the file, where a refused seek to a
    // negative offset leaves it.
    int64_t start = std::max<int64_t>(VarToInt64(iStartPos), 0);
    int64_t size = file.SeekToEnd(reason);
    if (size < 0) FailRead(name, reason);
    // The buffer holds at most what the file has from start on, whatever length asks for.
    int64_t available = size > start ? size - start : 0;
    size_t wanted = static_cast<size_t>(std::min<int64_t>(std::max<int32_t>(length, 0), available));
    if (wanted > 0) {
      if (!file.SeekFromStart(start, reason)) FailRead(name, reason);
      slice.resize(wanted);
      int64_t got = file.Read(slice.data(), wanted, reason);
      if (got < 0) FailRead(name, reason);
      slice.resize(static_cast<size_t>(got));
    }
  }

  if (VarToBoolean(bEncrypt)) slice = compressText(slice);
  std::string text = EncodeBase64(slice);
  Value = Variant(std::u16string(text.begin(), text.end()));
}

void TFileSystemObject::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  switch (member.dispid) {
    case dispid::file_system_object::kSelectFiles:
      return selectFiles(a[0], result);
    case dispid::file_system_object::kGetFileStream:
      return GetFileStream(a[0], a[1], a[2], a[3], result);
    default:
      throw Exception("Unknown member");
  }
}

}  // namespace zentrak

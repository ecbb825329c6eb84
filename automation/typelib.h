// The type library's description: the one source of truth for the four objects' interfaces, the
// events interfaces, the enumerations and the GUIDs. The Windows build writes its IDL from this
// description; the portable dispatch reads it directly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrak {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // "8DB7DCAE-E39E-4654-81A2-ACA0A6DC4094", with or without braces, any letter case.
  static std::optional<Guid> Parse(std::string_view text);
  // Registry form: upper-case hexadecimal groups inside braces.
  std::string ToRegistryString() const;
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Well-known interface ids the objects answer besides their own.
extern const Guid kIID_IUnknown;
extern const Guid kIID_IDispatch;
extern const Guid kIID_IConnectionPointContainer;
extern const Guid kIID_IObjectSafety;
extern const Guid kIID_ISupportErrorInfo;
extern const Guid kIID_IProvideClassInfo;

enum class MemberKind { kMethod, kPropertyGet, kPropertyPut, kPropertyPutRef };

// Declared types of parameters and results.
enum class ParamType {
  kVariant,      // VARIANT
  kBoolean,      // VARIANT_BOOL
  kInt16,        // short
  kInt32,        // long
  kText,         // BSTR
  kColor,        // OLE_COLOR
  kFont,         // IFontDisp*
  kBorderStyle,  // TxActiveFormBorderStyle
  kPrintScale,   // TxPrintScale
};

enum class ParamDirection { kIn, kInOut, kOutRetval };

struct ParamDesc {
  const char* name;  // empty for the unnamed value of a property write
  ParamType type;
  bool by_ref;  // passed as a pointer ("variant ref")
  ParamDirection direction;
};

struct MemberDesc {
  int32_t dispid;
  const char* name;
  MemberKind kind;
  std::vector<ParamDesc> params;  // in order, the result (if any) last
  bool hidden;

  // The result parameter, or null when the member returns nothing to script.
  const ParamDesc* Result() const;
  // The number of arguments a caller passes (every parameter but the result).
  size_t ArgumentCount() const;
};

struct InterfaceDesc {
  const char* name;
  const char* help;
  Guid iid;
  bool dual;                        // dual and OLE-automation compatible, derives from IDispatch
  std::vector<MemberDesc> members;  // vtable order; for events, DISPID order

  // Case-insensitive, as the platform's automation name lookup.
  const MemberDesc* FindByName(std::string_view name) const;
  // The member with this DISPID whose kind is one of the kinds asked for.
  const MemberDesc* FindByDispid(int32_t dispid, MemberKind kind) const;
  bool HasDispid(int32_t dispid) const;
};

struct EnumDesc {
  const char* name;
  Guid guid;
  std::vector<std::pair<const char*, int32_t>> values;
};

struct ClassDesc {
  const char* name;  // "LocalDB"
  const char* help;  // "LocalDB Object"
  Guid clsid;
  const InterfaceDesc* default_interface;
  const InterfaceDesc* default_source;
  bool control;           // flagged as a control
  bool object_safety;     // answers IObjectSafety
  const char* impl_name;  // the implementation class, "TLocalDB"

  // The type library's name, a full stop and the class name: "Zentrak.LocalDB".
  std::string ProgId() const;
};

enum class TypeKind { kDualInterface, kDispatchInterface, kCoClass, kEnum };

struct TypeEntry {
  TypeKind kind;
  const char* name;
  const char* help;  // null for enumerations
  const void* desc;  // InterfaceDesc*, ClassDesc* or EnumDesc*
};

struct TypeLibraryDesc {
  const char* name;  // "Zentrak"
  const char* help;  // "Zentrak Library"
  Guid libid;
  uint16_t major_version;
  uint16_t minor_version;
  uint32_t lcid;
  bool has_control;
  std::vector<TypeEntry> types;  // fifteen, in order
  std::vector<const ClassDesc*> classes;  // LocalDB, PrintServer, FileSystemObject, ActiveFormX_Foxit
};

const TypeLibraryDesc& ZentrakTypeLibrary();

// The four classes by name, so that nothing needs their position in the library's list.
const ClassDesc& LocalDBClass();
const ClassDesc& PrintServerClass();
const ClassDesc& FileSystemObjectClass();
const ClassDesc& ActiveFormClass();

// Convenience look-ups.
const ClassDesc* FindClassByProgId(std::string_view progid);  // case-insensitive
const ClassDesc* FindClassByClsid(const Guid& clsid);

}  // namespace zentrak

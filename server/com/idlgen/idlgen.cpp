// zentrak_idlgen: writes what the Windows module is built from, out of the portable type library
// description (automation/typelib.h), so that names, DISPIDs, parameters, flags and GUIDs exist in one
// place only.
//
//   zentrak_idlgen idl <file.idl>          the IDL that widl compiles into the type library
//   zentrak_idlgen cpp <file.h>            the dual interfaces' C++ declarations and the vtables
//                                          that forward every member to the portable dispatch
//   zentrak_idlgen bitmap <file.bmp>       the control's toolbox bitmap (16 x 15, 16 colours)
//   zentrak_idlgen fix-tlb <in> <out>      puts the compiled type library's type descriptions in
//                                          the description's order and gives the events
//                                          interfaces their version (see FixTypeLibrary)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "automation/param_types.h"
#include "automation/typelib.h"

namespace zentrak {
namespace {

std::string GuidText(const Guid& g) {
  std::string s = g.ToRegistryString();
  return s.substr(1, s.size() - 2);
}

std::string ParamIdl(const ParamDesc& p) {
  std::string attrs;
  switch (p.direction) {
    case ParamDirection::kIn: attrs = "[in] "; break;
    case ParamDirection::kInOut: attrs = "[in, out] "; break;
    case ParamDirection::kOutRetval: attrs = "[out, retval] "; break;
  }
  std::string s = attrs + ParamTypeOf(p.type).idl + (p.by_ref ? "*" : "");
  if (p.name && *p.name) s += std::string(" ") + p.name;
  return s;
}

std::string CppName(const MemberDesc& m) {
  switch (m.kind) {
    case MemberKind::kPropertyGet: return std::string("get_") + m.name;
    case MemberKind::kPropertyPut: return std::string("put_") + m.name;
    case MemberKind::kPropertyPutRef: return std::string("putref_") + m.name;
    case MemberKind::kMethod: break;
  }
  return m.name;
}

std::string MemberAttrs(const MemberDesc& m) {
  std::string a;
  switch (m.kind) {
    case MemberKind::kPropertyGet: a = "propget, "; break;
    case MemberKind::kPropertyPut: a = "propput, "; break;
    case MemberKind::kPropertyPutRef: a = "propputref, "; break;
    case MemberKind::kMethod: break;
  }
  a += "id(" + std::to_string(m.dispid) + ")";
  if (m.hidden) a += ", hidden";
  return a;
}

void WriteEnum(std::ostream& o, const EnumDesc& e, const char* indent) {
  o << indent << "[uuid(" << GuidText(e.guid) << "), version(1.0)]\n"
    << indent << "typedef enum " << e.name << " {\n";
  for (size_t i = 0; i < e.values.size(); ++i) {
    o << indent << "  " << e.values[i].first << " = " << e.values[i].second
      << (i + 1 < e.values.size() ? ",\n" : "\n");
  }
  o << indent << "} " << e.name << ";\n\n";
}

void WriteIdl(std::ostream& o) {
  const TypeLibraryDesc& lib = ZentrakTypeLibrary();
  o << "// Written by zentrak_idlgen from the type library description; not to be edited.\n"
       "import \"oaidl.idl\";\n"
       "import \"ocidl.idl\";\n\n";
  o << "[\n  uuid(" << GuidText(lib.libid) << "),\n  version(" << lib.major_version << "."
    << lib.minor_version << "),\n  helpstring(\"" << lib.help << "\")" << (lib.has_control ? ",\n  control" : "")
    << "\n]\nlibrary " << lib.name << "\n{\n  importlib(\"stdole2.tlb\");\n\n";
  // Enumerations come first because the interfaces use them; fix-tlb moves them to their place.
  for (const TypeEntry& t : lib.types) {
    if (t.kind == TypeKind::kEnum) WriteEnum(o, *static_cast<const EnumDesc*>(t.desc), "  ");
  }
  for (const TypeEntry& t : lib.types) {
    switch (t.kind) {
      case TypeKind::kDualInterface: {
        const auto& itf = *static_cast<const InterfaceDesc*>(t.desc);
        o << "  [\n    uuid(" << GuidText(itf.iid) << "),\n    version(1.0),\n    helpstring(\"" << itf.help
          << "\"),\n    dual,\n    oleautomation\n  ]\n  interface " << itf.name << " : IDispatch\n  {\n";
        for (const MemberDesc& m : itf.members) {
          o << "    [" << MemberAttrs(m) << "] HRESULT _stdcall " << m.name << "(";
          for (size_t i = 0; i < m.params.size(); ++i) o << (i ? ", " : "") << ParamIdl(m.params[i]);
          o << ");\n";
        }
        o << "  };\n\n";
        break;
      }
      case TypeKind::kDispatchInterface: {
        const auto& itf = *static_cast<const InterfaceDesc*>(t.desc);
        o << "  [\n    uuid(" << GuidText(itf.iid) << "),\n    helpstring(\"" << itf.help
          << "\")\n  ]\n  dispinterface " << itf.name << "\n  {\n    properties:\n    methods:\n";
        for (const MemberDesc& m : itf.members) {
          o << "      [" << MemberAttrs(m) << "] void " << m.name << "(";
          for (size_t i = 0; i < m.params.size(); ++i) o << (i ? ", " : "") << ParamIdl(m.params[i]);
          o << ");\n";
        }
        o << "  };\n\n";
        break;
      }
      case TypeKind::kCoClass: {
        const auto& cls = *static_cast<const ClassDesc*>(t.desc);
        o << "  [\n    uuid(" << GuidText(cls.clsid) << "),\n    version(1.0),\n    helpstring(\"" << cls.help << "\")"
          << (cls.control ? ",\n    control" : "") << "\n  ]\n  coclass " << cls.name << "\n  {\n"
          << "    [default] interface " << cls.default_interface->name << ";\n"
          << "    [default, source] dispinterface " << cls.default_source->name << ";\n  };\n\n";
        break;
      }
      case TypeKind::kEnum:
        break;
    }
  }
  o << "};\n";
}

// The C++ header: for each dual interface its abstract declaration in vtable order, and a class
// template whose slots hand their arguments to MemberCall (server/com/member_call.h) together with
// the member's position in the description; MemberCall converts them inside the failure guard. Frame::Target(this) gives the object to call; the
// frame's DualPart (server/com/dual_part.h) supplies IUnknown and IDispatch.
void WriteCpp(std::ostream& o) {
  const TypeLibraryDesc& lib = ZentrakTypeLibrary();
  o << "// Written by zentrak_idlgen from the type library description; not to be edited.\n"
       "#pragma once\n\n#include <windows.h>\n#include <ocidl.h>\n#include <olectl.h>\n\n"
       "#include <string_view>\n\n#include \"server/com/dual_part.h\"\n#include \"server/com/member_call.h\"\n\nnamespace zentrak::com {\n\n";
  for (const TypeEntry& t : lib.types) {
    if (t.kind != TypeKind::kDualInterface) continue;
    const auto& itf = *static_cast<const InterfaceDesc*>(t.desc);
    o << "// " << itf.help << "\nstruct " << itf.name << " : public IDispatch {\n";
    for (const MemberDesc& m : itf.members) {
      o << "  virtual HRESULT STDMETHODCALLTYPE " << CppName(m) << "(";
      for (size_t i = 0; i < m.params.size(); ++i) {
        const ParamDesc& p = m.params[i];
        o << (i ? ", " : "") << ParamTypeOf(p.type).com << (p.by_ref ? "*" : "") << " a" << i;
      }
      o << ") = 0;\n";
    }
    o << "};\n\n";
    o << "template <class Frame>\nclass " << itf.name << "Slots : public " << itf.name << " {\n public:\n";
    for (size_t k = 0; k < itf.members.size(); ++k) {
      const MemberDesc& m = itf.members[k];
      o << "  HRESULT STDMETHODCALLTYPE " << CppName(m) << "(";
      for (size_t i = 0; i < m.params.size(); ++i) {
        const ParamDesc& p = m.params[i];
        o << (i ? ", " : "") << ParamTypeOf(p.type).com << (p.by_ref ? "*" : "") << " a" << i;
      }
      o << ") override {\n";
      if (m.ArgumentCount() > 0)
        o << "    static_assert(" << m.ArgumentCount() << " <= MemberCall::kMaxArguments);\n";
      o << "    MemberCall call(Frame::Target(this).Object(), " << k << ");\n";
      const ParamDesc* result = m.Result();
      for (size_t i = 0; i < m.ArgumentCount(); ++i) {
        const ParamDesc& p = m.params[i];
        o << "    call." << (p.direction == ParamDirection::kInOut ? "InOut" : ParamTypeOf(p.type).member_call) << "(a" << i << ");\n";
      }
      if (result) {
        o << "    return call.Run(a" << m.ArgumentCount() << ");\n";
      } else {
        o << "    return call.Run();\n";
      }
      o << "  }\n";
    }
    o << "};\n\n";
  }
  // The dual part of an object, by its interface's name.
  o << "inline DualPartPtr NewDualPart(std::string_view interface_name, ObjectFrame& frame) {\n";
  for (const TypeEntry& t : lib.types) {
    if (t.kind != TypeKind::kDualInterface) continue;
    o << "  if (interface_name == \"" << t.name << "\")\n    return {new DualPart<" << t.name << "Slots>(frame), [](IDispatch* p) { delete static_cast<DualPart<" << t.name << "Slots>*>(p); }};\n";
  }
  o << "  return {nullptr, [](IDispatch*) {}};\n}\n\n}  // namespace zentrak::com\n";
}

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v & 0xFFFF));
  Put16(s, static_cast<uint16_t>(v >> 16));
}

// A 16 x 15 bitmap with a 16-colour palette: a framed page with a "Z" on it.
std::string ToolboxBitmap() {
  static const char* const kRows[15] = {
      "................",  // top row (the file stores rows bottom-up)
      ".##########.....",
      ".#wwwwwwww##....",
      ".#wwwwwwww#w#...",
      ".#wbbbbbbw####..",
      ".#wwwwwbbwwww#..",
      ".#wwwwbbwwwww#..",
      ".#wwwbbwwwwww#..",
      ".#wwbbwwwwwww#..",
      ".#wbbwwwwwwww#..",
      ".#wbbbbbbbwww#..",
      ".#wwwwwwwwwww#..",
      ".#wwwwwwwwwww#..",
      ".#############..",
      "................",
  };
  // The standard 16-colour palette (blue, green, red, reserved).
  static const uint32_t kPalette[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                        0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                                        0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
  auto index = [](char c) -> uint8_t {
    switch (c) {
      case '#': return 8;   // grey frame
      case 'w': return 15;  // white page
      case 'b': return 12;  // the letter, in bright blue (palette order is B, G, R)
      default: return 7;    // the toolbox's silver background
    }
  };
  const uint32_t width = 16, height = 15, stride = 8, image = stride * height;
  const uint32_t offset = 14 + 40 + 16 * 4;
  std::string s = "BM";
  Put32(s, offset + image);
  Put32(s, 0);
  Put32(s, offset);
  Put32(s, 40);
  Put32(s, width);
  Put32(s, height);
  Put16(s, 1);
  Put16(s, 4);
  Put32(s, 0);  // BI_RGB
  Put32(s, image);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, 16);
  Put32(s, 16);
  for (uint32_t c : kPalette) Put32(s, c);
  for (int y = static_cast<int>(height) - 1; y >= 0; --y) {
    for (uint32_t x = 0; x < width; x += 2) {
      s += static_cast<char>((index(kRows[y][x]) << 4) | index(kRows[y][x + 1]));
    }
  }
  return s;
}

// --- Type library fix-up -------------------------------------------------------------------------
//
// widl writes a type description where it is first used, so the enumerations that the control's
// properties use would come before the control's interface, and it accepts no version on a
// dispinterface. The compiled library is therefore rewritten here: the fixed-size type records are
// put in the description's order and every reference to a record inside the file is renumbered
// (the offset table after the header, the base-interface field, the reference table of the classes,
// the type descriptors, the GUID table and the name table); the events interfaces get version 1.0.
// Nothing else in the file moves.

constexpr size_t kHeaderSize = 0x54;
constexpr int32_t kKindInterface = 3;  // TKIND_INTERFACE
constexpr int32_t kKindDispatch = 4;   // TKIND_DISPATCH
constexpr int32_t kUserDefined = 29;   // VT_USERDEFINED
constexpr size_t kRecordSize = 0x64;
constexpr uint32_t kHelpDllFlag = 0x100;
enum Segment { kTypeInfo = 0, kImpInfo, kImpFiles, kRefTab, kLibTab, kGuidTab, kRes07, kNameTab,
               kStringTab, kTypeDesc, kArrayDesc, kCustData, kCDGuids, kRes0E, kRes0F, kSegments };

struct Tlb {
  std::string bytes;
  size_t segdir = 0;
  int32_t Get(size_t at) const {
    int32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  }
  void Set(size_t at, int32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
  size_t SegOffset(Segment s) const { return static_cast<size_t>(Get(segdir + s * 16)); }
  size_t SegLength(Segment s) const { return static_cast<size_t>(Get(segdir + s * 16 + 4)); }
};

std::string NameAt(const Tlb& t, int32_t name_offset) {
  size_t at = t.SegOffset(kNameTab) + static_cast<size_t>(name_offset);
  size_t len = static_cast<size_t>(t.Get(at + 8)) & 0xFF;
  return t.bytes.substr(at + 12, len);
}

bool FixTypeLibrary(std::string& bytes, std::string& error) {
  Tlb t{bytes};
  if (t.bytes.size() < kHeaderSize || t.bytes.compare(0, 4, "MSFT") != 0) {
    error = "not an MSFT type library";
    return false;
  }
  const uint32_t varflags = static_cast<uint32_t>(t.Get(0x14));
  const size_t count = static_cast<size_t>(t.Get(0x20));
  const size_t offsets_at = kHeaderSize + ((varflags & kHelpDllFlag) ? 4 : 0);
  t.segdir = offsets_at + count * 4;
  const size_t records = t.SegOffset(kTypeInfo);
  if (t.SegLength(kTypeInfo) != count * kRecordSize) {
    error = "unexpected type record table";
    return false;
  }

  // Old position of each type by name, and the new order from the description.
  const TypeLibraryDesc& lib = ZentrakTypeLibrary();
  std::map<std::string, size_t> old_index;
  for (size_t i = 0; i < count; ++i) old_index[NameAt(t, t.Get(records + i * kRecordSize + 0x34))] = i;
  if (old_index.size() != count || count != lib.types.size()) {
    error = "the compiled library holds " + std::to_string(count) + " types, the description " +
            std::to_string(lib.types.size());
    return false;
  }
  std::vector<size_t> new_of_old(count);
  for (size_t n = 0; n < count; ++n) {
    auto it = old_index.find(lib.types[n].name);
    if (it == old_index.end()) {
      error = std::string("type ") + lib.types[n].name + " is missing from the compiled library";
      return false;
    }
    new_of_old[it->second] = n;
  }
  auto remap = [&](int32_t href) -> int32_t {
    if (href < 0 || (href & 3) != 0 || static_cast<size_t>(href) % kRecordSize != 0) return href;
    size_t old = static_cast<size_t>(href) / kRecordSize;
    if (old >= count) return href;
    return static_cast<int32_t>(new_of_old[old] * kRecordSize);
  };

  // The records themselves, with their base-interface references.
  std::string moved(count * kRecordSize, '\0');
  for (size_t i = 0; i < count; ++i) {
    std::string rec = t.bytes.substr(records + i * kRecordSize, kRecordSize);
    Tlb r{rec};
    int32_t kind = r.Get(0) & 0xF;
    if (kind == kKindInterface || kind == kKindDispatch) r.Set(0x54, remap(r.Get(0x54)));
    if (kind == kKindDispatch && r.Get(0x38) == 0) r.Set(0x38, 1);  // version 1.0 (minor in the high word)
    moved.replace(new_of_old[i] * kRecordSize, kRecordSize, r.bytes);
  }
  t.bytes.replace(records, moved.size(), moved);

  // The offset table after the header.
  std::vector<int32_t> offsets(count);
  for (size_t i = 0; i < count; ++i) offsets[new_of_old[i]] = t.Get(offsets_at + i * 4);
  for (size_t i = 0; i < count; ++i) t.Set(offsets_at + i * 4, offsets[i]);

  // Reference table of the classes: 16-byte records whose first field is a type reference.
  for (size_t at = t.SegOffset(kRefTab), end = at + t.SegLength(kRefTab); at + 16 <= end; at += 16)
    t.Set(at, remap(t.Get(at)));
  // Type descriptors: 8-byte entries; a user-defined type carries its reference second.
  for (size_t at = t.SegOffset(kTypeDesc), end = at + t.SegLength(kTypeDesc); at + 8 <= end; at += 8) {
    if ((t.Get(at) & 0xFFFF) == kUserDefined) t.Set(at + 4, remap(t.Get(at + 4)));
  }
  // GUID table: 24-byte entries, the reference after the GUID.
  for (size_t at = t.SegOffset(kGuidTab), end = at + t.SegLength(kGuidTab); at + 24 <= end; at += 24)
    t.Set(at + 16, remap(t.Get(at + 16)));
  // Name table: a 12-byte introduction (reference, hash chain, length) and the name, padded to 4.
  for (size_t at = t.SegOffset(kNameTab), end = at + t.SegLength(kNameTab); at + 12 <= end;) {
    t.Set(at, remap(t.Get(at)));
    size_t len = static_cast<size_t>(t.Get(at + 8)) & 0xFF;
    at += 12 + ((len + 3) & ~static_cast<size_t>(3));
  }
  bytes = std::move(t.bytes);
  return true;
}

bool ReadFile(const char* path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  out = s.str();
  return true;
}

bool WriteFile(const char* path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

}  // namespace
}  // namespace zentrak

int main(int argc, char** argv) {
  using namespace zentrak;
  if (argc < 3) {
    std::cerr << "usage: zentrak_idlgen idl|cpp|bitmap <out> | fix-tlb <in> <out>\n";
    return 2;
  }
  std::string what = argv[1];
  std::string text;
  if (what == "idl" || what == "cpp") {
    std::ostringstream o;
    what == "idl" ? WriteIdl(o) : WriteCpp(o);
    text = o.str();
  } else if (what == "bitmap") {
    text = ToolboxBitmap();
  } else if (what == "fix-tlb" && argc == 4) {
    std::string error;
    if (!ReadFile(argv[2], text)) {
      std::cerr << "zentrak_idlgen: cannot read " << argv[2] << "\n";
      return 1;
    }
    if (!FixTypeLibrary(text, error)) {
      std::cerr << "zentrak_idlgen: " << argv[2] << ": " << error << "\n";
      return 1;
    }
    argv[2] = argv[3];
  } else {
    std::cerr << "zentrak_idlgen: unknown request " << what << "\n";
    return 2;
  }
  if (!WriteFile(argv[2], text)) {
    std::cerr << "zentrak_idlgen: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}

// The compiled type library, as oleaut32 reads it out of the module, agrees with the portable
// description on every type, name, GUID, version, flag, DISPID, vtable slot, parameter and value.
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "server/com/com_util.h"
#include "automation/typelib.h"

using namespace zentrak;
using com::Bstr;
using com::ComPtr;
using com::ToGUID;

namespace {

std::string Text(const Bstr& b) {
  std::u16string t = b.Text();
  return std::string(t.begin(), t.end());
}

std::string NameOf(ITypeInfo* info) {
  Bstr name;
  info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
  return Text(name);
}

std::string HelpOf(ITypeInfo* info) {
  Bstr help;
  info->GetDocumentation(MEMBERID_NIL, nullptr, help.Put(), nullptr, nullptr);
  return Text(help);
}

// RAII for a TYPEATTR.
struct Attr {
  explicit Attr(ITypeInfo* i) : info(i) { i->GetTypeAttr(&a); }
  ~Attr() {
    if (a) info->ReleaseTypeAttr(a);
  }
  ITypeInfo* info;
  TYPEATTR* a = nullptr;
};

// The type a declared parameter must have in the vtable description, as text: "VARIANT",
// "VARIANT*", "BOOL", ..., a user-defined type by its name.
std::string Expected(const ParamDesc& p) {
  std::string base;
  switch (p.type) {
    case ParamType::kVariant: base = "VARIANT"; break;
    case ParamType::kBoolean: base = "BOOL"; break;
    case ParamType::kInt16: base = "I2"; break;
    case ParamType::kInt32: base = "I4"; break;
    case ParamType::kText: base = "BSTR"; break;
    case ParamType::kColor: base = "UI4"; break;  // OLE_COLOR, a 32-bit unsigned alias
    case ParamType::kFont: base = "IFontDisp*"; break;
    case ParamType::kBorderStyle: base = "TxActiveFormBorderStyle"; break;
    case ParamType::kPrintScale: base = "TxPrintScale"; break;
  }
  return p.by_ref ? base + "*" : base;
}

std::string Describe(ITypeInfo* owner, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_VARIANT: return "VARIANT";
    case VT_BOOL: return "BOOL";
    case VT_I2: return "I2";
    case VT_I4: return "I4";
    case VT_UI4: return "UI4";
    case VT_BSTR: return "BSTR";
    case VT_PTR: return Describe(owner, *t.lptdesc) + "*";
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      if (FAILED(owner->GetRefTypeInfo(t.hreftype, ref.Put()))) return "unresolved";
      return NameOf(ref.Get());
    }
    default: return "vt" + std::to_string(t.vt);
  }
}

INVOKEKIND Kind(MemberKind k) {
  switch (k) {
    case MemberKind::kPropertyGet: return INVOKE_PROPERTYGET;
    case MemberKind::kPropertyPut: return INVOKE_PROPERTYPUT;
    case MemberKind::kPropertyPutRef: return INVOKE_PROPERTYPUTREF;
    case MemberKind::kMethod: break;
  }
  return INVOKE_FUNC;
}

USHORT Flags(const ParamDesc& p) {
  switch (p.direction) {
    case ParamDirection::kIn: return PARAMFLAG_FIN;
    case ParamDirection::kInOut: return PARAMFLAG_FIN | PARAMFLAG_FOUT;
    case ParamDirection::kOutRetval: return PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
  }
  return 0;
}

// The members of an interface description (the vtable view of a dual interface, or a
// dispinterface), one by one in order; vtable: the members follow the seven slots of IDispatch.
void CheckMembers(const std::string& where, ITypeInfo* info, const InterfaceDesc& itf, bool vtable) {
  Attr attr(info);
  CHECK_EQ(where + " member count", static_cast<size_t>(attr.a->cFuncs), itf.members.size());
  for (UINT i = 0; i < attr.a->cFuncs && i < itf.members.size(); ++i) {
    const MemberDesc& m = itf.members[i];
    FUNCDESC* f = nullptr;
    info->GetFuncDesc(i, &f);
    std::string at = where + "." + m.name + "#" + std::to_string(i);
    CHECK_EQ(at + " DISPID", f->memid, static_cast<MEMBERID>(m.dispid));
    CHECK_EQ(at + " kind", static_cast<int>(f->invkind), static_cast<int>(Kind(m.kind)));
    CHECK_EQ(at + " hidden", (f->wFuncFlags & FUNCFLAG_FHIDDEN) != 0, m.hidden);
    CHECK_EQ(at + " parameter count", static_cast<size_t>(f->cParams), m.params.size());
    if (vtable) {
      CHECK_EQ(at + " vtable slot", static_cast<size_t>(f->oVft), (7 + i) * sizeof(void*));
      CHECK_EQ(at + " calling convention", static_cast<int>(f->callconv), static_cast<int>(CC_STDCALL));
      CHECK_EQ(at + " returns HRESULT", f->elemdescFunc.tdesc.vt, static_cast<VARTYPE>(VT_HRESULT));
    } else {
      CHECK_EQ(at + " returns nothing", f->elemdescFunc.tdesc.vt, static_cast<VARTYPE>(VT_VOID));
    }
    Bstr member_name;
    info->GetDocumentation(f->memid, member_name.Put(), nullptr, nullptr, nullptr);
    CHECK_EQ(at + " name", Text(member_name), std::string(m.name));
    for (SHORT k = 0; k < f->cParams && static_cast<size_t>(k) < m.params.size(); ++k) {
      const ParamDesc& p = m.params[static_cast<size_t>(k)];
      std::string pat = at + " parameter " + std::to_string(k);
      CHECK_EQ(pat + " type", Describe(info, f->lprgelemdescParam[k].tdesc), Expected(p));
      CHECK_EQ(pat + " flags", f->lprgelemdescParam[k].paramdesc.wParamFlags & 0xF, static_cast<int>(Flags(p)));
    }
    info->ReleaseFuncDesc(f);
  }
}

// Parameter names of each member, compared through GetNames of members whose DISPID they alone
// carry (methods and the first function of a property).
void CheckParameterNames(const std::string& where, ITypeInfo* info, const InterfaceDesc& itf) {
  for (size_t i = 0; i < itf.members.size(); ++i) {
    const MemberDesc& m = itf.members[i];
    if (i > 0 && itf.members[i - 1].dispid == m.dispid) continue;  // the put of a property
    BSTR names[16] = {};
    UINT count = 0;
    info->GetNames(m.dispid, names, 16, &count);
    std::vector<std::string> got;
    for (UINT k = 0; k < count; ++k) {
      got.emplace_back(names[k], names[k] + SysStringLen(names[k]));
      SysFreeString(names[k]);
    }
    std::vector<std::string> want = {m.name};
    for (const ParamDesc& p : m.params) {
      if (p.name && *p.name) want.push_back(p.name);
    }
    std::string g, w;
    for (auto& s : got) g += s + " ";
    for (auto& s : want) w += s + " ";
    CHECK_EQ(where + "." + m.name + " names", g, w);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: zentrak_typelib_test <Zentrak.ocx>\n");
    return 2;
  }
  CoInitialize(nullptr);
  const TypeLibraryDesc& lib = ZentrakTypeLibrary();
  std::wstring path(argv[1], argv[1] + std::strlen(argv[1]));
  ComPtr<ITypeLib> tl;
  CHECK_HR("LoadTypeLibEx", LoadTypeLibEx(path.c_str(), REGKIND_NONE, tl.Put()), S_OK);
  if (!tl) return zentrak::test::Finish();

  TLIBATTR* la = nullptr;
  tl->GetLibAttr(&la);
  CHECK_EQ("library GUID", IsEqualGUID(la->guid, ToGUID(lib.libid)) != 0, true);
  CHECK_EQ("library version", la->wMajorVerNum * 100 + la->wMinorVerNum, lib.major_version * 100 + lib.minor_version);
  CHECK_EQ("library locale", la->lcid, static_cast<LCID>(lib.lcid));
  CHECK_EQ("library system kind", static_cast<int>(la->syskind), static_cast<int>(SYS_WIN32));
  CHECK_EQ("library flagged as holding a control", (la->wLibFlags & LIBFLAG_FCONTROL) != 0, lib.has_control);
  tl->ReleaseTLibAttr(la);
  Bstr name, help;
  tl->GetDocumentation(-1, name.Put(), help.Put(), nullptr, nullptr);
  CHECK_EQ("library name", Text(name), std::string(lib.name));
  CHECK_EQ("library help", Text(help), std::string(lib.help));

  CHECK_EQ("type count", static_cast<size_t>(tl->GetTypeInfoCount()), lib.types.size());
  for (UINT i = 0; i < tl->GetTypeInfoCount() && i < lib.types.size(); ++i) {
    const TypeEntry& t = lib.types[i];
    ComPtr<ITypeInfo> info;
    tl->GetTypeInfo(i, info.Put());
    std::string where = std::to_string(i) + ":" + t.name;
    CHECK_EQ(where + " name", NameOf(info.Get()), std::string(t.name));
    CHECK_EQ(where + " help", HelpOf(info.Get()), std::string(t.help ? t.help : ""));
    Attr attr(info.Get());
    CHECK_EQ(where + " version", attr.a->wMajorVerNum * 100 + attr.a->wMinorVerNum, 100);
    switch (t.kind) {
      case TypeKind::kDualInterface:
      case TypeKind::kDispatchInterface: {
        const auto& itf = *static_cast<const InterfaceDesc*>(t.desc);
        bool dual = t.kind == TypeKind::kDualInterface;
        CHECK_EQ(where + " GUID", IsEqualGUID(attr.a->guid, ToGUID(itf.iid)) != 0, true);
        CHECK_EQ(where + " kind", static_cast<int>(attr.a->typekind), static_cast<int>(TKIND_DISPATCH));
        CHECK_EQ(where + " dual", (attr.a->wTypeFlags & TYPEFLAG_FDUAL) != 0, dual);
        if (!dual) {
          CheckMembers(where, info.Get(), itf, false);
          CheckParameterNames(where, info.Get(), itf);
          break;
        }
        HREFTYPE href = 0;
        ComPtr<ITypeInfo> vtable;
        CHECK_HR(where + " vtable half", info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
        info->GetRefTypeInfo(href, vtable.Put());
        if (!vtable) break;
        Attr va(vtable.Get());
        CHECK_EQ(where + " vtable kind", static_cast<int>(va.a->typekind), static_cast<int>(TKIND_INTERFACE));
        CHECK_EQ(where + " OLE automation", (va.a->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0, true);
        HREFTYPE base_ref = 0;
        ComPtr<ITypeInfo> base;
        vtable->GetRefTypeOfImplType(0, &base_ref);
        vtable->GetRefTypeInfo(base_ref, base.Put());
        CHECK_EQ(where + " derives from", base ? NameOf(base.Get()) : std::string(), std::string("IDispatch"));
        CheckMembers(where, vtable.Get(), itf, true);
        CheckParameterNames(where, vtable.Get(), itf);
        break;
      }
      case TypeKind::kCoClass: {
        const auto& cls = *static_cast<const ClassDesc*>(t.desc);
        CHECK_EQ(where + " GUID", IsEqualGUID(attr.a->guid, ToGUID(cls.clsid)) != 0, true);
        CHECK_EQ(where + " kind", static_cast<int>(attr.a->typekind), static_cast<int>(TKIND_COCLASS));
        CHECK_EQ(where + " creatable", (attr.a->wTypeFlags & TYPEFLAG_FCANCREATE) != 0, true);
        CHECK_EQ(where + " control", (attr.a->wTypeFlags & TYPEFLAG_FCONTROL) != 0, cls.control);
        CHECK_EQ(where + " interfaces", attr.a->cImplTypes, 2);
        const InterfaceDesc* want[2] = {cls.default_interface, cls.default_source};
        const INT want_flags[2] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
        for (UINT k = 0; k < 2 && k < attr.a->cImplTypes; ++k) {
          INT flags = 0;
          HREFTYPE href = 0;
          ComPtr<ITypeInfo> ref;
          info->GetImplTypeFlags(k, &flags);
          info->GetRefTypeOfImplType(k, &href);
          info->GetRefTypeInfo(href, ref.Put());
          CHECK_EQ(where + " interface " + std::to_string(k), ref ? NameOf(ref.Get()) : std::string(),
                   std::string(want[k]->name));
          CHECK_EQ(where + " interface flags " + std::to_string(k), flags, want_flags[k]);
        }
        break;
      }
      case TypeKind::kEnum: {
        const auto& e = *static_cast<const EnumDesc*>(t.desc);
        CHECK_EQ(where + " GUID", IsEqualGUID(attr.a->guid, ToGUID(e.guid)) != 0, true);
        CHECK_EQ(where + " kind", static_cast<int>(attr.a->typekind), static_cast<int>(TKIND_ENUM));
        CHECK_EQ(where + " values", static_cast<size_t>(attr.a->cVars), e.values.size());
        for (UINT k = 0; k < attr.a->cVars && k < e.values.size(); ++k) {
          VARDESC* v = nullptr;
          info->GetVarDesc(k, &v);
          Bstr vname;
          info->GetDocumentation(v->memid, vname.Put(), nullptr, nullptr, nullptr);
          CHECK_EQ(where + " value name " + std::to_string(k), Text(vname), std::string(e.values[k].first));
          CHECK_EQ(where + " value " + std::to_string(k), V_I4(v->lpvarValue), static_cast<LONG>(e.values[k].second));
          info->ReleaseVarDesc(v);
        }
        break;
      }
    }
  }
  int rc = zentrak::test::Finish();
  tl.Reset();
  CoUninitialize();
  return rc;
}

// The type library's contents. The GUIDs below were chosen once and never change: registration
// writes them and pages create the objects by the class GUIDs.
#include "automation/typelib.h"

#include <cctype>
#include <cstdio>

#include "base/ascii.h"

namespace zentrak {
namespace {

Guid G(const char* text) { return *Guid::Parse(text); }

constexpr auto V = ParamType::kVariant;
constexpr auto In = ParamDirection::kIn;
constexpr auto InOut = ParamDirection::kInOut;
constexpr auto Ret = ParamDirection::kOutRetval;
constexpr auto Method = MemberKind::kMethod;
constexpr auto Get = MemberKind::kPropertyGet;
constexpr auto Put = MemberKind::kPropertyPut;
constexpr auto PutRef = MemberKind::kPropertyPutRef;

ParamDesc VarIn(const char* name) { return {name, V, false, In}; }
ParamDesc VarRefIn(const char* name) { return {name, V, true, In}; }
ParamDesc Result(const char* name) { return {name, V, true, Ret}; }

InterfaceDesc MakeLocalDB() {
  return {"ILocalDB",
          "Dispatch interface for LocalDB Object",
          G("A189580B-2038-45A3-8447-9B9897920E67"),
          true,
          {
              {201, "GetVersion", Method, {Result("Value")}, false},
              {202, "InitDB", Method,
               {VarIn("shortName"), VarIn("version"), VarIn("displayName"), VarIn("maxSize")}, false},
              {203, "executeSql", Method, {{"Data", V, true, InOut}, Result("Value")}, false},
              {204, "BeginTrans", Method, {}, false},
              {205, "CommitTrans", Method, {}, false},
              {206, "RollBackTrans", Method, {}, false},
              {207, "setDBName", Method, {VarRefIn("DBName"), VarRefIn("Path"), Result("ReturnValue")}, false},
              {208, "isTableCached", Method, {VarIn("TableName"), Result("Value")}, false},
              {209, "initCache", Method, {VarIn("InitJsonString"), Result("Value")}, false},
              {210, "queryAll", Method, {VarIn("SQL"), Result("Param2")}, false},
              {211, "queryByPage", Method,
               {VarIn("SQL"), VarIn("pageSize"), VarIn("pageIndex"), Result("Param4")}, false},
              {212, "getCacheObjs", Method, {VarIn("Reversed"), Result("Param1")}, false},
              {213, "close", Method, {}, false},
          }};
}

InterfaceDesc MakePrintServer() {
  return {"IPrintServer",
          "Dispatch interface for PrintServer Object",
          G("96B824EF-F3C2-4A30-AE16-B42DC2747F82"),
          true,
          {
              {201, "getVPrinters", Method, {Result("Value")}, false},
              {202, "getPhPrinters", Method, {Result("Value")}, false},
              {203, "preview", Method, {VarRefIn("Doc"), Result("Value")}, false},
              {204, "printOut", Method, {VarRefIn("printerName"), VarRefIn("Doc"), Result("Value")}, false},
              {205, "setDBName", Method, {VarRefIn("DBName"), VarRefIn("Path"), Result("ReturnValue")}, false},
              {206, "printOutWithPage", Method,
               {VarRefIn("printerName"), VarRefIn("Doc"), VarRefIn("printOptions"), Result("Value")}, false},
              {207, "compress", Method, {VarRefIn("Doc"), Result("result")}, false},
              {208, "deCompress", Method, {VarRefIn("Doc"), Result("result")}, false},
          }};
}

InterfaceDesc MakeFileSystemObject() {
  return {"IFileSystemObject",
          "Dispatch interface for FileSystemObject Object",
          G("04360BBA-94FC-425F-8D0B-FC6E5246BF60"),
          true,
          {
              {201, "selectFiles", Method, {VarRefIn("multiFiles"), Result("Value")}, false},
              {202, "GetFileStream", Method,
               {VarIn("FileName"), VarIn("bEncrypt"), VarIn("iStartPos"), VarIn("iLength"), Result("Value")},
               false},
          }};
}

// One property of the control: its get, put and putref entries in vtable order.
void AddProperty(std::vector<MemberDesc>& out, int32_t dispid, const char* name, ParamType type,
                 bool put, bool putref, bool hidden) {
  out.push_back({dispid, name, Get, {{"Value", type, true, Ret}}, hidden});
  if (put) out.push_back({dispid, name, Put, {{"", type, false, In}}, hidden});
  if (putref) out.push_back({dispid, name, PutRef, {{"", type, false, In}}, hidden});
}

InterfaceDesc MakeActiveForm() {
  using P = ParamType;
  std::vector<MemberDesc> m;
  AddProperty(m, 201, "Visible", P::kBoolean, true, false, true);
  AddProperty(m, 202, "AutoScroll", P::kBoolean, true, false, false);
  AddProperty(m, 203, "AutoSize", P::kBoolean, true, false, false);
  AddProperty(m, 204, "AxBorderStyle", P::kBorderStyle, true, false, false);
  AddProperty(m, -518, "Caption", P::kText, true, false, false);
  AddProperty(m, -501, "Color", P::kColor, true, false, false);
  AddProperty(m, -512, "Font", P::kFont, true, true, false);
  AddProperty(m, 205, "KeyPreview", P::kBoolean, true, false, false);
  AddProperty(m, 206, "PixelsPerInch", P::kInt32, true, false, false);
  AddProperty(m, 207, "PrintScale", P::kPrintScale, true, false, false);
  AddProperty(m, 208, "Scaled", P::kBoolean, true, false, false);
  AddProperty(m, 209, "Active", P::kBoolean, false, false, true);
  AddProperty(m, 210, "DropTarget", P::kBoolean, true, false, true);
  AddProperty(m, 211, "HelpFile", P::kText, true, false, true);
  AddProperty(m, 212, "ScreenSnap", P::kBoolean, true, false, true);
  AddProperty(m, 213, "SnapBuffer", P::kInt32, true, false, true);
  AddProperty(m, 214, "DoubleBuffered", P::kBoolean, true, false, true);
  AddProperty(m, 215, "AlignDisabled", P::kBoolean, false, false, true);
  AddProperty(m, 216, "VisibleDockClientCount", P::kInt32, false, false, true);
  AddProperty(m, -514, "Enabled", P::kBoolean, true, false, true);
  m.push_back({217, "preview", Method, {VarRefIn("Doc"), Result("Value")}, false});
  return {"IActiveFormX_Foxit", "Dispatch interface for ActiveFormX_Foxit Control",
          G("D06462A9-EBAC-49E4-82A0-FD46C93E7BB1"), true, std::move(m)};
}

InterfaceDesc MakeEvents(const char* name, const char* help, const char* iid) {
  return {name, help, G(iid), false, {}};
}

InterfaceDesc MakeFormEvents() {
  InterfaceDesc d = MakeEvents("IActiveFormX_FoxitEvents", "Events interface for ActiveFormX_Foxit Control",
                               "8CA587DE-9E67-46AF-8958-4AC240F3B2E2");
  d.members = {
      {201, "OnActivate", Method, {}, false},
      {202, "OnClick", Method, {}, false},
      {203, "OnCreate", Method, {}, false},
      {204, "OnDblClick", Method, {}, false},
      {205, "OnDestroy", Method, {}, false},
      {206, "OnDeactivate", Method, {}, false},
      {207, "OnKeyPress", Method, {{"Key", ParamType::kInt16, true, InOut}}, false},
      {208, "OnPaint", Method, {}, false},
  };
  return d;
}

struct Library {
  InterfaceDesc local_db = MakeLocalDB();
  InterfaceDesc local_db_events =
      MakeEvents("ILocalDBEvents", "Events interface for LocalDB Object", "5A54D18D-53E6-4A63-BBFD-51A7B9DD2E42");
  InterfaceDesc print_server = MakePrintServer();
  InterfaceDesc print_server_events = MakeEvents(
      "IPrintServerEvents", "Events interface for PrintServer Object", "60A0A2DC-1907-4FE2-85ED-D5E59DBADEDD");
  InterfaceDesc file_system = MakeFileSystemObject();
  InterfaceDesc file_system_events =
      MakeEvents("IFileSystemObjectEvents", "Events interface for FileSystemObject Object",
                 "6189F59B-9E21-4691-8189-C40E07A03DBC");
  InterfaceDesc form = MakeActiveForm();
  InterfaceDesc form_events = MakeFormEvents();

  ClassDesc local_db_class{"LocalDB", "LocalDB Object", G("8DB7DCAE-E39E-4654-81A2-ACA0A6DC4094"),
                           &local_db, &local_db_events, false, true, "TLocalDB"};
  ClassDesc print_server_class{"PrintServer", "PrintServer Object", G("90A46CE7-8178-4462-8162-EF030F3B111C"),
                               &print_server, &print_server_events, false, true, "TPrintServer"};
  ClassDesc file_system_class{"FileSystemObject", "FileSystemObject Object",
                              G("F3F978B4-CA5D-4F99-8C81-E5406A068C89"), &file_system, &file_system_events,
                              false, false, "TFileSystemObject"};
  ClassDesc form_class{"ActiveFormX_Foxit", "ActiveFormX_Foxit Control", G("D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA"),
                       &form, &form_events, true, false, "TActiveFormControl"};

  EnumDesc border_style{"TxActiveFormBorderStyle", G("CEE3EC4D-B282-4206-8C53-29894D3453D3"),
                        {{"afbNone", 0}, {"afbSingle", 1}, {"afbSunken", 2}, {"afbRaised", 3}}};
  EnumDesc print_scale{"TxPrintScale", G("BE44F7B5-FBB6-4795-89E7-5F1817776127"),
                       {{"poNone", 0}, {"poProportional", 1}, {"poPrintToFit", 2}}};
  EnumDesc mouse_button{"TxMouseButton", G("0ED84795-1A2F-4D5C-BD1F-870409FF8BC4"),
                        {{"mbLeft", 0}, {"mbRight", 1}, {"mbMiddle", 2}}};

  TypeLibraryDesc lib{
      "Zentrak",
      "Zentrak Library",
      G("B6A63F5F-C7D0-4B6F-BA9B-534C998FCF7F"),
      1,
      0,
      0,
      true,
      {
          {TypeKind::kDualInterface, "ILocalDB", local_db.help, &local_db},
          {TypeKind::kDispatchInterface, "ILocalDBEvents", local_db_events.help, &local_db_events},
          {TypeKind::kCoClass, "LocalDB", local_db_class.help, &local_db_class},
          {TypeKind::kDualInterface, "IPrintServer", print_server.help, &print_server},
          {TypeKind::kDispatchInterface, "IPrintServerEvents", print_server_events.help, &print_server_events},
          {TypeKind::kCoClass, "PrintServer", print_server_class.help, &print_server_class},
          {TypeKind::kDualInterface, "IFileSystemObject", file_system.help, &file_system},
          {TypeKind::kDispatchInterface, "IFileSystemObjectEvents", file_system_events.help, &file_system_events},
          {TypeKind::kCoClass, "FileSystemObject", file_system_class.help, &file_system_class},
          {TypeKind::kDualInterface, "IActiveFormX_Foxit", form.help, &form},
          {TypeKind::kDispatchInterface, "IActiveFormX_FoxitEvents", form_events.help, &form_events},
          {TypeKind::kCoClass, "ActiveFormX_Foxit", form_class.help, &form_class},
          {TypeKind::kEnum, "TxActiveFormBorderStyle", nullptr, &border_style},
          {TypeKind::kEnum, "TxPrintScale", nullptr, &print_scale},
          {TypeKind::kEnum, "TxMouseButton", nullptr, &mouse_button},
      },
      {&local_db_class, &print_server_class, &file_system_class, &form_class},
  };
};

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  }
  return true;
}

}  // namespace

const Guid kIID_IUnknown = G("00000000-0000-0000-C000-000000000046");
const Guid kIID_IDispatch = G("00020400-0000-0000-C000-000000000046");
const Guid kIID_IConnectionPointContainer = G("B196B284-BAB4-101A-B69C-00AA00341D07");
const Guid kIID_IObjectSafety = G("CB5BDC81-93C1-11CF-8F20-00805F2CD064");
const Guid kIID_ISupportErrorInfo = G("DF0B3D60-548F-101B-8E65-08002B2BD119");
const Guid kIID_IProvideClassInfo = G("B196B283-BAB4-101A-B69C-00AA00341D07");

std::optional<Guid> Guid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    return std::nullopt;
  auto hex = [&](size_t pos, size_t len, uint64_t& out) {
    out = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      int c = AsciiLower(text[i]);
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      out = out * 16 + static_cast<uint64_t>(d);
    }
    return true;
  };
  Guid g;
  uint64_t v;
  if (!hex(0, 8, v)) return std::nullopt;
  g.data1 = static_cast<uint32_t>(v);
  if (!hex(9, 4, v)) return std::nullopt;
  g.data2 = static_cast<uint16_t>(v);
  if (!hex(14, 4, v)) return std::nullopt;
  g.data3 = static_cast<uint16_t>(v);
  const size_t pos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!hex(pos[i], 2, v)) return std::nullopt;
    g.data4[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
  }
  return g;
}

std::string Guid::ToRegistryString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return buf;
}

const ParamDesc* MemberDesc::Result() const {
  if (!params.empty() && params.back().direction == ParamDirection::kOutRetval) return &params.back();
  return nullptr;
}

size_t MemberDesc::ArgumentCount() const { return params.size() - (Result() ? 1 : 0); }

const MemberDesc* InterfaceDesc::FindByName(std::string_view member_name) const {
  for (const auto& m : members) {
    if (SameNameIgnoringCase(m.name, member_name)) return &m;
  }
  return nullptr;
}

const MemberDesc* InterfaceDesc::FindByDispid(int32_t dispid, MemberKind kind) const {
  for (const auto& m : members) {
    if (m.dispid == dispid && m.kind == kind) return &m;
  }
  return nullptr;
}

bool InterfaceDesc::HasDispid(int32_t dispid) const {
  for (const auto& m : members) {
    if (m.dispid == dispid) return true;
  }
  return false;
}

std::string ClassDesc::ProgId() const {
  std::string n = name;
  if (n.empty()) return n;
  return std::string(ZentrakTypeLibrary().name) + "." + n;
}

namespace {
const Library& TheLibrary() {
  static const Library* library = new Library();  // lives for the process; never destroyed
  return *library;
}
}  // namespace

const TypeLibraryDesc& ZentrakTypeLibrary() { return TheLibrary().lib; }


const ClassDesc& LocalDBClass() { return TheLibrary().local_db_class; }
const ClassDesc& PrintServerClass() { return TheLibrary().print_server_class; }
const ClassDesc& FileSystemObjectClass() { return TheLibrary().file_system_class; }
const ClassDesc& ActiveFormClass() { return TheLibrary().form_class; }

const ClassDesc* FindClassByProgId(std::string_view progid) {
  for (const ClassDesc* c : ZentrakTypeLibrary().classes) {
    if (SameNameIgnoringCase(c->ProgId(), progid)) return c;
  }
  return nullptr;
}

const ClassDesc* FindClassByClsid(const Guid& clsid) {
  for (const ClassDesc* c : ZentrakTypeLibrary().classes) {
    if (c->clsid == clsid) return c;
  }
  return nullptr;
}

}  // namespace zentrak

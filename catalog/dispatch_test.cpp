// Dispatch: names, DISPIDs, status codes, the failure guard and the interface answers.
#include <gtest/gtest.h>

#include <clocale>
#include <set>

#include "automation/dispatch.h"
#include "base/testing/scoped.h"
#include "catalog/catalog.h"

namespace zentrak {
namespace {

const ClassDesc& Class(int i) { return *ZentrakTypeLibrary().classes[static_cast<size_t>(i)]; }

TEST(TypeLibrary, FifteenTypesInOrderWithDistinctGuids) {
  const auto& lib = ZentrakTypeLibrary();
  ASSERT_EQ(lib.types.size(), 15u);
  const char* names[] = {"ILocalDB", "ILocalDBEvents", "LocalDB", "IPrintServer", "IPrintServerEvents",
                         "PrintServer", "IFileSystemObject", "IFileSystemObjectEvents", "FileSystemObject",
                         "IActiveFormX_Foxit", "IActiveFormX_FoxitEvents", "ActiveFormX_Foxit",
                         "TxActiveFormBorderStyle", "TxPrintScale", "TxMouseButton"};
  std::set<std::string> guids{lib.libid.ToRegistryString()};
  for (size_t i = 0; i < 15; ++i) {
    EXPECT_STREQ(lib.types[i].name, names[i]);
    const TypeEntry& t = lib.types[i];
    Guid g = t.kind == TypeKind::kCoClass ? static_cast<const ClassDesc*>(t.desc)->clsid
             : t.kind == TypeKind::kEnum  ? static_cast<const EnumDesc*>(t.desc)->guid
                                          : static_cast<const InterfaceDesc*>(t.desc)->iid;
    guids.insert(g.ToRegistryString());
  }
  EXPECT_EQ(guids.size(), 16u);
  EXPECT_EQ(Class(0).ProgId(), "Zentrak.LocalDB");
  EXPECT_EQ(Class(3).ProgId(), "Zentrak.ActiveFormX_Foxit");
  // The control's vtable: 38 property entries (get before put before putref) and preview.
  EXPECT_EQ(Class(3).default_interface->members.size(), 39u);
  EXPECT_EQ(Class(0).clsid.ToRegistryString(), "{8DB7DCAE-E39E-4654-81A2-ACA0A6DC4094}");
}

TEST(Dispatch, NamesIgnoreCase) {
  std::vector<int32_t> ids;
  std::vector<std::string> names{"QUERYALL"};
  EXPECT_EQ(GetIDsOfNames(Class(0), names, ids), kS_OK);
  EXPECT_EQ(ids[0], 210);
  names = {"getversion"};
  GetIDsOfNames(Class(0), names, ids);
  EXPECT_EQ(ids[0], 201);
  names = {"noSuchMember"};
  EXPECT_EQ(GetIDsOfNames(Class(0), names, ids), kDISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], -1);
}

// Under a Turkish locale the C library's case fold takes 'I' to dotless i and 'i' to dotted I,
// neither of them ASCII, so a fold through it would miss every name with an I in it.
TEST(Dispatch, NamesIgnoreCaseUnderATurkishLocale) {
  ScopedLocale turkish(LC_ALL, "tr_TR.UTF-8");
  if (!turkish.Installed()) GTEST_SKIP() << "tr_TR.UTF-8 is not installed (scripts/install-deps.sh makes it)";
  const struct {
    const char* name;
    int32_t dispid;
  } cases[] = {
      {"GETVERSION", 201}, {"getversion", 201}, {"INITDB", 202},        {"initdb", 202},
      {"InitDB", 202},     {"isTableCached", 208}, {"ISTABLECACHED", 208},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names{c.name};
    std::vector<int32_t> ids;
    EXPECT_EQ(GetIDsOfNames(LocalDBClass(), names, ids), kS_OK) << c.name;
    EXPECT_EQ(ids, std::vector<int32_t>{c.dispid}) << c.name;
  }
  EXPECT_EQ(FindClassByProgId("ZENTRAK.FILESYSTEMOBJECT"), &FileSystemObjectClass());
  EXPECT_EQ(FindClassByProgId("zentrak.printserver"), &PrintServerClass());
  VarType type = VarType::Empty;
  EXPECT_TRUE(VarTypeFromName("INTEGER", type));
  EXPECT_EQ(type, VarType::Integer);
  EXPECT_TRUE(VarTypeFromName("int64", type));
  EXPECT_EQ(type, VarType::Int64);
  // GUIDs are read in either letter case; their hexadecimal digits have no I.
  EXPECT_EQ(Guid::Parse("{8db7dcae-e39e-4654-81a2-aca0a6dc4094}"), LocalDBClass().clsid);
}

TEST(Dispatch, StatusCodes) {
  auto db = CreateObject(Class(0));
  Variant result;
  std::vector<Variant> args;
  EXPECT_EQ(Invoke(*db, 999, MemberKind::kMethod, args, result).status, kDISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(*db, 201, MemberKind::kPropertyPut, args, result).status, kDISP_E_MEMBERNOTFOUND);
  args = {Variant()};
  EXPECT_EQ(Invoke(*db, 201, MemberKind::kMethod, args, result).status, kDISP_E_BADPARAMCOUNT);
  args.clear();
  CallOutcome ok = Invoke(*db, 201, MemberKind::kMethod, args, result);
  EXPECT_EQ(ok.status, kS_OK);
  EXPECT_EQ(result.WideText(), u"Corvel SqliteDB 0.8");
  const InterfaceDesc* info = nullptr;
  EXPECT_EQ(TypeInfoCount(), 1u);
  EXPECT_EQ(GetTypeInfo(Class(0), 0, info), kS_OK);
  EXPECT_EQ(info, Class(0).default_interface);
  EXPECT_EQ(GetTypeInfo(Class(0), 1, info), kDISP_E_BADINDEX);
}

TEST(Dispatch, PutReachesEitherPutMember) {
  const MemberDesc* put = FindMember(Class(3), -512, MemberKind::kPropertyPut);
  ASSERT_NE(put, nullptr);
  EXPECT_EQ(put->kind, MemberKind::kPropertyPut);
  const MemberDesc* putref = FindMember(Class(3), -512, MemberKind::kPropertyPutRef);
  EXPECT_EQ(putref->kind, MemberKind::kPropertyPutRef);
  // Caption has only a put: a putref request reaches it.
  const MemberDesc* caption = FindMember(Class(3), -518, MemberKind::kPropertyPutRef);
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->kind, MemberKind::kPropertyPut);
}

TEST(Dispatch, TypedPropertyArgumentThatCannotBeCoercedIsATypeMismatch) {
  auto form = CreateObject(Class(3));
  std::vector<Variant> args{Variant(u"not a number")};
  Variant result;
  CallOutcome out = Invoke(*form, 206, MemberKind::kPropertyPut, args, result);  // PixelsPerInch
  EXPECT_EQ(out.status, kDISP_E_TYPEMISMATCH);
  EXPECT_EQ(out.arg_error, 0u);
}

TEST(FailureGuard, NullForTextArgument) {
  auto db = CreateObject(Class(0));
  std::vector<Variant> args{Variant::Null(), Variant(), Variant(), Variant()};  // InitDB(null, ...)
  Variant result = Variant(u"left by the caller");
  CallOutcome out = Invoke(*db, 202, MemberKind::kMethod, args, result);
  EXPECT_EQ(out.status, kE_UNEXPECTED);
  EXPECT_EQ(out.status, -2147418113);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->description, u"Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(out.error->source, u"Zentrak.LocalDB");
  EXPECT_EQ(out.error->iid, Class(0).default_interface->iid);
  EXPECT_EQ(out.error->help_context, 0u);
  EXPECT_TRUE(result.IsEmpty());  // set Empty on entry
}

TEST(FailureGuard, PlatformStatusErrorKeepsItsCode) {
  auto form = CreateObject(Class(3));
  std::vector<Variant> args;
  Variant result;
  CallOutcome out = Invoke(*form, 209, MemberKind::kPropertyGet, args, result);  // Active
  EXPECT_EQ(out.status, kE_NOTIMPL);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->source, u"Zentrak.ActiveFormX_Foxit");
  EXPECT_NE(out.error->description.find(u"not available yet"), std::u16string::npos);
}

TEST(Interfaces, ObjectSafetyAndErrorInfo) {
  uint32_t supported = 9, enabled = 9;
  EXPECT_EQ(GetInterfaceSafetyOptions(Class(0), kIID_IDispatch, &supported, &enabled), kS_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 3u);
  Guid lacking = *Guid::Parse("{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(GetInterfaceSafetyOptions(Class(1), lacking, &supported, &enabled), kE_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(GetInterfaceSafetyOptions(Class(0), kIID_IDispatch, nullptr, &enabled), kE_POINTER);
  EXPECT_EQ(SetInterfaceSafetyOptions(Class(0), lacking, 3, 3), kE_NOINTERFACE);
  EXPECT_EQ(SetInterfaceSafetyOptions(Class(0), Class(0).default_interface->iid, 3, 3), kS_OK);
  EXPECT_TRUE(ObjectHasInterface(Class(0), kIID_IObjectSafety));
  EXPECT_TRUE(ObjectHasInterface(Class(1), kIID_IObjectSafety));
  EXPECT_FALSE(ObjectHasInterface(Class(2), kIID_IObjectSafety));
  EXPECT_EQ(InterfaceSupportsErrorInfo(Class(2), Class(2).default_interface->iid), kS_OK);
  EXPECT_EQ(InterfaceSupportsErrorInfo(Class(2), lacking), kS_FALSE);
}

}  // namespace
}  // namespace zentrak

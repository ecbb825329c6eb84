// The real classes as the frames serve them: the type library's fifteen types, the catalog's
// factories, member names without regard to case, and which classes answer IObjectSafety. The
// rules of dispatch and the failure guard are tested in automation/ with a test-only class.
#include <gtest/gtest.h>

#include <clocale>
#include <set>

#include "automation/dispatch.h"
#include "base/testing/scoped.h"
#include "catalog/catalog.h"

namespace zentrak {
namespace {

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
  EXPECT_EQ(LocalDBClass().ProgId(), "Zentrak.LocalDB");
  EXPECT_EQ(ActiveFormClass().ProgId(), "Zentrak.ActiveFormX_Foxit");
  // The control's vtable: 38 property entries (get before put before putref) and preview.
  EXPECT_EQ(ActiveFormClass().default_interface->members.size(), 39u);
  EXPECT_EQ(LocalDBClass().clsid.ToRegistryString(), "{8DB7DCAE-E39E-4654-81A2-ACA0A6DC4094}");
}

TEST(Dispatch, NamesIgnoreCase) {
  std::vector<int32_t> ids;
  std::vector<std::string> names{"QUERYALL"};
  EXPECT_EQ(GetIDsOfNames(LocalDBClass(), names, ids), kS_OK);
  EXPECT_EQ(ids[0], 210);
  names = {"getversion"};
  GetIDsOfNames(LocalDBClass(), names, ids);
  EXPECT_EQ(ids[0], 201);
  names = {"noSuchMember"};
  EXPECT_EQ(GetIDsOfNames(LocalDBClass(), names, ids), kDISP_E_UNKNOWNNAME);
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

TEST(Catalog, EachEntryCreatesItsClass) {
  StartCatalog();
  std::set<const ClassDesc*> served;
  for (const CatalogEntry& entry : Catalog()) {
    std::unique_ptr<AutomationObject> object = CreateObject(*entry.cls);
    ASSERT_NE(object, nullptr) << entry.cls->name;
    EXPECT_EQ(&object->Class(), entry.cls);
    served.insert(entry.cls);
  }
  EXPECT_EQ(served, (std::set<const ClassDesc*>{&LocalDBClass(), &PrintServerClass(), &FileSystemObjectClass(),
                                                &ActiveFormClass()}));
  const ClassDesc unknown{"Unknown", "", {}, LocalDBClass().default_interface, nullptr, false, false, ""};
  EXPECT_EQ(CreateObject(unknown), nullptr);
}

TEST(TypeLibrary, ObjectSafetyOfTheFourClasses) {
  const struct {
    const ClassDesc* cls;
    bool object_safety;
  } cases[] = {
      {&LocalDBClass(), true},
      {&PrintServerClass(), true},
      {&FileSystemObjectClass(), false},
      {&ActiveFormClass(), false},  // the control's frame answers for it
  };
  for (const auto& c : cases)
    EXPECT_EQ(ObjectHasInterface(*c.cls, kIID_IObjectSafety), c.object_safety) << c.cls->name;
}

}  // namespace
}  // namespace zentrak

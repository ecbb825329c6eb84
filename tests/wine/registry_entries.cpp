// The registry entries that registering the module at a path must leave, for the runner to compare
// with what `reg query` finds:
//   zentrak_registry_entries <module path>
// prints one line per entry, "ENTRY|key|value name|value", then "KEY|key" for every key that
// unregistration must remove, and "TYPELIB|key" for the type library's own key. It
// first checks the entries of the control against the literal table they must follow, and the
// short-path rule for a path with a blank.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "automation/registration.h"
#include "automation/typelib.h"

using namespace zentrak;

namespace {

ClassRegistration RegistrationOf(const ClassDesc& cls) {
  const TypeLibraryDesc& lib = ZentrakTypeLibrary();
  ClassRegistration r;
  r.clsid = cls.clsid;
  r.description = cls.help;
  r.progid = cls.ProgId();
  r.libid = lib.libid;
  r.major_version = lib.major_version;
  r.minor_version = lib.minor_version;
  if (cls.control) r.control = ControlRegistration{kViewerMiscStatus, 1, {{0, "Properties"}}};
  return r;
}

void CheckControlTable() {
  const ClassDesc& form = ActiveFormClass();
  const std::string k = "CLSID\\{D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA}";
  const std::string lib = "{B6A63F5F-C7D0-4B6F-BA9B-534C998FCF7F}";
  // The keys, values and order of the control's registration, written out.
  const std::vector<RegistryEntry> want = {
      {k, "", "ActiveFormX_Foxit Control"},
      {k + "\\InprocServer32", "", "C:\\PROGRA~1\\Z\\ZENTRAK.OCX"},
      {k + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {"Zentrak.ActiveFormX_Foxit", "", "ActiveFormX_Foxit Control"},
      {"Zentrak.ActiveFormX_Foxit\\Clsid", "", "{D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA}"},
      {k + "\\ProgID", "", "Zentrak.ActiveFormX_Foxit"},
      {k + "\\Version", "", "1.0"},
      {k + "\\TypeLib", "", lib},
      {k + "\\MiscStatus", "", "0"},
      {k + "\\MiscStatus\\1", "", "205201"},
      {k + "\\ToolboxBitmap32", "", "C:\\Program Files\\Z\\Zentrak.ocx,1"},
      {k + "\\Control", "", ""},
      {k + "\\Verb", "", ""},
      {k + "\\Verb\\0", "", "Properties,0,2"},
  };
  auto got = RegistrationEntries(RegistrationOf(form), "C:\\PROGRA~1\\Z\\ZENTRAK.OCX", "C:\\Program Files\\Z\\Zentrak.ocx");
  CHECK_EQ("control entry count", got.size(), want.size());
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    std::string at = "control entry " + std::to_string(i);
    CHECK_EQ(at + " key", got[i].key, want[i].key);
    CHECK_EQ(at + " value name", got[i].value_name, want[i].value_name);
    CHECK_EQ(at + " value", got[i].value, want[i].value);
  }
  const std::vector<std::string> keys = {
      k + "\\Verb\\0",  k + "\\Verb",    k + "\\Control", k + "\\ToolboxBitmap32", k + "\\MiscStatus\\1",
      k + "\\MiscStatus", k + "\\TypeLib", k + "\\Version", k + "\\ProgID", "Zentrak.ActiveFormX_Foxit\\Clsid",
      "Zentrak.ActiveFormX_Foxit", k + "\\InprocServer32", k};
  auto got_keys = UnregistrationKeys(RegistrationOf(form));
  CHECK_EQ("control unregistration count", got_keys.size(), keys.size());
  for (size_t i = 0; i < got_keys.size() && i < keys.size(); ++i)
    CHECK_EQ("control unregistration key " + std::to_string(i), got_keys[i], keys[i]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: zentrak_registry_entries <module path>\n");
    return 2;
  }
  CheckControlTable();
  const std::string path = argv[1];
  std::string inproc = path;
  if (NeedsShortPath(path)) {
    char buf[MAX_PATH * 2];
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    if (n > 0 && n < sizeof buf) inproc.assign(buf, n);
    CHECK_EQ("the short form has no blank", inproc.find(' '), std::string::npos);
  }
  const auto& classes = ZentrakTypeLibrary().classes;
  std::set<std::string> printed;
  // From the head of the factory list: the last constructed first.
  for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
    ClassRegistration r = RegistrationOf(**it);
    for (const RegistryEntry& e : RegistrationEntries(r, inproc, path))
      std::printf("ENTRY|%s|%s|%s\n", e.key.c_str(), e.value_name.c_str(), e.value.c_str());
    for (const std::string& k : UnregistrationKeys(r)) std::printf("KEY|%s\n", k.c_str());
  }
  std::printf("TYPELIB|TypeLib\\%s\n", ZentrakTypeLibrary().libid.ToRegistryString().c_str());
  return zentrak::test::Finish();
}

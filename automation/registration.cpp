// Registry entries of the class factories.
#include "automation/registration.h"

#include <cstdio>

namespace zentrak {

std::vector<RegistryEntry> RegistrationEntries(const ClassRegistration& cls, std::string_view inproc_path,
                                               std::string_view module_path) {
  const std::string clsid = cls.clsid.ToRegistryString();
  const std::string key = "CLSID\\" + clsid;
  char version[32];
  std::snprintf(version, sizeof version, "%d.%d", cls.major_version, cls.minor_version);

  std::vector<RegistryEntry> out = {
      {key, "", cls.description},
      {key + "\\InprocServer32", "", std::string(inproc_path)},
      {key + "\\InprocServer32", "ThreadingModel", cls.threading_model},
  };
  if (!cls.progid.empty()) {
    out.push_back({cls.progid, "", cls.description});
    out.push_back({cls.progid + "\\Clsid", "", clsid});
    out.push_back({key + "\\ProgID", "", cls.progid});
  }
  out.push_back({key + "\\Version", "", version});
  out.push_back({key + "\\TypeLib", "", cls.libid.ToRegistryString()});
  if (cls.control) {
    const ControlRegistration& c = *cls.control;
    out.push_back({key + "\\MiscStatus", "", "0"});
    out.push_back({key + "\\MiscStatus\\1", "", std::to_string(c.misc_status)});
    out.push_back({key + "\\ToolboxBitmap32", "", std::string(module_path) + "," + std::to_string(c.toolbox_bitmap_id)});
    out.push_back({key + "\\Control", "", ""});
    out.push_back({key + "\\Verb", "", ""});
    for (const auto& [number, name] : c.verbs) {
      out.push_back({key + "\\Verb\\" + std::to_string(number), "", name + ",0,2"});
    }
  }
  return out;
}

std::vector<std::string> UnregistrationKeys(const ClassRegistration& cls) {
  const std::string key = "CLSID\\" + cls.clsid.ToRegistryString();
  std::vector<std::string> out;
  if (cls.control) {
    for (const auto& verb : cls.control->verbs) out.push_back(key + "\\Verb\\" + std::to_string(verb.first));
    out.push_back(key + "\\Verb");
    out.push_back(key + "\\Control");
    out.push_back(key + "\\ToolboxBitmap32");
    out.push_back(key + "\\MiscStatus\\1");
    out.push_back(key + "\\MiscStatus");
  }
  out.push_back(key + "\\TypeLib");
  out.push_back(key + "\\Version");
  if (!cls.progid.empty()) {
    out.push_back(key + "\\ProgID");
    out.push_back(cls.progid + "\\Clsid");
    out.push_back(cls.progid);
  }
  out.push_back(key + "\\InprocServer32");
  out.push_back(key);
  return out;
}

}  // namespace zentrak

// The registry entries of the four classes: the keys, values and order that self-registration
// writes under the classes root, and the keys that unregistration deletes. Portable, so that every
// frame writes exactly the same entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/typelib.h"

namespace zentrak {

struct RegistryEntry {
  std::string key;         // under the classes root: "CLSID\{...}\InprocServer32"
  std::string value_name;  // empty for the key's default value
  std::string value;       // a text value (REG_SZ)
};

struct ControlRegistration {
  uint32_t misc_status = 0;
  int toolbox_bitmap_id = 0;
  std::vector<std::pair<int, std::string>> verbs;  // number, name
};

// What registration needs of one class factory.
struct ClassRegistration {
  Guid clsid;
  std::string description;  // the class's help string
  std::string progid;       // "Zentrak.LocalDB"; may be empty
  std::string threading_model = "Apartment";
  Guid libid;
  uint16_t major_version = 1;
  uint16_t minor_version = 0;
  std::optional<ControlRegistration> control;
};

// The entries in the order they are written. inproc_path is the module's path as InprocServer32
// gets it (its short form when the full path holds a blank), module_path the full long path.
std::vector<RegistryEntry> RegistrationEntries(const ClassRegistration& cls, std::string_view inproc_path,
                                               std::string_view module_path);

// The keys to delete, in order; each is deleted only when it has no sub-keys left.
std::vector<std::string> UnregistrationKeys(const ClassRegistration& cls);

// The miscellaneous status of the control: the flags given at construction with the five that
// every control factory adds (recompose-on-resize, can't-link-inside, inside-out,
// activate-when-visible, set-client-site-first).
constexpr uint32_t ControlMiscStatus(uint32_t given) { return given | 1u | 16u | 128u | 256u | 131072u; }
// The flags the viewer control is constructed with: simple-frame and acts-like-label.
constexpr uint32_t kViewerMiscStatus = ControlMiscStatus(65536u | 8192u);

// True when the path must be registered in its short form.
inline bool NeedsShortPath(std::string_view path) { return path.find(' ') != std::string_view::npos; }

}  // namespace zentrak

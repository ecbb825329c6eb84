// The catalog of classes: which classes the frames serve, and how each is created. Both frames
// (the COM module and zentrak-host) start it once, explicitly, before they serve anything.
#pragma once

#include <memory>
#include <span>

#include "automation/automation_object.h"
#include "automation/typelib.h"

namespace zentrak {

struct CatalogEntry {
  const ClassDesc* cls;
  std::unique_ptr<AutomationObject> (*create)();
};

// Connects the objects to what the frame's platform shows the user (the zip reader's message
// boxes). Idempotent; call it before the first object is created.
void StartCatalog();

// The classes a frame serves, in the type library's order.
std::span<const CatalogEntry> Catalog();

// A new instance of cls, or null when the catalog has no such class.
std::unique_ptr<AutomationObject> CreateObject(const ClassDesc& cls);

}  // namespace zentrak

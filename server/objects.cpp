// Creation of the four objects by class.
#include "control/active_form.h"
#include "files/file_system_object.h"
#include "localdb/local_db.h"
#include "print/print_server.h"
#include "server/automation_object.h"

namespace zentrak {

std::unique_ptr<AutomationObject> CreateAutomationObject(const ClassDesc& cls) {
  const auto& classes = ZentrakTypeLibrary().classes;
  if (&cls == classes[0]) return std::make_unique<TLocalDB>();
  if (&cls == classes[1]) return std::make_unique<TPrintServer>();
  if (&cls == classes[2]) return std::make_unique<TFileSystemObject>();
  if (&cls == classes[3]) return std::make_unique<TActiveFormControl>();
  return nullptr;
}

}  // namespace zentrak

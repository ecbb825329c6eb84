// Creation of the four objects by class.
#include "codec/zip.h"
#include "control/active_form.h"
#include "files/file_system_object.h"
#include "localdb/local_db.h"
#include "print/print_server.h"
#include "platform/dialogs.h"
#include "server/automation_object.h"

namespace zentrak {
namespace {

// The zip reader's messages to the user ("Unknown Compression Method", captioned "Zip Error").
void ShowZipMessage(const std::string& text, const std::string& caption) { platform::ShowMessageBox(text, caption); }

[[maybe_unused]] const bool kZipMessagesShown = (SetZipMessageSink(&ShowZipMessage), true);

}  // namespace

std::unique_ptr<AutomationObject> CreateAutomationObject(const ClassDesc& cls) {
  const auto& classes = ZentrakTypeLibrary().classes;
  if (&cls == classes[0]) return std::make_unique<TLocalDB>();
  if (&cls == classes[1]) return std::make_unique<TPrintServer>();
  if (&cls == classes[2]) return std::make_unique<TFileSystemObject>();
  if (&cls == classes[3]) return std::make_unique<TActiveFormControl>();
  return nullptr;
}

}  // namespace zentrak

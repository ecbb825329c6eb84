// The catalog of the four objects.
#include "catalog/catalog.h"

#include "codec/zip.h"
#include "control/active_form.h"
#include "files/file_system_object.h"
#include "localdb/local_db.h"
#include "platform/dialogs.h"
#include "print/print_server.h"

namespace zentrak {
namespace {

template <typename T>
std::unique_ptr<AutomationObject> Make() {
  return std::make_unique<T>();
}

// The zip reader's messages to the user ("Unknown Compression Method", captioned "Zip Error").
void ShowZipMessage(const std::string& text, const std::string& caption) { platform::ShowMessageBox(text, caption); }

}  // namespace

void StartCatalog() { SetZipMessageSink(&ShowZipMessage); }

std::span<const CatalogEntry> Catalog() {
  static const CatalogEntry entries[] = {
      {&LocalDBClass(), &Make<TLocalDB>},
      {&PrintServerClass(), &Make<TPrintServer>},
      {&FileSystemObjectClass(), &Make<TFileSystemObject>},
      {&ActiveFormClass(), &Make<TActiveFormControl>},
  };
  return entries;
}

std::unique_ptr<AutomationObject> CreateObject(const ClassDesc& cls) {
  for (const CatalogEntry& e : Catalog()) {
    if (e.cls == &cls) return e.create();
  }
  return nullptr;
}

}  // namespace zentrak

// The module's entry point and its four exports. Each export runs under the failure guard, so no
// error leaves it as an exception.
#include <windows.h>
#include <objbase.h>

#include "catalog/catalog.h"
#include "server/com/factory.h"
#include "server/com/failure_guard.h"
#include "server/com/server.h"
#include "server/com/viewer_window.h"

using zentrak::com::ComGuard;
using zentrak::com::FactoryRegistry;
using zentrak::com::Server;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    zentrak::StartCatalog();
    zentrak::com::InstallWin32ViewerForms();
    Server::Instance().SetModule(module);
    DisableThreadLibraryCalls(module);
  } else if (reason == DLL_PROCESS_DETACH && !reserved) {
    zentrak::com::ReleaseWin32ViewerForms();
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComGuard(nullptr, [&] {
    FactoryRegistry& registry = FactoryRegistry::Instance();
    registry.EnsureFactories();
    zentrak::com::ClassFactory* factory = registry.Find(clsid);
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(iid, out);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  Server& server = Server::Instance();
  return server.ObjectCount() == 0 && server.FactoryCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return ComGuard(nullptr, [] { return zentrak::com::UpdateRegistry(true); });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return ComGuard(nullptr, [] { return zentrak::com::UpdateRegistry(false); });
}

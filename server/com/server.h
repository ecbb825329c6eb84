// The server object: one per loaded module. It counts live objects (with server locks) and
// references on the class factories, both atomically, and holds the module's type library.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <mutex>
#include <string>

#include "server/com/com_util.h"

namespace zentrak::com {

class Server {
 public:
  static Server& Instance();

  void SetModule(HINSTANCE module) { module_ = module; }
  HINSTANCE Module() const { return module_; }
  // The module's full path in its long form, 8-bit text.
  std::string ModulePath() const;

  // The module's own type library (its TYPELIB resource 1), loaded on first use and kept.
  // Raises EStatusError when it cannot be loaded.
  ITypeLib* TypeLibrary();

  void ObjectCreated() { ++objects_; }
  void ObjectDestroyed() { --objects_; }
  LONG FactoryAddRef() { return ++factories_; }
  LONG FactoryRelease() { return --factories_; }
  LONG ObjectCount() const { return objects_; }
  LONG FactoryCount() const { return factories_; }

 private:
  HINSTANCE module_ = nullptr;
  std::atomic<LONG> objects_{0};
  std::atomic<LONG> factories_{0};
  std::once_flag type_library_once_;
  ComPtr<ITypeLib> type_library_;
  HRESULT type_library_status_ = S_OK;
};

}  // namespace zentrak::com

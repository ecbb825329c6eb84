// DualPart: the vtable of an object's dual interface. The generated Slots template gives the
// members; this adds IUnknown and IDispatch, both handed to the object's frame.
#pragma once

#include <windows.h>

#include "server/com/object_frame.h"

namespace zentrak::com {

template <template <class> class Slots>
class DualPart final : public Slots<DualPart<Slots>> {
 public:
  explicit DualPart(ObjectFrame& frame) : frame_(frame) {}

  static ObjectFrame& Target(Slots<DualPart>* slots) { return static_cast<DualPart*>(slots)->frame_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return frame_.QueryInterface(iid, out); }
  ULONG STDMETHODCALLTYPE AddRef() override { return frame_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return frame_.Release(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return frame_.GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override {
    return frame_.GetTypeInfo(index, lcid, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return frame_.GetIDsOfNames(iid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override {
    return frame_.Invoke(id, iid, lcid, flags, params, result, excep, arg_error);
  }

 private:
  ObjectFrame& frame_;
};

}  // namespace zentrak::com

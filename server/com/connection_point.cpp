// Connection points, enumerators and the silencing dispatcher.
#include "server/com/connection_point.h"

#include <utility>

#include "server/com/failure_guard.h"
#include "server/com/variant_com.h"

namespace zentrak::com {
namespace {

void AddRefItem(IConnectionPoint* p) { p->AddRef(); }
void ReleaseItem(IConnectionPoint* p) { p->Release(); }
void AddRefItem(CONNECTDATA& d) { d.pUnk->AddRef(); }
void ReleaseItem(CONNECTDATA& d) { d.pUnk->Release(); }

// A standard enumerator over a fixed list. Items carry a reference each; handed-out items get
// their own.
template <class Itf, class Item>
class Enumerator final : public Itf {
 public:
  Enumerator(const IID& iid, IUnknown* keep_alive, std::vector<Item> items, ULONG position = 0)
      : iid_(iid), keep_alive_(keep_alive), items_(std::move(items)), position_(position) {
    for (Item& item : items_) AddRefItem(item);
  }
  ~Enumerator() {
    for (Item& item : items_) ReleaseItem(item);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, iid_)) return E_NOINTERFACE;
    *out = static_cast<Itf*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) {
      out[n] = items_[position_++];
      AddRefItem(out[n]);
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    ULONG left = static_cast<ULONG>(items_.size()) - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Itf** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComGuard(nullptr, [&] {
      *out = new Enumerator(iid_, keep_alive_.Get(), items_, position_);
      return S_OK;
    });
  }

 private:
  IID iid_;
  ComPtr<IUnknown> keep_alive_;
  std::vector<Item> items_;
  ULONG position_;
  LONG refs_ = 1;
};

class SilencingDispatcher final : public IDispatch {
 public:
  SilencingDispatcher(IDispatch* sink, const GUID& events_iid) : sink_(sink), events_iid_(events_iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_iid_)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return sink_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return sink_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override {
    return sink_->GetTypeInfo(index, lcid, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return sink_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  // A page's handler that fails must not fail the event: its answer is dropped.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override {
    sink_->Invoke(id, iid, lcid, flags, params, result, excep, arg_error);
    return S_OK;
  }

 private:
  ComPtr<IDispatch> sink_;
  GUID events_iid_;
  LONG refs_ = 1;
};

}  // namespace

ConnectionPoint::~ConnectionPoint() {
  for (IUnknown* sink : sinks_) {
    if (sink) sink->Release();
  }
}

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

ULONG ConnectionPoint::AddRef() { return container_.AddRef(); }
ULONG ConnectionPoint::Release() { return container_.Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  return container_.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (single_) {
    for (IUnknown* s : sinks_) {
      if (s) return CONNECT_E_CANNOTCONNECT;
    }
  }
  return ComGuard(nullptr, [&]() -> HRESULT {
    ComPtr<IDispatch> dispatcher;
    if (events_) {
      ComPtr<IDispatch> events;
      HRESULT hr = sink->QueryInterface(iid_, reinterpret_cast<void**>(events.Put()));
      if (FAILED(hr)) return hr;
      dispatcher = NewSilencingDispatcher(events.Get(), iid_);
    }
    size_t slot = 0;
    while (slot < sinks_.size() && sinks_[slot]) ++slot;
    if (slot == sinks_.size()) {
      sinks_.reserve(slot + 1);
      dispatchers_.reserve(slot + 1);
      sinks_.push_back(nullptr);
      dispatchers_.emplace_back();
    }
    sinks_[slot] = sink;
    sink->AddRef();
    dispatchers_[slot] = std::move(dispatcher);
    *cookie = static_cast<DWORD>(slot + 1);
    if (told_) told_(true);
    return S_OK;
  });
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
  dispatchers_[cookie - 1].Reset();
  IUnknown* sink = std::exchange(sinks_[cookie - 1], nullptr);
  sink->Release();
  bool any = false;
  for (IUnknown* s : sinks_) any = any || s;
  if (!any && told_) told_(false);
  return S_OK;
}

void ConnectionPoint::Fire(int32_t dispid, std::vector<Variant> args,
                           std::function<void(std::span<Variant>)> done) noexcept {
  // A handler may release the object or leave the point; the point stays until the event is over.
  ComPtr<IConnectionPointContainer> keep_alive(&container_);
  Guarded(nullptr, [&] { CallSinks(dispid, args); });
  if (done) Guarded(nullptr, [&] { done(args); });
}

void ConnectionPoint::CallSinks(int32_t dispid, std::vector<Variant>& args) {
  // The handlers of this event, as they are now: one that connects or leaves during the event
  // changes nothing for it.
  std::vector<ComPtr<IDispatch>> handlers;
  for (const ComPtr<IDispatch>& d : dispatchers_) {
    if (d) handlers.push_back(d);
  }
  if (handlers.empty()) return;

  const MemberDesc* event = events_ ? events_->FindByDispid(dispid, MemberKind::kMethod) : nullptr;
  const size_t n = args.size();
  std::vector<ComVariant> values(n);
  std::vector<VARIANT> passed(n);  // last argument first; by-value ones are borrowed copies
  std::vector<bool> by_ref(n, false);
  for (size_t i = 0; i < n; ++i) {
    ToVariant(args[i], values[i].Put());
    if (event && i < event->params.size()) {
      const ParamDesc& p = event->params[i];
      by_ref[i] = p.by_ref || p.direction == ParamDirection::kInOut;
    }
    VARIANT& slot = passed[n - 1 - i];
    if (by_ref[i]) {
      VariantInit(&slot);
      V_VT(&slot) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&slot) = &values[i].Value();
    } else {
      slot = values[i].Get();
    }
  }
  DISPPARAMS params = {passed.data(), nullptr, static_cast<UINT>(n), 0};
  for (const ComPtr<IDispatch>& handler : handlers) {
    ComVariant result;
    handler->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), nullptr, nullptr);
  }
  for (size_t i = 0; i < n; ++i) {
    if (by_ref[i]) args[i] = FromVariant(values[i].Get());
  }
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComGuard(nullptr, [&] {
    std::vector<CONNECTDATA> items;
    for (size_t i = 0; i < sinks_.size(); ++i) {
      if (sinks_[i]) items.push_back({sinks_[i], static_cast<DWORD>(i + 1)});
    }
    *out = new Enumerator<IEnumConnections, CONNECTDATA>(IID_IEnumConnections, static_cast<IConnectionPoint*>(this),
                                                          std::move(items));
    return S_OK;
  });
}

HRESULT NewConnectionPointEnumerator(IUnknown* container, const std::vector<IConnectionPoint*>& points,
                                     IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComGuard(nullptr, [&] {
    *out = new Enumerator<IEnumConnectionPoints, IConnectionPoint*>(IID_IEnumConnectionPoints, container, points);
    return S_OK;
  });
}

ComPtr<IDispatch> NewSilencingDispatcher(IDispatch* sink, const GUID& events_iid) {
  return ComPtr<IDispatch>::Adopt(new SilencingDispatcher(sink, events_iid));
}

}  // namespace zentrak::com

// Connection points of the objects: the events point, which takes a single sink and carries the
// object's events to it, and the control's property-change point, which takes any number; their
// enumerators; and the silencing dispatcher through which events reach a page's handlers.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <span>
#include <vector>

#include "server/com/com_util.h"
#include "automation/automation_object.h"
#include "automation/typelib.h"

namespace zentrak::com {

// A connection point inside its container (an object's frame), which it counts on. The events
// point of an object is also the object's events sink: an event that the object raises is a call
// of every connected sink.
class ConnectionPoint final : public IConnectionPoint, public EventSink {
 public:
  // single: at most one sink at a time. events: the events interface this point serves (its
  // DISPIDs and parameters), or null for a point that only keeps its sinks.
  ConnectionPoint(IConnectionPointContainer& container, const GUID& iid, bool single, const InterfaceDesc* events)
      : container_(container), iid_(iid), single_(single), events_(events) {}
  ~ConnectionPoint();

  const GUID& Iid() const { return iid_; }
  // Told after a sink has been stored (true) and after the last one has left (false).
  void OnSinksChanged(std::function<void(bool)> told) { told_ = std::move(told); }

  // IUnknown: the point lives inside its object and counts on it.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  // Cookies are the slot number plus 1; a freed slot is taken again first. An events point
  // refuses a sink without its events interface with the sink's answer.
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // EventSink: calls IDispatch::Invoke (DISPATCH_METHOD) of every connected sink in cookie
  // order, through the silencing dispatcher, so a failing handler fails nothing. Arguments go
  // last first, as the platform orders them; a by-reference parameter of the event goes as a
  // VT_BYREF | VT_VARIANT that every handler may write, and done receives the values the
  // handlers left. done runs once, after the last handler, also when there is no sink.
  void Fire(int32_t dispid, std::vector<Variant> args, std::function<void(std::span<Variant>)> done) noexcept override;

 private:
  void CallSinks(int32_t dispid, std::vector<Variant>& args);

  IConnectionPointContainer& container_;
  GUID iid_;
  bool single_;
  const InterfaceDesc* events_;
  std::vector<IUnknown*> sinks_;               // one reference each; null for a free slot
  std::vector<ComPtr<IDispatch>> dispatchers_;  // events points: the silencing dispatcher of each slot
  std::function<void(bool)> told_;
};

// An enumerator over the connection points of a container; it keeps the container alive.
HRESULT NewConnectionPointEnumerator(IUnknown* container, const std::vector<IConnectionPoint*>& points,
                                     IEnumConnectionPoints** out);

// The dispatcher that stands for an events sink: name look-ups and calls go to the sink, and a
// call always succeeds whatever the sink answered. It answers IUnknown, IDispatch and the events
// interface itself; other requests go to the sink.
ComPtr<IDispatch> NewSilencingDispatcher(IDispatch* sink, const GUID& events_iid);

}  // namespace zentrak::com

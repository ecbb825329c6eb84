// Connection points of the objects: the events point, which takes a single sink, and the
// control's property-change point, which takes any number; their enumerators; and the silencing
// dispatcher through which events reach a page's handlers.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "server/com/com_util.h"

namespace zentrak::com {

class ObjectFrame;

class ConnectionPoint final : public IConnectionPoint {
 public:
  // single: at most one sink at a time. events: the owner is told of every Advise and Unadvise.
  ConnectionPoint(ObjectFrame& owner, const GUID& iid, bool single, bool events)
      : owner_(owner), iid_(iid), single_(single), events_(events) {}
  ~ConnectionPoint();

  const GUID& Iid() const { return iid_; }

  // IUnknown: the point lives inside its object and counts on it.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  // Cookies are the slot number plus 1; a freed slot is taken again first.
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

 private:
  ObjectFrame& owner_;
  GUID iid_;
  bool single_, events_;
  std::vector<IUnknown*> sinks_;  // one reference each; null for a free slot
};

// An enumerator over the connection points of a container; it keeps the container alive.
HRESULT NewConnectionPointEnumerator(IUnknown* container, const std::vector<IConnectionPoint*>& points,
                                     IEnumConnectionPoints** out);

// The dispatcher that stands for an events sink: name look-ups and calls go to the sink, and a
// call always succeeds whatever the sink answered. It answers IUnknown, IDispatch and the events
// interface itself; other requests go to the sink.
ComPtr<IDispatch> NewSilencingDispatcher(IDispatch* sink, const GUID& events_iid);

}  // namespace zentrak::com

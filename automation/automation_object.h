// The base of the four objects' implementation classes. Each object binds its members once, by
// DISPID, in Invoke; the frames reach them only through the portable dispatch (dispatch.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "automation/typelib.h"
#include "automation/variant.h"

namespace zentrak {

// Where an object's events go: a frame's connection point (COM) or the page that owns the
// object (zentrak-host). An event carries its arguments in declared order; by-reference ones may
// be written by the handler. done, when given, receives the arguments as the handlers left them:
// at once where handlers run synchronously (COM), or when the page has answered (the host; with
// the arguments unchanged when it does not answer in time). It runs at most once, and never after
// the object is gone. Sinks do not throw into the raising object.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Fire(int32_t dispid, std::vector<Variant> args,
                    std::function<void(std::span<Variant>)> done) noexcept = 0;
};

class AutomationObject {
 public:
  explicit AutomationObject(const ClassDesc& cls) : class_(cls) {}
  virtual ~AutomationObject() = default;
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  const ClassDesc& Class() const noexcept { return class_; }

  // The frame connects one sink for the object's life (or null to disconnect). The sink must
  // outlive the connection.
  void SetEventSink(EventSink* sink) noexcept {
    events_ = sink;
    EventSinkChanged(sink != nullptr);
  }

  // Runs one member. REQUIRES: member belongs to Class()'s default interface and args holds
  // exactly its arguments, in declared order, already coerced to the declared types; the
  // result (for members with one) is Empty on entry. In/out arguments may be written.
  // Errors leave as exceptions; the dispatch's failure guard turns them into status codes.
  virtual void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) = 0;

 protected:
  // Told after every SetEventSink; the sink is already in place.
  virtual void EventSinkChanged(bool connected) noexcept { (void)connected; }

  // Raises an event of the class's default source interface. With no sink connected the event is
  // dropped and done runs at once with the arguments unchanged.
  void RaiseEvent(int32_t dispid, std::vector<Variant> args, std::function<void(std::span<Variant>)> done = {}) {
    if (events_) {
      events_->Fire(dispid, std::move(args), std::move(done));
    } else if (done) {
      done(args);
    }
  }

 private:
  const ClassDesc& class_;
  EventSink* events_ = nullptr;
};

}  // namespace zentrak

// The events of a session's objects on their way to the page. An object raises an event through
// its sink; the event waits in the queue until an answer to the session carries it to the page,
// and, when the object wants the by-reference arguments back, until the page sends them or the
// time-out passes. Runs on the one thread of the host, like everything in the session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

#include "automation/automation_object.h"

namespace zentrak::host {

class EventQueue {
 public:
  // Microseconds of a monotonic clock.
  using Clock = std::function<int64_t()>;

  // An event whose page has not answered within timeout_us is finished with its arguments
  // unchanged. At most max_events are held (queued or waiting); beyond that an event is dropped
  // and its done runs at once with the arguments unchanged.
  EventQueue(Clock clock, int64_t timeout_us, size_t max_events);
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Connects the queue to the object numbered handle in its session.
  // REQUIRES: Disconnect(handle) before the object is released or the queue goes.
  void Connect(int64_t handle, AutomationObject& object);
  // Disconnects the object: its events not yet answered are forgotten and their done never runs.
  void Disconnect(int64_t handle, AutomationObject& object);

  bool HasUndelivered() const noexcept { return !undelivered_.empty(); }
  // Appends the events not yet sent to out (a JSON array), oldest first; they count as sent.
  void TakeUndelivered(nlohmann::ordered_json& out);

  // The page's answer to the event numbered serial: args holds one value per argument, in order
  // (null, or absent altogether, for "unchanged"); only by-reference arguments are taken, each
  // converted to its original type. Runs the event's done. Throws WireError for an event that is
  // not waiting or a list of the wrong length, and the conversion errors for a value that does
  // not convert; the event then stays waiting.
  void Answer(int64_t serial, const nlohmann::ordered_json* args);
  // Finishes, with their arguments unchanged, the events whose time is up.
  void Expire();
  // Finishes every waiting event with its arguments unchanged (the session is ending and its
  // objects are still there).
  void FinishAll();

  size_t Waiting() const noexcept { return waiting_.size(); }

 private:
  class Sink;
  struct Pending {
    int64_t handle;
    std::vector<Variant> args;
    std::vector<bool> by_ref;  // which arguments the page may write
    std::function<void(std::span<Variant>)> done;
    int64_t deadline;
  };
  struct Queued {
    int64_t handle;
    nlohmann::ordered_json message;
  };

  void Raise(int64_t handle, const ClassDesc& cls, int32_t dispid, std::vector<Variant> args,
             std::function<void(std::span<Variant>)> done) noexcept;
  static void Finish(Pending& p) noexcept;

  Clock clock_;
  int64_t timeout_us_;
  size_t max_events_;
  int64_t next_serial_ = 1;
  std::map<int64_t, std::unique_ptr<Sink>> sinks_;
  std::deque<Queued> undelivered_;
  std::map<int64_t, Pending> waiting_;  // by serial
};

}  // namespace zentrak::host

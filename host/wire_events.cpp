// The event queue of a session: what the host does with an event between the object that raises
// it and the page that handles it.
#include "host/wire_events.h"

#include <string>

#include "automation/convert.h"
#include "host/wire_values.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

bool PassedByReference(const ParamDesc& p) { return p.by_ref || p.direction == ParamDirection::kInOut; }

// The value the page wrote into a by-reference argument, as the argument's own type: a handler in
// script writes any value, and the object reads the type it raised.
Variant WrittenBack(const Variant& original, const Variant& written) {
  Variant v;
  switch (original.Type()) {
    case VarType::Smallint: {
      int32_t n = VarToInteger(written);
      if (n < -32768 || n > 32767) throw EVariantOverflowError(written, "Smallint");
      v = Variant::FromInteger(VarType::Smallint, n);
      break;
    }
    case VarType::Integer:
      v = Variant::FromInt32(VarToInteger(written));
      break;
    case VarType::Boolean:
      v = Variant::FromBool(VarToBoolean(written));
      break;
    case VarType::OleStr:
      v = Variant(VarToWideText(written));
      break;
    case VarType::Double:
      v = Variant::FromDouble(VarToDouble(written));
      break;
    default:
      v = written;
  }
  v.SetByRef(original.IsByRef());
  return v;
}

}  // namespace

class EventQueue::Sink : public EventSink {
 public:
  Sink(EventQueue& queue, int64_t handle, const ClassDesc& cls) : queue_(queue), handle_(handle), class_(cls) {}
  void Fire(int32_t dispid, std::vector<Variant> args, std::function<void(std::span<Variant>)> done) noexcept override {
    queue_.Raise(handle_, class_, dispid, std::move(args), std::move(done));
  }

 private:
  EventQueue& queue_;
  int64_t handle_;
  const ClassDesc& class_;
};

EventQueue::EventQueue(Clock clock, int64_t timeout_us, size_t max_events)
    : clock_(std::move(clock)), timeout_us_(timeout_us), max_events_(max_events) {}

EventQueue::~EventQueue() = default;

void EventQueue::Connect(int64_t handle, AutomationObject& object) {
  auto& sink = sinks_[handle];
  sink = std::make_unique<Sink>(*this, handle, object.Class());
  object.SetEventSink(sink.get());
}

void EventQueue::Disconnect(int64_t handle, AutomationObject& object) {
  object.SetEventSink(nullptr);
  sinks_.erase(handle);
  std::erase_if(undelivered_, [&](const Queued& q) { return q.handle == handle; });
  std::erase_if(waiting_, [&](const auto& w) { return w.second.handle == handle; });
}

void EventQueue::Raise(int64_t handle, const ClassDesc& cls, int32_t dispid, std::vector<Variant> args,
                       std::function<void(std::span<Variant>)> done) noexcept {
  Pending p{handle, std::move(args), {}, std::move(done), 0};
  try {
    if (undelivered_.size() + waiting_.size() >= max_events_) {
      Finish(p);
      return;
    }
    const MemberDesc* m = cls.default_source ? cls.default_source->FindByDispid(dispid, MemberKind::kMethod) : nullptr;
    const int64_t serial = next_serial_++;
    json wire_args = json::array();
    for (size_t i = 0; i < p.args.size(); ++i) {
      Variant shown = p.args[i];
      p.by_ref.push_back(shown.IsByRef() || (m && i < m->params.size() && PassedByReference(m->params[i])));
      shown.SetByRef(p.by_ref.back());
      wire_args.push_back(ValueToJson(shown));
    }
    json message = {{"event", serial}, {"object", handle}, {"dispid", dispid},
                    {"name", m ? m->name : ""}, {"args", std::move(wire_args)}};
    if (p.done) {
      message["reply"] = true;
      p.deadline = clock_() + timeout_us_;
      waiting_.emplace(serial, std::move(p));
    }
    undelivered_.push_back(Queued{handle, std::move(message)});
  } catch (...) {
    // No memory for the event: the object goes on as if the page had not answered.
    Finish(p);
  }
}

void EventQueue::Finish(Pending& p) noexcept {
  if (!p.done) return;
  try {
    p.done(p.args);
  } catch (...) {
    // The object's own continuation failed; it has no caller to tell.
  }
}

void EventQueue::TakeUndelivered(json& out) {
  for (Queued& q : undelivered_) out.push_back(std::move(q.message));
  undelivered_.clear();
}

void EventQueue::Answer(int64_t serial, const json* args) {
  auto it = waiting_.find(serial);
  if (it == waiting_.end())
    throw WireError("no event " + std::to_string(serial) + " is waiting for an answer (it was answered or timed out)");
  std::vector<Variant> values = it->second.args;
  if (args) {
    if (!args->is_array() || args->size() != values.size())
      throw WireError("\"args\" must hold one value for each of the event's " + std::to_string(values.size()) +
                      " arguments");
    for (size_t i = 0; i < values.size(); ++i) {
      const json& a = (*args)[i];
      if (!a.is_null() && it->second.by_ref[i]) values[i] = WrittenBack(values[i], ValueFromJson(a));
    }
  }
  Pending p = std::move(it->second);
  waiting_.erase(it);
  p.args = std::move(values);
  Finish(p);
}

void EventQueue::Expire() {
  if (waiting_.empty()) return;
  const int64_t now = clock_();
  std::vector<Pending> due;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (it->second.deadline <= now) {
      due.push_back(std::move(it->second));
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
  // A done may raise the next event: the map is left alone while they run.
  for (Pending& p : due) Finish(p);
}

void EventQueue::FinishAll() {
  std::map<int64_t, Pending> all = std::move(waiting_);
  waiting_.clear();
  for (auto& [serial, p] : all) Finish(p);
}

}  // namespace zentrak::host

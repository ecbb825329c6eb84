// The wire's session: the op table and the objects of one page load.
#include "host/wire.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "base/ascii.h"
#include "base/text.h"
#include "automation/dispatch.h"
#include "automation/param_types.h"
#include "automation/status.h"
#include "catalog/catalog.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

constexpr int32_t kREGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154u);

MemberKind KindFromJson(const json& request) {
  auto it = request.find("kind");
  if (it == request.end()) return MemberKind::kMethod;
  if (!it->is_string()) throw WireError("\"kind\" must be \"method\", \"get\", \"put\" or \"putref\"");
  std::string k = it->get<std::string>();
  if (k == "method") return MemberKind::kMethod;
  if (k == "get") return MemberKind::kPropertyGet;
  if (k == "put") return MemberKind::kPropertyPut;
  if (k == "putref") return MemberKind::kPropertyPutRef;
  throw WireError("\"kind\" must be \"method\", \"get\", \"put\" or \"putref\"");
}

const char* KindName(MemberKind k) {
  switch (k) {
    case MemberKind::kMethod:
      return "method";
    case MemberKind::kPropertyGet:
      return "get";
    case MemberKind::kPropertyPut:
      return "put";
    case MemberKind::kPropertyPutRef:
      return "putref";
  }
  return "method";
}

json Describe(const ClassDesc& cls) {
  json members = json::array();
  for (const MemberDesc& m : cls.default_interface->members) {
    json params = json::array();
    for (size_t i = 0; i < m.ArgumentCount(); ++i) {
      const ParamDesc& p = m.params[i];
      params.push_back({{"name", p.name},
                        {"type", ParamTypeOf(p.type).wire},
                        {"byref", p.by_ref},
                        {"direction", p.direction == ParamDirection::kInOut ? "inout" : "in"}});
    }
    const ParamDesc* r = m.Result();
    members.push_back({{"name", m.name},
                       {"dispid", m.dispid},
                       {"kind", KindName(m.kind)},
                       {"params", std::move(params)},
                       {"result", r ? json(r->name) : json(nullptr)},
                       {"hidden", m.hidden}});
  }
  json described = {{"progid", cls.ProgId()},
                    {"clsid", cls.clsid.ToRegistryString()},
                    {"interface", cls.default_interface->name},
                    {"iid", cls.default_interface->iid.ToRegistryString()},
                    {"members", std::move(members)}};
  if (cls.default_source) {
    json events = json::array();
    for (const MemberDesc& m : cls.default_source->members) {
      json params = json::array();
      for (const ParamDesc& p : m.params)
        params.push_back({{"name", p.name}, {"type", ParamTypeOf(p.type).wire}, {"byref", p.by_ref}});
      events.push_back({{"name", m.name}, {"dispid", m.dispid}, {"params", std::move(params)}});
    }
    described["events"] = std::move(events);
  }
  return described;
}

// Builds the tree of a message as nlohmann's own parser does, and stops the parse at the first
// container that nests too deep. Depth 1 is the outermost value. The requests are at depth 1, or
// at depth 2 inside a batch; a request's "args" member starts a stretch of kMaxValueNesting more
// levels for its values.
class BoundedReader {
 public:
  explicit BoundedReader(json& root) : dom_(root, /*allow_exceptions=*/false) {}

  bool null() { return dom_.null(); }
  bool boolean(bool v) { return dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
  bool number_float(json::number_float_t v, const json::string_t& s) { return dom_.number_float(v, s); }
  bool string(json::string_t& v) { return dom_.string(v); }
  bool binary(json::binary_t& v) { return dom_.binary(v); }
  bool start_object(std::size_t n) { return Enter(false) && dom_.start_object(n); }
  bool end_object() { return Leave() && dom_.end_object(); }
  bool start_array(std::size_t n) { return Enter(true) && dom_.start_array(n); }
  bool end_array() { return Leave() && dom_.end_array(); }
  bool key(json::string_t& k) {
    args_next_ = depth_ == request_depth_ && args_depth_ == 0 && k == "args";
    return dom_.key(k);
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    // The parser's message quotes the bad bytes, which need not be UTF-8.
    error_ = std::string("not JSON (") + e.what() + ")";
    return false;
  }

  const std::string& Error() const noexcept { return error_; }

 private:
  bool Enter(bool array) {
    ++depth_;
    if (depth_ == 1) request_depth_ = array ? 2 : 1;
    if (args_next_ && depth_ == request_depth_ + 1) args_depth_ = depth_;
    args_next_ = false;
    const int limit = args_depth_ ? args_depth_ + kMaxValueNesting : kMaxRequestNesting;
    if (depth_ <= limit) return true;
    error_ = args_depth_ ? "an argument value nests deeper than " + std::to_string(kMaxValueNesting) + " levels"
                         : "the request nests deeper than " + std::to_string(kMaxRequestNesting) + " levels";
    return false;
  }
  bool Leave() {
    if (depth_ == args_depth_) args_depth_ = 0;
    --depth_;
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<json> dom_;
  int depth_ = 0;
  int request_depth_ = 1;
  int args_depth_ = 0;  // the depth of the "args" array being read, or 0
  bool args_next_ = false;
  std::string error_;
};

json Failure(const json& id, int32_t code, const std::string& description) {
  json e = {{"code", code}};
  if (!description.empty()) e["description"] = description;
  return {{"id", id}, {"ok", false}, {"error", std::move(e)}};
}

std::span<const CatalogEntry> g_default_extra_classes;

int64_t MonotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Session::Session(size_t max_objects, std::span<const CatalogEntry> extra_classes, EventQueue::Clock clock)
    : max_objects_(max_objects),
      extra_classes_(extra_classes.empty() ? g_default_extra_classes : extra_classes),
      events_(clock ? std::move(clock) : EventQueue::Clock(&MonotonicMicros), kEventTimeoutMicros, kMaxSessionEvents) {}

Session::~Session() { ReleaseAll(); }

void SetDefaultExtraClasses(std::span<const CatalogEntry> classes) { g_default_extra_classes = classes; }

void Session::ReleaseAll() {
  events_.FinishAll();
  for (auto& [handle, obj] : objects_) events_.Disconnect(handle, *obj);
  objects_.clear();
}

const ClassDesc& Session::ClassFor(const json& request) const {
  if (auto p = request.find("progid"); p != request.end()) {
    if (!p->is_string()) throw WireError("\"progid\" must be a string");
    const std::string& progid = p->get_ref<const std::string&>();
    for (const CatalogEntry& e : extra_classes_) {
      if (EqualsIgnoringAsciiCase(e.cls->ProgId(), progid)) return *e.cls;
    }
    if (const ClassDesc* c = FindClassByProgId(progid)) return *c;
    throw WireError("no class is registered as \"" + progid + "\"");
  }
  if (auto c = request.find("clsid"); c != request.end()) {
    if (!c->is_string()) throw WireError("\"clsid\" must be a string");
    auto guid = Guid::Parse(c->get<std::string>());
    if (!guid) throw WireError("\"clsid\" is not a GUID");
    for (const CatalogEntry& e : extra_classes_) {
      if (e.cls->clsid == *guid) return *e.cls;
    }
    if (const ClassDesc* cls = FindClassByClsid(*guid)) return *cls;
    throw WireError("no class is registered as " + c->get<std::string>());
  }
  throw WireError("\"progid\" or \"clsid\" is needed");
}

std::shared_ptr<AutomationObject> Session::ObjectFor(const json& request) {
  auto it = request.find("object");
  if (it == request.end() || !it->is_number_integer()) throw WireError("\"object\" must be an object number");
  auto found = objects_.find(it->get<int64_t>());
  if (found == objects_.end()) throw WireError("no object " + std::to_string(it->get<int64_t>()) + " in this session");
  return found->second;
}

json Session::OpCreate(const Request& r) {
  const ClassDesc* cls = nullptr;
  try {
    cls = &ClassFor(r.request);
  } catch (const WireError& e) {
    if (r.request.contains("progid") || r.request.contains("clsid"))
      return Failure(r.id, kREGDB_E_CLASSNOTREG, e.what());
    throw;
  }
  if (objects_.size() >= max_objects_)
    return Failure(r.id, kE_FAIL, "too many objects in this session (at most " + std::to_string(max_objects_) + ")");
  std::shared_ptr<AutomationObject> obj;
  for (const CatalogEntry& e : extra_classes_) {
    if (e.cls == cls) obj = e.create();
  }
  if (!obj) obj = CreateObject(*cls);
  if (!obj) return Failure(r.id, kREGDB_E_CLASSNOTREG, std::string("No implementation for class ") + cls->impl_name);
  int64_t handle = next_id_++;
  events_.Connect(handle, *obj);
  objects_.emplace(handle, std::move(obj));
  return {{"id", r.id}, {"ok", true}, {"object", handle}};
}

json Session::OpRelease(const Request& r) {
  std::shared_ptr<AutomationObject> obj = ObjectFor(r.request);
  int64_t handle = r.request["object"].get<int64_t>();
  events_.Disconnect(handle, *obj);
  objects_.erase(handle);
  return {{"id", r.id}, {"ok", true}};
}

json Session::OpDescribe(const Request& r) {
  const ClassDesc& cls = r.request.contains("object") ? ObjectFor(r.request)->Class() : ClassFor(r.request);
  return {{"id", r.id}, {"ok", true}, {"value", Describe(cls)}};
}

json Session::OpNames(const Request& r) {
  std::shared_ptr<AutomationObject> held = ObjectFor(r.request);
  auto n = r.request.find("names");
  if (n == r.request.end() || !n->is_array()) throw WireError("\"names\" must be an array of strings");
  std::vector<std::string> names;
  for (const auto& e : *n) {
    if (!e.is_string()) throw WireError("\"names\" must be an array of strings");
    names.push_back(e.get<std::string>());
  }
  std::vector<int32_t> dispids;
  int32_t status = GetIDsOfNames(held->Class(), names, dispids);
  json answer = {{"id", r.id}, {"ok", status == kS_OK}, {"dispids", dispids}};
  if (status != kS_OK) answer["error"] = {{"code", status}};
  return answer;
}

// Whether the object answers an interface, and its IObjectSafety and ISupportErrorInfo answers
// for that interface id.
json Session::OpQuery(const Request& r) {
  std::shared_ptr<AutomationObject> held = ObjectFor(r.request);
  const ClassDesc& cls = held->Class();
  auto iid_it = r.request.find("iid");
  if (iid_it == r.request.end() || !iid_it->is_string()) throw WireError("\"iid\" must be a GUID string");
  auto iid = Guid::Parse(iid_it->get<std::string>());
  if (!iid) throw WireError("\"iid\" is not a GUID");
  json answer = {{"id", r.id},
                 {"ok", true},
                 {"value", ObjectHasInterface(cls, *iid)},
                 {"supportsErrorInfo", InterfaceSupportsErrorInfo(cls, *iid)}};
  if (cls.object_safety) {
    uint32_t supported = 0, enabled = 0;
    int32_t st = GetInterfaceSafetyOptions(cls, *iid, &supported, &enabled);
    answer["safety"] = {{"code", st}, {"supported", supported}, {"enabled", enabled}};
  }
  return answer;
}

json Session::OpCall(const Request& r) {
  std::shared_ptr<AutomationObject> held = ObjectFor(r.request);
  AutomationObject& obj = *held;
  int32_t dispid;
  if (auto d = r.request.find("dispid"); d != r.request.end()) {
    if (!d->is_number_integer()) throw WireError("\"dispid\" must be an integer");
    dispid = d->get<int32_t>();
  } else if (auto nm = r.request.find("name"); nm != r.request.end() && nm->is_string()) {
    std::vector<std::string> names{nm->get<std::string>()};
    std::vector<int32_t> ids;
    if (GetIDsOfNames(obj.Class(), names, ids) != kS_OK) return Failure(r.id, kDISP_E_UNKNOWNNAME, "");
    dispid = ids[0];
  } else {
    throw WireError("\"name\" or \"dispid\" is needed");
  }
  MemberKind kind = KindFromJson(r.request);
  std::vector<Variant> args;
  if (auto a = r.request.find("args"); a != r.request.end()) {
    if (!a->is_array()) throw WireError("\"args\" must be an array");
    for (const auto& e : *a) args.push_back(ValueFromJson(e));
  }
  Variant result;
  CallOutcome outcome = Invoke(obj, dispid, kind, args, result);
  if (outcome.status != kS_OK) {
    json e = {{"code", outcome.status}};
    if (outcome.error) {
      e["description"] = WideToStandardUtf8(outcome.error->description);
      e["source"] = WideToStandardUtf8(outcome.error->source);
    }
    if (outcome.status == kDISP_E_TYPEMISMATCH) e["argError"] = outcome.arg_error;
    return {{"id", r.id}, {"ok", false}, {"error", std::move(e)}};
  }
  const bool as_text = r.text_value && result.Type() == VarType::OleStr && !result.IsByRef();
  json answer = {{"id", r.id}, {"ok", true}, {"value", as_text ? json(nullptr) : ValueToJson(result)}};
  if (as_text) *r.text_value = std::move(result);
  const MemberDesc* m = FindMember(obj.Class(), dispid, kind);
  json outs = json::array();
  for (size_t i = 0; m && i < m->ArgumentCount(); ++i) {
    if (m->params[i].direction == ParamDirection::kInOut)
      outs.push_back({{"index", i}, {"name", m->params[i].name}, {"value", ValueToJson(args[i])}});
  }
  if (!outs.empty()) answer["outs"] = std::move(outs);
  return answer;
}

// The events op answers nothing of its own: HandleOne adds the queued events to every answer.
json Session::OpEvents(const Request& r) { return {{"id", r.id}, {"ok", true}, {"events", json::array()}}; }

json Session::OpEventResult(const Request& r) {
  auto e = r.request.find("event");
  if (e == r.request.end() || !e->is_number_integer()) throw WireError("\"event\" must be an event number");
  auto a = r.request.find("args");
  events_.Answer(e->get<int64_t>(), a == r.request.end() ? nullptr : &*a);
  return {{"id", r.id}, {"ok", true}};
}

// One entry per op: its name in the request and the member that answers it.
const Session::OpEntry Session::kOps[] = {
    {"create", &Session::OpCreate},   {"release", &Session::OpRelease}, {"describe", &Session::OpDescribe},
    {"names", &Session::OpNames},     {"query", &Session::OpQuery},     {"call", &Session::OpCall},
    {"events", &Session::OpEvents},   {"eventResult", &Session::OpEventResult},
};

json Session::HandleOne(const json& request, Variant* text_value) {
  events_.Expire();
  json id = nullptr;
  json answer = HandleOp(request, id, text_value);
  // Events raised before or during the request go out with its answer.
  if (events_.HasUndelivered()) {
    json& events = answer["events"];
    if (!events.is_array()) events = json::array();
    events_.TakeUndelivered(events);
  }
  return answer;
}

json Session::HandleOp(const json& request, json& id, Variant* text_value) {
  try {
    if (!request.is_object()) throw WireError("a request must be a JSON object");
    if (auto i = request.find("id"); i != request.end()) id = *i;
    auto op_it = request.find("op");
    if (op_it == request.end() || !op_it->is_string()) throw WireError("\"op\" is missing");
    const std::string& op = op_it->get_ref<const std::string&>();
    for (const OpEntry& entry : kOps) {
      if (op == entry.name) return (this->*entry.run)(Request{request, id, text_value});
    }
    throw WireError("unknown op \"" + op + "\"");
  } catch (const WireError& e) {
    return Failure(id, kE_INVALIDARG, std::string("Bad request: ") + e.what());
  } catch (const std::exception& e) {
    return Failure(id, kE_UNEXPECTED, std::string("Bad request: ") + e.what());
  }
}

json Session::Handle(const json& request) {
  if (request.is_array()) {
    json answers = json::array();
    for (const auto& r : request) answers.push_back(HandleOne(r));
    return answers;
  }
  return HandleOne(request);
}

void Session::AppendAnswer(const json& request, std::string& out, std::string* raw, size_t min_raw,
                           PieceSink* pieces) {
  Variant text;
  json answer;
  {
    const size_t before = pieces ? pieces->Written() : 0;
    ScopedResultStreamOffer offer(pieces);
    answer = HandleOne(request, &text);
    if (pieces && pieces->Written() != before && text.Type() == VarType::OleStr) {
      auto ok = answer.find("ok");
      if (ok != answer.end() && *ok == true) answer["streamed"] = pieces->Written() - before;
    }
  }
  if (text.Type() == VarType::OleStr && raw && text.WideText().size() >= min_raw) {
    size_t before = raw->size();
    *raw += WideToStandardUtf8(text.WideText());
    text = Variant();
    answer["rawLength"] = raw->size() - before;
  }
  if (text.Type() != VarType::OleStr) {
    AppendWire(answer, out);
    return;
  }
  // The answer's members in their order, its "value" from the text.
  out += '{';
  for (auto it = answer.begin(); it != answer.end(); ++it) {
    if (it != answer.begin()) out += ',';
    AppendJsonString(it.key(), out);
    out += ':';
    if (it.key() == "value") {
      AppendWireString(text.WideText(), out);
    } else {
      AppendWire(it.value(), out);
    }
  }
  out += '}';
}

std::string Session::AnswerText(const json& request) {
  std::string unused;
  return AnswerParts(request, SIZE_MAX, unused);
}

std::string Session::AnswerParts(const json& request, size_t min_raw, std::string& raw, PieceSink* pieces) {
  std::string* long_texts = min_raw == SIZE_MAX ? nullptr : &raw;
  std::string out;
  if (!request.is_array()) {
    AppendAnswer(request, out, long_texts, min_raw, pieces);
    return out;
  }
  // Each answer is written as soon as it is made; no answer depends on the text of another.
  out += '[';
  for (size_t i = 0; i < request.size(); ++i) {
    if (i) out += ',';
    AppendAnswer(request[i], out, long_texts, min_raw, i + 1 == request.size() ? pieces : nullptr);
  }
  out += ']';
  return out;
}

std::string Session::HandleText(std::string_view text) {
  json request;
  try {
    request = ParseMessage(text);
  } catch (const WireError& e) {
    return Failure(nullptr, kE_INVALIDARG, std::string("Bad request: ") + e.what())
        .dump(-1, ' ', false, json::error_handler_t::replace);  // a short answer
  }
  return AnswerText(request);
}

json ParseMessage(std::string_view text) {
  json root;
  BoundedReader reader(root);
  if (!json::sax_parse(text, &reader)) {
    throw WireError(reader.Error().empty() ? std::string("not JSON") : reader.Error());
  }
  return root;
}

}  // namespace zentrak::host

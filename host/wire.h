// The wire protocol of zentrak-host: one JSON request in, one JSON answer out. The same
// messages travel over standard input and output (--stdio) and over loopback HTTP; docs/protocol.md
// describes them for pages, the JavaScript client and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "automation/automation_object.h"
#include "automation/variant.h"
#include "host/wire_text.h"
#include "host/wire_values.h"

namespace zentrak::host {

// How deep a message may nest: the request itself (a batch, its requests and their members, such
// as an "id"), and each argument value inside a request's "args", whose bound is the JSON
// library's. Anything deeper is refused while it is read, before any recursive code sees it.
constexpr int kMaxRequestNesting = 64;
constexpr int kMaxValueNesting = 1000;

// Reads the text of one message: a request or a batch. Throws WireError when the text is not
// JSON (a number out of the double range included) or nests deeper than the bounds above.
nlohmann::ordered_json ParseMessage(std::string_view text);

// The objects of one page load (or of one --stdio run). Releasing the session releases every
// object; a LocalDB then closes its database.
class Session {
 public:
  explicit Session(size_t max_objects = 256) : max_objects_(max_objects) {}

  // Answers one request. Never throws for bad input: every failure is an "ok":false answer.
  nlohmann::ordered_json Handle(const nlohmann::ordered_json& request);
  // The text of the answer to a request (one, or a batch): exactly WireText(Handle(request)),
  // but a call's text result goes from its UTF-16 form straight into the answer text.
  std::string AnswerText(const nlohmann::ordered_json& request);
  // Parses and answers one line of text.
  std::string HandleText(std::string_view text);

  size_t ObjectCount() const noexcept { return objects_.size(); }
  void ReleaseAll() { objects_.clear(); }

 private:
  // With text_value, a successful call's result that is text (OleStr, not by reference) is
  // moved there instead, and the answer's "value" is left null for the caller to write.
  nlohmann::ordered_json HandleOne(const nlohmann::ordered_json& request, Variant* text_value = nullptr);
  void AppendAnswer(const nlohmann::ordered_json& request, std::string& out);
  std::shared_ptr<AutomationObject> ObjectFor(const nlohmann::ordered_json& request);

  // What an op is given: the request, its id, and where a text result may be moved (see
  // HandleOne).
  struct Request {
    const nlohmann::ordered_json& request;
    const nlohmann::ordered_json& id;
    Variant* text_value;
  };
  // An op answers its request or throws WireError (answered as a bad request).
  using Op = nlohmann::ordered_json (Session::*)(const Request&);
  struct OpEntry {
    const char* name;
    Op run;
  };
  static const OpEntry kOps[];

  nlohmann::ordered_json OpCreate(const Request& r);
  nlohmann::ordered_json OpRelease(const Request& r);
  nlohmann::ordered_json OpDescribe(const Request& r);
  nlohmann::ordered_json OpNames(const Request& r);
  nlohmann::ordered_json OpQuery(const Request& r);
  nlohmann::ordered_json OpCall(const Request& r);

  size_t max_objects_;
  int64_t next_id_ = 1;
  // Shared so that a call keeps its object alive while a nested main loop (a modal dialog)
  // serves a request that releases it, or the whole session.
  std::map<int64_t, std::shared_ptr<AutomationObject>> objects_;
};

}  // namespace zentrak::host

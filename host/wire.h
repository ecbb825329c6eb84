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

namespace zentrak::host {

// A malformed request or value. Answered with code kE_INVALIDARG and the message.
class WireError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr int32_t kE_INVALIDARG = static_cast<int32_t>(0x80070057u);

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

  size_t max_objects_;
  int64_t next_id_ = 1;
  // Shared so that a call keeps its object alive while a nested main loop (a modal dialog)
  // serves a request that releases it, or the whole session.
  std::map<int64_t, std::shared_ptr<AutomationObject>> objects_;
};

// The text of an answer: compact JSON, as nlohmann's dump writes it, with strings escaped in one
// fast pass. In a string that is not valid UTF-8, each byte that does not start a well-formed
// sequence becomes one U+FFFD (the library's replacement can take a cut sequence as one).
std::string WireText(const nlohmann::ordered_json& answer);

// Appends text as a JSON string of the wire: exactly what WireText writes for the string value
// WideToStandardUtf8(text) (a surrogate pair as one four-byte sequence, a lone surrogate as
// U+FFFD), written in one pass from the UTF-16 form.
void AppendWireString(std::u16string_view text, std::string& out);

// Values: JSON to Variant and back.
Variant ValueFromJson(const nlohmann::ordered_json& value);
nlohmann::ordered_json ValueToJson(const Variant& value);

}  // namespace zentrak::host

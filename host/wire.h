// The wire protocol of zentrak-host: one JSON request in, one JSON answer out. The same
// messages travel over standard input and output (--stdio) and over loopback HTTP; docs/protocol.md
// describes them for pages, the JavaScript client and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "automation/automation_object.h"
#include "automation/variant.h"
#include "catalog/catalog.h"
#include "common/result_stream.h"
#include "host/wire_events.h"
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

// How long an object waits for the page's answer to an event, and how many events a session
// holds.
constexpr int64_t kEventTimeoutMicros = 10'000'000;
constexpr size_t kMaxSessionEvents = 1024;

// Where the long result of a call may go in pieces while the call runs (see
// common/result_stream.h): a channel to the client sends them as they come. Counts the bytes.
class PieceSink : public ResultStream {
 public:
  void Write(std::string_view utf8) final {
    written_ += utf8.size();
    Send(utf8);
  }
  size_t Written() const noexcept { return written_; }

 protected:
  virtual void Send(std::string_view utf8) = 0;

 private:
  size_t written_ = 0;
};

// The objects of one page load (or of one --stdio run). Releasing the session releases every
// object; a LocalDB then closes its database. The objects' events are queued for the page and
// go out with the session's answers (see docs/protocol.md).
class Session {
 public:
  // extra_classes are served besides the catalog's, found first (tests add classes of their
  // own); when none are given, those of SetDefaultExtraClasses. clock, in microseconds, times
  // the events' time-out; by default the monotonic clock.
  explicit Session(size_t max_objects = 256, std::span<const CatalogEntry> extra_classes = {},
                   EventQueue::Clock clock = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Answers one request. Never throws for bad input: every failure is an "ok":false answer.
  nlohmann::ordered_json Handle(const nlohmann::ordered_json& request);
  // The text of the answer to a request (one, or a batch): exactly WireText(Handle(request)),
  // but a call's text result goes from its UTF-16 form straight into the answer text.
  std::string AnswerText(const nlohmann::ordered_json& request);
  // The same answer with its long texts apart, so that a client need not decode a JSON string
  // around them: a call's text result of at least min_raw UTF-16 units is appended to `raw` as
  // standard UTF-8, and its answer in the returned text has "value": null and "rawLength": the
  // number of bytes it took in `raw`. The long texts follow one another in the order of their
  // answers.
  // With `pieces`, the last request (or the only one) may send the end of its text result
  // there while it runs: its answer then has "streamed": the number of bytes sent, and its
  // value is the text's beginning, to which the pieces belong in order. A failed answer has no
  // "streamed", and its pieces are void.
  std::string AnswerParts(const nlohmann::ordered_json& request, size_t min_raw, std::string& raw,
                          PieceSink* pieces = nullptr);
  // Parses (ParseMessage) and answers one line of text; text that cannot be read gets an
  // E_INVALIDARG answer.
  std::string HandleText(std::string_view text);

  size_t ObjectCount() const noexcept { return objects_.size(); }
  // Finishes the events still waiting for the page (their objects see the arguments unchanged),
  // then releases every object.
  void ReleaseAll();

 private:
  // With text_value, a successful call's result that is text (OleStr, not by reference) is
  // moved there instead, and the answer's "value" is left null for the caller to write.
  nlohmann::ordered_json HandleOne(const nlohmann::ordered_json& request, Variant* text_value = nullptr);
  void AppendAnswer(const nlohmann::ordered_json& request, std::string& out, std::string* raw = nullptr,
                    size_t min_raw = 0, PieceSink* pieces = nullptr);
  std::shared_ptr<AutomationObject> ObjectFor(const nlohmann::ordered_json& request);
  const ClassDesc& ClassFor(const nlohmann::ordered_json& request) const;
  nlohmann::ordered_json HandleOp(const nlohmann::ordered_json& request, nlohmann::ordered_json& id,
                                  Variant* text_value);

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
  nlohmann::ordered_json OpEvents(const Request& r);
  nlohmann::ordered_json OpEventResult(const Request& r);

  size_t max_objects_;
  std::span<const CatalogEntry> extra_classes_;
  EventQueue events_;
  int64_t next_id_ = 1;
  // Shared so that a call keeps its object alive while a nested main loop (a modal dialog)
  // serves a request that releases it, or the whole session.
  std::map<int64_t, std::shared_ptr<AutomationObject>> objects_;
};

// Classes every Session made afterwards serves besides the catalog's, unless it is given its own:
// the host's test classes, for the browser tests (--test-classes). The span must outlive them.
void SetDefaultExtraClasses(std::span<const CatalogEntry> classes);

}  // namespace zentrak::host

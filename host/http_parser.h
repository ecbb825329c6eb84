// HTTP/1.1 messages without I/O: the request a connection hands its owner, the answer it is given,
// and the parser of a request's head (request line and headers). The parser is strict: anything
// it cannot read without guessing is refused with a status and a description, so that the host
// and any proxy in front of it never disagree on where a request ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentrak::host {

// The longest request line and headers accepted, in bytes; longer heads are refused with 431.
constexpr size_t kMaxHeadBytes = 64 * 1024;

struct HttpRequest {
  std::string method;  // as sent: methods are case-sensitive
  std::string path;    // the target's path, still percent-encoded
  std::string query;   // after '?', without it
  int minor_version = 1;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;

  // The value of a header named in lower case, or null. A header sent more than once has its
  // values joined with ", ".
  const std::string* Header(std::string_view lower_name) const;
  // The percent-decoded value of `key` in the query, or empty.
  std::string QueryValue(std::string_view key) const;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // A body the response does not own (the embedded web files); used when set.
  std::string_view static_body;
  bool close = false;  // end the connection after this answer
  // A 101 answer to a WebSocket handshake: it goes out without a Content-Length, and the
  // connection carries WebSocket frames after it.
  bool websocket = false;

  // Sets a header, replacing one of the same name (compared without regard to ASCII case).
  void Set(std::string_view name, std::string value);
  void SetBody(std::string content_type, std::string text);
};

// The text of a status code.
const char* ReasonPhrase(int status);

// Whether a comma-separated header value holds `token`, without regard to ASCII case. Null
// holds nothing.
bool HeaderHasToken(const std::string* value, std::string_view token);

// What the parser made of the bytes at the front of a connection's input.
struct HeadParse {
  enum class Outcome {
    kIncomplete,  // no whole head yet: read more and call again
    kComplete,    // `request` holds the head; the body follows `consumed` bytes in
    kRefused,     // the head cannot be read: answer `status` and end the connection
  };
  Outcome outcome = Outcome::kIncomplete;
  size_t consumed = 0;       // bytes of the head, with empty lines before it and the blank line after
  int status = 0;            // kRefused: 400, 431 or 505
  std::string description;   // kRefused: why, for the answer's body
  size_t body_length = 0;    // from Content-Length; 0 without one
  bool chunked = false;      // a Transfer-Encoding was sent (it never comes with a Content-Length)
  bool keep_alive = true;    // the connection may serve another request after this one
  bool head_only = false;    // a HEAD request: its answer has no body
};

// Reads request heads one after another from a connection's input. It remembers how far it has
// looked for the end of a head, so bytes arriving a few at a time are not scanned again and again.
class HttpHeadParser {
 public:
  // Looks at `input`, the connection's unconsumed bytes. On kComplete, `request` is replaced by
  // the parsed head (with no body) and the caller drops `consumed` bytes before the next call.
  // On kIncomplete nothing is to be dropped, and the next call must see the same bytes with
  // more after them. On kRefused `request` is left in an unspecified state.
  HeadParse Parse(std::string_view input, HttpRequest& request);

  // Forgets a partly scanned head (the input was discarded).
  void Reset() noexcept { scanned_ = 0; }

 private:
  size_t scanned_ = 0;  // bytes of input known to hold no end of head and no bare LF
};

}  // namespace zentrak::host

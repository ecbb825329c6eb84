// libFuzzer target: any bytes as the front of a connection, through the request-head parser.
// The same bytes arriving in two pieces must be read exactly as when they arrive at once, and
// every request it completes must hold together (its lengths within the input, its fields
// readable).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/http_parser.h"

using zentrak::host::HeadParse;
using zentrak::host::HttpHeadParser;
using zentrak::host::HttpRequest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte says where the input splits; the rest is the input.
  size_t split = data[0];
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (split > input.size()) split = input.size();

  HttpHeadParser whole;
  HttpRequest a;
  HeadParse at_once = whole.Parse(input, a);

  HttpHeadParser pieces;
  HttpRequest b;
  HeadParse first = pieces.Parse(input.substr(0, split), b);
  HeadParse in_two = first.outcome == HeadParse::Outcome::kIncomplete ? pieces.Parse(input, b) : first;

  // A piece that completed or refused on its own was the same in the whole input, unless a
  // request's head ended inside the first piece: then the two agree on it.
  if (in_two.outcome != at_once.outcome || in_two.status != at_once.status || in_two.consumed != at_once.consumed)
    std::abort();
  if (at_once.outcome == HeadParse::Outcome::kComplete) {
    if (at_once.consumed > input.size() || a.method != b.method || a.path != b.path || a.query != b.query ||
        a.headers != b.headers || at_once.body_length != in_two.body_length)
      std::abort();
    if (a.method.empty() || a.path.empty()) std::abort();
    (void)a.QueryValue("session");
    (void)zentrak::host::HeaderHasToken(a.Header("connection"), "close");
    // The next request in a pipeline starts right after this one's body.
    if (at_once.body_length < input.size() - at_once.consumed) {
      HttpRequest next;
      (void)whole.Parse(input.substr(at_once.consumed + at_once.body_length), next);
    }
  }
  return 0;
}

// libFuzzer target: any bytes as the frames a client sends after the handshake, through the
// WebSocket decoder. Bytes arriving in two pieces must give exactly the events they give at
// once, and no event may take more bytes than there are.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/websocket.h"

using zentrak::host::WsDecoder;
using zentrak::host::WsEvent;

namespace {

// Every event of input, `split` bytes arriving first and the rest after.
std::vector<WsEvent> Decode(std::string_view input, size_t split) {
  WsDecoder decoder(4096);
  std::vector<WsEvent> events;
  std::string buffer;
  for (std::string_view piece : {input.substr(0, split), input.substr(split)}) {
    buffer.append(piece);
    for (;;) {
      size_t consumed = 0;
      WsEvent e = decoder.Next(buffer, consumed);
      if (consumed > buffer.size()) std::abort();
      buffer.erase(0, consumed);
      if (e.kind == WsEvent::Kind::kNeedMore) {
        if (consumed) continue;
        break;
      }
      events.push_back(std::move(e));
      if (events.back().kind == WsEvent::Kind::kError) return events;
    }
  }
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t split = data[0];
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (split > input.size()) split = input.size();
  std::vector<WsEvent> whole = Decode(input, input.size());
  std::vector<WsEvent> pieces = Decode(input, split);
  if (whole.size() != pieces.size()) std::abort();
  for (size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].kind != pieces[i].kind || whole[i].code != pieces[i].code || whole[i].payload != pieces[i].payload)
      std::abort();
  }
  return 0;
}

// HTTP/1.1 on the GLib main loop: listening sockets, and connections that read requests and
// write answers. Each connection keeps one poll source for its whole life, so a request and its
// answer cost one wake-up, one read and one write; answers go out in order, one request at a
// time, and a request may be answered later (the connection waits meanwhile). The bytes of a
// head are read by HttpHeadParser; what requests mean is the owner's business (HttpServer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/http_parser.h"
#include "host/websocket.h"

typedef struct _GSource GSource;

namespace zentrak::host {

class HttpConnection;

// What a connection may take of the host. Times are microseconds of g_get_monotonic_time.
struct ConnectionLimits {
  size_t max_body = 64u << 20;         // larger bodies are refused with 413
  int64_t head_micros = 10'000'000;    // from the first byte of a head to its blank line
  int64_t body_micros = 30'000'000;    // without a byte of a body arriving
  int64_t write_micros = 30'000'000;   // without a byte of an answer going out
  // Bytes of answers held for their clients, summed over every connection that shares this
  // counter: a connection adds its answer's body when it queues it, and takes it off when the
  // body is sent or dropped. Null: not counted.
  size_t* unsent_bytes = nullptr;
};

// What a connection asks of its owner.
class HttpConnectionOwner {
 public:
  virtual ~HttpConnectionOwner() = default;
  // After the headers, before the body is read: a response refuses the request, and its body
  // is never kept. The connection itself refuses bodies without a Content-Length and bodies
  // larger than max_body, after the screen.
  virtual std::optional<HttpResponse> Screen(const HttpConnection& connection, const HttpRequest& head) = 0;
  // The answer to a request refused for its framing or size; description says why.
  virtual HttpResponse Malformed(int status, const std::string& description) = 0;
  // The same, for a request whose head was read and passed the screen but whose body is
  // refused: the owner adds what every answer to that head carries (an approved page's CORS
  // headers, so that the page can read why it was refused).
  virtual HttpResponse BodyRefused(const HttpRequest& head, int status, const std::string& description) = 0;
  // A whole request. The owner answers with connection.Answer(), now or later.
  virtual void Handle(HttpConnection& connection, HttpRequest request) = 0;
  // The connection has ended (the peer left, an error, or the owner closed it). It is
  // destroyed after this returns, at a safe moment.
  virtual void Ended(HttpConnection& connection) = 0;
  // A whole text message on a connection that a websocket answer upgraded. The owner answers
  // with connection.SendMessage() before it returns; messages are handed over one at a time,
  // in the order they came.
  virtual void Message(HttpConnection& connection, std::string text) = 0;
};

class HttpConnection {
 public:
  HttpConnection(int fd, uint64_t id, HttpConnectionOwner& owner, const ConnectionLimits& limits);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  uint64_t Id() const noexcept { return id_; }
  // Answers the request the owner was handed; the next request is read after it.
  void Answer(HttpResponse response);
  // Answers `response` at once, before any request is read, and ends the connection after it.
  // REQUIRES: nothing has been read yet (called right after construction).
  void Reject(HttpResponse response);
  // Ends the connection (the owner's Ended follows).
  void Close();
  // Sends one WebSocket message made of `parts` (joined without copying), as a text or binary
  // frame. REQUIRES: the connection was upgraded.
  void SendMessage(WsOpcode opcode, std::vector<std::string> parts);
  bool IsWebSocket() const noexcept { return ws_ != nullptr; }
  bool Ended() const noexcept { return state_ == State::kEnded; }
  // Whether a dispatch of this connection is on the stack (its handler may run a nested loop).
  bool Busy() const noexcept { return depth_ > 0; }
  // Whether the connection has waited for a request, with nothing in flight, since `before`
  // (microseconds of g_get_monotonic_time).
  bool IdleSince(int64_t before) const noexcept;
  // Whether the peer has stalled past a limit at `now`: a head not whole in time, a body or an
  // answer without progress. The owner closes such a connection.
  bool Overdue(int64_t now) const noexcept;

 private:
  // kWebSocket: upgraded; frames are read and written until either side closes.
  enum class State { kHead, kBody, kHandling, kWriting, kDraining, kWebSocket, kEnded };
  struct Source;

  static int Dispatch(GSource* source, int (*)(void*), void* data);
  void OnReady(unsigned condition);
  void ReadSome();
  // One read from the socket, appended to in_ when `keep`. kMore: a whole chunk came and more
  // may be waiting; kAll: nothing more for now, or the peer has finished (peer_done_); kFailed:
  // the connection failed and is finished.
  enum class Received { kMore, kAll, kFailed };
  Received ReceiveChunk(bool keep);
  void Parse();
  void Refuse(int status, const std::string& description);
  void Queue(HttpResponse response, bool head_only);
  void Flush();
  void Watch(unsigned condition);
  void Finish();
  void Uncount();
  void WsReady(unsigned condition);
  void WsRead();
  void WsProcess();
  void WsFlush();
  void WsQueue(std::string bytes);
  void WsCloseWith(uint16_t code, std::string_view reason);
  void WsWatch();
  void Drain();

  int fd_;
  uint64_t id_;
  HttpConnectionOwner& owner_;
  ConnectionLimits limits_;
  GSource* source_ = nullptr;
  void* tag_ = nullptr;
  unsigned watching_ = 0;
  State state_ = State::kHead;
  int depth_ = 0;           // dispatches in progress (a nested main loop may dispatch again)
  bool peer_done_ = false;  // the peer will send nothing more
  std::string in_;          // bytes read and not yet consumed
  HttpHeadParser parser_;
  HttpRequest request_;
  size_t body_length_ = 0;
  size_t skip_ = 0;         // bytes of a refused body still to drop
  bool head_only_ = false;  // the request in hand is a HEAD
  bool keep_alive_ = true;
  int minor_version_ = 1;
  std::string out_head_;
  std::string out_body_;
  std::string_view out_view_;  // the body to send: out_body_ or a static one
  size_t sent_ = 0;            // bytes of head and body sent
  bool close_after_ = false;
  int64_t last_active_ = 0;
  int64_t head_started_ = 0;   // when the first byte of the head being read arrived; 0: none yet
  int64_t last_progress_ = 0;  // when the last byte of a body arrived or of an answer went out
  size_t counted_ = 0;         // bytes this connection adds to limits_.unsent_bytes
  unsigned drain_timer_ = 0;
  // After the upgrade: the frame decoder, the bytes waiting to go out (the first piece partly
  // sent, ws_sent_ bytes of it; counted_ holds what is left in all), and whether a close frame
  // has been queued (nothing more is read or handled after it).
  std::unique_ptr<WsDecoder> ws_;
  std::deque<std::string> ws_out_;
  size_t ws_sent_ = 0;
  bool ws_closing_ = false;
  bool upgrade_after_ = false;  // the answer being written is a 101: switch when it is out
};

// Listening sockets on the loopback addresses; each accepted socket goes to on_accept.
class HttpListener {
 public:
  explicit HttpListener(std::function<void(int fd)> on_accept) : on_accept_(std::move(on_accept)) {}
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // 127.0.0.1 and ::1 at `port` (a free one, the same for both, for 0); 127.0.0.1 alone when
  // the machine has no IPv6 loopback. False, with error set, when that is not possible.
  bool Listen(uint16_t port, std::string& error);
  uint16_t Port() const noexcept { return port_; }

 private:
  struct Glue;  // the GLib callbacks
  int AcceptAll(int fd);
  void Close();

  std::function<void(int fd)> on_accept_;
  std::vector<int> fds_;
  std::vector<unsigned> watches_;
  uint16_t port_ = 0;
  unsigned resume_ = 0;
};

}  // namespace zentrak::host

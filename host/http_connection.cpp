// HTTP/1.1 connections and listeners on the GLib main loop.
//
// A connection's poll source lives as long as the connection and may recurse: GLib would
// otherwise take a source's descriptor out of the poll set around every dispatch and put it
// back, and each of those changes wakes the loop once more. Recursion happens when a request's
// handler runs a nested loop (a modal dialog); the connection then stops polling until its
// answer is sent.
#include "host/http_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zentrak::host {
namespace {

constexpr size_t kMaxPending = 1024 * 1024;       // bytes read ahead while a request is handled
constexpr unsigned kDrainMillis = 2000;           // how long a closing connection discards input
constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxSkip = 256 * 1024 * 1024;    // a refused body read and dropped, at most

// The Date header's text, made once a second.
const std::string& DateText() {
  static std::string text;
  static time_t made = 0;
  time_t now = time(nullptr);
  if (now != made) {
    struct tm tm;
    gmtime_r(&now, &tm);
    char buf[64];
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    text = buf;
    made = now;
  }
  return text;
}

}  // namespace

// ---- connections ------------------------------------------------------------------------------

struct HttpConnection::Source {
  GSource base;
  HttpConnection* connection;
};

HttpConnection::HttpConnection(int fd, uint64_t id, HttpConnectionOwner& owner, const ConnectionLimits& limits)
    : fd_(fd), id_(id), owner_(owner), limits_(limits), last_active_(g_get_monotonic_time()) {
  static GSourceFuncs funcs = {nullptr, nullptr, &HttpConnection::Dispatch, nullptr, nullptr, nullptr};
  source_ = g_source_new(&funcs, sizeof(Source));
  reinterpret_cast<Source*>(source_)->connection = this;
  g_source_set_can_recurse(source_, TRUE);
  g_source_set_name(source_, "zentrak-host connection");
  watching_ = G_IO_IN;
  tag_ = g_source_add_unix_fd(source_, fd_, static_cast<GIOCondition>(watching_));
  g_source_attach(source_, nullptr);
}

HttpConnection::~HttpConnection() {
  Uncount();
  if (drain_timer_) g_source_remove(drain_timer_);
  if (source_) {
    if (!g_source_is_destroyed(source_)) g_source_destroy(source_);
    g_source_unref(source_);
  }
  if (fd_ >= 0) ::close(fd_);
}

int HttpConnection::Dispatch(GSource* source, GSourceFunc, void*) {
  HttpConnection* self = reinterpret_cast<Source*>(source)->connection;
  self->OnReady(g_source_query_unix_fd(source, self->tag_));
  return G_SOURCE_CONTINUE;
}

void HttpConnection::Watch(unsigned condition) {
  if (condition == watching_ || state_ == State::kEnded) return;
  watching_ = condition;
  g_source_modify_unix_fd(source_, tag_, static_cast<GIOCondition>(condition));
}

bool HttpConnection::IdleSince(int64_t before) const noexcept {
  bool waiting = state_ == State::kHead || (state_ == State::kWebSocket && counted_ == 0 && !ws_->InMessage());
  return waiting && in_.empty() && depth_ == 0 && last_active_ < before;
}

bool HttpConnection::Overdue(int64_t now) const noexcept {
  switch (state_) {
    case State::kHead:
      // A refused body being skipped must keep coming; a head must be whole in time, however
      // slowly its bytes trickle in.
      if (skip_) return now - last_progress_ > limits_.body_micros;
      return head_started_ != 0 && now - head_started_ > limits_.head_micros;
    case State::kBody:
      return now - last_progress_ > limits_.body_micros;
    case State::kWriting:
      return now - last_progress_ > limits_.write_micros;
    case State::kWebSocket:
      // A message in the owner's hands may wait for the user (a file dialog). Otherwise frames
      // going out must be taken, and a frame (or message) begun must keep coming.
      if (depth_ > 0) return false;
      if (counted_ && now - last_progress_ > limits_.write_micros) return true;
      return (!in_.empty() || ws_->InMessage()) && now - last_progress_ > limits_.body_micros;
    default:
      // A request in the owner's hands may wait for the user; a closing connection has its own
      // timer.
      return false;
  }
}

void HttpConnection::Uncount() {
  if (counted_ && limits_.unsent_bytes) *limits_.unsent_bytes -= counted_;
  counted_ = 0;
}

void HttpConnection::OnReady(unsigned condition) {
  if (state_ == State::kEnded) return;
  if (depth_ > 0) {
    // A nested main loop, inside this connection's handler: nothing is read or written until
    // the handler is done.
    Watch(0);
    return;
  }
  ++depth_;
  if (condition & G_IO_ERR) {
    Finish();
  } else if (state_ == State::kWebSocket) {
    WsReady(condition);
  } else if (state_ == State::kWriting) {
    Flush();
    if (state_ == State::kHead) Parse();  // requests that arrived while the answer went out
  } else if (condition & (G_IO_IN | G_IO_HUP)) {
    ReadSome();
  }
  --depth_;
  if (state_ == State::kEnded) owner_.Ended(*this);
}

HttpConnection::Received HttpConnection::ReceiveChunk(bool keep) {
  char chunk[kReadChunk];
  for (;;) {
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (keep) in_.append(chunk, static_cast<size_t>(n));
      last_progress_ = g_get_monotonic_time();
      return static_cast<size_t>(n) < sizeof chunk ? Received::kAll : Received::kMore;
    }
    if (n == 0) {
      peer_done_ = true;
      return Received::kAll;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Received::kAll;
    Finish();
    return Received::kFailed;
  }
}

void HttpConnection::ReadSome() {
  for (;;) {
    if ((state_ == State::kHandling || state_ == State::kWriting) && in_.size() >= kMaxPending) {
      // A request is in hand and the peer keeps sending: it waits until that is answered.
      Watch(0);
      break;
    }
    Received r = ReceiveChunk(state_ != State::kDraining);
    if (r == Received::kFailed) return;
    if (r == Received::kAll) break;
    // Heads are parsed (and skipped bodies dropped) before more is read; a body in progress is
    // read to its end.
    if (state_ == State::kHead && in_.size() > kMaxHeadBytes) break;
  }
  if (state_ == State::kDraining) {
    if (peer_done_) Finish();
    return;
  }
  last_active_ = g_get_monotonic_time();
  if (state_ == State::kHandling) {
    // The peer left while its request waited for an answer.
    if (peer_done_) Finish();
    return;
  }
  Parse();
}

void HttpConnection::Parse() {
  while (state_ == State::kHead || state_ == State::kBody) {
    if (state_ == State::kHead) {
      if (skip_) {
        size_t n = std::min(skip_, in_.size());
        in_.erase(0, n);
        skip_ -= n;
        if (skip_) {
          if (peer_done_)
            Finish();
          else
            Watch(G_IO_IN);
          return;
        }
      }
      HeadParse head = parser_.Parse(in_, request_);
      if (head.outcome == HeadParse::Outcome::kIncomplete) {
        if (!in_.empty() && head_started_ == 0) head_started_ = g_get_monotonic_time();
        if (peer_done_) {
          Finish();
        } else {
          Watch(G_IO_IN);
        }
        return;
      }
      if (head.outcome == HeadParse::Outcome::kRefused) {
        Refuse(head.status, head.description);
        return;
      }
      in_.erase(0, head.consumed);
      head_started_ = 0;
      last_progress_ = g_get_monotonic_time();
      body_length_ = head.body_length;
      keep_alive_ = head.keep_alive;
      head_only_ = head.head_only;
      minor_version_ = request_.minor_version;
      std::optional<HttpResponse> refusal = owner_.Screen(*this, request_);
      if (!refusal && head.chunked) {
        // Chunked bodies have no size to check up front; browsers never send them here.
        refusal = owner_.BodyRefused(request_, 411, "Bad request: a request body needs a Content-Length");
      } else if (!refusal && body_length_ > limits_.max_body) {
        refusal = owner_.BodyRefused(request_, 413,
                                     "Bad request: the body has " + std::to_string(body_length_) +
                                         " bytes, more than the " + std::to_string(limits_.max_body) +
                                         " a request may have");
      }
      if (refusal) {
        // The body is not kept: a body of a size the host will wade through is skipped, and
        // the connection lives on; beyond that, or without a size, it ends after the answer.
        if (head.chunked || body_length_ > kMaxSkip)
          refusal->close = true;
        else
          skip_ = body_length_;
        Queue(std::move(*refusal), head_only_);
        continue;  // with the bytes after the skipped body, once the answer is out
      }
      if (body_length_ > in_.size() && HeaderHasToken(request_.Header("expect"), "100-continue")) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        (void)!::send(fd_, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
      }
      state_ = State::kBody;
    }
    if (in_.size() < body_length_) {
      if (peer_done_) {
        Finish();
        return;
      }
      if (in_.capacity() < body_length_) in_.reserve(body_length_ + kReadChunk);
      Watch(G_IO_IN);
      return;
    }
    if (in_.size() == body_length_) {
      request_.body.swap(in_);
      in_.clear();
    } else {
      request_.body.assign(in_, 0, body_length_);
      in_.erase(0, body_length_);
    }
    state_ = State::kHandling;
    HttpRequest request = std::move(request_);
    request_ = HttpRequest();
    ++depth_;
    owner_.Handle(*this, std::move(request));
    --depth_;
    // Answered at once, the loop goes on with any request that is already here; otherwise the
    // answer comes later and Flush carries on from there.
  }
}

void HttpConnection::Refuse(int status, const std::string& description) {
  HttpResponse r = owner_.Malformed(status, description);
  r.close = true;
  body_length_ = 0;
  Queue(std::move(r), false);
}

void HttpConnection::Reject(HttpResponse response) {
  if (state_ != State::kHead) return;
  response.close = true;
  ++depth_;
  Queue(std::move(response), false);
  --depth_;
  if (state_ == State::kEnded) owner_.Ended(*this);
}

void HttpConnection::Answer(HttpResponse response) {
  if (state_ != State::kHandling) return;
  Queue(std::move(response), head_only_);
}

void HttpConnection::Queue(HttpResponse response, bool head_only) {
  if (state_ == State::kEnded) return;
  std::string_view body = response.static_body.data() ? response.static_body : std::string_view(response.body);
  close_after_ = response.close || !keep_alive_ || peer_done_;
  std::string& h = out_head_;
  h.clear();
  h.reserve(256);
  h.append("HTTP/1.1 ").append(std::to_string(response.status)).append(" ").append(ReasonPhrase(response.status));
  h.append("\r\nDate: ").append(DateText()).append("\r\nServer: zentrak-host\r\n");
  for (const auto& [name, value] : response.headers) h.append(name).append(": ").append(value).append("\r\n");
  // A 101 answer has no body and names its own Connection: Upgrade.
  upgrade_after_ = response.websocket && !close_after_;
  if (!response.websocket) {
    h.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    if (close_after_)
      h.append("Connection: close\r\n");
    else if (minor_version_ == 0)
      h.append("Connection: keep-alive\r\n");
  }
  h.append("\r\n");
  if (head_only) {
    out_view_ = {};
    response.body.clear();
  } else if (response.static_body.data()) {
    out_view_ = response.static_body;
  } else {
    out_body_ = std::move(response.body);
    out_view_ = out_body_;
    counted_ = out_body_.size();
    if (limits_.unsent_bytes) *limits_.unsent_bytes += counted_;
  }
  sent_ = 0;
  last_progress_ = g_get_monotonic_time();
  state_ = State::kWriting;
  Flush();
}

void HttpConnection::Flush() {
  size_t total = out_head_.size() + out_view_.size();
  while (sent_ < total) {
    iovec iov[2];
    int count = 0;
    if (sent_ < out_head_.size()) {
      iov[count++] = {out_head_.data() + sent_, out_head_.size() - sent_};
      if (!out_view_.empty()) iov[count++] = {const_cast<char*>(out_view_.data()), out_view_.size()};
    } else {
      size_t off = sent_ - out_head_.size();
      iov[count++] = {const_cast<char*>(out_view_.data()) + off, out_view_.size() - off};
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(count);
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n > 0) {
      sent_ += static_cast<size_t>(n);
      last_progress_ = g_get_monotonic_time();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Watch(G_IO_OUT);
      return;
    }
    Finish();
    return;
  }
  out_head_.clear();
  out_body_ = std::string();
  out_view_ = {};
  Uncount();
  last_active_ = g_get_monotonic_time();
  if (close_after_) {
    Drain();
    return;
  }
  if (upgrade_after_) {
    upgrade_after_ = false;
    state_ = State::kWebSocket;
    ws_ = std::make_unique<WsDecoder>(limits_.max_body);
    // Frames the client sent right behind its handshake.
    if (depth_ > 0) {
      WsProcess();
      return;
    }
    ++depth_;
    WsProcess();
    --depth_;
    if (state_ == State::kEnded) owner_.Ended(*this);
    return;
  }
  state_ = State::kHead;
  Watch(G_IO_IN);
  // An answer given later (outside this connection's own dispatch) picks up the requests that
  // arrived meanwhile.
  if (depth_ == 0) {
    ++depth_;
    Parse();
    --depth_;
    if (state_ == State::kEnded) owner_.Ended(*this);
  }
}

// Ends the connection once the peer has read what was sent.
void HttpConnection::Drain() {
  if (peer_done_) {
    Finish();
    return;
  }
  // The peer may still be sending (a body that was never read). Closing now could reset the
  // connection before it reads the answer, so input is discarded for a while first.
  ::shutdown(fd_, SHUT_WR);
  in_.clear();
  parser_.Reset();
  state_ = State::kDraining;
  Watch(G_IO_IN);
  drain_timer_ = g_timeout_add(kDrainMillis, +[](gpointer self) -> gboolean {
    auto* c = static_cast<HttpConnection*>(self);
    c->drain_timer_ = 0;
    c->Close();
    return G_SOURCE_REMOVE;
  }, this);
}

// ---- after a WebSocket upgrade ----------------------------------------------------------------

void HttpConnection::WsReady(unsigned condition) {
  if (condition & G_IO_OUT) WsFlush();
  if (state_ != State::kWebSocket) return;
  if (condition & (G_IO_IN | G_IO_HUP)) {
    WsRead();
  } else if (!in_.empty()) {
    WsProcess();  // frames held back while the client was not reading its answers
  }
}

void HttpConnection::WsRead() {
  size_t before = in_.size();
  // A megabyte at a time is decoded before more is read; a client that does not take its
  // answers is not read from (WsWatch).
  while (in_.size() - before < kMaxPending) {
    Received r = ReceiveChunk(true);
    if (r == Received::kFailed) return;
    if (r == Received::kAll) break;
  }
  last_active_ = g_get_monotonic_time();
  WsProcess();
}

void HttpConnection::WsProcess() {
  size_t at = 0;
  while (state_ == State::kWebSocket && !ws_closing_ && counted_ <= kMaxPending) {
    size_t consumed = 0;
    WsEvent e = ws_->Next(std::string_view(in_).substr(at), consumed);
    at += consumed;
    if (e.kind == WsEvent::Kind::kNeedMore) {
      if (consumed) continue;
      break;
    }
    switch (e.kind) {
      case WsEvent::Kind::kText:
        ++depth_;
        owner_.Message(*this, std::move(e.payload));
        --depth_;
        if (state_ != State::kWebSocket) return;  // the owner closed the connection
        break;
      case WsEvent::Kind::kBinary:
        WsCloseWith(1003, "only text messages are served");
        break;
      case WsEvent::Kind::kPing: {
        std::string pong;
        AppendWsFrame(WsOpcode::kPong, e.payload, pong);
        WsQueue(std::move(pong));
        break;
      }
      case WsEvent::Kind::kPong:
        break;
      case WsEvent::Kind::kClose:
        // The close is answered with the peer's own code (1005 and 1006 are never sent).
        WsCloseWith(e.code == 1005 || e.code == 1006 ? uint16_t{kWsNormal} : e.code, "");
        break;
      default:
        WsCloseWith(e.code, e.payload);
        break;
    }
  }
  if (state_ != State::kWebSocket) return;
  in_.erase(0, at);
  WsFlush();
}

void HttpConnection::WsQueue(std::string bytes) {
  counted_ += bytes.size();
  if (limits_.unsent_bytes) *limits_.unsent_bytes += bytes.size();
  ws_out_.push_back(std::move(bytes));
}

void HttpConnection::SendMessage(WsOpcode opcode, std::vector<std::string> parts) {
  if (state_ != State::kWebSocket || ws_closing_) return;
  uint64_t length = 0;
  for (const auto& p : parts) length += p.size();
  std::string head;
  AppendWsFrameHead(opcode, length, head);
  WsQueue(std::move(head));
  for (auto& p : parts)
    if (!p.empty()) WsQueue(std::move(p));
  WsFlush();
}

void HttpConnection::WsCloseWith(uint16_t code, std::string_view reason) {
  if (ws_closing_) return;
  std::string frame;
  AppendWsClose(code, reason, frame);
  WsQueue(std::move(frame));
  ws_closing_ = true;
}

void HttpConnection::WsFlush() {
  while (!ws_out_.empty()) {
    iovec iov[16];
    size_t count = 0;
    size_t skip = ws_sent_;
    for (auto it = ws_out_.begin(); it != ws_out_.end() && count < 16; ++it) {
      iov[count++] = {it->data() + skip, it->size() - skip};
      skip = 0;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = count;
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      Finish();
      return;
    }
    size_t sent = static_cast<size_t>(n);
    counted_ -= sent;
    if (limits_.unsent_bytes) *limits_.unsent_bytes -= sent;
    last_progress_ = g_get_monotonic_time();
    while (sent) {
      size_t left = ws_out_.front().size() - ws_sent_;
      if (sent < left) {
        ws_sent_ += sent;
        break;
      }
      sent -= left;
      ws_out_.pop_front();
      ws_sent_ = 0;
    }
  }
  if (ws_out_.empty() && ws_closing_) {
    Drain();
    return;
  }
  WsWatch();
}

void HttpConnection::WsWatch() {
  if (state_ != State::kWebSocket) return;
  unsigned condition = ws_out_.empty() ? 0 : G_IO_OUT;
  if (!ws_closing_ && !peer_done_ && counted_ <= kMaxPending) condition |= G_IO_IN;
  if (condition == 0) {
    // The peer left and everything it asked for has been sent.
    Finish();
    return;
  }
  Watch(condition);
}

void HttpConnection::Close() {
  Finish();
  if (depth_ == 0) owner_.Ended(*this);
}

void HttpConnection::Finish() {
  if (state_ == State::kEnded) return;
  state_ = State::kEnded;
  if (drain_timer_) {
    g_source_remove(drain_timer_);
    drain_timer_ = 0;
  }
  g_source_destroy(source_);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  in_ = std::string();
  out_body_ = std::string();
  out_view_ = {};
  ws_out_.clear();
  Uncount();
}

// ---- listeners --------------------------------------------------------------------------------

struct HttpListener::Glue {
  static gboolean Acceptable(gint fd, GIOCondition, gpointer self) {
    return static_cast<HttpListener*>(self)->AcceptAll(fd);
  }
};

HttpListener::~HttpListener() { Close(); }

void HttpListener::Close() {
  for (unsigned w : watches_) g_source_remove(w);
  watches_.clear();
  if (resume_) g_source_remove(resume_);
  resume_ = 0;
  for (int fd : fds_) ::close(fd);
  fds_.clear();
}

bool HttpListener::Listen(uint16_t port, std::string& error) {
  auto open = [&](int family, uint16_t p, int& err) -> int {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      err = errno;
      return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    int rc;
    if (family == AF_INET) {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(p);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(p);
      a.sin6_addr = in6addr_loopback;
      rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(fd, 128) != 0) {
      err = errno;
      ::close(fd);
      return -1;
    }
    return fd;
  };
  Close();
  for (int attempt = 0; attempt < 16; ++attempt) {
    int err = 0;
    int v4 = open(AF_INET, port, err);
    if (v4 < 0) {
      error = "cannot listen on port " + std::to_string(port) + ": " + std::strerror(err);
      return false;
    }
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(v4, reinterpret_cast<sockaddr*>(&bound), &len);
    uint16_t chosen = ntohs(bound.sin_port);
    int v6 = open(AF_INET6, chosen, err);
    if (v6 < 0 && err == EADDRINUSE) {
      ::close(v4);
      if (port == 0) continue;  // another free port for both
      error = "cannot listen on port " + std::to_string(port) + " of ::1: " + std::strerror(err);
      return false;
    }
    // Machines without an IPv6 loopback still get the IPv4 one.
    fds_.push_back(v4);
    if (v6 >= 0) fds_.push_back(v6);
    port_ = chosen;
    for (int fd : fds_) watches_.push_back(g_unix_fd_add(fd, G_IO_IN, &Glue::Acceptable, this));
    return true;
  }
  error = "cannot listen on one free port of both 127.0.0.1 and ::1";
  return false;
}

int HttpListener::AcceptAll(int fd) {
  HttpListener* self = this;
  for (;;) {
    int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c >= 0) {
      int one = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      self->on_accept_(c);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Out of descriptors: the pending connection would wake the loop at once, again and
      // again. Accepting pauses for a moment instead.
      for (unsigned w : self->watches_) g_source_remove(w);
      self->watches_.clear();
      if (!self->resume_) {
        self->resume_ = g_timeout_add(100, +[](gpointer p) -> gboolean {
          auto* l = static_cast<HttpListener*>(p);
          l->resume_ = 0;
          for (int listening : l->fds_)
            l->watches_.push_back(g_unix_fd_add(listening, G_IO_IN, &Glue::Acceptable, l));
          return G_SOURCE_REMOVE;
        }, self);
      }
      return G_SOURCE_REMOVE;
    }
    break;  // EAGAIN: nothing more to accept
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace zentrak::host

// The loopback HTTP service. Every request passes two gates before anything else: the Host
// header (early, before the body is read) and the page's origin. Refusals carry a JSON body in
// the shape of a failed wire answer so that clients can show a clear reason.
#include "host/http_server.h"

#include <glib.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/ascii.h"
#include "base/exception.h"
#include "host/log.h"
#include "host/peer_identity.h"
#include "host/sites_page.h"
#include "host/web_files.h"
#include "platform/dialogs.h"
#include "automation/status.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

constexpr int32_t kE_ACCESSDENIED = Status(0x80070005);
// A call on an object whose session has ended: the object has gone, as a disconnected server's.
constexpr int32_t kRPC_E_DISCONNECTED = Status(0x80010108);

// A kept-alive connection with no request for this long is closed (browsers reopen at need).
constexpr int64_t kConnectionIdleMicros = 300 * int64_t{1000000};
// A call's text result at least this long (in UTF-16 units) travels apart from its answer's
// JSON on the page channel and to clients that ask for it (?split=1).
constexpr size_t kMinRawText = 16 * 1024;
// The most bytes of long texts in one message of the page channel.
constexpr size_t kRawChunk = 256 * 1024;
// The content type of an answer whose long texts follow its JSON (docs/protocol.md).
constexpr const char* kSplitType = "application/vnd.zentrak.split";

// How long the host is idle before it gives freed memory back.
constexpr int64_t kTrimAfterIdleMicros = 5 * int64_t{1000000};

HttpResponse Respond(int status, const char* type, std::string body) {
  HttpResponse r;
  r.status = status;
  r.Set("Cache-Control", "no-store");
  r.Set("X-Content-Type-Options", "nosniff");
  r.SetBody(type, std::move(body));
  return r;
}

HttpResponse RespondJson(int status, std::string body) {
  return Respond(status, "application/json; charset=utf-8", std::move(body));
}

// A refusal in the shape of a failed answer: {"ok":false,"error":{"code":..,"description":..}}.
HttpResponse Refusal(int status, int32_t code, const std::string& description) {
  json answer = {{"id", nullptr}, {"ok", false}, {"error", {{"code", code}, {"description", description}}}};
  return RespondJson(status, answer.dump(-1, ' ', false, json::error_handler_t::replace));
}

}  // namespace

HttpServer::HttpServer(const HostSettings& settings, const ConfigFile* config, std::unique_ptr<OriginPrompter> prompter)
    : settings_(settings),
      config_(config),
      prompter_(std::move(prompter)),
      policy_(settings.port),
      sessions_(settings.max_sessions, settings.max_objects_per_session,
                static_cast<int64_t>(settings.idle_timeout_seconds) * 1000000),
      listener_([this](int fd) { Accept(fd); }) {
  sessions_.SetMaxPerOwner(settings.max_sessions_per_owner);
  limits_.max_body = settings.max_request_bytes;
  limits_.head_micros = int64_t{settings.head_timeout_seconds} * 1000000;
  limits_.body_micros = int64_t{settings.body_timeout_seconds} * 1000000;
  limits_.write_micros = int64_t{settings.write_timeout_seconds} * 1000000;
  limits_.unsent_bytes = &unsent_bytes_;
  own_uid_ = ::geteuid();
  sites_token_ = NewSessionToken();
  sessions_.SetEndObserver([](const PageSession& s, SessionEnd why) {
    const char* reason = why == SessionEnd::kClosed     ? "closed by its page"
                         : why == SessionEnd::kIdle     ? "idle"
                         : why == SessionEnd::kMadeRoom ? "made room for a newer one of the same owner"
                                                        : "the host stopped";
    Log("session " + std::to_string(s.number) + " of " + (s.origin.empty() ? s.owner : s.origin) + " ended: " + reason);
  });
}

HttpServer::~HttpServer() {
  if (sweep_source_) g_source_remove(sweep_source_);
  if (reap_source_) g_source_remove(reap_source_);
  if (deadline_source_) g_source_remove(deadline_source_);
  waiting_.clear();
  connections_.clear();
  sessions_.EndAll();
}

bool HttpServer::Listen(std::string& error) {
  if (!listener_.Listen(settings_.port, error)) return false;
  port_ = listener_.Port();

  policy_ = OriginPolicy(port_);
  for (const auto& o : settings_.allowed_origins) policy_.Allow(o);
  for (const auto& o : settings_.blocked_origins) policy_.Block(o);
  policy_.SetAllowNull(settings_.allow_null_origin);
  if (config_) config_stamp_ = config_->Stamp();

  // Idle sessions and connections are looked for a few times per timeout.
  unsigned interval = std::clamp(settings_.idle_timeout_seconds / 4, 1u, 30u);
  sweep_source_ = g_timeout_add_seconds(interval, &HttpServer::OnSweep, this);
  return true;
}

void HttpServer::Accept(int fd) {
  if (connections_.size() >= settings_.max_connections) {
    ::close(fd);
    return;
  }
  std::string why;
  PeerIdentity peer = IdentifyPeer(fd, settings_.check_peer_uid, &why);
  // Connections are shared out per user; without the check, per address.
  std::string key = peer.uid ? "uid " + std::to_string(*peer.uid) : settings_.check_peer_uid ? "unknown" : peer.ip;
  size_t& open = peer_connections_[key];
  if (open >= settings_.max_connections_per_peer) {
    ::close(fd);
    return;
  }
  ++open;
  uint64_t id = next_connection_++;
  peer_of_.emplace(id, key);
  HttpConnectionOwner& owner = *this;
  HttpConnection& c = *connections_.emplace(id, std::make_unique<HttpConnection>(fd, id, owner, limits_)).first->second;
  if (!deadline_source_) {
    // Stalled peers are looked for a few times per shortest time-out, while connections are open.
    unsigned seconds = std::min({settings_.head_timeout_seconds, settings_.body_timeout_seconds,
                                 settings_.write_timeout_seconds});
    deadline_source_ = g_timeout_add(std::clamp(seconds * 250u, 100u, 1000u), &HttpServer::OnDeadlines, this);
  }
  if (settings_.check_peer_uid && (!peer.uid || *peer.uid != own_uid_)) {
    LogRefusedPeer(peer.uid ? peer.address + " belongs to uid " + std::to_string(*peer.uid)
                            : peer.address + " has no known owner (" + why + ")");
    c.Reject(Refusal(403, kE_ACCESSDENIED,
                     "Refused: this host serves only the programs of its own user (uid " + std::to_string(own_uid_) +
                         ")"));
  }
}

void HttpServer::LogRefusedPeer(const std::string& text) {
  // One line a second at most: another account could otherwise fill the log.
  int64_t now = g_get_monotonic_time();
  if (now - last_refusal_log_ < 1000000) {
    ++refusals_unlogged_;
    return;
  }
  std::string more = refusals_unlogged_ ? " (and " + std::to_string(refusals_unlogged_) + " more since the last)" : "";
  std::fprintf(stderr, "zentrak-host: refused a connection: %s, not uid %u%s\n", text.c_str(),
               static_cast<unsigned>(own_uid_), more.c_str());
  Log("refused a connection: " + text + ", not uid " + std::to_string(own_uid_) + more);
  last_refusal_log_ = now;
  refusals_unlogged_ = 0;
}

int HttpServer::OnDeadlines(void* data) {
  auto* self = static_cast<HttpServer*>(data);
  if (self->connections_.empty()) {
    self->deadline_source_ = 0;
    return G_SOURCE_REMOVE;
  }
  int64_t now = g_get_monotonic_time();
  std::vector<HttpConnection*> overdue;
  for (auto& [id, c] : self->connections_)
    if (!c->Ended() && c->Overdue(now)) overdue.push_back(c.get());
  for (HttpConnection* c : overdue) c->Close();
  return G_SOURCE_CONTINUE;
}

int HttpServer::OnSweep(void* data) {
  auto* self = static_cast<HttpServer*>(data);
  self->sessions_.EndIdle();
  // A host still sending answers is not idle, however long ago their requests came.
  if (self->unsent_bytes_ > 0) self->last_request_ = g_get_monotonic_time();
  // Memory freed by the last requests goes back to the system once the host has been idle.
  if (self->served_since_trim_ && g_get_monotonic_time() - self->last_request_ > kTrimAfterIdleMicros) {
    malloc_trim(0);
    self->served_since_trim_ = false;
  }
  int64_t before = g_get_monotonic_time() - kConnectionIdleMicros;
  std::vector<HttpConnection*> idle;
  for (auto& [id, c] : self->connections_)
    if (c->IdleSince(before)) idle.push_back(c.get());
  for (HttpConnection* c : idle) c->Close();
  return G_SOURCE_CONTINUE;
}

void HttpServer::Ended(HttpConnection& connection) {
  uint64_t id = connection.Id();
  for (auto& [origin, list] : waiting_)
    list.erase(std::remove_if(list.begin(), list.end(), [id](const Waiting& w) { return w.connection == id; }),
               list.end());
  ended_.insert(id);
  channels_.erase(id);
  if (!reap_source_) reap_source_ = g_idle_add(&HttpServer::OnReap, this);
}

// Ended connections are destroyed from an idle callback, never inside their own dispatch; one
// whose call runs a nested loop stays until that call returns (it reports its end again then).
int HttpServer::OnReap(void* data) {
  auto* self = static_cast<HttpServer*>(data);
  self->reap_source_ = 0;
  for (auto it = self->ended_.begin(); it != self->ended_.end();) {
    auto c = self->connections_.find(*it);
    if (c != self->connections_.end() && c->second->Busy()) {
      ++it;
      continue;
    }
    if (c != self->connections_.end()) self->connections_.erase(c);
    auto peer = self->peer_of_.find(*it);
    if (peer != self->peer_of_.end()) {
      auto count = self->peer_connections_.find(peer->second);
      if (count != self->peer_connections_.end() && --count->second == 0) self->peer_connections_.erase(count);
      self->peer_of_.erase(peer);
    }
    it = self->ended_.erase(it);
  }
  return G_SOURCE_REMOVE;
}

// After the headers, before the body: the Host gate. A response here means the body is never
// read and the request goes no further.
std::optional<HttpResponse> HttpServer::Screen(const HttpConnection&, const HttpRequest& head) {
  const std::string* host = head.Header("host");
  if (!host || !IsLoopbackHost(*host, port_)) {
    std::string p = std::to_string(port_);
    HttpResponse r = Refusal(403, kE_ACCESSDENIED,
                             std::string("Refused: the Host header \"") + (host ? *host : "") +
                                 "\" does not name this host; it answers only to 127.0.0.1:" + p + ", [::1]:" + p +
                                 " and localhost:" + p);
    // Nothing more is read from a client that names another host.
    r.close = true;
    LogRefusal("refused a request for Host \"" + (host ? *host : std::string()) + "\": not this host's address");
    return r;
  }
  return std::nullopt;
}

HttpResponse HttpServer::Malformed(int status, const std::string& description) {
  return Refusal(status, kE_INVALIDARG, description);
}

// A page of an approved origin reads the refusal (its size and the limit) instead of seeing a
// host that does not answer. Unknown origins are not asked about here: their refusal stays
// unreadable until they are approved.
HttpResponse HttpServer::BodyRefused(const HttpRequest& head, int status, const std::string& description) {
  HttpResponse r = Malformed(status, description);
  const std::string* origin_header = head.Header("origin");
  if (origin_header && policy_.Decide(*origin_header) == OriginDecision::kApproved)
    AddCors(head, r, *NormalizeOrigin(*origin_header), false);
  return r;
}

void HttpServer::Handle(HttpConnection& connection, HttpRequest request) {
  const int64_t started = g_get_monotonic_time();
  last_request_ = started;
  served_since_trim_ = true;
  if (!Verbose()) {
    std::optional<HttpResponse> answer = Serve(connection.Id(), request);
    // Idle time counts from the end of a request: a call that ran for seconds is not idleness.
    last_request_ = g_get_monotonic_time();
    if (answer) {
      Upgraded(connection.Id(), request, *answer);
      connection.Answer(std::move(*answer));
    }
    return;
  }
  std::string line = request.method + " " + request.path;
  verbose_note_.clear();
  std::optional<HttpResponse> answer = Serve(connection.Id(), request);
  last_request_ = g_get_monotonic_time();
  char took[32];
  std::snprintf(took, sizeof took, " %.3f ms", (last_request_ - started) / 1000.0);
  line += answer ? " " + std::to_string(answer->status) : std::string(" waits for the user's answer");
  LogVerbose(line + verbose_note_ + took);
  if (answer) {
    Upgraded(connection.Id(), request, *answer);
    connection.Answer(std::move(*answer));
  }
}

void HttpServer::Upgraded(uint64_t connection, const HttpRequest& request, const HttpResponse& answer) {
  if (!answer.websocket) return;
  const std::string* origin_header = request.Header("origin");
  std::optional<std::string> origin = origin_header ? NormalizeOrigin(*origin_header) : std::string();
  channels_[connection] =
      Channel{request.QueryValue("session"), origin ? *origin : std::string(), request.QueryValue("pieces") == "1"};
}

// A message on the page channel is what a POST /api body is, answered in the same session
// with the same checks; a refusal travels as its JSON text, a split answer as a binary frame.
void HttpServer::Message(HttpConnection& connection, std::string text) {
  auto channel = channels_.find(connection.Id());
  if (channel == channels_.end()) {
    connection.Close();
    return;
  }
  last_request_ = g_get_monotonic_time();
  served_since_trim_ = true;
  auto peer_entry = peer_of_.find(connection.Id());
  const std::string peer = peer_entry == peer_of_.end() ? std::string() : peer_entry->second;
  HttpRequest request;
  request.body = std::move(text);
  const Channel c = channel->second;  // the call may end the channel (a nested loop)
  // A piece is a binary message that starts with a zero byte, which no answer's JSON line does;
  // the pieces of an answer come before its JSON line.
  class ChannelPieces final : public PieceSink {
   public:
    explicit ChannelPieces(HttpConnection& connection) : connection_(connection) {}

   private:
    void Send(std::string_view utf8) override {
      // Nobody waits for the rest: the query stops here.
      if (connection_.Ended()) throw Exception("The page's channel closed while the result was sent");
      connection_.SendMessage(WsOpcode::kBinary, {std::string(1, '\0'), std::string(utf8)});
    }
    HttpConnection& connection_;
  } pieces(connection);
  HttpResponse r = ServeApi(request, c.origin, peer, c.token, true, c.pieces ? &pieces : nullptr);
  last_request_ = g_get_monotonic_time();
  const std::string* type = nullptr;
  for (const auto& [name, value] : r.headers)
    if (EqualsIgnoringAsciiCase(name, "content-type")) type = &value;
  bool split = type && *type == kSplitType;
  // A refusal names its HTTP status, which a POST's answer carries in its status line.
  if (r.status != 200 && !r.body.empty() && r.body[0] == '{')
    r.body.insert(1, "\"status\":" + std::to_string(r.status) + (r.body.size() > 2 ? "," : ""));
  if (!split) {
    std::vector<std::string> parts;
    parts.push_back(std::move(r.body));
    connection.SendMessage(WsOpcode::kText, std::move(parts));
    return;
  }
  // The answers' JSON line, then their long texts in binary messages of at most kRawChunk
  // bytes: a browser takes in each message in one task of its main thread, so a long text in
  // one message would hold the page for as long as it takes to receive it all.
  size_t newline = r.body.find('\n') + 1;
  connection.SendMessage(WsOpcode::kBinary, {r.body.substr(0, newline)});
  for (size_t at = newline; at < r.body.size(); at += kRawChunk)
    connection.SendMessage(WsOpcode::kBinary, {r.body.substr(at, kRawChunk)});
}

HttpResponse HttpServer::ServeWebSocket(const HttpRequest& request, const std::string& origin) {
  const std::string* key = request.Header("sec-websocket-key");
  const std::string* version = request.Header("sec-websocket-version");
  if (request.method != "GET" || !HeaderHasToken(request.Header("upgrade"), "websocket") ||
      !HeaderHasToken(request.Header("connection"), "upgrade")) {
    HttpResponse r = Refusal(426, kE_INVALIDARG, "Bad request: /ws takes a WebSocket handshake");
    r.Set("Upgrade", "websocket");
    return r;
  }
  if (!version || *version != "13") {
    HttpResponse r = Refusal(426, kE_INVALIDARG, "Bad request: only WebSocket version 13 is served");
    r.Set("Sec-WebSocket-Version", "13");
    return r;
  }
  if (!key || !IsWebSocketKey(*key)) return Refusal(400, kE_INVALIDARG, "Bad request: no valid Sec-WebSocket-Key");
  const std::string token = request.QueryValue("session");
  PageSession* s = token.empty() ? nullptr : sessions_.Find(token);
  if (!s) return Refusal(410, kRPC_E_DISCONNECTED, "The session has ended");
  if (s->origin != origin) return Refusal(403, kE_ACCESSDENIED, "Refused: the session belongs to another origin");
  HttpResponse r;
  r.status = 101;
  r.websocket = true;
  r.Set("Upgrade", "websocket");
  r.Set("Connection", "Upgrade");
  r.Set("Sec-WebSocket-Accept", WebSocketAccept(*key));
  return r;
}

void HttpServer::LogRefusal(const std::string& text) {
  int64_t now = g_get_monotonic_time();
  auto it = refusals_logged_.find(text);
  if (it != refusals_logged_.end() && now - it->second < 60 * int64_t{1000000}) return;
  // Lines older than a minute are forgotten, so the map stays small.
  if (refusals_logged_.size() > 256) std::erase_if(refusals_logged_, [&](const auto& e) { return now - e.second >= 60 * int64_t{1000000}; });
  refusals_logged_[text] = now;
  Log(text);
}

void HttpServer::RefreshOrigins() {
  if (!config_) return;
  FileStamp now = config_->Stamp();
  if (now == config_stamp_) return;
  config_stamp_ = now;
  try {
    RebuildPolicy(config_->Sites());
  } catch (const ConfigError& e) {
    // A file being edited by hand may be broken for a moment: the answers read last stay.
    LogRefusal(std::string("error: ") + e.what() + "; the origins read before stay in force");
  }
}

void HttpServer::RebuildPolicy(const std::vector<SiteAnswer>& kept) {
  OriginPolicy policy(port_);
  for (const auto& o : settings_.run_allowed_origins) policy.Allow(o);
  for (const SiteAnswer& a : kept) {
    if (a.allowed)
      policy.Allow(a.origin);
    else
      policy.Block(a.origin);
  }
  policy.SetAllowNull(settings_.allow_null_origin);
  policy_ = std::move(policy);
}

std::optional<HttpResponse> HttpServer::Serve(uint64_t connection, HttpRequest& request) {
  auto peer_entry = peer_of_.find(connection);
  const std::string peer = peer_entry == peer_of_.end() ? std::string() : peer_entry->second;
  // Any page may read where its own origin stands before it is approved (see ServeStatus).
  if (request.path == "/status" && (request.method == "GET" || request.method == "HEAD")) return ServeStatus(request);
  const std::string* origin_header = request.Header("origin");
  if (request.path == "/sites" || request.path == "/sites/forget") return ServeSites(request);
  std::string origin;
  if (origin_header) {
    RefreshOrigins();
    switch (policy_.Decide(*origin_header)) {
      case OriginDecision::kApproved:
        origin = *NormalizeOrigin(*origin_header);
        break;
      case OriginDecision::kUnknown:
        if (prompter_) {
          AskAbout(*NormalizeOrigin(*origin_header), connection, request, peer);
          return std::nullopt;
        }
        LogRefusal("refused " + *origin_header + ": not approved, and this host asks no one (no display, or --no-prompt)");
        return Refusal(403, kE_ACCESSDENIED,
                       "Refused: " + *origin_header + " is not allowed to use Zentrak on this computer");
      case OriginDecision::kBlocked:
        LogRefusal("refused " + *origin_header + ": blocked");
        return Refusal(403, kE_ACCESSDENIED,
                       "Refused: " + *origin_header + " is not allowed to use Zentrak on this computer");
    }
  } else if (request.method == "POST") {
    // Browsers send Origin with every POST; one that says it crossed sites yet carries none is
    // not trusted. Other local programs (test clients, scripts) send neither header.
    const std::string* site = request.Header("sec-fetch-site");
    if (site && *site != "same-origin" && *site != "none") {
      LogRefusal("refused a cross-site request without an Origin header");
      return Refusal(403, kE_ACCESSDENIED, "Refused: a cross-site request without an Origin header");
    }
  }
  return ServeApproved(request, origin, peer);
}

HttpResponse HttpServer::ServeApproved(const HttpRequest& request, const std::string& origin, const std::string& peer) {
  const std::string& method = request.method;
  const std::string& path = request.path;
  if (method == "OPTIONS") {
    HttpResponse r = Respond(200, "text/plain", "");
    r.Set("Allow", "GET, HEAD, POST, OPTIONS");
    if (!origin.empty()) AddCors(request, r, origin, true);
    return r;
  }
  HttpResponse r;
  if (path == "/ws") {
    r = ServeWebSocket(request, origin);
  } else if (path == "/api" || path == "/release") {
    if (method != "POST") {
      r = Refusal(405, kE_INVALIDARG, "Bad request: " + path + " takes POST");
      r.Set("Allow", "POST, OPTIONS");
    } else if (path == "/api") {
      r = ServeApi(request, origin, peer, request.QueryValue("session"), request.QueryValue("split") == "1");
    } else {
      r = ServeRelease(origin, request.QueryValue("session"));
    }
  } else if (method != "GET" && method != "HEAD") {
    r = Refusal(405, kE_INVALIDARG, "Bad request: " + path + " takes GET");
    r.Set("Allow", "GET, HEAD, OPTIONS");
  } else {
    r = ServeFile(request);
  }
  if (!origin.empty()) AddCors(request, r, origin, false);
  return r;
}

void HttpServer::AddCors(const HttpRequest& request, HttpResponse& r, const std::string& origin, bool preflight) {
  r.Set("Access-Control-Allow-Origin", origin);
  r.Set("Vary", "Origin");
  if (!preflight) return;
  r.Set("Access-Control-Allow-Methods", "GET, HEAD, POST, OPTIONS");
  r.Set("Access-Control-Allow-Headers", "Content-Type");
  r.Set("Access-Control-Max-Age", "600");
  const std::string* pna = request.Header("access-control-request-private-network");
  if (pna && EqualsIgnoringAsciiCase(*pna, "true")) r.Set("Access-Control-Allow-Private-Network", "true");
}

HttpResponse HttpServer::ServeApi(const HttpRequest& http, const std::string& origin, const std::string& peer,
                                  const std::string& token, bool split, PieceSink* pieces) {
  std::string_view text = http.body;
  json request;
  try {
    request = ParseMessage(text);
  } catch (const WireError&) {
    // The wire's own answer to text that is no JSON.
    Session scratch(0);
    return RespondJson(400, scratch.HandleText(text));
  }

  if (Verbose()) {
    // The op, and for a call the member: enough to follow what a page does.
    if (request.is_object() && request.contains("op") && request["op"].is_string()) {
      verbose_note_ = " " + request["op"].get<std::string>();
      if (request.contains("name") && request["name"].is_string()) verbose_note_ += " " + request["name"].get<std::string>();
    } else if (request.is_array()) {
      verbose_note_ = " batch of " + std::to_string(request.size());
    }
  }
  if (request.is_object() && request.contains("op") && request["op"] == "session") {
    PageSession* s = sessions_.Open(origin, peer);
    if (!s)
      return Refusal(503, kE_FAIL,
                     "Refused: too many sessions (at most " + std::to_string(settings_.max_sessions) +
                         "), or too many of this origin or local user (at most " +
                         std::to_string(settings_.max_sessions_per_owner) + ") with none of them free to end");
    Log("session " + std::to_string(s->number) + " opened for " +
        (origin.empty() ? "a local program (" + peer + ")" : origin));
    if (Verbose()) verbose_note_ = " [session " + std::to_string(s->number) + "]" + verbose_note_;
    json answer = {{"id", request.contains("id") ? request["id"] : json(nullptr)},
                   {"ok", true},
                   {"session", s->token},
                   {"instance", instance_},
                   {"idleTimeout", settings_.idle_timeout_seconds},
                   {"maxObjects", settings_.max_objects_per_session}};
    return RespondJson(200, answer.dump());
  }
  if (token.empty())
    return Refusal(400, kE_INVALIDARG,
                   "Bad request: no session; open one with {\"op\":\"session\"} and name it in ?session=");
  PageSession* s = sessions_.Find(token);
  if (!s)
    return SessionEnded("The session has ended (the page was unloaded or idle for more than " +
                        std::to_string(settings_.idle_timeout_seconds) + " seconds); its objects are released");
  if (s->origin != origin) return Refusal(403, kE_ACCESSDENIED, "Refused: the session belongs to another origin");
  if (request.is_object() && request.contains("op") && request["op"] == "ping") {
    // An open page's heartbeat: the lease below stamps the session, so it is not idle.
    SessionTable::Lease lease(sessions_, *s);
    return RespondJson(200, json({{"id", request.contains("id") ? request["id"] : json(nullptr)}, {"ok", true}}).dump());
  }
  if (unsent_bytes_ > settings_.max_unsent_bytes) {
    // Clients that do not read their answers hold this much memory; nothing more is made until
    // they read or their write time-out closes them. The call has not run.
    return Refusal(503, kE_FAIL,
                   "Refused: the host holds " + std::to_string(unsent_bytes_) +
                       " bytes of answers that their clients have not read, more than its limit of " +
                       std::to_string(settings_.max_unsent_bytes) + "; the call did not run, try it again later");
  }
  if (Verbose()) verbose_note_ = " [session " + std::to_string(s->number) + "]" + verbose_note_;
  std::string answer;
  std::string raw;
  {
    SessionTable::Lease lease(sessions_, *s);
    platform::ScopedDialogRequester requester(s->origin);
    answer = split ? lease->wire.AnswerParts(request, kMinRawText, raw, pieces) : lease->wire.AnswerText(request);
  }
  if (raw.empty()) return RespondJson(200, std::move(answer));
  // The answers' JSON on one line, then their long texts.
  answer += '\n';
  answer += raw;
  raw = std::string();
  return Respond(200, kSplitType, std::move(answer));
}

HttpResponse HttpServer::ServeRelease(const std::string& origin, const std::string& token) {
  PageSession* s = token.empty() ? nullptr : sessions_.Find(token);
  if (!s) return SessionEnded("The session has ended");
  if (s->origin != origin) return Refusal(403, kE_ACCESSDENIED, "Refused: the session belongs to another origin");
  sessions_.End(token);
  return RespondJson(200, R"({"id":null,"ok":true})");
}

// A session this host does not know: ended, or opened by an earlier run of the host. The
// answer names this run, so the page can tell which.
HttpResponse HttpServer::SessionEnded(const std::string& description) const {
  json answer = {{"id", nullptr},
                 {"ok", false},
                 {"error", {{"code", kRPC_E_DISCONNECTED}, {"description", description}}},
                 {"instance", instance_}};
  return RespondJson(410, answer.dump(-1, ' ', false, json::error_handler_t::replace));
}

// GET /status: where the requesting page's origin stands, readable by any origin so that a page
// not yet approved can tell "waiting for the user's answer" and "blocked" from a host that is
// not running. It says nothing about other origins, and names this run of the host only to
// approved pages. {"ok":true,"state":"approved"|"blocked"|"asking"|"unknown"[,"instance":..]};
// "unknown" is an origin the user will be asked about at its first request.
HttpResponse HttpServer::ServeStatus(const HttpRequest& request) const {
  const char* state = "approved";  // a same-origin page or a local program
  if (const std::string* origin = request.Header("origin")) {
    switch (policy_.Decide(*origin)) {
      case OriginDecision::kApproved:
        break;
      case OriginDecision::kBlocked:
        state = "blocked";
        break;
      case OriginDecision::kUnknown:
        state = !prompter_ ? "blocked" : asking_.count(*NormalizeOrigin(*origin)) ? "asking" : "unknown";
        break;
    }
  }
  json answer = {{"ok", true}, {"state", state}};
  if (std::string_view(state) == "approved") answer["instance"] = instance_;
  HttpResponse r = RespondJson(200, answer.dump());
  r.Set("Access-Control-Allow-Origin", "*");
  return r;
}

HttpResponse HttpServer::ServeFile(const HttpRequest& request) {
  const std::string& path = request.path;
  HttpResponse r;
  if (path == "/") {
    r.status = 302;
    // The Host header has passed the gate: it is this host's own address.
    r.Set("Location", "http://" + *request.Header("host") + "/demo");
    return r;
  }
  const WebFile* f = FindWebFile(path == "/demo/" ? "/demo" : path);
  if (!f) return Refusal(404, kE_INVALIDARG, "Not found: " + path);
  r.Set("Cache-Control", "no-cache");
  r.Set("X-Content-Type-Options", "nosniff");
  if (path.rfind("/demo", 0) == 0) {
    // The demo runs SQL on the user's files: no other page may frame it.
    r.Set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    r.Set("X-Frame-Options", "DENY");
  }
  r.Set("Content-Type", std::string(f->content_type));
  r.static_body = std::string_view(f->data.data(), f->data.size());
  return r;
}

// The sites page serves the host's own pages only. A top-level visit (typed, or a link on the
// host's own pages) carries no Origin; any other origin is refused, approved or not, and so is
// a request that the browser marks as cross-site. A Forget must come from the host's own origin
// with the token of a page it served.
HttpResponse HttpServer::ServeSites(const HttpRequest& request) {
  const std::string* origin_header = request.Header("origin");
  const std::string* site = request.Header("sec-fetch-site");
  auto origin = origin_header ? NormalizeOrigin(*origin_header) : std::nullopt;
  bool own = origin && policy_.IsOwnOrigin(*origin);
  if ((origin_header && !own) || (site && *site != "same-origin" && *site != "none")) {
    LogRefusal("refused the sites page to " + (origin_header ? *origin_header : "a cross-site request"));
    return Refusal(403, kE_ACCESSDENIED, "Refused: the sites page is only for the host's own pages");
  }
  HttpResponse r;
  std::string notice;
  if (request.path == "/sites/forget") {
    if (request.method != "POST") {
      r = Refusal(405, kE_INVALIDARG, "Bad request: /sites/forget takes POST");
      r.Set("Allow", "POST");
      return r;
    }
    HttpRequest form;
    form.query = request.body;
    if (!own || form.QueryValue("token") != sites_token_)
      return Refusal(403, kE_ACCESSDENIED, "Refused: forgetting a site needs the sites page of this host");
    auto target = NormalizeOrigin(form.QueryValue("origin"));
    if (!target) return Refusal(400, kE_INVALIDARG, "Bad request: \"" + form.QueryValue("origin") + "\" is no origin");
    bool found = false;
    std::string error;
    if (!config_) {
      notice = "This host keeps no answers (it runs without a configuration file).";
    } else if (!config_->Forget(*target, found, error)) {
      notice = "Not forgotten: " + error;
      Log("error: forgetting " + *target + " failed: " + error);
    } else {
      notice = found ? *target + " is forgotten: its pages will be asked about again."
                     : *target + " was not in the list.";
      if (found) Log("forgot " + *target + " (on the sites page)");
      RefreshOrigins();
    }
  } else if (request.method != "GET" && request.method != "HEAD") {
    r = Refusal(405, kE_INVALIDARG, "Bad request: /sites takes GET");
    r.Set("Allow", "GET, HEAD");
    return r;
  }
  std::vector<SiteAnswer> kept;
  if (config_) {
    try {
      kept = config_->Sites();
    } catch (const ConfigError& e) {
      notice = e.what();
    }
  }
  std::vector<std::string> run_only = settings_.run_allowed_origins;
  r = Respond(200, "text/html; charset=utf-8", SitesPageHtml(kept, run_only, sites_token_, notice));
  r.Set("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'");
  r.Set("X-Frame-Options", "DENY");
  // Not "no-referrer": Chromium then sends "Origin: null" with the page's own Forget.
  r.Set("Referrer-Policy", "same-origin");
  return r;
}

// The request waits for the user's answer; requests of the same origin that arrive meanwhile
// wait for the same answer.
void HttpServer::AskAbout(const std::string& origin, uint64_t connection, HttpRequest& request,
                          const std::string& peer) {
  waiting_[origin].push_back(Waiting{connection, std::move(request), peer});
  // One question per origin, even when every request that waited for it has gone meanwhile.
  if (!asking_.insert(origin).second) return;
  prompter_->Ask(origin, [this, origin](ApprovalAnswer answer) { Answered(origin, answer); });
}

void HttpServer::Answered(const std::string& origin, ApprovalAnswer answer) {
  if (answer != ApprovalAnswer::kDismissed) {
    bool allow = answer == ApprovalAnswer::kAllow;
    if (allow)
      policy_.Allow(origin);
    else
      policy_.Block(origin);
    Log(std::string(allow ? "approved " : "blocked ") + origin + " (the user's answer)");
    std::string error;
    if (config_ && !config_->Remember(origin, allow, error)) {
      std::fprintf(stderr, "zentrak-host: the answer for %s is not kept: %s\n", origin.c_str(), error.c_str());
      Log("error: the answer for " + origin + " is not kept: " + error);
    }
  } else {
    Log("refused " + origin + ": the question was closed without an answer");
  }
  asking_.erase(origin);
  auto list = std::move(waiting_[origin]);
  waiting_.erase(origin);
  for (auto& w : list) {
    auto c = connections_.find(w.connection);
    if (c == connections_.end() || c->second->Ended()) continue;
    if (answer == ApprovalAnswer::kAllow) {
      HttpResponse r = ServeApproved(w.request, origin, w.peer);
      Upgraded(w.connection, w.request, r);
      c->second->Answer(std::move(r));
    } else
      c->second->Answer(
          Refusal(403, kE_ACCESSDENIED, "Refused: " + origin + " is not allowed to use Zentrak on this computer"));
  }
}

}  // namespace zentrak::host

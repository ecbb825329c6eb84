// The loopback HTTP service. Every request passes two gates before anything else: the Host
// header (early, before the body is read) and the page's origin. Refusals carry a JSON body in
// the shape of a failed wire answer so that clients can show a clear reason.
#include "host/http_server.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <cstdio>

#include "host/web_files.h"
#include "server/status.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;

constexpr int32_t kE_ACCESSDENIED = Status(0x80070005);
// A call on an object whose session has ended: the object has gone, as a disconnected server's.
constexpr int32_t kRPC_E_DISCONNECTED = Status(0x80010108);

const char* Header(SoupServerMessage* msg, const char* name) {
  return soup_message_headers_get_one(soup_server_message_get_request_headers(msg), name);
}

void SetHeader(SoupServerMessage* msg, const char* name, const std::string& value) {
  soup_message_headers_replace(soup_server_message_get_response_headers(msg), name, value.c_str());
}

void Respond(SoupServerMessage* msg, unsigned status, const char* type, std::string body) {
  soup_server_message_set_status(msg, status, nullptr);
  SetHeader(msg, "Cache-Control", "no-store");
  SetHeader(msg, "X-Content-Type-Options", "nosniff");
  if (body.size() < (1u << 16)) {
    soup_server_message_set_response(msg, type, SOUP_MEMORY_COPY, body.data(), body.size());
    return;
  }
  // A large body is handed over without a copy: the bytes own a moved copy of the text.
  auto* owned = new std::string(std::move(body));
  GBytes* bytes = g_bytes_new_with_free_func(owned->data(), owned->size(),
                                             [](gpointer p) { delete static_cast<std::string*>(p); }, owned);
  soup_message_headers_set_content_type(soup_server_message_get_response_headers(msg), type, nullptr);
  soup_message_body_append_bytes(soup_server_message_get_response_body(msg), bytes);
  g_bytes_unref(bytes);
}

void RespondJson(SoupServerMessage* msg, unsigned status, std::string body) {
  Respond(msg, status, "application/json; charset=utf-8", std::move(body));
}

// A refusal in the shape of a failed answer: {"ok":false,"error":{"code":..,"description":..}}.
void Refuse(SoupServerMessage* msg, unsigned status, int32_t code, const std::string& description) {
  json answer = {{"id", nullptr}, {"ok", false}, {"error", {{"code", code}, {"description", description}}}};
  RespondJson(msg, status, answer.dump(-1, ' ', false, json::error_handler_t::replace));
}

std::string QueryValue(GHashTable* query, const char* key) {
  if (!query) return {};
  const char* v = static_cast<const char*>(g_hash_table_lookup(query, key));
  return v ? v : "";
}

bool IsPost(SoupServerMessage* msg) { return std::string_view(soup_server_message_get_method(msg)) == "POST"; }

}  // namespace

struct HttpServer::Waiting {
  HttpServer* server;
  SoupServerMessage* msg;
  std::string origin;
  std::string path;
  std::string session_param;
  gulong disconnected_handler = 0;
};

HttpServer::HttpServer(const HostSettings& settings, const ConfigFile* config, std::unique_ptr<OriginPrompter> prompter)
    : settings_(settings),
      config_(config),
      prompter_(std::move(prompter)),
      policy_(settings.port),
      sessions_(settings.max_sessions, settings.max_objects_per_session,
                static_cast<int64_t>(settings.idle_timeout_seconds) * 1000000) {}

HttpServer::~HttpServer() {
  if (sweep_source_) g_source_remove(sweep_source_);
  for (auto& [origin, list] : waiting_)
    for (auto& w : list) {
      g_signal_handler_disconnect(w->msg, w->disconnected_handler);
      g_object_unref(w->msg);
    }
  waiting_.clear();
  sessions_.EndAll();
  if (server_) {
    soup_server_disconnect(server_);
    g_object_unref(server_);
  }
}

bool HttpServer::Listen(std::string& error) {
  server_ = soup_server_new("server-header", "zentrak-host", nullptr);
  soup_server_add_early_handler(server_, nullptr, &HttpServer::OnEarly, this, nullptr);
  soup_server_add_handler(server_, nullptr, &HttpServer::OnRequest, this, nullptr);
  GError* err = nullptr;
  if (!soup_server_listen_local(server_, settings_.port, static_cast<SoupServerListenOptions>(0), &err)) {
    // Machines without an IPv6 loopback still get the IPv4 one.
    g_clear_error(&err);
    if (!soup_server_listen_local(server_, settings_.port, SOUP_SERVER_LISTEN_IPV4_ONLY, &err)) {
      error = std::string("cannot listen on port ") + std::to_string(settings_.port) + ": " + err->message;
      g_error_free(err);
      return false;
    }
  }
  GSList* uris = soup_server_get_uris(server_);
  if (uris) port_ = static_cast<uint16_t>(g_uri_get_port(static_cast<GUri*>(uris->data)));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));

  policy_ = OriginPolicy(port_);
  for (const auto& o : settings_.allowed_origins) policy_.Allow(o);
  for (const auto& o : settings_.blocked_origins) policy_.Block(o);
  policy_.SetAllowNull(settings_.allow_null_origin);

  // Idle sessions are looked for a few times per timeout.
  unsigned interval = std::clamp(settings_.idle_timeout_seconds / 4, 1u, 30u);
  sweep_source_ = g_timeout_add_seconds(interval, &HttpServer::OnSweep, this);
  return true;
}

int HttpServer::OnSweep(void* self) {
  static_cast<HttpServer*>(self)->sessions_.EndIdle();
  return G_SOURCE_CONTINUE;
}

// After the headers, before the body: the Host gate and the size bounds of a POST body. A status
// set here means the body is never read and the normal handler never runs.
void HttpServer::OnEarly(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, void* data) {
  auto* self = static_cast<HttpServer*>(data);
  const char* host = Header(msg, "Host");
  if (!host || !IsLoopbackHost(host, self->port_)) {
    std::string p = std::to_string(self->port_);
    Refuse(msg, 403, kE_ACCESSDENIED,
           std::string("Refused: the Host header \"") + (host ? host : "") + "\" does not name this host; it answers "
               "only to 127.0.0.1:" + p + ", [::1]:" + p + " and localhost:" + p);
    return;
  }
  SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
  switch (soup_message_headers_get_encoding(headers)) {
    case SOUP_ENCODING_NONE:
      return;
    case SOUP_ENCODING_CONTENT_LENGTH:
      break;
    default:
      // Chunked bodies have no size to check up front; browsers never send them here.
      Refuse(msg, 411, kE_INVALIDARG, "Bad request: a request body needs a Content-Length");
      return;
  }
  goffset length = soup_message_headers_get_content_length(headers);
  if (length < 0 || static_cast<uint64_t>(length) > self->settings_.max_request_bytes) {
    Refuse(msg, 413, kE_INVALIDARG,
           "Bad request: the body has " + std::to_string(length) + " bytes, more than the " +
               std::to_string(self->settings_.max_request_bytes) + " a request may have");
  }
}

void HttpServer::OnRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable* query, void* data) {
  static_cast<HttpServer*>(data)->Serve(msg, path ? path : "/", QueryValue(query, "session"));
}

void HttpServer::Serve(SoupServerMessage* msg, const std::string& path, const std::string& session_param) {
  const char* origin_header = Header(msg, "Origin");
  std::string origin;
  if (origin_header) {
    switch (policy_.Decide(origin_header)) {
      case OriginDecision::kApproved:
        origin = *NormalizeOrigin(origin_header);
        break;
      case OriginDecision::kUnknown:
        if (prompter_) {
          AskAbout(*NormalizeOrigin(origin_header), msg, path, session_param);
          return;
        }
        [[fallthrough]];
      case OriginDecision::kBlocked:
        Refuse(msg, 403, kE_ACCESSDENIED,
               std::string("Refused: ") + origin_header + " is not allowed to use Zentrak on this computer");
        return;
    }
  } else if (IsPost(msg)) {
    // Browsers send Origin with every POST; one that says it crossed sites yet carries none is
    // not trusted. Other local programs (test clients, scripts) send neither header.
    const char* site = Header(msg, "Sec-Fetch-Site");
    if (site && std::string_view(site) != "same-origin" && std::string_view(site) != "none") {
      Refuse(msg, 403, kE_ACCESSDENIED, "Refused: a cross-site request without an Origin header");
      return;
    }
  }

  const std::string method = soup_server_message_get_method(msg);
  if (method == "OPTIONS") {
    // 200 with an empty body rather than 204: libsoup ends the connection after a 204, and a
    // preflight should leave it open for the request that follows.
    soup_server_message_set_status(msg, 200, nullptr);
    soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_STATIC, "", 0);
    SetHeader(msg, "Allow", "GET, HEAD, POST, OPTIONS");
    if (!origin.empty()) AddCors(msg, origin, true);
    return;
  }
  if (!origin.empty()) AddCors(msg, origin, false);

  if (path == "/api" || path == "/release") {
    if (method != "POST") {
      SetHeader(msg, "Allow", "POST, OPTIONS");
      Refuse(msg, 405, kE_INVALIDARG, "Bad request: " + path + " takes POST");
      return;
    }
    if (path == "/api")
      ServeApi(msg, origin, session_param);
    else
      ServeRelease(msg, origin, session_param);
    return;
  }
  if (method != "GET" && method != "HEAD") {
    SetHeader(msg, "Allow", "GET, HEAD, OPTIONS");
    Refuse(msg, 405, kE_INVALIDARG, "Bad request: " + path + " takes GET");
    return;
  }
  ServeFile(msg, path);
}

void HttpServer::AddCors(SoupServerMessage* msg, const std::string& origin, bool preflight) {
  SetHeader(msg, "Access-Control-Allow-Origin", origin);
  SetHeader(msg, "Vary", "Origin");
  if (!preflight) return;
  SetHeader(msg, "Access-Control-Allow-Methods", "GET, HEAD, POST, OPTIONS");
  SetHeader(msg, "Access-Control-Allow-Headers", "Content-Type");
  SetHeader(msg, "Access-Control-Max-Age", "600");
  const char* pna = Header(msg, "Access-Control-Request-Private-Network");
  if (pna && g_ascii_strcasecmp(pna, "true") == 0) SetHeader(msg, "Access-Control-Allow-Private-Network", "true");
}

void HttpServer::ServeApi(SoupServerMessage* msg, const std::string& origin, const std::string& token) {
  GBytes* bytes = soup_message_body_flatten(soup_server_message_get_request_body(msg));
  gsize size = 0;
  const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  std::string_view text(data ? data : "", size);
  json request;
  try {
    request = json::parse(text);
  } catch (const json::parse_error&) {
    g_bytes_unref(bytes);
    // The wire's own answer to text that is no JSON.
    Session scratch(0);
    RespondJson(msg, 400, scratch.HandleText(text));
    return;
  }
  g_bytes_unref(bytes);

  if (request.is_object() && request.contains("op") && request["op"] == "session") {
    PageSession* s = sessions_.Open(origin);
    if (!s) {
      Refuse(msg, 503, kE_FAIL, "Refused: too many sessions (at most " + std::to_string(settings_.max_sessions) + ")");
      return;
    }
    json answer = {{"id", request.contains("id") ? request["id"] : json(nullptr)},
                   {"ok", true},
                   {"session", s->token},
                   {"idleTimeout", settings_.idle_timeout_seconds},
                   {"maxObjects", settings_.max_objects_per_session}};
    RespondJson(msg, 200, answer.dump());
    return;
  }
  if (token.empty()) {
    Refuse(msg, 400, kE_INVALIDARG,
           "Bad request: no session; open one with {\"op\":\"session\"} and name it in ?session=");
    return;
  }
  PageSession* s = sessions_.Find(token);
  if (!s) {
    Refuse(msg, 410, kRPC_E_DISCONNECTED,
           "The session has ended (the page was unloaded or idle for more than " +
               std::to_string(settings_.idle_timeout_seconds) + " seconds); its objects are released");
    return;
  }
  if (s->origin != origin) {
    Refuse(msg, 403, kE_ACCESSDENIED, "Refused: the session belongs to another origin");
    return;
  }
  if (request.is_object() && request.contains("op") && request["op"] == "ping") {
    // An open page's heartbeat: the lease below stamps the session, so it is not idle.
    SessionTable::Lease lease(sessions_, *s);
    RespondJson(msg, 200, json({{"id", request.contains("id") ? request["id"] : json(nullptr)}, {"ok", true}}).dump());
    return;
  }
  std::string answer;
  {
    SessionTable::Lease lease(sessions_, *s);
    answer = WireText(lease->wire.Handle(request));
  }
  RespondJson(msg, 200, std::move(answer));
}

void HttpServer::ServeRelease(SoupServerMessage* msg, const std::string& origin, const std::string& token) {
  PageSession* s = token.empty() ? nullptr : sessions_.Find(token);
  if (!s) {
    Refuse(msg, 410, kRPC_E_DISCONNECTED, "The session has ended");
    return;
  }
  if (s->origin != origin) {
    Refuse(msg, 403, kE_ACCESSDENIED, "Refused: the session belongs to another origin");
    return;
  }
  sessions_.End(token);
  RespondJson(msg, 200, R"({"id":null,"ok":true})");
}

void HttpServer::ServeFile(SoupServerMessage* msg, const std::string& path) {
  if (path == "/") {
    soup_server_message_set_redirect(msg, 302, "/demo");
    return;
  }
  const WebFile* f = FindWebFile(path == "/demo/" ? "/demo" : path);
  if (!f) {
    Refuse(msg, 404, kE_INVALIDARG, "Not found: " + path);
    return;
  }
  soup_server_message_set_status(msg, 200, nullptr);
  SetHeader(msg, "Cache-Control", "no-cache");
  SetHeader(msg, "X-Content-Type-Options", "nosniff");
  if (path.rfind("/demo", 0) == 0) {
    // The demo runs SQL on the user's files: no other page may frame it.
    SetHeader(msg, "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    SetHeader(msg, "X-Frame-Options", "DENY");
  }
  soup_server_message_set_response(msg, std::string(f->content_type).c_str(), SOUP_MEMORY_STATIC, f->data.data(),
                                   f->data.size());
}

// The request waits, paused, for the user's answer; requests of the same origin that arrive
// meanwhile wait for the same answer.
void HttpServer::AskAbout(const std::string& origin, SoupServerMessage* msg, const std::string& path,
                          const std::string& session_param) {
  auto w = std::make_unique<Waiting>(Waiting{this, msg, origin, path, session_param, 0});
  g_object_ref(msg);
  soup_server_message_pause(msg);
  Waiting* raw = w.get();
  w->disconnected_handler = g_signal_connect_swapped(
      msg, "disconnected", G_CALLBACK(+[](Waiting* gone) {
        auto& list = gone->server->waiting_[gone->origin];
        for (auto it = list.begin(); it != list.end(); ++it) {
          if (it->get() == gone) {
            g_object_unref(gone->msg);
            list.erase(it);
            break;
          }
        }
      }),
      raw);
  waiting_[origin].push_back(std::move(w));
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
    std::string error;
    if (config_ && !config_->Remember(origin, allow, error))
      std::fprintf(stderr, "zentrak-host: the answer for %s is not kept: %s\n", origin.c_str(), error.c_str());
  }
  asking_.erase(origin);
  auto list = std::move(waiting_[origin]);
  waiting_.erase(origin);
  for (auto& w : list) {
    g_signal_handler_disconnect(w->msg, w->disconnected_handler);
    if (answer == ApprovalAnswer::kAllow)
      Serve(w->msg, w->path, w->session_param);
    else
      Refuse(w->msg, 403, kE_ACCESSDENIED,
             "Refused: " + origin + " is not allowed to use Zentrak on this computer");
    soup_server_message_unpause(w->msg);
    g_object_unref(w->msg);
  }
}

}  // namespace zentrak::host

// The host's HTTP/1.1 service on the loopback interface, on the GLib main loop of the calling
// thread. It checks every request's Host header and origin, answers CORS and Private
// Network Access preflights for approved origins, keeps the sessions of page loads, carries wire
// requests (POST /api) to them and serves zentrak.js and the demo pages. docs/protocol.md
// describes what pages see.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/approval.h"
#include "host/config.h"
#include "host/http_connection.h"
#include "host/origin_policy.h"
#include "host/sessions.h"

namespace zentrak::host {

class HttpServer : private HttpConnectionOwner {
 public:
  // config may be null (answers are then not kept); prompter may be null (no display: unknown
  // origins are refused).
  HttpServer(const HostSettings& settings, const ConfigFile* config, std::unique_ptr<OriginPrompter> prompter);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on 127.0.0.1 and ::1 (127.0.0.1 alone when the machine has no IPv6 loopback) at the
  // configured port, or at a free one for port 0. Returns false and sets error on failure.
  bool Listen(std::string& error);
  uint16_t Port() const noexcept { return port_; }

  // Ends every session (and closes their databases); called when the host stops.
  void EndAllSessions() { sessions_.EndAll(); }

 private:
  // A request held while the user is asked about its origin.
  struct Waiting {
    uint64_t connection;
    HttpRequest request;
    std::string peer;
  };

  // HttpConnectionOwner
  std::optional<HttpResponse> Screen(const HttpConnection& connection, const HttpRequest& head) override;
  HttpResponse Malformed(int status, const std::string& description) override;
  HttpResponse BodyRefused(const HttpRequest& head, int status, const std::string& description) override;
  void Handle(HttpConnection& connection, HttpRequest request) override;
  void Ended(HttpConnection& connection) override;
  void Message(HttpConnection& connection, std::string text) override;

  static int OnSweep(void* self);
  static int OnReap(void* self);
  static int OnDeadlines(void* self);
  void Accept(int fd);
  void LogRefusedPeer(const std::string& text);

  // The answer to a request, or nothing when it waits for the user's answer about its origin.
  std::optional<HttpResponse> Serve(uint64_t connection, HttpRequest& request);
  HttpResponse ServeApproved(const HttpRequest& request, const std::string& origin, const std::string& peer);
  HttpResponse ServeApi(const HttpRequest& request, const std::string& origin, const std::string& peer,
                        const std::string& token, bool split = false, PieceSink* pieces = nullptr);
  // The page channel: the handshake of a WebSocket bound to a session, and what is recorded of
  // each upgraded connection (its session and origin) when its 101 answer goes out.
  HttpResponse ServeWebSocket(const HttpRequest& request, const std::string& origin);
  void Upgraded(uint64_t connection, const HttpRequest& request, const HttpResponse& answer);
  struct Channel {
    std::string token;
    std::string origin;
    // The page takes a long result in pieces sent while its call runs (?pieces=1).
    bool pieces = false;
  };
  std::map<uint64_t, Channel> channels_;
  HttpResponse ServeRelease(const std::string& origin, const std::string& token);
  HttpResponse ServeFile(const HttpRequest& request);
  HttpResponse ServeStatus(const HttpRequest& request) const;
  HttpResponse SessionEnded(const std::string& description) const;
  HttpResponse ServeSites(const HttpRequest& request);
  // Rereads the origins from the configuration file when it changed since the last look (the
  // user ran --forget, or edited the file), so a running host follows it at the next request.
  void RefreshOrigins();
  void RebuildPolicy(const std::vector<SiteAnswer>& kept);
  // A refusal's line in the log; the same line at most once a minute.
  void LogRefusal(const std::string& text);
  void AskAbout(const std::string& origin, uint64_t connection, HttpRequest& request, const std::string& peer);
  void Answered(const std::string& origin, ApprovalAnswer answer);
  static void AddCors(const HttpRequest& request, HttpResponse& response, const std::string& origin, bool preflight);

  HostSettings settings_;
  const ConfigFile* config_;
  std::unique_ptr<OriginPrompter> prompter_;
  OriginPolicy policy_;
  SessionTable sessions_;
  HttpListener listener_;
  uint16_t port_ = 0;
  unsigned sweep_source_ = 0;
  unsigned reap_source_ = 0;
  uint64_t next_connection_ = 1;
  int64_t last_request_ = 0;  // g_get_monotonic_time of the last request
  bool served_since_trim_ = false;
  std::map<uint64_t, std::unique_ptr<HttpConnection>> connections_;
  std::map<uint64_t, std::string> peer_of_;        // each connection's peer: "uid N" or an address
  std::map<std::string, size_t> peer_connections_;  // connections open per peer
  ConnectionLimits limits_;
  size_t unsent_bytes_ = 0;  // answers' bytes held for clients that have not read them yet
  unsigned deadline_source_ = 0;
  uid_t own_uid_;
  int64_t last_refusal_log_ = 0;
  size_t refusals_unlogged_ = 0;
  std::set<uint64_t> ended_;  // connections to destroy once no call of theirs is running
  std::map<std::string, std::vector<Waiting>> waiting_;
  std::set<std::string> asking_;  // origins whose question is open
  // Names this run of the host to its pages, which tell a restarted host from an ended session.
  const std::string instance_ = NewSessionToken();
  FileStamp config_stamp_;         // the configuration file's stamp when its origins were read
  std::string sites_token_;        // what a Forget from the sites page must carry
  std::map<std::string, int64_t> refusals_logged_;  // line -> when it was last logged
  std::string verbose_note_;       // what the request just served was, for --verbose
};

}  // namespace zentrak::host

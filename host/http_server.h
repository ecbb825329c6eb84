// The host's HTTP/1.1 service on the loopback interface (libsoup 3 on the GLib main loop of the
// calling thread). It checks every request's Host header and origin, answers CORS and Private
// Network Access preflights for approved origins, keeps the sessions of page loads, carries wire
// requests (POST /api) to them and serves zentrak.js and the demo pages. docs/protocol.md
// describes what pages see.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/approval.h"
#include "host/config.h"
#include "host/origin_policy.h"
#include "host/sessions.h"

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _GHashTable GHashTable;

namespace zentrak::host {

class HttpServer {
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
  struct Waiting;  // requests held while the user is asked about their origin

  static void OnEarly(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable* query, void* self);
  static void OnRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable* query, void* self);
  static int OnSweep(void* self);

  void Serve(SoupServerMessage* msg, const std::string& path, const std::string& session_param);
  void ServeApi(SoupServerMessage* msg, const std::string& origin, const std::string& token);
  void ServeRelease(SoupServerMessage* msg, const std::string& origin, const std::string& token);
  void ServeFile(SoupServerMessage* msg, const std::string& path);
  void AskAbout(const std::string& origin, SoupServerMessage* msg, const std::string& path,
                const std::string& session_param);
  void Answered(const std::string& origin, ApprovalAnswer answer);
  void AddCors(SoupServerMessage* msg, const std::string& origin, bool preflight);

  HostSettings settings_;
  const ConfigFile* config_;
  std::unique_ptr<OriginPrompter> prompter_;
  OriginPolicy policy_;
  SessionTable sessions_;
  SoupServer* server_ = nullptr;
  uint16_t port_ = 0;
  unsigned sweep_source_ = 0;
  std::map<std::string, std::vector<std::unique_ptr<Waiting>>> waiting_;
  std::set<std::string> asking_;  // origins whose question is open
};

}  // namespace zentrak::host

// The protocol over HTTP against a real zentrak-host process on a free port: the gates (Host,
// origin, CORS and Private Network Access), sessions and their ends, bounds, bad requests, the
// served files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/testing/scoped.h"
#include "host/origin_policy.h"
#include "host/test_client.h"
#include "host/wire.h"
#include "automation/typelib.h"

namespace zentrak::host {
namespace {

using json = nlohmann::ordered_json;
using testing::HostProcess;
using testing::HttpClient;
using testing::HttpResponse;
namespace fs = std::filesystem;

constexpr int32_t kAccessDenied = -2147024891;  // E_ACCESSDENIED
constexpr int32_t kDisconnected = -2147417848;  // RPC_E_DISCONNECTED
constexpr int32_t kInvalidArg = -2147024809;    // E_INVALIDARG
constexpr const char* kIntranet = "https://intranet.example";

class HttpTest : public ::testing::Test {
 protected:
  // The host goes before its folder: members are destroyed in reverse order.
  void TearDown() override { host_.reset(); }
  void Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--no-prompt", "--allow-origin", kIntranet});
    host_ = std::make_unique<HostProcess>(ZENTRAK_HOST_BINARY, config_, args,
                                          std::vector<std::pair<std::string, std::string>>{{"USERPROFILE", dir_.path().string()}});
    client_ = std::make_unique<HttpClient>("127.0.0.1", host_->Port());
  }
  std::string Own() const { return "http://127.0.0.1:" + std::to_string(host_->Port()); }
  std::string HostHeader() const { return "127.0.0.1:" + std::to_string(host_->Port()); }

  HttpResponse Post(const std::string& target, const std::string& body, const std::string& origin = {}) {
    std::vector<std::pair<std::string, std::string>> h;
    if (!origin.empty()) h.push_back({"Origin", origin});
    return client_->Request("POST", target, body, h);
  }
  // Opens a session for origin and returns its token.
  std::string Open(const std::string& origin = {}) {
    HttpResponse r = Post("/api", R"({"op":"session"})", origin);
    EXPECT_EQ(r.status, 200) << r.body;
    return json::parse(r.body).value("session", "");
  }
  static int32_t Code(const HttpResponse& r) {
    json a = json::parse(r.body, nullptr, false);
    return a.is_object() && a.contains("error") ? a["error"].value("code", 0) : 0;
  }

  ScopedTempDir dir_{"zentrak-http"};
  std::string config_ = dir_.File("host.json");
  std::unique_ptr<HostProcess> host_;
  std::unique_ptr<HttpClient> client_;
};

TEST_F(HttpTest, HostHeaderGate) {
  Start();
  const std::string p = std::to_string(host_->Port());
  struct Case {
    std::string host;
    int status;
  } cases[] = {
      {"127.0.0.1:" + p, 200},
      {"localhost:" + p, 200},
      {"LOCALHOST:" + p, 200},
      {"[::1]:" + p, 200},
      {"evil.example:" + p, 403},  // a rebinding page's own name
      {"127.0.0.1:" + std::to_string(host_->Port() + 1), 403},
      {"127.0.0.1", 403},
      {"10.0.0.1:" + p, 403},
  };
  for (const auto& c : cases) {
    HttpClient fresh("127.0.0.1", host_->Port());
    HttpResponse r = fresh.Request("GET", "/zentrak.js", {}, {{"Host", c.host}});
    EXPECT_EQ(r.status, c.status) << c.host;
    if (c.status == 403) {
      EXPECT_EQ(Code(r), kAccessDenied) << r.body;
      EXPECT_NE(r.body.find("does not name this host"), std::string::npos) << r.body;
    }
    // A client naming another host is not served again on that connection.
    EXPECT_EQ(r.Header("connection") == "close", c.status == 403) << c.host;
    // The same gate stands before the API, and a refused body is never read.
    HttpClient again("127.0.0.1", host_->Port());
    HttpResponse api = again.Request("POST", "/api", R"({"op":"session"})", {{"Host", c.host}});
    EXPECT_EQ(api.status, c.status) << c.host;
  }
  // Over IPv6 too.
  HttpClient v6("::1", host_->Port());
  EXPECT_EQ(v6.Request("GET", "/zentrak.js", {}, {{"Host", "[::1]:" + p}}).status, 200);
  EXPECT_EQ(v6.Request("GET", "/zentrak.js", {}, {{"Host", "evil.example:" + p}}).status, 403);
}

TEST_F(HttpTest, OriginGateAndCors) {
  std::ofstream(config_) << R"({"blockedOrigins":["https://evil.example"]})";
  Start();
  struct Case {
    std::string origin;
    int status;
  } cases[] = {
      {Own(), 200},
      {"http://localhost:" + std::to_string(host_->Port()), 200},
      {kIntranet, 200},
      {"HTTPS://INTRANET.example:443", 200},
      {"http://intranet.example", 403},  // another scheme is another origin
      {"https://unknown.example", 403},  // unknown, and nobody to ask
      {"https://evil.example", 403},     // blocked in the configuration
      {"null", 403},                     // file: pages
      {"not an origin", 403},
  };
  for (const auto& c : cases) {
    HttpResponse r = Post("/api", R"({"op":"session"})", c.origin);
    EXPECT_EQ(r.status, c.status) << c.origin;
    if (c.status == 200) {
      EXPECT_EQ(r.Header("access-control-allow-origin"), *NormalizeOrigin(c.origin)) << c.origin;
      EXPECT_EQ(r.Header("vary"), "Origin");
    } else {
      EXPECT_EQ(r.Header("access-control-allow-origin"), "") << c.origin;
      EXPECT_EQ(Code(r), kAccessDenied);
      EXPECT_NE(r.body.find("is not allowed to use Zentrak on this computer"), std::string::npos) << r.body;
    }
  }
  // Programs that send no Origin are local clients; a POST that says it crossed sites is not.
  EXPECT_EQ(Post("/api", R"({"op":"session"})").status, 200);
  HttpResponse cross = client_->Request("POST", "/api", R"({"op":"session"})", {{"Sec-Fetch-Site", "cross-site"}});
  EXPECT_EQ(cross.status, 403);
  // The script itself is public: a page of any origin may load it.
  EXPECT_EQ(client_->Request("GET", "/zentrak.js", {}, {{"Sec-Fetch-Site", "cross-site"}}).status, 200);
}

// GET /status tells any page where its own origin stands, and names the host's run only to
// approved pages; a session's answer and a "session has ended" refusal name the same run.
TEST_F(HttpTest, StatusOfAnOrigin) {
  std::ofstream(config_) << R"({"blockedOrigins":["https://evil.example"]})";
  Start();
  struct Case {
    std::string origin;
    std::string state;
  } cases[] = {
      {"", "approved"},  // a local program, or a page of the host's own origin
      {Own(), "approved"},
      {kIntranet, "approved"},
      {"https://evil.example", "blocked"},
      {"https://unknown.example", "blocked"},  // nobody to ask (--no-prompt)
      {"null", "blocked"},
      {"not an origin", "blocked"},
  };
  std::string instance;
  for (const auto& c : cases) {
    std::vector<std::pair<std::string, std::string>> h;
    if (!c.origin.empty()) h.push_back({"Origin", c.origin});
    HttpResponse r = client_->Request("GET", "/status", {}, h);
    ASSERT_EQ(r.status, 200) << c.origin;
    EXPECT_EQ(r.Header("access-control-allow-origin"), "*") << c.origin;
    json a = json::parse(r.body);
    EXPECT_EQ(a.value("state", ""), c.state) << c.origin;
    EXPECT_EQ(a.contains("instance"), c.state == "approved") << c.origin << " " << r.body;
    if (c.state == "approved") instance = a.value("instance", "");
  }
  EXPECT_EQ(instance.size(), 32u);
  EXPECT_EQ(json::parse(Post("/api", R"({"op":"session"})", kIntranet).body).value("instance", ""), instance);
  HttpResponse ended = Post("/api?session=0123456789abcdef0123456789abcdef", R"({"op":"ping"})", kIntranet);
  EXPECT_EQ(ended.status, 410);
  EXPECT_EQ(json::parse(ended.body).value("instance", ""), instance);
  // Another run of the host is another instance.
  Start();
  EXPECT_NE(json::parse(client_->Request("GET", "/status", {}, {}).body).value("instance", ""), instance);
}

TEST_F(HttpTest, NullOriginWhenConfigured) {
  Start({"--allow-origin", "null"});
  HttpResponse r = Post("/api", R"({"op":"session"})", "null");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("access-control-allow-origin"), "null");
}

TEST_F(HttpTest, Preflights) {
  Start();
  auto preflight = [&](const std::string& origin, bool pna) {
    std::vector<std::pair<std::string, std::string>> h = {
        {"Origin", origin}, {"Access-Control-Request-Method", "POST"}, {"Access-Control-Request-Headers", "content-type"}};
    if (pna) h.push_back({"Access-Control-Request-Private-Network", "true"});
    return client_->Request("OPTIONS", "/api", {}, h);
  };
  HttpResponse ok = preflight(kIntranet, true);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.Header("access-control-allow-origin"), kIntranet);
  EXPECT_EQ(ok.Header("access-control-allow-private-network"), "true");
  EXPECT_NE(ok.Header("access-control-allow-methods").find("POST"), std::string::npos);
  EXPECT_NE(ok.Header("access-control-allow-headers").find("Content-Type"), std::string::npos);

  EXPECT_EQ(preflight(kIntranet, false).Header("access-control-allow-private-network"), "");
  HttpResponse refused = preflight("https://unknown.example", true);
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(refused.Header("access-control-allow-origin"), "");
  EXPECT_EQ(refused.Header("access-control-allow-private-network"), "");
}

TEST_F(HttpTest, SessionsCarryWireRequests) {
  Start();
  std::string token = Open(kIntranet);
  ASSERT_EQ(token.size(), 32u);
  std::string api = "/api?session=" + token;
  HttpResponse r = Post(api,
                        R"([{"id":1,"op":"create","progid":"Zentrak.LocalDB"},)"
                        R"({"id":2,"op":"call","object":1,"name":"GetVersion"},)"
                        R"({"id":3,"op":"call","object":1,"name":"queryAll","args":[null]}])",
                        kIntranet);
  ASSERT_EQ(r.status, 200) << r.body;
  json a = json::parse(r.body);
  EXPECT_EQ(a[1], json::parse(R"({"id":2,"ok":true,"value":"Corvel SqliteDB 0.8"})"));
  EXPECT_EQ(a[2]["error"], json::parse(R"j({"code":-2147418113,)j"
                                       R"j("description":"Could not convert variant of type (Null) into type (String)",)j"
                                       R"j("source":"Zentrak.LocalDB"})j"));
  EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(r.Header("cache-control"), "no-store");

  // Sessions are apart: another page's session does not see the object.
  std::string other = Open(kIntranet);
  json missing = json::parse(Post("/api?session=" + other, R"({"op":"call","object":1,"dispid":201})", kIntranet).body);
  EXPECT_FALSE(missing["ok"].get<bool>());

  struct Case {
    std::string target;
    std::string origin;
    int status;
    int32_t code;
  } cases[] = {
      {"/api", kIntranet, 400, kInvalidArg},                          // no session named
      {"/api?session=0123456789abcdef0123456789abcdef", kIntranet, 410, kDisconnected},
      {api, Own(), 403, kAccessDenied},                               // another origin's session
      {api, "", 403, kAccessDenied},
  };
  for (const auto& c : cases) {
    HttpResponse e = Post(c.target, R"({"op":"call","object":1,"dispid":201})", c.origin);
    EXPECT_EQ(e.status, c.status) << c.target << " " << c.origin;
    EXPECT_EQ(Code(e), c.code) << e.body;
  }

  // The unload beacon ends the session; later calls are told so. Only its origin may end it.
  EXPECT_EQ(Post("/release?session=" + token, "", Own()).status, 403);
  EXPECT_EQ(Post(api, R"({"op":"call","object":1,"dispid":201})", kIntranet).status, 200);
  EXPECT_EQ(Post("/release?session=" + token, "", kIntranet).status, 200);
  HttpResponse ended = Post(api, R"({"op":"call","object":1,"dispid":201})", kIntranet);
  EXPECT_EQ(ended.status, 410);
  EXPECT_EQ(Code(ended), kDisconnected);
  EXPECT_NE(ended.body.find("The session has ended"), std::string::npos) << ended.body;
  EXPECT_EQ(Post("/release?session=" + token, "", kIntranet).status, 410);
  EXPECT_EQ(Post("/release", "", kIntranet).status, 410);
}

TEST_F(HttpTest, IdleSessionsEndUnlessThePageBeats) {
  Start({"--idle-timeout", "1"});
  std::string idle = Open(), beating = Open();
  for (const auto& token : {idle, beating})
    ASSERT_EQ(Post("/api?session=" + token, R"({"op":"create","progid":"Zentrak.LocalDB"})").status, 200);
  for (int i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(Post("/api?session=" + beating, R"({"id":7,"op":"ping"})").body, R"({"id":7,"ok":true})");
  }
  EXPECT_EQ(Post("/api?session=" + idle, R"({"op":"call","object":1,"dispid":201})").status, 410);
  EXPECT_EQ(Post("/api?session=" + beating, R"({"op":"call","object":1,"dispid":201})").status, 200);
}

TEST_F(HttpTest, Bounds) {
  Start({"--max-request-bytes", "2048", "--max-sessions", "2", "--max-objects", "2"});
  std::string token = Open();
  std::string api = "/api?session=" + token;
  std::string big = R"({"op":"call","object":1,"dispid":201,"pad":")" + std::string(2100, 'x') + "\"}";
  HttpResponse r = Post(api, big);
  EXPECT_EQ(r.status, 413);
  EXPECT_EQ(Code(r), kInvalidArg);
  EXPECT_NE(r.body.find("more than the 2048"), std::string::npos) << r.body;
  std::string fits = R"({"op":"create","progid":"Zentrak.LocalDB","pad":")" + std::string(1900, 'x') + "\"}";
  EXPECT_EQ(Post(api, fits).status, 200);
  // A refused body is skipped, and a request sent right behind it is answered.
  HttpClient behind("127.0.0.1", host_->Port());
  behind.Send("POST " + api + " HTTP/1.1\r\nHost: " + HostHeader() + "\r\nContent-Length: " +
              std::to_string(big.size()) + "\r\n\r\n" + big + "GET /zentrak.d.ts HTTP/1.1\r\nHost: " + HostHeader() +
              "\r\n\r\n");
  EXPECT_EQ(behind.Read().status, 413);
  EXPECT_EQ(behind.Read().status, 200);

  HttpClient chunked("127.0.0.1", host_->Port());
  HttpResponse c = chunked.Raw("POST " + api + " HTTP/1.1\r\nHost: " + HostHeader() +
                               "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  EXPECT_EQ(c.status, 411);

  EXPECT_TRUE(json::parse(Post(api, R"({"op":"create","progid":"Zentrak.LocalDB"})").body)["ok"].get<bool>());
  json third = json::parse(Post(api, R"({"op":"create","progid":"Zentrak.LocalDB"})").body);
  EXPECT_FALSE(third["ok"].get<bool>());
  EXPECT_NE(third["error"].value("description", "").find("too many objects"), std::string::npos) << third;

  Open();
  HttpResponse full = Post("/api", R"({"op":"session"})");
  EXPECT_EQ(full.status, 503);
  EXPECT_NE(full.body.find("too many sessions (at most 2)"), std::string::npos) << full.body;
  EXPECT_EQ(Post("/release?session=" + token, "").status, 200);  // a release frees a place
  EXPECT_EQ(Post("/api", R"({"op":"session"})").status, 200);
}

// One origin, or the local user's programs without one, cannot take every session: at its share
// its least recently used session ends, and other owners keep theirs.
TEST_F(HttpTest, SessionsPerOwner) {
  Start({"--max-sessions-per-owner", "2"});
  std::string page = Open(kIntranet);
  std::string first = Open(), second = Open();
  std::string third = Open();  // the local user's share is full: the first ends
  struct Case {
    std::string token, origin;
    int status;
  } cases[] = {
      {first, "", 410},
      {second, "", 200},
      {third, "", 200},
      {page, kIntranet, 200},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Post("/api?session=" + c.token, R"({"op":"ping"})", c.origin).status, c.status) << c.token;
}

TEST_F(HttpTest, BadRequestsAreAnsweredAndTheHostLives) {
  Start();
  std::string api = "/api?session=" + Open();
  struct Case {
    std::string method, target, body;
    int status;
  } cases[] = {
      {"POST", api, "not json", 400},
      {"POST", api, "", 400},
      {"POST", api, "{\"op\":\"call\",\"object\":1", 400},
      {"POST", api, "\xff\xfe", 400},
      {"POST", api, "42", 200},                       // JSON, but no request: the wire answers
      {"POST", api, "[1,{\"op\":\"fly\"}]", 200},
      {"GET", "/api", "", 405},
      {"PUT", "/api", "{}", 405},
      {"POST", "/zentrak.js", "{}", 405},
      {"DELETE", "/demo", "", 405},
      {"GET", "/nothing", "", 404},
      {"GET", "/demo/../host.json", "", 404},
  };
  for (const auto& c : cases) {
    HttpResponse r = client_->Request(c.method, c.target, c.body);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.target << " " << c.body;
    json a = json::parse(r.body, nullptr, false);
    ASSERT_FALSE(a.is_discarded()) << c.method << " " << c.target << ": " << r.body;
    if (c.status != 200) {
      EXPECT_FALSE(a["ok"].get<bool>()) << r.body;
    }
    if (c.status == 405) {
      EXPECT_NE(r.Header("allow"), "");
    }
  }
  HttpResponse not_json = Post(api, "not json");
  EXPECT_EQ(Code(not_json), kInvalidArg);
  EXPECT_NE(not_json.body.find("Bad request: not JSON"), std::string::npos) << not_json.body;
  // A number out of range and a nesting bomb, with and without a session: answered, and the host
  // lives on.
  std::string bomb = "{\"op\":\"session\",\"id\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const std::string& body : {std::string("1e400"), std::string("[1e400]"), bomb}) {
    EXPECT_EQ(Code(Post(api, body)), kInvalidArg) << body.substr(0, 40);
    EXPECT_EQ(Code(Post("/api", body)), kInvalidArg) << body.substr(0, 40);
  }
  // A request line the server cannot parse at all, then the host still answers.
  HttpClient garbage("127.0.0.1", host_->Port());
  garbage.Raw("\x01\x02 nonsense\r\n\r\n");
  EXPECT_EQ(client_->Request("GET", "/zentrak.js").status, 200);
}

// Whether the host still answers on c after what it just answered: false when it ended the
// connection.
bool StillServed(HttpClient& c) {
  try {
    return c.Request("GET", "/zentrak.d.ts").status == 200;
  } catch (const std::runtime_error&) {
    return false;
  }
}

TEST_F(HttpTest, RequestFramingAndConnections) {
  Start();
  const std::string h = "Host: " + HostHeader() + "\r\n";
  struct Case {
    std::string request;
    int status;
    bool kept;  // the connection serves the next request
  } cases[] = {
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 200, true},
      {"\r\nGET /zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 200, true},  // an empty line first
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + "Connection: close\r\n\r\n", 200, false},
      {"GET /zentrak.d.ts HTTP/1.0\r\n" + h + "\r\n", 200, false},
      {"GET /zentrak.d.ts HTTP/1.0\r\n" + h + "Connection: keep-alive\r\n\r\n", 200, true},
      {"GET http://" + HostHeader() + "/zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 200, true},
      {"GET http://evil.example/zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 403, false},  // the authority is the Host
      {"GET /zentrak.d.ts HTTP/2.0\r\n" + h + "\r\n", 505, false},
      {"GET /zentrak.d.ts\r\n" + h + "\r\n", 400, false},
      {"GET  /zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 400, false},
      {"G(T /zentrak.d.ts HTTP/1.1\r\n" + h + "\r\n", 400, false},
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + "X-A: 1\r\n folded\r\n\r\n", 400, false},
      {"GET /zentrak.d.ts HTTP/1.1\nHost: " + HostHeader() + "\n\n", 400, false},  // bare LF line ends
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + "Bad Name: 1\r\n\r\n", 400, false},
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + h + "\r\n", 400, false},  // two Host headers
      {"POST /api HTTP/1.1\r\n" + h + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello", 400, false},
      {"POST /api HTTP/1.1\r\n" + h + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\nhello", 400, false},
      {"POST /api HTTP/1.1\r\n" + h + "Content-Length: -5\r\n\r\n", 400, false},
      {"POST /api HTTP/1.1\r\n" + h + "Content-Length: 99999999999999999999999\r\n\r\n", 400, false},
      {"GET /zentrak.d.ts HTTP/1.1\r\n" + h + "X-Long: " + std::string(70000, 'a') + "\r\n\r\n", 431, false},
  };
  for (const auto& c : cases) {
    HttpClient client("127.0.0.1", host_->Port());
    HttpResponse r = client.Raw(c.request);
    std::string shown = c.request.substr(0, 60);
    EXPECT_EQ(r.status, c.status) << shown;
    if (c.status >= 400) {
      json a = json::parse(r.body, nullptr, false);
      EXPECT_TRUE(a.is_object() && !a["ok"].get<bool>()) << shown << ": " << r.body;
    }
    EXPECT_EQ(r.Header("connection") == "close", !c.kept) << shown;
    EXPECT_EQ(StillServed(client), c.kept) << shown;
  }

  // Pipelined requests are answered in order; a request split into single bytes is whole.
  HttpClient pipe("127.0.0.1", host_->Port());
  pipe.Send("GET /zentrak.d.ts HTTP/1.1\r\n" + h + "\r\nGET /nothing HTTP/1.1\r\n" + h +
            "\r\nHEAD /zentrak.js HTTP/1.1\r\n" + h + "\r\n");
  EXPECT_EQ(pipe.Read().status, 200);
  EXPECT_EQ(pipe.Read().status, 404);
  EXPECT_EQ(pipe.Read(false).status, 200);
  std::string session = "POST /api HTTP/1.1\r\n" + h + "Content-Length: 16\r\n\r\n{\"op\":\"session\"}";
  for (char ch : session) pipe.Send(std::string(1, ch));
  HttpResponse opened = pipe.Read();
  EXPECT_EQ(opened.status, 200) << opened.body;

  // Expect: 100-continue gets its interim answer before the body is sent.
  pipe.Send("POST /api HTTP/1.1\r\n" + h + "Expect: 100-continue\r\nContent-Length: 16\r\n\r\n");
  EXPECT_EQ(pipe.Read(false).status, 100);
  pipe.Send("{\"op\":\"session\"}");
  EXPECT_EQ(pipe.Read().status, 200);
}

// The resident memory of a process, in kB.
long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

TEST_F(HttpTest, LargeAnswersToSlowReadersDoNotHoldOthersUp) {
  Start({"--idle-timeout", "6"});
  std::string api = "/api?session=" + Open();
  ASSERT_EQ(Post(api, R"({"op":"create","progid":"Zentrak.LocalDB"})").status, 200);
  ASSERT_TRUE(json::parse(Post(api, R"({"op":"call","object":1,"name":"setDBName","args":["big",""]})").body)["ok"]);
  // About 24 MB of answer: more than the socket buffers hold, so it goes out in many writes.
  std::string call = R"({"op":"call","object":1,"name":"queryAll","args":["select hex(zeroblob(12000000)) as h"]})";
  HttpClient slow("127.0.0.1", host_->Port());
  slow.Send("POST " + api + " HTTP/1.1\r\nHost: " + HostHeader() + "\r\nContent-Length: " +
            std::to_string(call.size()) + "\r\n\r\n" + call);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Meanwhile another client is served.
  HttpClient other("127.0.0.1", host_->Port());
  EXPECT_EQ(other.Request("GET", "/zentrak.d.ts").status, 200);
  HttpResponse r = slow.Read();
  // Measured at once: under load, checking the answer below may take longer than the idle time.
  const long busy = ResidentKb(host_->Pid());
  ASSERT_EQ(r.status, 200);
  json a = json::parse(r.body);
  ASSERT_TRUE(a["ok"].get<bool>()) << r.body.substr(0, 300);
  json rows = json::parse(a["value"].get<std::string>());
  EXPECT_EQ(rows["data"][0][0].get<std::string>(), std::string(24000000, '0'));
  EXPECT_TRUE(StillServed(slow));

#if !defined(__SANITIZE_ADDRESS__)
  // The host keeps the memory of big answers while it is busy and gives it back once idle.
  // (A sanitizer's allocator has rules of its own.)
  ASSERT_GT(busy, 60000) << "the answers' memory is not kept between calls";
  long idle = busy;
  for (int i = 0; i < 200 && idle > busy - 40000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    idle = ResidentKb(host_->Pid());
  }
  EXPECT_LT(idle, busy - 40000) << "resident " << busy << " kB when busy";
#endif
}

// A client that stalls is closed: a head that trickles in, a head or a body that stops, an answer
// that is never read. Time-outs are 1 s here; the bounds below are generous.
TEST_F(HttpTest, StalledClientsAreClosed) {
  Start({"--head-timeout", "1", "--body-timeout", "1", "--write-timeout", "1", "--idle-timeout", "60"});
  constexpr int kBoundMs = 8000;
  const std::string h = "Host: " + HostHeader() + "\r\n";

  // One byte every 200 ms keeps a head going for ever unless the head has a deadline of its own.
  HttpClient loris("127.0.0.1", host_->Port());
  std::string head = "GET /zentrak.d.ts HTTP/1.1\r\n" + h + "X-Pad: " + std::string(200, 'a');
  bool closed = false;
  for (size_t i = 0; i < head.size() && !closed; ++i) {
    closed = !loris.TrySend(head.substr(i, 1)) || loris.WaitClosed(200);
  }
  EXPECT_TRUE(closed) << "a head sent a byte at a time was never cut";

  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"a silent partial head", "GET /zentrak.d.ts HTTP/1.1\r\nHo"},
      {"a lone empty line", "\r\n"},
      {"a partial body", "POST /api HTTP/1.1\r\n" + h + "Content-Length: 100\r\n\r\n{\"op\":"},
      {"a body that never starts", "POST /api HTTP/1.1\r\n" + h + "Content-Length: 100\r\n\r\n"},
  };
  for (const auto& c : cases) {
    HttpClient client("127.0.0.1", host_->Port());
    client.Send(c.bytes);
    EXPECT_TRUE(client.WaitClosed(kBoundMs)) << c.what;
  }

  // An answer far larger than the socket buffers, to a client that reads none of it.
  std::string api = "/api?session=" + Open();
  ASSERT_EQ(Post(api, R"({"op":"create","progid":"Zentrak.LocalDB"})").status, 200);
  ASSERT_TRUE(json::parse(Post(api, R"({"op":"call","object":1,"name":"setDBName","args":["big",""]})").body)["ok"]);
  std::string call = R"({"op":"call","object":1,"name":"queryAll","args":["select hex(zeroblob(12000000)) as h"]})";
  HttpClient sleeper("127.0.0.1", host_->Port(), {}, 4096);
  sleeper.Send("POST " + api + " HTTP/1.1\r\n" + h + "Content-Length: " + std::to_string(call.size()) + "\r\n\r\n" +
               call);
  // Once the answer has begun to arrive, the host is stuck writing it: no byte more is taken.
  ASSERT_TRUE(sleeper.WaitReadable(60000));
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  HttpResponse cut = sleeper.Read();
  EXPECT_EQ(cut.status, 200);
  EXPECT_LT(cut.body.size(), 24000000u) << "the whole answer waited for a client that did not read";

  // A client that keeps to its time is still served.
  EXPECT_TRUE(StillServed(*client_));
}

// Answers held for clients that do not read them are bounded for the whole host: beyond the
// bound a call is refused before it runs, and served again once the memory has gone.
TEST_F(HttpTest, UnreadAnswersAreBounded) {
  Start({"--max-unsent-bytes", "1000000", "--write-timeout", "60"});
  std::string api = "/api?session=" + Open();
  ASSERT_EQ(Post(api, R"({"op":"create","progid":"Zentrak.LocalDB"})").status, 200);
  ASSERT_TRUE(json::parse(Post(api, R"({"op":"call","object":1,"name":"setDBName","args":["big",""]})").body)["ok"]);
  std::string big = R"({"op":"call","object":1,"name":"queryAll","args":["select hex(zeroblob(4000000)) as h"]})";
  std::string small = R"({"op":"call","object":1,"name":"GetVersion"})";
  auto sleeper = std::make_unique<HttpClient>("127.0.0.1", host_->Port(), std::string(), 4096);
  sleeper->Send("POST " + api + " HTTP/1.1\r\nHost: " + HostHeader() + "\r\nContent-Length: " +
                std::to_string(big.size()) + "\r\n\r\n" + big);
  ASSERT_TRUE(sleeper->WaitReadable(60000));  // the answer is made, and mostly waits in the host
  for (const std::string& body : {big, small}) {
    HttpResponse r = Post(api, body);
    EXPECT_EQ(r.status, 503) << body;
    EXPECT_NE(r.body.find("bytes of answers that their clients have not read"), std::string::npos) << r.body;
  }
  // Opening sessions and the heartbeat are small and stay served.
  EXPECT_EQ(Post(api, R"({"op":"ping"})").status, 200);
  sleeper.reset();  // the client goes, and its answer with it
  int status = 0;
  for (int i = 0; i < 50 && status != 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    status = Post(api, small).status;
  }
  EXPECT_EQ(status, 200);
}

// One user's programs (or, unchecked, one address) get a share of the connections, not all.
TEST_F(HttpTest, ConnectionsPerPeer) {
  struct Case {
    std::vector<std::string> args;
    const char* other_source;  // a peer that must still get in; null when there is none to try
  } cases[] = {
      {{"--max-connections-per-peer", "3"}, nullptr},
      {{"--max-connections-per-peer", "3", "--allow-other-users-unchecked"}, "127.0.0.2"},
  };
  for (const auto& c : cases) {
    Start(c.args);
    std::vector<std::unique_ptr<HttpClient>> held;
    for (int i = 0; i < 2; ++i) {
      held.push_back(std::make_unique<HttpClient>("127.0.0.1", host_->Port()));
      ASSERT_TRUE(StillServed(*held.back()));
    }
    // With client_ that makes three: the next one from the same peer is closed at once.
    HttpClient over("127.0.0.1", host_->Port());
    EXPECT_TRUE(over.WaitClosed(5000)) << c.args.size();
    if (c.other_source) {
      HttpClient other("127.0.0.1", host_->Port(), c.other_source);
      EXPECT_TRUE(StillServed(other)) << c.other_source;
    }
    // A connection that ends gives its place back.
    held.pop_back();
    bool served = false;
    for (int i = 0; i < 50 && !served; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      HttpClient again("127.0.0.1", host_->Port());
      served = StillServed(again);
    }
    EXPECT_TRUE(served);
    held.clear();
    client_.reset();
    host_.reset();
  }
}

TEST_F(HttpTest, ServedFiles) {
  Start();
  struct Case {
    const char* path;
    const char* type;
    const char* contains;
  } cases[] = {
      {"/zentrak.js", "text/javascript; charset=utf-8", "ActiveXObject"},
      {"/zentrak.mjs", "text/javascript; charset=utf-8", "export default Zentrak"},
      {"/zentrak.d.ts", "text/plain; charset=utf-8", "interface ILocalDB"},
      {"/demo", "text/html; charset=utf-8", "Zentrak demo"},
      {"/demo/", "text/html; charset=utf-8", "Zentrak demo"},
      {"/demo/demo.js", "text/javascript; charset=utf-8", "Zentrak.create"},
      {"/demo/demo.css", "text/css; charset=utf-8", "table"},
      // The viewer element and its pdf.js, fetched at configure time.
      {"/zentrak.js", "text/javascript; charset=utf-8", "customElements.define(\"zentrak-viewer\""},
      {"/pdfjs/pdf.min.mjs", "text/javascript; charset=utf-8", "GlobalWorkerOptions"},
      {"/pdfjs/pdf.worker.min.mjs", "text/javascript; charset=utf-8", "WorkerMessageHandler"},
      {"/pdfjs/standard_fonts/LiberationSans-Regular.ttf", "application/octet-stream", "glyf"},
      {"/pdfjs/cmaps/UniGB-UCS2-H.bcmap", "application/octet-stream", "\x02\xe0"},
  };
  for (const auto& c : cases) {
    HttpResponse r = client_->Request("GET", c.path);
    EXPECT_EQ(r.status, 200) << c.path;
    EXPECT_EQ(r.Header("content-type"), c.type) << c.path;
    EXPECT_NE(r.body.find(c.contains), std::string::npos) << c.path;
  }
  HttpResponse demo = client_->Request("GET", "/demo");
  EXPECT_NE(demo.Header("content-security-policy").find("frame-ancestors 'none'"), std::string::npos);
  HttpResponse head = client_->Request("HEAD", "/zentrak.js");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(client_->Request("GET", "/zentrak.js").body.size()));
  HttpResponse root = client_->Request("GET", "/");
  EXPECT_EQ(root.status, 302);
  EXPECT_EQ(root.Header("location"), Own() + "/demo");
  // The module is fetched in CORS mode: approved origins get their CORS answer, others nothing.
  EXPECT_EQ(client_->Request("GET", "/zentrak.mjs", {}, {{"Origin", kIntranet}}).Header("access-control-allow-origin"),
            kIntranet);
  EXPECT_EQ(client_->Request("GET", "/zentrak.mjs", {}, {{"Origin", "https://unknown.example"}}).status, 403);
}

TEST_F(HttpTest, StopsCleanlyAndRefusesABadConfiguration) {
  Start();
  Open();
  client_.reset();
  EXPECT_EQ(host_->Stop(), 0);
  std::ofstream(config_) << R"({"port":"eighty"})";
  EXPECT_THROW(HostProcess(ZENTRAK_HOST_BINARY, config_, {"--no-prompt"}), std::runtime_error);
}

// zentrak.d.ts declares every member of the four interfaces, spelt as the type library does.
// The page channel over a real connection: the handshake, requests and answers in order,
// fragments and pings, refusals as messages, and the frames that end it.
struct Frame {
  int opcode = -1;  // -1: the connection ended
  std::string payload;
};

Frame ReadFrame(HttpClient& c) {
  Frame f;
  std::string head = c.ReadBytes(2);
  if (head.size() < 2) return f;
  uint64_t n = static_cast<uint8_t>(head[1]) & 0x7F;
  if (n >= 126) {
    std::string ext = c.ReadBytes(n == 126 ? 2 : 8);
    n = 0;
    for (char b : ext) n = (n << 8) | static_cast<uint8_t>(b);
  }
  f.opcode = static_cast<uint8_t>(head[0]) & 0x0F;
  f.payload = c.ReadBytes(static_cast<size_t>(n));
  return f;
}

std::string Masked(uint8_t first, const std::string& payload, bool mask = true) {
  std::string f(1, static_cast<char>(first));
  const char key[4] = {0x0f, 0x1e, 0x2d, 0x3c};
  uint8_t m = mask ? 0x80 : 0;
  if (payload.size() < 126) {
    f += static_cast<char>(m | payload.size());
  } else {
    f += static_cast<char>(m | 126);
    f += static_cast<char>(payload.size() >> 8);
    f += static_cast<char>(payload.size() & 0xFF);
  }
  if (mask) f.append(key, 4);
  for (size_t i = 0; i < payload.size(); ++i) f += mask ? static_cast<char>(payload[i] ^ key[i % 4]) : payload[i];
  return f;
}

TEST_F(HttpTest, PageChannel) {
  Start({"--max-request-bytes", "4096"});
  const std::string token = Open(kIntranet);
  auto connect = [&](const std::string& target) {
    auto c = std::make_unique<HttpClient>("127.0.0.1", host_->Port());
    HttpResponse r = c->Request("GET", target, "", {{"Origin", kIntranet}, {"Upgrade", "websocket"},
                                                    {"Connection", "Upgrade"}, {"Sec-WebSocket-Version", "13"},
                                                    {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}});
    EXPECT_EQ(r.status, 101) << r.body;
    EXPECT_EQ(r.Header("sec-websocket-accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(r.Header("content-length"), "");
    return c;
  };
  auto c = connect("/ws?session=" + token);
  // A request in two fragments with a ping between them: the pong first, then the answer.
  c->Send(Masked(0x01, R"([{"op":"create",)") + Masked(0x89, "p") + Masked(0x80, R"("progid":"Zentrak.LocalDB"}])"));
  Frame pong = ReadFrame(*c);
  EXPECT_EQ(pong.opcode, 0xA);
  EXPECT_EQ(pong.payload, "p");
  Frame created = ReadFrame(*c);
  EXPECT_EQ(created.opcode, 0x1);
  EXPECT_EQ(json::parse(created.payload)[0]["object"], 1) << created.payload;
  // Messages sent together are answered in order.
  c->Send(Masked(0x81, R"([{"id":1,"op":"call","object":1,"name":"GetVersion"}])") + Masked(0x81, "not json") +
          Masked(0x81, R"({"id":3,"op":"call","object":1,"name":"setDBName","args":["channel",""]})"));
  const struct {
    const char* what;
    std::string front;
  } answers[] = {
      {"a call", R"([{"id":1,"ok":true,"value":"Corvel SqliteDB 0.8"}])"},
      {"text that is no JSON: a refusal with its status", R"({"status":400,)"},
      {"a single request", R"({"id":3,"ok":true,"value":true})"},
  };
  for (const auto& a : answers) {
    Frame f = ReadFrame(*c);
    EXPECT_EQ(f.opcode, 0x1) << a.what;
    EXPECT_EQ(f.payload.substr(0, a.front.size()), a.front) << a.what;
  }
  // A long result: the JSON line in a binary message, then the text in binary messages.
  c->Send(Masked(0x81, R"([{"op":"call","object":1,"name":"queryAll","args":["with recursive n(i) as (select 1 union all select i + 1 from n where i < 40000) select i from n"]}])"));
  Frame line = ReadFrame(*c);
  ASSERT_EQ(line.opcode, 0x2);
  ASSERT_EQ(line.payload.back(), '\n');
  size_t length = json::parse(line.payload)[0]["rawLength"];
  std::string text;
  while (text.size() < length) {
    Frame f = ReadFrame(*c);
    ASSERT_EQ(f.opcode, 0x2);
    EXPECT_LE(f.payload.size(), 256u * 1024);
    text += f.payload;
  }
  EXPECT_EQ(json::parse(text)["total"], 40000);

  // A channel that takes pieces: the end of the long result comes while the query runs, in
  // binary messages that start with a zero byte, then the answer, whose value is the beginning.
  auto p = connect("/ws?session=" + token + "&pieces=1");
  const std::string rows = "with recursive n(i) as (select 1 union all select i + 1 from n where i < 40000) ";
  auto call = [&](const std::string& sql) {
    return R"({"op":"call","object":1,"name":"queryAll","args":[")" + sql + R"("]})";
  };
  // The pieces, then the answer's JSON.
  auto read_streamed = [&](std::string& pieces) {
    for (;;) {
      Frame f = ReadFrame(*p);
      if (f.opcode == 0x2 && !f.payload.empty() && f.payload[0] == '\0') {
        pieces += f.payload.substr(1);
        continue;
      }
      return f;
    }
  };
  p->Send(Masked(0x81, "[" + call(rows + "select i from n") + "]"));
  std::string pieces;
  Frame answer = read_streamed(pieces);
  ASSERT_EQ(answer.opcode, 0x1);
  json streamed = json::parse(answer.payload)[0];
  EXPECT_EQ(streamed["streamed"], pieces.size());
  EXPECT_GT(pieces.size(), 0u);
  EXPECT_EQ(streamed["value"].get<std::string>() + pieces, text);
  // A query that fails partway: its pieces are void, and the answer says why.
  pieces.clear();
  p->Send(Masked(0x81, call(rows + "select case when i < 30000 then i else abs(-9223372036854775807 - 1) end from n")));
  answer = read_streamed(pieces);
  json failed = json::parse(answer.payload);
  EXPECT_GT(pieces.size(), 0u);
  EXPECT_EQ(failed["ok"], false);
  EXPECT_FALSE(failed.contains("streamed"));
  EXPECT_NE(failed["error"]["description"].get<std::string>().find("integer overflow"), std::string::npos);
  // Only the last request of a batch streams; the others' long texts follow their JSON line.
  p->Send(Masked(0x81, "[" + call(rows + "select i from n") + R"(,{"op":"call","object":1,"name":"GetVersion"}])"));
  pieces.clear();
  answer = read_streamed(pieces);
  EXPECT_EQ(pieces, "");
  ASSERT_EQ(answer.opcode, 0x2);
  EXPECT_EQ(json::parse(answer.payload)[0]["rawLength"], text.size());
  for (size_t got = 0; got < text.size();) got += ReadFrame(*p).payload.size();

  // The session ends: the channel's next message is refused as the POST would be.
  EXPECT_EQ(Post("/release?session=" + token, "", kIntranet).status, 200);
  c->Send(Masked(0x81, R"([{"op":"call","object":1,"name":"GetVersion"}])"));
  Frame gone = ReadFrame(*c);
  EXPECT_EQ(json::parse(gone.payload)["status"], 410) << gone.payload;
  EXPECT_EQ(json::parse(gone.payload)["error"]["code"], kDisconnected);

  // Frames that end a channel, each on a channel of its own: the close code, then the end.
  const std::string fresh = Open(kIntranet);
  const struct {
    const char* what;
    std::string frames;
    uint16_t code;
    std::string reason;
  } closes[] = {
      {"a close from the page", Masked(0x88, "\x0f\xa0" "bye"), 4000, ""},
      {"over the request limit", Masked(0x81, std::string(4097, 'x')), 1009,
       "Bad request: the body has 4097 bytes, more than the 4096 a request may have"},
      {"unmasked", Masked(0x81, "[]", false), 1002, ""},
      {"binary from the page", Masked(0x82, "[]"), 1003, ""},
      {"not UTF-8", Masked(0x81, "\xff"), 1007, ""},
  };
  for (const auto& k : closes) {
    auto ch = connect("/ws?session=" + fresh);
    ch->Send(k.frames);
    Frame f = ReadFrame(*ch);
    ASSERT_EQ(f.opcode, 0x8) << k.what;
    ASSERT_GE(f.payload.size(), 2u) << k.what;
    EXPECT_EQ((static_cast<uint8_t>(f.payload[0]) << 8) | static_cast<uint8_t>(f.payload[1]), k.code) << k.what;
    if (!k.reason.empty()) {
      EXPECT_EQ(f.payload.substr(2), k.reason) << k.what;
    }
    EXPECT_TRUE(ch->WaitClosed(5000)) << k.what;
  }
}

TEST(Declarations, NameEveryMember) {
  std::ifstream in(ZENTRAK_WEB_DIR "/zentrak.d.ts");
  std::stringstream text;
  text << in.rdbuf();
  const std::string dts = text.str();
  for (const ClassDesc* cls : ZentrakTypeLibrary().classes) {
    const std::string iface = cls->default_interface->name;
    size_t begin = dts.find("export interface " + iface + " {");
    ASSERT_NE(begin, std::string::npos) << iface;
    std::string block = dts.substr(begin, dts.find("\n}", begin) - begin);
    size_t declared = 0;
    for (size_t at = block.find("\n  "); at != std::string::npos; at = block.find("\n  ", at + 1))
      if (block.compare(at + 3, 2, "/*") != 0 && block.compare(at + 3, 2, " *") != 0) ++declared;
    std::set<std::string> names;
    for (const MemberDesc& m : cls->default_interface->members) {
      names.insert(m.name);
      bool method = m.kind == MemberKind::kMethod;
      std::string as_method = "\n  " + std::string(m.name) + "(";
      std::string as_property = std::string(m.name) + ": ";
      bool found = method ? block.find(as_method) != std::string::npos
                          : block.find("\n  " + as_property) != std::string::npos ||
                                block.find("\n  readonly " + as_property) != std::string::npos;
      EXPECT_TRUE(found) << iface << "." << m.name;
      bool read_only = !method;
      for (const MemberDesc& other : cls->default_interface->members)
        if (other.dispid == m.dispid && other.kind != MemberKind::kPropertyGet) read_only = false;
      if (!method) {
        EXPECT_EQ(block.find("\n  readonly " + as_property) != std::string::npos, read_only) << iface << "." << m.name;
      }
    }
    EXPECT_EQ(declared, names.size()) << iface << ": members declared that the type library does not have";
  }
}

}  // namespace
}  // namespace zentrak::host

// The client's explanations of a host it cannot reach, in Node (its fetch, no browser): a fake
// host drops every /api request, as a browser drops an answer it may not show the page, and
// answers GET /status with each state in turn.
//   node client_test.mjs path/to/zentrak.mjs
import http from "node:http";
import assert from "node:assert/strict";

const { zentrakClient } = await import(process.argv[2]);

let probe = null; // the body of GET /status, or null for no answer
let api = null; // a function answering POST /api, or null to drop the request
const server = http.createServer((req, res) => {
  const target = new URL(req.url, "http://x").pathname;
  if (target === "/status" && probe !== null) {
    res.writeHead(200, { "Content-Type": "application/json" });
    res.end(JSON.stringify(probe));
  } else if (target === "/api" && api !== null) {
    let body = "";
    req.on("data", (d) => (body += d));
    req.on("end", () => api(res, JSON.parse(body)));
  } else {
    req.socket.destroy();
  }
});
await new Promise((r) => server.listen(0, "127.0.0.1", r));
const base = `http://127.0.0.1:${server.address().port}/`;

// The state GET /status gives, the error a create then fails with, and the status it leaves.
const cases = [
  [null, -2147023174, /^The Zentrak host is not running at /, "not-running"],
  [{ ok: true, state: "asking" }, -2147024875, /^Waiting for the user's approval/, "waiting-approval"],
  [{ ok: true, state: "unknown" }, -2147024875, /^Waiting for the user's approval/, "waiting-approval"],
  [{ ok: true, state: "blocked" }, -2147024891, /does not allow this page to use it/, "blocked"],
  [{ ok: true, state: "approved", instance: "a" }, -2147023174, /did not answer this page/, "connected"],
];
for (const [state, number, text, status] of cases) {
  probe = state;
  const Z = zentrakClient(base);
  const seen = [];
  Z.onstatus = (e) => seen.push(e.status);
  const e = await Z.create("Zentrak.LocalDB").then(() => null, (x) => x);
  assert.ok(e, `${JSON.stringify(state)}: no error`);
  assert.equal(e.number, number, JSON.stringify(state));
  assert.match(e.description, text);
  assert.equal(await Z.status(), status);
  assert.deepEqual(seen, [status], "one status event");
}

// A session answered by one run of the host, then a 410 from another: the object says the host
// was restarted, and a new create opens a new session there.
probe = { ok: true, state: "approved", instance: "run1" };
let run = "run1";
let sessions = 0;
api = (res, req) => {
  const list = Array.isArray(req) ? req : [req];
  if (list[0].op === "session") {
    sessions++;
    res.writeHead(200);
    res.end(JSON.stringify({ ok: true, session: `${run}-${sessions}`, instance: run, idleTimeout: 600, maxObjects: 8 }));
    return;
  }
  if (!res.req.url.includes(run)) {
    res.writeHead(410);
    res.end(JSON.stringify({ ok: false, instance: run, error: { code: -2147417848, description: "The session has ended" } }));
    return;
  }
  res.writeHead(200);
  res.end(JSON.stringify(list.map((r) => (r.op === "create" ? { ok: true, object: 1 }
    : r.op === "describe" ? { ok: true, value: { progid: r.progid, interface: "ILocalDB",
                                               members: [{ name: "GetVersion", kind: "method", dispid: 201 }] } }
    : { ok: true, value: "v" }))));
};
const Z = zentrakClient(base);
const before = await Z.create("Zentrak.LocalDB");
assert.equal(await before.GetVersion(), "v");
run = "run2";
const restarted = await before.GetVersion().then(() => null, (x) => x);
assert.equal(restarted.number, -2147418105);
assert.match(restarted.description, /was restarted/);
assert.equal((await before.GetVersion().then(() => null, (x) => x)).number, -2147418105, "stays so");
assert.equal(await (await Z.create("Zentrak.LocalDB")).GetVersion(), "v", "a new object");
assert.equal(sessions, 2);

// Zentrak.batch: the results in order, and the first failure with its place.
const fresh = await Z.create("Zentrak.LocalDB");
const r = await Z.batch([[fresh, "GetVersion"], [before, "GetVersion"], [fresh, "GetVersion"]]).then(() => null, (x) => x);
assert.equal(r.number, -2147418105);
assert.equal(r.index, 1, "the failure's place");
assert.deepEqual(await Z.batch(() => [fresh.GetVersion(), fresh.GetVersion()]), ["v", "v"]);
console.log("client_test: all passed");
server.close();
process.exit(0);

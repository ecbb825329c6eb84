// Times the Promise API from a page in headless Chromium, the page at the host's own origin,
// beside anchors measured in the same page in the same run:
//   (a) sequential awaited GetVersion calls  vs  a bare fetch of a small static file of the host
//       and a bare WebSocket echo (a small echo server in this process)
//   (b) synchronous calls of an object made for old page code (createObject), per call, beside a
//       bare synchronous XMLHttpRequest to the host
//   (c) 10,000 single-row inserts issued in one task inside one transaction; the order is checked
//   (d) queryAll of 200,000 rows x 8 columns to the result text in hand  vs  sqlite3 -json writing
//       the same result; and the longest main-thread task during the call (PerformanceObserver)
//   (e) what the page alone needs for (d)'s bytes: a bare WebSocket server sends them at once and
//       the page takes them in and decodes them as the client does

//   node bench/web_bench.mjs BUILD_DIR DATA_DIR   (DATA_DIR from bench/make_data.py)
// bench/web_bench.sh makes the data and runs this. Prints one line per benchmark.
import { spawn, spawnSync } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, "..", "tests", "e2e", "package.json"));
const { chromium } = require("playwright-core");

const build = path.resolve(process.argv[2] || "build");
const data = path.resolve(process.argv[3] || "bench-data");
const rounds = Number(process.env.ROUNDS || 3);
const children = [];

function start(command, args, options, pattern, stream = "stdout") {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { ...options, stdio: ["ignore", "pipe", "pipe"] });
    children.push(child);
    let seen = "";
    child[stream].on("data", (d) => {
      seen += d;
      const m = seen.match(pattern);
      if (m) resolve(m);
    });
    child.on("exit", (code) => reject(new Error(`${command} exited with ${code}: ${seen}`)));
  });
}

// A WebSocket echo server of the smallest kind: text frames of under 126 bytes come back as they
// are, but "bulk", which is answered with bulk.bytes in binary messages of 256 KiB, all at once.
const bulk = { bytes: Buffer.alloc(0) };
function echoServer() {
  const server = http.createServer((req, res) => res.end());
  server.on("upgrade", (req, socket) => {
    const accept = crypto.createHash("sha1")
      .update(req.headers["sec-websocket-key"] + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest("base64");
    socket.setNoDelay(true);
    socket.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    let buf = Buffer.alloc(0);
    socket.on("data", (d) => {
      buf = Buffer.concat([buf, d]);
      while (buf.length >= 6) {
        const n = buf[1] & 0x7f;
        if (n >= 126 || buf.length < 6 + n) break;
        const mask = buf.subarray(2, 6);
        const payload = Buffer.from(buf.subarray(6, 6 + n).map((b, i) => b ^ mask[i % 4]));
        if ((buf[0] & 0x0f) === 0x8) {
          socket.end();
          return;
        }
        if (payload.toString() === "bulk") {
          for (let at = 0; at < bulk.bytes.length; at += 262144) {
            const piece = bulk.bytes.subarray(at, at + 262144);
            const head = Buffer.alloc(10);
            head[0] = 0x82;
            head[1] = 127;
            head.writeBigUInt64BE(BigInt(piece.length), 2);
            socket.write(Buffer.concat([head, piece]));
          }
        } else {
          socket.write(Buffer.concat([Buffer.from([0x81, n]), payload]));
        }
        buf = buf.subarray(6 + n);
      }
    });
    socket.on("error", () => {});
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.floor(s.length / 2)];
}

// Wall milliseconds of sqlite3 -json writing the result of sql, to /dev/null.
function sqliteJson(db, sql) {
  const out = fs.openSync("/dev/null", "w");
  const t0 = process.hrtime.bigint();
  const r = spawnSync("sqlite3", ["-json", db, sql], { stdio: ["ignore", out, "inherit"] });
  const ms = Number(process.hrtime.bigint() - t0) / 1e6;
  fs.closeSync(out);
  if (r.status !== 0) throw new Error("sqlite3 failed");
  return ms;
}

async function main() {
  const env = { ...process.env, USERPROFILE: data, HOME: data };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  const m = await start(path.join(build, "host", "zentrak-host"), ["--port", "0", "--no-prompt"], { env },
                        /listening on http:\/\/127\.0\.0\.1:(\d+)\//);
  const hostBase = `http://127.0.0.1:${m[1]}/`;
  const echo = await echoServer();
  const echoUrl = `ws://127.0.0.1:${echo.address().port}/`;
  const ws = await start("/usr/bin/chromium",
    ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
     `--user-data-dir=${path.join(data, "chromium")}`, "--remote-debugging-port=0", "about:blank"],
    {}, /DevTools listening on (ws:\/\/\S+)/, "stderr");
  const browser = await chromium.connectOverCDP(ws[1]);
  const page = await browser.contexts()[0].newPage();
  // A plain text file of the host: a page at its origin with no script of its own.
  await page.goto(`${hostBase}zentrak.d.ts`);
  await page.evaluate(async () => {
    window.Z = (await import("/zentrak.mjs")).default;
    window.db = await Z.create("Zentrak.LocalDB");
    window.longest = [];
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) window.longest.push({ start: e.startTime, duration: e.duration });
    }).observe({ type: "longtask", buffered: true });
  });

  // (a) and (b), in rounds, each anchor in the same round.
  const a = { call: [], fetch: [], echo: [], sync: [], bareSync: [] };
  for (let r = 0; r < rounds; r++) {
    const t = await page.evaluate(async (echoAt) => {
      const per = async (n, f) => {
        for (let i = 0; i < 50; i++) await f();
        const t0 = performance.now();
        for (let i = 0; i < n; i++) await f();
        return (performance.now() - t0) / n;
      };
      const call = await per(2000, () => db.GetVersion());
      const fetched = await per(1000, () => fetch("/demo/favicon.svg", { cache: "no-store" }).then((x) => x.text()));
      const socket = new WebSocket(echoAt);
      await new Promise((resolve) => { socket.onopen = resolve; });
      let waiting = null;
      socket.onmessage = () => waiting();
      const echoed = await per(2000, () => new Promise((resolve) => { waiting = resolve; socket.send("x"); }));
      socket.close();
      const old = Z.createObject("Zentrak.LocalDB");
      const sync = await per(1000, () => old.GetVersion());
      Z.release(old);
      // The same kind of request bare: a synchronous POST of a small body that the host reads and
      // answers (a refusal: it names no session).
      const bareSync = await per(1000, () => {
        const x = new XMLHttpRequest();
        x.open("POST", "/api", false);
        x.setRequestHeader("Content-Type", "text/plain;charset=UTF-8");
        x.send('{"op":"ping"}');
        return x.responseText;
      });
      return { call, fetched, echoed, sync, bareSync };
    }, echoUrl);
    a.call.push(t.call);
    a.fetch.push(t.fetched);
    a.echo.push(t.echoed);
    a.sync.push(t.sync);
    a.bareSync.push(t.bareSync);
  }
  const call = median(a.call);
  const fetched = median(a.fetch);
  console.log(`(a) awaited GetVersion: ${call.toFixed(3)} ms per call; bare fetch ${fetched.toFixed(3)} ms; ` +
              `bare WebSocket echo ${median(a.echo).toFixed(3)} ms; ratio to fetch ${(call / fetched).toFixed(2)} ` +
              `(target <= 0.25)`);
  console.log(`(b) synchronous GetVersion (createObject): ${median(a.sync).toFixed(3)} ms per call; a bare synchronous ` +
              `XMLHttpRequest to the host ${median(a.bareSync).toFixed(3)} ms`);

  // (c) 10,000 inserts in one task, inside one transaction.
  const inserts = [];
  for (let r = 0; r < rounds; r++) {
    const t = await page.evaluate(async () => {
      await db.setDBName("web_bench_inserts", "");
      await db.executeSql("drop table if exists o");
      await db.executeSql("create table o(n integer)");
      const t0 = performance.now();
      const calls = [db.BeginTrans()];
      for (let i = 0; i < 10000; i++) calls.push(db.executeSql(`insert into o values(${i})`));
      calls.push(db.CommitTrans());
      const answers = await Promise.all(calls);
      const ms = performance.now() - t0;
      const stored = JSON.parse(await db.queryAll("select n from o order by rowid")).data;
      const inOrder = stored.length === 10000 && stored.every((row, i) => Number(row[0]) === i);
      return { ms, inOrder, allTrue: answers.slice(1, -1).every((x) => x === true) };
    });
    if (!t.inOrder || !t.allTrue) throw new Error("the inserts were not stored in order");
    inserts.push(t.ms);
  }
  console.log(`(c) 10,000 inserts in one task, one transaction: ${(median(inserts) / 1000).toFixed(3)} s, ` +
              `in order (target <= 1.0 s)`);

  // (d) queryAll of 200,000 x 8 beside sqlite3 -json.
  const db = path.join(data, "Zentrak", "bench.db");
  const ours = [];
  const anchor = [];
  const floor = [];
  let longest = 0;
  let length = 0;
  await page.evaluate(() => db.setDBName("bench", ""));
  // The result's bytes as the host sends them, for the page's floor below.
  bulk.bytes = Buffer.from(await page.evaluate(async () => {
    const text = await db.queryAll("select * from t");
    return text;
  }), "utf8");
  for (let r = 0; r < rounds; r++) {
    anchor.push(sqliteJson(db, "select * from t"));
    // The floor: the same bytes from a server that has them ready, taken in and decoded by the
    // page as the client does (each message as it comes).
    floor.push(await page.evaluate(async ([echoAt, total]) => {
      const socket = new WebSocket(echoAt);
      socket.binaryType = "arraybuffer";
      await new Promise((resolve) => { socket.onopen = resolve; });
      const t0 = performance.now();
      const length = await new Promise((resolve) => {
        const decoder = new TextDecoder();
        let left = total;
        let text = "";
        socket.onmessage = (ev) => {
          left -= ev.data.byteLength;
          text += decoder.decode(ev.data, { stream: left > 0 });
          if (left === 0) resolve(text.length);
        };
        socket.send("bulk");
      });
      const ms = performance.now() - t0;
      socket.close();
      if (length === 0) throw new Error("nothing came");
      return ms;
    }, [echoUrl, bulk.bytes.length]));
    const t = await page.evaluate(async () => {
      const t0 = performance.now();
      const text = await db.queryAll("select * from t");
      const ms = performance.now() - t0;
      // Long tasks are reported after they end.
      await new Promise((resolve) => setTimeout(resolve, 200));
      const during = window.longest.filter((e) => e.start + e.duration >= t0 && e.start <= t0 + ms);
      window.longest = [];
      return { ms, length: text.length, longest: Math.max(0, ...during.map((e) => e.duration)) };
    });
    ours.push(t.ms);
    longest = Math.max(longest, t.longest);
    length = t.length;
  }
  const q = median(ours);
  const s = median(anchor);
  console.log(`(d) queryAll 200,000 x 8 (${length} characters): ${(q / 1000).toFixed(3)} s; sqlite3 -json ` +
              `${(s / 1000).toFixed(3)} s; ratio ${(q / s).toFixed(2)} (target <= 1.2); longest main-thread task ` +
              `${longest ? longest.toFixed(0) + " ms" : "none over 50 ms"} (target <= 100 ms)`);
  const f = median(floor);
  console.log(`(e) the page's floor for (d): the same ${bulk.bytes.length} bytes from a bare WebSocket server that ` +
              `has them ready, taken in and decoded: ${(f / 1000).toFixed(3)} s, ${(f / s).toFixed(2)} x sqlite3 -json; ` +
              `(d) took ${(q / f).toFixed(2)} x this`);
  await browser.close().catch(() => {});
  echo.close();
}

try {
  await main();
} finally {
  for (const c of children) if (c.exitCode === null) c.kill("SIGTERM");
}

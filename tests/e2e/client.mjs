// Browser tests of the client itself (zentrak.js, zentrak.mjs and the zentrak-client package):
// why a page cannot reach the host, the connection's status across a host restart, old pages'
// unload handlers, pages that make many objects, Zentrak.batch. run.mjs runs them in Chromium
// and, through puppeteer-core and WebDriver BiDi, in Firefox; `ctx` carries its helpers and the
// page API both drivers share (goto, evaluate, close, the "request" and "pageerror" events).
import fs from "node:fs";
import path from "node:path";

const VERSION = "Corvel SqliteDB 0.8";
// The connection's errors, as docs/errors.md lists them.
const HOST_NOT_RUNNING = -2147023174;
const ORIGIN_BLOCKED = -2147024891;
const PAGE_NOT_SERVED = -2147024846;
const HOST_RESTARTED = -2147418105;

export async function clientTests(ctx) {
  const { test, withPage, equal, assert, request, hostBase, intranetOrigin, foreignOrigin, browser } = ctx;
  const name = (s) => `${s} [${browser}]`;
  const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

  // A second host of the tests' own, which they stop and start again on the same port.
  const port2 = await ctx.freePort();
  const base2 = `http://127.0.0.1:${port2}/`;
  const args2 = ["--port", String(port2), "--config", path.join(ctx.work, `host2-${browser}.json`),
                 "--allow-origin", intranetOrigin, "--max-objects", "64"];
  let host2 = null;
  async function startHost2() {
    host2 = (await ctx.start(ctx.hostBinary, args2, { env: ctx.env }, /listening on http:\/\/127\.0\.0\.1:(\d+)\//)).child;
  }
  async function stopHost2() {
    const exited = new Promise((r) => host2.once("exit", r));
    ctx.stop(host2);
    await exited;
  }
  await startHost2();

  await test(name("a page that bundles the client gets the documented error when the host is down"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/bundled.html`);
    const dead = `http://127.0.0.1:${await ctx.freePort()}/`;
    const r = await page.evaluate(async (dead) => {
      const seen = { events: [] };
      Zentrak.configure({ host: dead });
      Zentrak.onstatus = (e) => seen.events.push([e.previous, e.status]);
      try {
        new ActiveXObject("Zentrak.LocalDB");
        seen.sync = "created";
      } catch (e) {
        seen.sync = { number: e.number, description: e.description };
      }
      const mod = await import("/client/zentrak.mjs");
      mod.default.configure({ host: dead });
      seen.async = await mod.create("Zentrak.LocalDB").then(() => "created", (e) => e.number);
      seen.status = await mod.status();
      await new Promise((res) => setTimeout(res, 50));
      return seen;
    }, dead);
    equal(r.sync.number, HOST_NOT_RUNNING, "new ActiveXObject");
    assert(r.sync.description.startsWith(`The Zentrak host is not running at ${dead}`), r.sync.description);
    equal([r.async, r.status], [HOST_NOT_RUNNING, "not-running"], "the package's module");
    equal(r.events, [[null, "not-running"]], "status events");
  }));

  await test(name("the bundled package works against the host"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/bundled.html`);
    const sockets = [];
    if (browser === "chromium") page.on("websocket", (ws) => sockets.push(ws.url()));
    const r = await page.evaluate(async () => {
      const mod = await import("/client/zentrak.mjs");
      mod.default.configure({ host: Zentrak.host });
      const db = await mod.create("Zentrak.LocalDB");
      return { script: new ActiveXObject("Zentrak.LocalDB").GetVersion(), module: await db.GetVersion(),
               status: await mod.status() };
    });
    equal(r, { script: VERSION, module: VERSION, status: "connected" }, "calls");
    // The page channel follows the configured host.
    for (const u of sockets) assert(u.startsWith(hostBase.replace(/^http/, "ws")), `a channel to ${u}`);
  }));

  await test(name("a blocked origin and a file: page get errors of their own"), () => withPage(async (page) => {
    await page.goto(`${foreignOrigin}/unapproved.html`);
    await page.evaluate(() => Promise.all([window.moduleDone, window.asyncDone]));
    const r = await page.evaluate(async () => ({ ...window.results, status: await Zentrak.status() }));
    equal([r.sync.number, r.async, r.status], [ORIGIN_BLOCKED, ORIGIN_BLOCKED, "blocked"], "blocked");
    assert(r.sync.description.includes(`does not allow ${foreignOrigin} to use it`), r.sync.description);

    const file = path.join(ctx.work, `file-${browser}.html`);
    fs.writeFileSync(file, fs.readFileSync(path.join(ctx.here, "pages", "file.html"), "utf8").replaceAll("{{HOST}}", hostBase));
    await page.goto(`file://${file}`);
    await page.evaluate(() => window.done);
    const f = await page.evaluate(() => window.results);
    equal([f.sync.number, f.async], [PAGE_NOT_SERVED, PAGE_NOT_SERVED], "file: page");
    assert(/only pages served over http or https/.test(f.sync.description), f.sync.description);
  }));

  await test(name("after a host restart old objects say so, and new objects work without a reload"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/bundled.html`);
    const before = await page.evaluate(async (base) => {
      Zentrak.configure({ host: base });
      window.events = [];
      Zentrak.addEventListener("status", (e) => window.events.push(e.status));
      window.sync = Zentrak.createObject("Zentrak.LocalDB");
      window.async = await Zentrak.create("Zentrak.LocalDB");
      return [window.sync.GetVersion(), await window.async.GetVersion()];
    }, base2);
    equal(before, [VERSION, VERSION], "before");
    const outcome = () => page.evaluate(async () => {
      const number = (f) => { try { f(); return "no error"; } catch (e) { return e.number; } };
      return { sync: number(() => window.sync.GetVersion()),
               async: await window.async.GetVersion().then(() => "no error", (e) => e.number) };
    });
    await stopHost2();
    equal(await outcome(), { sync: HOST_NOT_RUNNING, async: HOST_NOT_RUNNING }, "host stopped");
    equal(await page.evaluate(() => Zentrak.status()), "not-running", "status while stopped");
    await startHost2();
    let events = [];
    for (let i = 0; i < 50 && events[events.length - 1] !== "connected"; i++) {
      await sleep(100);
      events = await page.evaluate(() => window.events);
    }
    equal(events, ["connected", "not-running", "connected"], "status events");
    equal(await outcome(), { sync: HOST_RESTARTED, async: HOST_RESTARTED }, "old objects");
    const text = await page.evaluate(() => { try { window.sync.GetVersion(); } catch (e) { return e.description; } });
    assert(/was restarted/.test(text), text);
    const fresh = () => page.evaluate(async () => {
      window.sync = Zentrak.createObject("Zentrak.LocalDB");
      window.async = await Zentrak.create("Zentrak.LocalDB");
      return [window.sync.GetVersion(), await window.async.GetVersion()];
    });
    equal(await fresh(), [VERSION, VERSION], "new objects");
    // Restarted between two calls, with no failure for the page to notice in between.
    await stopHost2();
    await startHost2();
    equal(await outcome(), { sync: HOST_RESTARTED, async: HOST_RESTARTED }, "old objects, second restart");
    equal(await fresh(), [VERSION, VERSION], "new objects, second restart");
  }));

  await test(name("old pages' onbeforeunload handlers call their objects without an error"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/oldbeforeunload.html`);
    equal(await page.evaluate(() => window.version), VERSION, "version");
    await page.goto(`${intranetOrigin}/plain.html`);
    equal(await page.evaluate(() => localStorage.getItem("onbeforeunload")), "ok", "onbeforeunload");
  }));

  await test(name("a loop that creates objects does not run out"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/plain.html`);
    // One task, so no garbage collection finds the dropped objects: the bound is above what such
    // pages make.
    const made = await page.evaluate(() => {
      let i = 0;
      try {
        for (; i < 1100; i++) new ActiveXObject("Zentrak.LocalDB");
        return i;
      } catch (e) {
        return `${i}: ${e.number} ${e.description}`;
      }
    });
    equal(made, 1100, "objects made in one task");
    // Only where the page can run the garbage collector (Chromium with --expose-gc) is the rest
    // certain to find dropped objects.
    if (!(await page.evaluate(() => typeof gc === "function"))) return;
    // On a host that allows 64 objects a session, 200 objects made and dropped over many tasks.
    await page.goto(`${intranetOrigin}/bundled.html`);
    const r = await page.evaluate(async (base) => {
      Zentrak.configure({ host: base });
      const tick = () => new Promise((res) => setTimeout(res, 0));
      let i = 0;
      try {
        for (; i < 200; i++) {
          const db = i % 2 ? Zentrak.createObject("Zentrak.LocalDB") : await Zentrak.create("Zentrak.LocalDB");
          if (i % 2) db.GetVersion();
          if (i % 16 === 15) {
            for (let k = 0; k < 20; k++) new Array(50000).fill({}); // garbage, so the collector runs
            if (typeof gc === "function") gc();
            await tick();
          }
        }
        return i;
      } catch (e) {
        return `${i}: ${e.number} ${e.description}`;
      }
    }, base2);
    equal(r, 200, "objects made over many tasks");
  }));

  await test(name("Zentrak.batch runs many calls in one round trip, in order"), () => withPage(async (page) => {
    await page.goto(`${intranetOrigin}/plain.html`);
    await page.evaluate(async () => {
      window.db = await Zentrak.create("Zentrak.LocalDB");
      await db.setDBName("e2e_batch", "");
      await db.executeSql("drop table if exists b; create table b(n integer)");
    });
    const r = await page.evaluate(async () => {
      // Counts the messages the batch takes, over the page channel or by fetch.
      window.messages = 0;
      const send = WebSocket.prototype.send;
      WebSocket.prototype.send = function (data) { window.messages++; return send.call(this, data); };
      const fetched = window.fetch;
      window.fetch = function (target, init) {
        if (String(target).includes("/api")) window.messages++;
        return fetched.call(this, target, init);
      };
      const inserts = await Zentrak.batch(Array.from({ length: 500 }, (_, i) => [db, "executeSql", `insert into b values(${i})`]));
      return { inserts: inserts.every((x) => x === true) && inserts.length, messages: window.messages };
    });
    equal(r.inserts, 500, "answers");
    equal(r.messages, 1, "requests");
    const after = await page.evaluate(async () => {
      const rows = JSON.parse(await db.queryAll("select n from b order by rowid")).data.map((x) => Number(x[0]));
      const failed = await Zentrak.batch([[db, "executeSql", "insert into b values(-1)"], [db, "queryAll", null],
                                          [db, "executeSql", "insert into b values(-2)"]])
        .then(() => "no error", (e) => [e.number, e.index]);
      const tail = JSON.parse(await db.queryAll("select n from b where n < 0 order by rowid")).data.map((x) => Number(x[0]));
      const fn = await Zentrak.batch(() => [db.GetVersion(), db.queryAll("select count(*) as c from b")]);
      const wrong = await Zentrak.batch(42).then(() => "no error", (e) => e.number);
      return { inOrder: rows.every((n, i) => n === i) && rows.length, failed, tail, fn, wrong };
    });
    equal(after.inOrder, 500, "rows in order");
    equal(after.failed, [-2147418113, 1], "a failed call: its error and place");
    equal(after.tail, [-1, -2], "the other calls ran");
    equal(after.fn, [VERSION, '{"size":-1,"total":1,"page":-1,"meta":["C"],"data":[["502"]]}'], "a function of calls");
    equal(after.wrong, -2147024809, "not a batch");
  }));

  if (browser !== "chromium") {
    // Chromium runs these faults' tests, and the whole old-code page, in run.mjs; here their
    // main lines.
    await test(name("Promise calls reach the host in the order they were made"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/plain.html`);
      const r = await page.evaluate(async () => {
        const rows = async (db) => JSON.parse(await db.queryAll("select n from o order by rowid")).data.map((x) => Number(x[0]));
        const db = await Zentrak.create("Zentrak.LocalDB");
        await db.setDBName("e2e_order_ff", "");
        const trials = [];
        for (let t = 0; t < 5; t++) {
          const steps = [db.executeSql("drop table if exists o"), db.executeSql("create table o(n integer)"),
                         db.executeSql("insert into o values(1)"), db.executeSql("insert into o values(2)")];
          trials.push([...(await Promise.all(steps)), ...(await rows(db))].join());
        }
        await Promise.all(Array.from({ length: 200 }, (_, i) => db.executeSql(`insert into o values(${i + 3})`)));
        return { trials, stored: await rows(db) };
      });
      equal(r.trials, Array(5).fill("true,true,true,true,1,2"), "drop, create, insert without await");
      equal(r.stored, Array.from({ length: 202 }, (_, i) => i + 1), "200 inserts with Promise.all");
    }));

    await test(name("a very long result comes whole, and one that fails partway fails"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/plain.html`);
      const r = await page.evaluate(async () => {
        const db = await Zentrak.create("Zentrak.LocalDB");
        await db.setDBName("e2e_long_ff", "");
        const rows = "with recursive n(k) as (select 1 union all select k + 1 from n where k < 30000) ";
        const sql = rows + "select k, 'row ' || k || ' \u00e9\u4e2d\ud83d\ude00' from n";
        const big = await db.queryAll(sql);
        const whole = await db.queryByPage(sql, -1, -1);
        const broken = await db.queryAll(rows + "select case when k < 25000 then k else abs(-9223372036854775807 - 1) end from n")
          .then(() => "no error", (e) => e.description);
        return { same: big === whole, length: big.length, last: JSON.parse(big).data[29999], broken, after: await db.GetVersion() };
      });
      equal([r.same, r.last], [true, ["30000", "row 30000 \u00e9\u4e2d\ud83d\ude00"]], "the text");
      assert(r.length > 500000, `its length: ${r.length}`);
      assert(/integer overflow/.test(r.broken), r.broken);
      equal(r.after, VERSION, "the session goes on");
    }));

    await test(name("too large a request names its size and the limit"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/plain.html`);
      const r = await page.evaluate(async (text) => {
        const db = await Zentrak.create("Zentrak.LocalDB");
        const number = await db.executeSql(text).then(() => "no error", (e) => [e.number, e.description]);
        return { number, after: await db.GetVersion() };
      }, "x".repeat(ctx.maxRequestBytes));
      equal(r.number[0], -2147024809, "number");
      assert(/more than the \d+ a request may have/.test(r.number[1]), r.number[1]);
      equal(r.after, VERSION, "the session goes on");
    }));

    await test(name("executeSql's reason reaches a Zentrak.ref box"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/plain.html`);
      const r = await page.evaluate(() => {
        const db = new ActiveXObject("Zentrak.LocalDB");
        db.setDBName("e2e_ref_ff", "");
        const box = Zentrak.ref("insert into nowhere values (1)");
        return { ok: db.executeSql(box), value: box.value, outs: Zentrak.lastOuts().length };
      });
      equal([r.ok, r.outs], [false, 1], "answer");
      assert(/no such table: nowhere/.test(r.value), r.value);
    }));

    await test(name("old pages' unload handlers call their objects without an error"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/oldunload.html`);
      equal(await page.evaluate(() => window.version), VERSION, "version");
      await page.goto(`${intranetOrigin}/plain.html`);
      equal(await page.evaluate(() => localStorage.getItem("onunload")), "ok", "onunload");
    }));

    await test(name("old control-era page code runs unchanged"), () => withPage(async (page) => {
      await page.goto(`${intranetOrigin}/oldcode.html`);
      const r = await page.evaluate(() => window.results);
      equal(r.version, { value: VERSION }, "GetVersion");
      equal(r.upperCase, { value: VERSION }, "GETVERSION");
      equal(r.classic, "-2147418113 Could not convert variant of type (Null) into type (String)", "try/catch");
      equal(r.unknownMember.number, -2147352570, "unknown member");
      equal(r.wrongCount.number, -2147352562, "wrong argument count");
      // The database is the one Chromium's run of the page wrote to.
      equal(JSON.parse(r.query.value).data[0], ["O'Hara"], "queryAll");
      equal(r.badClass.number, -2147221164, "unknown class");
    }));
  }
  ctx.stop(host2);
}

// Runs clientTests in Debian's firefox-esr, driven by puppeteer-core over WebDriver BiDi (no
// browser download: PUPPETEER_SKIP_DOWNLOAD). Skipped, with a note, where it is not installed.
export async function inFirefox(ctx) {
  const binary = "/usr/bin/firefox-esr";
  if (!fs.existsSync(binary)) {
    console.log(`# no ${binary}: the Firefox tests are skipped (scripts/install-deps.sh installs it)`);
    return;
  }
  const { default: puppeteer } = await import("puppeteer-core");
  const browser = await puppeteer.launch({
    browser: "firefox", protocol: "webDriverBiDi", executablePath: binary, headless: true,
    userDataDir: path.join(ctx.work, "firefox"),
    extraPrefsFirefox: { "browser.shell.checkDefaultBrowser": false },
  });
  async function withPage(fn) {
    const page = await browser.newPage();
    const errors = [];
    // Firefox also reports each request it refused to the page (CORS, a module's type) as an
    // error of the page; those are what these tests provoke, not faults of the page's script.
    page.on("pageerror", (e) => {
      // A page channel's handshake that the host refuses (a session from before a restart) is
      // reported too; the client then goes by fetch.
      if (!/^Error: (Cross-Origin Request Blocked|Loading module from|Firefox can.t establish a connection to the server at ws:)/.test(String(e))) errors.push(String(e));
    });
    try {
      await fn(page);
      ctx.assert(errors.length === 0, `errors in the page: ${errors.join("; ")}`);
    } finally {
      await page.close();
    }
  }
  try {
    await clientTests({ ...ctx, withPage, browser: "firefox" });
  } finally {
    await browser.close();
  }
}

// zentrak.js of the zentrak-client package: the Zentrak objects for pages in any browser, through
// zentrak-host on this computer, as a classic script that a site serves or bundles itself. It
// talks to http://127.0.0.1:48620/ unless the script element names another host
// (<script src="zentrak.js" data-zentrak-host="http://127.0.0.1:48621/">) or the page calls
// Zentrak.configure({host}). It loads whether or not the host runs: calls then fail with the
// reason (docs/errors.md). Code written for the control runs unchanged, as with the host's own
// zentrak.js.
(function (global) {
  "use strict";
// The client of zentrak-host, shared by zentrak.js (a classic script) and zentrak.mjs (an ES
// module); the build puts one of two short endings after it. zentrakClient(base) returns the
// Zentrak namespace for the host whose address is `base` ("http://127.0.0.1:48620/").
//
// Objects come in two flavours over the same sessions and wire requests:
//  - synchronous ones, for page code written for the control: new ActiveXObject(progid) or
//    Zentrak.createObject(progid). Every member name works as it did in JScript, in any letter
//    case; methods are called, properties read and written, all through synchronous requests.
//  - asynchronous ones, for new code: await Zentrak.create(progid). Methods return Promises, a
//    property read is a Promise, and Zentrak.setProperty(obj, name, value) writes one.
// A failed call throws (or rejects with) an Error whose number is the signed status code, whose
// description and message are the description, and whose source is the programmatic name.
// A host that cannot be reached is explained (not running, waiting for the user's answer,
// blocked, page not served over http(s)); Zentrak.status() and the "status" event follow the
// connection, and a restarted host is reconnected to by the next object made (docs/errors.md).
//
// Events of an object reach the page in the answers the host sends (and in a poll while a handler
// is attached). A handler is attached as with the control in old pages, obj.attachEvent("OnX", f)
// or obj.OnX = f; a by-reference argument arrives as a Zentrak.EventRef whose .value the handler
// may change, and the values the handlers leave are sent back to the object.
function zentrakClient(base) {
  "use strict";

  var API = base + "api";
  var RELEASE = base + "release";
  var STATUS = base + "status";
  var E_FAIL = -2147467259;
  var RPC_S_SERVER_UNAVAILABLE = -2147023174; // the host did not answer this page
  var RPC_E_DISCONNECTED = -2147417848; // the session has ended
  var DISP_E_UNKNOWNNAME = -2147352570;
  var E_NOT_READY = -2147024875; // the user has not answered whether this page may use the host
  var E_ACCESSDENIED = -2147024891; // this page's origin is blocked
  var E_NOT_SUPPORTED = -2147024846; // the page is not served over http or https
  var RPC_E_SERVER_DIED = -2147418105; // the host was restarted: objects of its run before are gone

  // Texts for failures that come without a description, as script engines showed them.
  var STANDARD_TEXTS = {
    "-2147352570": "Object doesn't support this property or method",
    "-2147352573": "Object doesn't support this property or method",
    "-2147352562": "Wrong number of arguments or invalid property assignment",
    "-2147352571": "Type mismatch",
    "-2147221164": "Automation server can't create object",
    "-2147467263": "Not implemented",
    "-2147418113": "Catastrophic failure",
    "-2147024809": "The parameter is incorrect"
  };

  var session = null; // the token of this page load's session
  // The session that ended as the page was hidden. Unload handlers that old pages wrote for the
  // control still call its objects (db.close()); the browser no longer lets those calls out, and
  // the objects are released with the session anyway, so they succeed and do nothing.
  var unloaded = null;
  var opening = null; // a Promise of the token while an asynchronous open is under way
  var hooked = false;
  var classes = Object.create(null); // lower-case progid -> member table
  var handles = typeof WeakMap === "function" ? new WeakMap() : null; // proxy -> its handle
  var live = Object.create(null); // object number -> state, for the objects of this session
  var events = []; // events received and not yet given to their handlers
  var delivering = false;
  var polling = null;

  function makeError(number, description, source) {
    var e = new Error(description);
    e.number = number | 0;
    e.description = description;
    e.source = source || "";
    return e;
  }

  function errorFromWire(err, source) {
    var code = err && typeof err.code === "number" ? err.code | 0 : E_FAIL;
    var text = err && err.description ? err.description : STANDARD_TEXTS[String(code)] || "Unspecified error";
    return makeError(code, text, (err && err.source) || source);
  }

  function unreachable(source) {
    return makeError(RPC_S_SERVER_UNAVAILABLE,
      "The Zentrak host at " + base + " did not answer this page: it is not running, or it does " +
      "not allow this page's origin", source);
  }

  // ---- Why the host cannot be reached, and the connection's status ----
  // A request that gets no readable answer is explained by GET /status, which the host answers
  // to any page with where that page's origin stands. No answer there either means the host is
  // not running (or the browser keeps this page from it). The status is one of "not-running",
  // "waiting-approval", "blocked" and "connected"; listeners hear each change, and while it is
  // not "connected" the host is looked at every second, so a page learns when it comes back.
  var instance = null; // the run of the host that this page's session belongs to
  var restarted = Object.create(null); // sessions that a restart of the host ended
  var maxObjects = 0; // the host's bound on the objects of a session
  var current = null; // the status last learnt, null before the first
  var listeners = [];
  var watching = null;
  var WATCH_MS = 1000;

  function pageServed() {
    return typeof location === "undefined" || location.protocol === "http:" || location.protocol === "https:";
  }

  function pageOrigin() {
    return typeof location !== "undefined" && location.origin && location.origin !== "null" ? location.origin : "this page";
  }

  function readProbe(status, text) {
    if (status !== 200) return null;
    try {
      var a = JSON.parse(text);
      return a && typeof a.state === "string" ? a : null;
    } catch (e) {
      return null;
    }
  }

  function probeSync() {
    try {
      var x = new XMLHttpRequest();
      x.open("GET", STATUS, false);
      x.send();
      return readProbe(x.status, x.responseText);
    } catch (e) {
      return null;
    }
  }

  function probeAsync() {
    if (typeof fetch !== "function") return Promise.resolve(null);
    return fetch(STATUS, { cache: "no-store" }).then(function (r) {
      return r.text().then(function (t) { return readProbe(r.status, t); });
    }, function () {
      return null;
    });
  }

  function connectionState(probe) {
    if (!probe) return "not-running";
    if (probe.state === "approved") return "connected";
    if (probe.state === "asking" || probe.state === "unknown") return "waiting-approval";
    return "blocked";
  }

  // Takes in what GET /status said. Another run of the host than the session's means the host
  // was restarted: the session and its objects are gone, and the next object made opens a new one.
  function learn(probe) {
    if (probe && probe.instance && instance && probe.instance !== instance) hostRestarted();
    setStatus(connectionState(probe));
    return probe;
  }

  function hostRestarted() {
    if (session) restarted[session] = true;
    session = null;
    instance = null;
    live = Object.create(null);
  }

  function setStatus(state) {
    if (state === current) return;
    var ev = { type: "status", status: state, previous: current };
    current = state;
    if (state !== "connected") watch();
    var fns = listeners.slice();
    if (typeof Zentrak.onstatus === "function") fns.unshift(Zentrak.onstatus);
    fns.forEach(function (f) {
      Promise.resolve().then(function () { f.call(Zentrak, ev); });
    });
  }

  function watch() {
    if (watching !== null || typeof setInterval !== "function") return;
    var inFlight = false;
    watching = setInterval(function () {
      if (inFlight) return;
      inFlight = true;
      probeAsync().then(function (p) {
        inFlight = false;
        learn(p);
        if (current === "connected") {
          clearInterval(watching);
          watching = null;
        }
      });
    }, WATCH_MS);
  }

  // The error for a request that got no readable answer, from the status found meanwhile.
  function explain(probe, source) {
    var state = connectionState(probe);
    if (state !== "connected" && !pageServed())
      return makeError(E_NOT_SUPPORTED,
        "This page was opened from " + location.protocol + "//; only pages served over http or https " +
        "may use the Zentrak host: serve it from a web server", source);
    switch (state) {
      case "not-running":
        return makeError(RPC_S_SERVER_UNAVAILABLE,
          "The Zentrak host is not running at " + base + " (or this browser does not let the page reach it); " +
          "start it with: systemctl --user start zentrak-host", source);
      case "waiting-approval":
        return makeError(E_NOT_READY,
          "Waiting for the user's approval: Zentrak asks on this computer whether " + pageOrigin() +
          " may use it; try again once the question is answered", source);
      case "blocked":
        return makeError(E_ACCESSDENIED,
          "The Zentrak host does not allow " + pageOrigin() + " to use it on this computer (blocked by the " +
          "user or the host's configuration)", source);
      default:
        return unreachable(source);
    }
  }

  function explainSync(source) {
    return explain(learn(probeSync()), source);
  }

  function explainAsync(source) {
    return probeAsync().then(function (p) {
      throw explain(learn(p), source);
    });
  }

  // A 410 answer: the session has ended, or, when the host names another run than the session's,
  // the host was restarted.
  function sessionGone(answer, source) {
    if (answer.instance && instance && answer.instance !== instance) {
      hostRestarted();
      setStatus("connected");
      return restartedError(source);
    }
    session = null;
    return errorFromWire(answer.error, source);
  }

  function restartedError(source) {
    return makeError(RPC_E_SERVER_DIED,
      "The Zentrak host was restarted, and the objects made before are gone; create them again", source);
  }

  // The error of a call on an object that cannot be called any more.
  function goneError(state) {
    if (restarted[state.owner]) return restartedError(state.cls.progid);
    if (state.released) return makeError(RPC_E_DISCONNECTED, "The object has been released", state.cls.progid);
    return makeError(RPC_E_DISCONNECTED,
      "The session of this object has ended (the page was unloaded or idle); create the object again", state.cls.progid);
  }

  function status() {
    return probeAsync().then(learn).then(function () { return current; });
  }

  function addEventListener_(type, f) {
    if (type === "status" && typeof f === "function" && listeners.indexOf(f) < 0) listeners.push(f);
  }

  function removeEventListener_(type, f) {
    var at = listeners.indexOf(f);
    if (type === "status" && at >= 0) listeners.splice(at, 1);
  }

  // While the page is being left (from beforeunload to the next task, and from pagehide on),
  // browsers refuse synchronous requests. The calls that old pages make in their beforeunload
  // and unload handlers (db.close()) then succeed and do nothing: the session ends with the page
  // and releases the objects anyway.
  var leaving = false;
  function hookLeaving() {
    if (typeof addEventListener !== "function") return;
    addEventListener("beforeunload", function () {
      leaving = true;
      setTimeout(function () { leaving = false; }, 0);
    }, true);
  }

  // The decoded answer of an HTTP exchange, or a thrown Error.
  function parseAnswer(status, text, source) {
    if (status === 0) throw explainSync(source);
    var answer;
    try {
      answer = JSON.parse(text);
    } catch (e) {
      throw makeError(E_FAIL, "The Zentrak host answered HTTP " + status + " without JSON", source);
    }
    if (status !== 200 && answer && !Array.isArray(answer) && answer.ok === false) {
      if (answer.error && answer.error.code === RPC_E_DISCONNECTED) throw sessionGone(answer, source);
      throw errorFromWire(answer.error, source);
    }
    collectEvents(answer);
    return answer;
  }

  function url(token) {
    return API + (token ? "?session=" + encodeURIComponent(token) : "");
  }

  // Synchronous requests, so that code written for the control runs as it stands.
  function postSync(target, body, source) {
    var x = new XMLHttpRequest();
    x.open("POST", target, false);
    // text/plain keeps the request simple: no CORS preflight before each call.
    x.setRequestHeader("Content-Type", "text/plain;charset=UTF-8");
    try {
      // Chromium copies a long string body slowly on a synchronous request (a 5 MB document took
      // seconds); as a Blob, whose bytes are the same UTF-8, it goes at once.
      x.send(body.length > 65536 && typeof Blob === "function" ? new Blob([body], { type: "text/plain;charset=utf-8" }) : body);
    } catch (e) {
      throw leaving ? makeError(RPC_E_DISCONNECTED, "The page is being unloaded", source) : explainSync(source);
    }
    var answer = parseAnswer(x.status, x.responseText, source);
    deliverEvents(true);
    return answer;
  }

  function postAsync(target, body, source) {
    return fetch(target, {
      method: "POST",
      body: body,
      headers: { "Content-Type": "text/plain;charset=UTF-8" },
      cache: "no-store"
    }).then(function (r) {
      if (transport.isSplit(r)) {
        return transport.readSplit(r, source).then(function (answer) {
          if (events.length) Promise.resolve().then(function () { deliverEvents(false); });
          return answer;
        });
      }
      return r.text().then(function (t) {
        var answer = parseAnswer(r.status, t, source);
        if (events.length) Promise.resolve().then(function () { deliverEvents(false); });
        return answer;
      });
    }, function () {
      return explainAsync(source);
    });
  }

  // The session ends with the page: its objects are released and their databases closed. A page
  // that the browser brings back from its back-forward cache has lost its objects, so it is
  // loaded anew, as pages were when the control was in use.
  function hookUnload() {
    if (hooked || typeof addEventListener !== "function") return;
    hooked = true;
    var ended = false;
    addEventListener("pagehide", function () {
      ended = session !== null;
      unloaded = session;
      endSession();
    });
    addEventListener("pageshow", function (ev) {
      if (ev && ev.persisted && ended && typeof location !== "undefined") location.reload();
    });
  }

  function endSession() {
    if (!session) return;
    var target = RELEASE + "?session=" + encodeURIComponent(session);
    session = null;
    if (typeof navigator !== "undefined" && navigator.sendBeacon) {
      navigator.sendBeacon(target, "");
    } else if (typeof fetch === "function") {
      fetch(target, { method: "POST", body: "", keepalive: true }).catch(function () {});
    }
  }

  function adopt(answer, source) {
    if (!answer || answer.ok !== true || typeof answer.session !== "string")
      throw errorFromWire(answer && answer.error, source);
    if (!session) {
      session = answer.session;
      instance = answer.instance || null;
      maxObjects = answer.maxObjects || 0;
      heartbeat(answer.idleTimeout);
    }
    setStatus("connected");
    hookUnload();
    return session;
  }

  // While the page is open its session is not idle, however long the page waits between calls:
  // a heartbeat a few times per idle timeout keeps it.
  var beating = null;
  function heartbeat(idleSeconds) {
    if (beating !== null || typeof setInterval !== "function") return;
    var every = Math.max(5, Math.floor((Number(idleSeconds) || 600) / 3)) * 1000;
    beating = setInterval(function () {
      if (!session) return;
      postAsync(url(session), '{"op":"ping"}').catch(function () {});
    }, every);
  }

  function sessionSync(source) {
    if (session) return session;
    return adopt(postSync(url(null), '{"op":"session"}', source), source);
  }

  function sessionAsync(source) {
    if (session) return Promise.resolve(session);
    if (!opening) {
      opening = postAsync(url(null), '{"op":"session"}', source).then(function (a) {
        opening = null;
        return adopt(a, source);
      }, function (e) {
        opening = null;
        throw e;
      });
    }
    return opening;
  }

  // A box for an argument that a member takes by reference (executeSql's Data): pass
  // Zentrak.ref(value), and after the call .value holds what the member left there. JScript never
  // wrote such arguments back, so plain values keep working as they did.
  function Ref(value) {
    this.value = value;
  }

  // The in/out arguments of the last call that answered, as {index, name, value}.
  var lastOuts = [];

  // A value on its way to the host. undefined is Empty and null is Null, as JScript passed them.
  function encode(v) {
    if (v === undefined) return { vt: "Empty" };
    if (v === null) return null;
    if (v instanceof Ref) return encode(v.value);
    if (v instanceof TaggedValue) return v.wire;
    switch (typeof v) {
      case "number":
        if (!isFinite(v)) throw makeError(-2147024809, "NaN and infinite numbers cannot be passed to the host");
        return v;
      case "string":
      case "boolean":
        return v;
      case "bigint":
        return { vt: "Int64", value: v.toString() };
      case "symbol":
        throw makeError(-2147352571, "Type mismatch");
      default:
        if (handles && handles.has(v)) return { vt: "Dispatch" };
        return String(v); // a script object passes its default value, its text
    }
  }

  // A value from the host: text, booleans and numbers as they are, Empty as undefined.
  function decode(w) {
    if (w === null || typeof w !== "object") return w;
    if (Array.isArray(w)) return w.map(decode);
    switch (w.vt) {
      case "Empty": return undefined;
      case "Null": return null;
      case "Variant": return decode(w.value);
      case "Int64": case "Currency": case "Decimal": return Number(w.value);
      case "Dispatch": case "Unknown": return null;
      default: return w.value;
    }
  }

  // A value with an explicit variant tag, for new code and tests: Zentrak.value("Int64", "12").
  function TaggedValue(vt, value, byref) {
    this.wire = { vt: vt };
    if (value !== undefined) this.wire.value = value;
    if (byref) this.wire.byref = true;
  }

  // The member table of a class from its description: lower-case name -> dispids by kind.
  function memberTable(desc) {
    var t = Object.create(null);
    desc.members.forEach(function (m) {
      var key = m.name.toLowerCase();
      var e = t[key] || (t[key] = { name: m.name });
      e[m.kind] = m.dispid;
    });
    var ev = Object.create(null);
    (desc.events || []).forEach(function (e) {
      ev[e.name.toLowerCase()] = { name: e.name, dispid: e.dispid };
    });
    return { progid: desc.progid, iface: desc.interface, members: t, events: ev };
  }

  function one(answers, index) {
    return Array.isArray(answers) ? answers[index] : answers;
  }

  function callRequest(handle, dispid, kind, args) {
    var req = { op: "call", object: handle, dispid: dispid };
    if (kind !== "method") req.kind = kind;
    if (args.length) req.args = args.map(encode);
    return JSON.stringify(req);
  }

  // The value of an answer, after the in/out arguments it reports are written into the Refs
  // among args and kept as the last outs.
  function resultOf(answer, source, args) {
    if (!answer || answer.ok !== true) throw errorFromWire(answer && answer.error, source);
    lastOuts = (answer.outs || []).map(function (o) {
      var out = { index: o.index, name: o.name, value: decode(o.value) };
      if (args && args[o.index] instanceof Ref) args[o.index].value = out.value;
      return out;
    });
    return decode(answer.value);
  }

  // Names that JavaScript machinery probes on any object (await, JSON, consoles, frameworks);
  // they never reach the host.
  var PROBES = { then: 1, toJSON: 1, nodeType: 1, $$typeof: 1, asymmetricMatch: 1, inspect: 1 };

  function unknownName(cls, name) {
    var e = errorFromWire({ code: DISP_E_UNKNOWNNAME }, cls.progid);
    e.description = e.message = STANDARD_TEXTS[String(DISP_E_UNKNOWNNAME)] + " (" + name + ")";
    return e;
  }

  // The object that page script holds. `invoke(dispid, kind, args)` does the call, at once or
  // as a Promise.
  function makeProxy(handle, cls, invoke, owner) {
    var methods = Object.create(null);
    var state = { handle: handle, cls: cls, released: false, owner: owner,
                  handlers: Object.create(null), onprops: Object.create(null) };
    var target = {};
    var proxy = new Proxy(target, {
      get: function (t, prop) {
        if (typeof prop === "symbol") {
          if (prop === Symbol.toPrimitive) return function () { return "[object " + cls.iface + "]"; };
          return undefined;
        }
        if (PROBES[prop]) return undefined;
        var key = prop.toLowerCase();
        var m = cls.members[key];
        if (!m && cls.events[key]) return state.onprops[key] || null;
        if (!m && (key === "attachevent" || key === "detachevent")) {
          return function (name, f) { return attachment(state, key === "attachevent", name, f); };
        }
        if (m && m.method !== undefined) {
          return methods[m.name] || (methods[m.name] = function () {
            return invoke(state, m.method, "method", Array.prototype.slice.call(arguments));
          });
        }
        if (m && m.get !== undefined) return invoke(state, m.get, "get", []);
        if (prop in Object.prototype) return Object.prototype[prop];
        throw unknownName(cls, prop);
      },
      set: function (t, prop, value) {
        var m = typeof prop === "string" ? cls.members[prop.toLowerCase()] : undefined;
        if (!m && typeof prop === "string" && cls.events[prop.toLowerCase()]) {
          state.onprops[prop.toLowerCase()] = typeof value === "function" ? value : null;
          if (typeof value === "function") startPolling();
          return true;
        }
        if (!m || (m.put === undefined && m.putref === undefined)) throw unknownName(cls, String(prop));
        var r = invoke(state, m.put !== undefined ? m.put : m.putref, "put", [value]);
        if (r && typeof r.catch === "function") r.catch(function () {});
        return true;
      },
      has: function (t, prop) {
        return typeof prop === "string" && (prop.toLowerCase() in cls.members || prop.toLowerCase() in cls.events);
      }
    });
    if (handles) handles.set(proxy, state);
    if (gone) gone.register(proxy, { handle: handle, owner: owner }, state);
    if (weak) weak[handle] = new WeakRef(proxy);
    live[handle] = state;
    return proxy;
  }

  // attachEvent and detachEvent, as the control's objects had them in old pages.
  function attachment(state, attach, name, f) {
    var key = String(name).toLowerCase();
    if (!state.cls.events[key] || typeof f !== "function") return false;
    var list = state.handlers[key] || (state.handlers[key] = []);
    var at = list.indexOf(f);
    if (attach && at < 0) list.push(f);
    if (!attach && at >= 0) list.splice(at, 1);
    if (attach) startPolling();
    return true;
  }

  // A by-reference argument of an event: the handler reads and may replace .value.
  function EventRef(value) {
    this.value = value;
  }

  function collectEvents(answer) {
    var list = Array.isArray(answer) ? answer : [answer];
    for (var i = 0; i < list.length; i++) {
      var a = list[i];
      if (a && Array.isArray(a.events)) Array.prototype.push.apply(events, a.events);
    }
  }

  function isByRef(w) {
    return w !== null && typeof w === "object" && !Array.isArray(w) && w.byref === true;
  }

  // Gives each queued event to its object's handlers, in the order the host raised them, and
  // sends back what the handlers left in the by-reference arguments of events the object waits
  // for. Synchronous pages send those answers synchronously, so the object has them before the
  // page's next call.
  function deliverEvents(sync) {
    if (delivering) return;
    delivering = true;
    try {
      while (events.length) fire(events.shift(), sync);
    } finally {
      delivering = false;
    }
  }

  function fire(ev, sync) {
    var wire = Array.isArray(ev.args) ? ev.args : [];
    var args = wire.map(function (w) { return isByRef(w) ? new EventRef(decode(w)) : decode(w); });
    var state = live[ev.object];
    if (state && !state.released && session === state.owner) {
      var key = String(ev.name).toLowerCase();
      var fns = (state.handlers[key] || []).slice();
      if (state.onprops[key]) fns.unshift(state.onprops[key]);
      fns.forEach(function (f) {
        try {
          f.apply(undefined, args);
        } catch (e) {
          // A failing handler does not stop the others; the page still sees its error.
          setTimeout(function () { throw e; }, 0);
        }
      });
    }
    if (!ev.reply || !session) return;
    var back = args.map(function (a) {
      if (!(a instanceof EventRef)) return null;
      try {
        return encode(a.value);
      } catch (e) {
        return null;
      }
    });
    var body = JSON.stringify({ op: "eventResult", event: ev.event, args: back });
    if (sync) {
      try {
        postSync(url(session), body, "");
      } catch (e) {
        // The object has its arguments unchanged once it stops waiting.
      }
    } else {
      postAsync(url(session), body, "").catch(function () {});
    }
  }

  // Events raised outside a call of the page arrive through a poll, while handlers are attached.
  function startPolling() {
    if (polling !== null || typeof setInterval !== "function") return;
    var inFlight = false;
    polling = setInterval(function () {
      // While the host cannot be reached, the status watch looks for it instead.
      if (!session || inFlight || (current !== null && current !== "connected")) return;
      inFlight = true;
      postAsync(url(session), '{"op":"events"}').then(function () {
        inFlight = false;
      }, function () {
        inFlight = false;
      });
    }, 250);
  }

  // An object that page script dropped is released, as the script engine's garbage collector
  // released the control's objects: a LocalDB then closes its database.
  var gone = typeof FinalizationRegistry === "function" ? new FinalizationRegistry(function (h) {
    if (session !== h.owner) return;
    delete live[h.handle];
    if (weak) delete weak[h.handle];
    postAsync(url(session), JSON.stringify({ op: "release", object: h.handle })).catch(function () {});
  }) : null;

  function invokeSync(state, dispid, kind, args) {
    if (unloaded !== null && state.owner === unloaded) return undefined;
    if (state.released || session !== state.owner) {
      if (leaving) return undefined;
      throw goneError(state);
    }
    var a;
    try {
      a = postSync(url(state.owner), callRequest(state.handle, dispid, kind, args), state.cls.progid);
    } catch (e) {
      if (leaving) return undefined;
      throw e;
    }
    return resultOf(a, state.cls.progid, args);
  }

  // Promise calls reach the host in the order the page made them, as calls of the control did.
  // They wait in one queue; the calls made while nothing is on its way (within the page's
  // current task) and those made while a batch is on its way go together as the next batch, one
  // request whose answers come back in the same order, and the next batch leaves only once the
  // answer of the one before is in. Calls of synchronous objects go at once, as before.
  var queue = []; // {token, reqs (request texts), source, resolve, reject}
  // Batches go over the session's WebSocket channel while it is open, else by fetch.
  var transport = zentrakTransport(base, {
    base: function () { return base; },
    parse: parseAnswer,
    post: postAsync,
    error: makeError,
    target: function (token) { return url(token) + "&split=1"; },
    lost: function (source) {
      return makeError(RPC_S_SERVER_UNAVAILABLE, "The connection to the Zentrak host at " + base +
        " closed while a call was on its way; whether it ran is not known", source);
    },
    answered: function () {
      if (events.length) Promise.resolve().then(function () { deliverEvents(false); });
    }
  });
  var sending = false;
  var BATCH_BYTES = 1 << 20; // a batch larger than this is split, well below the host's limit

  // A Promise of the answers to `reqs`, an array as long as they are, with the session token
  // they ran in as its `token`. `token` is the session the requests need, or null for any.
  function enqueue(token, reqs, source) {
    return new Promise(function (resolve, reject) {
      queue.push({ token: token, reqs: reqs, source: source, resolve: resolve, reject: reject });
      if (!sending) {
        sending = true;
        Promise.resolve().then(sendBatch);
      }
    });
  }

  function failAll(items, e) {
    items.forEach(function (item) {
      var code = e && typeof e.number === "number" ? e.number : E_FAIL;
      item.reject(makeError(code, (e && (e.description || e.message)) || "Unspecified error", item.source));
    });
  }

  function sendBatch() {
    if (!queue.length) {
      sending = false;
      return undefined;
    }
    return sessionAsync(queue[0].source).then(function (token) {
      var batch = [];
      var parts = [];
      var size = 0;
      while (queue.length) {
        var item = queue[0];
        var length = item.reqs.reduce(function (n, r) { return n + r.length + 1; }, 0);
        if (batch.length && size + length > BATCH_BYTES) break;
        queue.shift();
        if (item.token !== null && item.token !== token) {
          failAll([item], restarted[item.token] ? restartedError(item.source)
            : makeError(RPC_E_DISCONNECTED, "The session of this object has ended"));
          continue;
        }
        batch.push(item);
        Array.prototype.push.apply(parts, item.reqs);
        size += length;
      }
      if (!batch.length) return undefined;
      return transport.send(token, "[" + parts.join(",") + "]", batch[0].source).then(function (answers) {
        var at = 0;
        batch.forEach(function (item) {
          var mine = Array.isArray(answers) ? answers.slice(at, at + item.reqs.length) : [];
          at += item.reqs.length;
          mine.token = token;
          item.resolve(mine);
        });
      }, function (e) {
        failAll(batch, e);
      });
    }, function (e) {
      // No session: every call waiting fails as the opening did.
      failAll(queue.splice(0), e);
    }).then(sendBatch);
  }

  function invokeAsync(state, dispid, kind, args) {
    if (unloaded !== null && state.owner === unloaded) return Promise.resolve(undefined);
    if (state.released || session !== state.owner) return Promise.reject(goneError(state));
    var body;
    try {
      body = callRequest(state.handle, dispid, kind, args);
    } catch (e) {
      return Promise.reject(e);
    }
    return enqueue(state.owner, [body], state.cls.progid).then(function (answers) {
      return resultOf(answers[0], state.cls.progid, args);
    });
  }

  // The requests that create an object, with its class's description when it is not known yet.
  function createRequests(progid) {
    var reqs = [{ op: "create", progid: String(progid) }];
    if (!classes[String(progid).toLowerCase()]) reqs.push({ op: "describe", progid: String(progid) });
    return reqs;
  }

  function created(progid, answers, token, invoke) {
    var c = one(answers, 0);
    if (!c || c.ok !== true) throw errorFromWire(c && c.error, String(progid));
    var key = String(progid).toLowerCase();
    if (!classes[key]) {
      var d = answers[1];
      if (!d || d.ok !== true) throw errorFromWire(d && d.error, String(progid));
      classes[key] = memberTable(d.value);
    }
    return makeProxy(c.object, classes[key], invoke, token);
  }

  // A create that finds the host restarted (its session gone with the run before) is tried once
  // more, in a new session: new objects work again without a reload of the page.
  function createObject(progid) {
    try {
      return createObjectIn(progid);
    } catch (e) {
      if (e.number !== RPC_E_SERVER_DIED) throw e;
      return createObjectIn(progid);
    }
  }

  function createObjectIn(progid) {
    var token = sessionSync(String(progid));
    var releases = collectedReleases(token);
    var reqs = releases.concat(createRequests(progid).map(function (r) { return JSON.stringify(r); }));
    var answers = postSync(url(token), "[" + reqs.join(",") + "]", String(progid));
    return created(progid, Array.isArray(answers) ? answers.slice(releases.length) : answers, token, invokeSync);
  }

  function create(progid, again) {
    var reqs = createRequests(progid).map(function (r) { return JSON.stringify(r); });
    var releases = session ? collectedReleases(session) : [];
    if (releases.length) enqueue(session, releases, String(progid)).catch(function () {});
    return enqueue(null, reqs, String(progid)).then(function (answers) {
      return created(progid, answers, answers.token, invokeAsync);
    }, function (e) {
      if (e.number !== RPC_E_SERVER_DIED || again) throw e;
      return create(progid, true);
    });
  }

  // When a session nears the host's bound on its objects, the objects that the page can no
  // longer reach are released before the next create: the garbage collector may have found them
  // long before the registry's callbacks run in a busy page. Returns their release requests.
  var weak = typeof WeakRef === "function" ? Object.create(null) : null; // handle -> WeakRef of its proxy
  function collectedReleases(token) {
    if (!weak || !maxObjects) return [];
    var handlesNow = Object.keys(live);
    if (handlesNow.length < maxObjects - Math.max(8, maxObjects >> 3)) return [];
    var out = [];
    handlesNow.forEach(function (h) {
      var st = live[h];
      var w = weak[h];
      if (st.owner !== token || !w || w.deref() !== undefined) return;
      st.released = true;
      delete live[h];
      delete weak[h];
      if (gone) gone.unregister(st);
      out.push(JSON.stringify({ op: "release", object: st.handle }));
    });
    return out;
  }

  // Zentrak.batch: many Promise calls in one request. `work` is a function that makes the calls
  // (without awaiting between them) and returns their Promises, or a list of calls as
  // [object, memberName, ...args]. Resolves with the results in order once every call has
  // answered; when calls fail, the others still run and the Promise rejects with the error of the
  // first that failed, whose `index` is its place in the list.
  function batch(work) {
    if (Array.isArray(work)) {
      var list = work;
      work = function () {
        return list.map(function (c) {
          try {
            var m = c[0][String(c[1])];
            return typeof m === "function" ? m.apply(c[0], Array.prototype.slice.call(c, 2)) : m;
          } catch (e) {
            return Promise.reject(e);
          }
        });
      };
    }
    if (typeof work !== "function")
      return Promise.reject(makeError(-2147024809, "Zentrak.batch takes a function or a list of [object, name, ...args]"));
    var out;
    try {
      out = work();
    } catch (e) {
      return Promise.reject(e);
    }
    return Promise.resolve(out).then(function (v) {
      if (!Array.isArray(v)) return v;
      var failures = [];
      return Promise.all(v.map(function (p, i) {
        return Promise.resolve(p).then(null, function (e) {
          if (e && typeof e === "object") e.index = i;
          failures[i] = e;
        });
      })).then(function (values) {
        for (var i = 0; i < v.length; i++) if (i in failures) throw failures[i];
        return values;
      });
    });
  }

  // Points this client at another host address ("http://127.0.0.1:48620/"); the session with
  // the host before ends.
  function configure(options) {
    if (options && options.host) {
      var h = String(options.host);
      if (h.charAt(h.length - 1) !== "/") h += "/";
      if (h !== base) {
        endSession();
        base = h;
        API = base + "api";
        RELEASE = base + "release";
        STATUS = base + "status";
        Zentrak.host = base;
        instance = null;
        live = Object.create(null);
      }
    }
    return Zentrak;
  }

  function stateOf(obj) {
    var s = handles && handles.get(obj);
    if (!s) throw makeError(-2147024809, "Not a Zentrak object");
    return s;
  }

  // Releases an object now (a LocalDB closes its database). Synchronous objects are released at
  // once; for asynchronous ones the result is a Promise.
  function release(obj) {
    var s = stateOf(obj);
    if (s.released || session !== s.owner) return s.async ? Promise.resolve() : undefined;
    s.released = true;
    delete live[s.handle];
    if (weak) delete weak[s.handle];
    if (gone) gone.unregister(s);
    var body = JSON.stringify({ op: "release", object: s.handle });
    if (s.async) return enqueue(s.owner, [body], s.cls.progid).then(function () {});
    try {
      postSync(url(s.owner), body, s.cls.progid);
    } catch (e) {
      if (!leaving) throw e;
    }
    return undefined;
  }

  function getProperty(obj, name) {
    var s = stateOf(obj);
    var m = s.cls.members[String(name).toLowerCase()];
    if (!m || m.get === undefined) throw unknownName(s.cls, name);
    return (s.async ? invokeAsync : invokeSync)(s, m.get, "get", []);
  }

  function setProperty(obj, name, value) {
    var s = stateOf(obj);
    var m = s.cls.members[String(name).toLowerCase()];
    if (!m || (m.put === undefined && m.putref === undefined)) throw unknownName(s.cls, name);
    return (s.async ? invokeAsync : invokeSync)(s, m.put !== undefined ? m.put : m.putref, "put", [value]);
  }

  function ActiveXObject(progid) {
    return createObject(progid);
  }

  var Zentrak = {
    host: base,
    ActiveXObject: ActiveXObject,
    createObject: createObject,
    create: function (progid) {
      return create(progid).then(function (obj) {
        stateOf(obj).async = true;
        return obj;
      });
    },
    release: release,
    getProperty: getProperty,
    setProperty: setProperty,
    value: function (vt, value, byref) { return new TaggedValue(vt, value, byref); },
    EventRef: EventRef,
    ref: function (value) { return new Ref(value); },
    Ref: Ref,
    lastOuts: function () { return lastOuts.slice(); },
    endSession: endSession,
    batch: batch,
    status: status,
    onstatus: null,
    addEventListener: addEventListener_,
    removeEventListener: removeEventListener_,
    configure: configure,
    errors: {
      HOST_NOT_RUNNING: RPC_S_SERVER_UNAVAILABLE,
      WAITING_APPROVAL: E_NOT_READY,
      ORIGIN_BLOCKED: E_ACCESSDENIED,
      PAGE_NOT_SERVED: E_NOT_SUPPORTED,
      SESSION_ENDED: RPC_E_DISCONNECTED,
      HOST_RESTARTED: RPC_E_SERVER_DIED
    }
  };
  hookLeaving();
  return Zentrak;
}
// The Promise API's transport, put after the client's core by the build. Batches go over a
// WebSocket to the host's /ws channel of the page's session, opened on the first batch; where
// it cannot open (no WebSocket, a refusal) batches go by fetch, and a channel that closes is
// opened again for the next batch. A batch that was on its way when the channel closed fails:
// whether it ran is not known, so it is not sent twice. Answers whose long texts travel apart
// from their JSON (see docs/protocol.md) are decoded from their bytes with TextDecoder, with no
// JSON string around the text to parse.
//
// hooks: parse(status, text, source) -> the checked answer (throws a failure), post(target,
// text, source) -> a Promise of the answer by fetch, target(token) -> the /api address for the
// session asking for split answers, lost(source) -> the Error of a batch lost with its channel,
// error(number, description, source) -> an Error, answered() -> called after each answer
// (events that came with it), base() -> the host's address now.
function zentrakTransport(base, hooks) {
  "use strict";

  // The host's address may change (Zentrak.configure): hooks.base() gives the current one.
  function socketAddress() {
    return (hooks.base ? hooks.base() : base).replace(/^http/, "ws") + "ws";
  }
  var RETRY_MILLIS = 5000; // after a channel fails to open, batches go by fetch this long
  var SPLIT_TYPE = "application/vnd.zentrak.split";
  var E_INVALIDARG = -2147024809;
  var decoder = typeof TextDecoder === "function" ? new TextDecoder() : null;
  var channel = null; // {token, socket, ready (a Promise of the channel or null), waiting}
  var retryAt = 0;

  function usable() {
    return typeof WebSocket === "function" && decoder !== null && Date.now() >= retryAt;
  }

  // A Promise of the open channel of the session `token`, or of null when there is none.
  function open(token) {
    if (channel && channel.token === token) return channel.ready;
    if (channel) shut(channel);
    if (!usable()) return Promise.resolve(null);
    var ch = { token: token, socket: null, waiting: [], open: false, ready: null };
    channel = ch;
    ch.ready = new Promise(function (resolve) {
      var socket;
      try {
        socket = new WebSocket(socketAddress() + "?session=" + encodeURIComponent(token) + "&pieces=1");
      } catch (e) {
        retryAt = Date.now() + RETRY_MILLIS;
        channel = null;
        resolve(null);
        return;
      }
      socket.binaryType = "arraybuffer";
      ch.socket = socket;
      socket.onopen = function () {
        ch.open = true;
        resolve(ch);
      };
      socket.onmessage = function (ev) {
        var w = ch.waiting[0];
        if (w && w.take(ev.data)) ch.waiting.shift();
      };
      // An error is always followed by a close, which says why (its code).
      socket.onclose = function (ev) {
        if (!ch.open) retryAt = Date.now() + RETRY_MILLIS;
        resolve(null);
        if (channel === ch) channel = null;
        // 1009: the host refused a message over its size limit, before running any of it.
        var refused = ev && ev.code === 1009 && ev.reason;
        ch.waiting.splice(0).forEach(function (w) { w.fail(refused); });
      };
    });
    return ch.ready;
  }

  function shut(ch) {
    if (channel === ch) channel = null;
    if (ch.socket) {
      try {
        ch.socket.close(1000);
      } catch (e) {
        // already closing
      }
    }
  }

  // The answers of a split body: the JSON up to the first newline, each answer with a
  // "rawLength" taking its value from the bytes after it, in order.
  function splitAnswers(bytes, status, source) {
    var nl = bytes.indexOf(10);
    if (nl < 0) nl = bytes.length;
    var answer = hooks.parse(status, decoder.decode(bytes.subarray(0, nl)), source);
    var list = Array.isArray(answer) ? answer : [answer];
    var at = nl + 1;
    for (var i = 0; i < list.length; i++) {
      var a = list[i];
      if (a && typeof a.rawLength === "number") {
        a.value = decoder.decode(bytes.subarray(at, at + a.rawLength));
        at += a.rawLength;
        delete a.rawLength;
      }
    }
    return answer;
  }

  // Takes the messages of one answer of the channel: a text message is the whole answer; a binary
  // one is the answers' JSON line, and the long texts follow in binary messages of their own,
  // each decoded as it comes (in its own task), to the bytes that the answers' "rawLength" add
  // up to. Before the JSON line may come the pieces of a result that the host sent while the
  // call ran (binary messages that start with a zero byte), decoded the same way: they end the
  // text of the answer that says "streamed". Returns the answer once it is whole, else undefined.
  function Reader(source) {
    this.source = source;
    this.answer = undefined;
    this.texts = null; // the answers with a long text still to come
    this.text = "";
    this.left = 0;
    this.decoder = null;
    this.streamed = null; // {text, bytes, decoder} of the pieces so far
  }

  Reader.prototype.take = function (data) {
    if (this.texts === null) {
      if (typeof data === "string") {
        this.answer = messageAnswer(data, this.source);
        this.texts = [];
      } else {
        var bytes = data instanceof Uint8Array ? data : new Uint8Array(data);
        if (bytes.length && bytes[0] === 0) {
          this.piece(bytes.subarray(1));
          return undefined;
        }
        var nl = bytes.indexOf(10);
        this.answer = hooks.parse(200, decoder.decode(nl < 0 ? bytes : bytes.subarray(0, nl)), this.source);
        var list = Array.isArray(this.answer) ? this.answer : [this.answer];
        this.texts = list.filter(function (a) { return a && typeof a.rawLength === "number"; });
        this.next();
      }
    } else {
      this.bytes(data instanceof Uint8Array ? data : new Uint8Array(data));
    }
    if (this.texts.length) return undefined;
    this.join();
    return this.answer;
  };

  Reader.prototype.piece = function (bytes) {
    var s = this.streamed || (this.streamed = { text: "", bytes: 0, decoder: new TextDecoder() });
    s.bytes += bytes.length;
    s.text += s.decoder.decode(bytes, { stream: true });
  };

  // Puts the pieces after the beginning of the text of the answer that says "streamed". A
  // failed answer has none: its pieces are dropped.
  Reader.prototype.join = function () {
    var s = this.streamed;
    this.streamed = null;
    var list = Array.isArray(this.answer) ? this.answer : [this.answer];
    for (var i = 0; i < list.length; i++) {
      var a = list[i];
      if (!a || typeof a.streamed !== "number") continue;
      var got = s ? s.bytes : 0;
      if (got !== a.streamed || typeof a.value !== "string") {
        throw hooks.error(-2147418113, "The host sent " + got + " bytes of a result of " + a.streamed, this.source);
      }
      a.value += s ? s.text + s.decoder.decode() : "";
      delete a.streamed;
    }
  };

  // Starts the next long text, or finishes the empty ones.
  Reader.prototype.next = function () {
    while (this.texts.length && this.texts[0].rawLength === 0) {
      this.texts.shift().value = "";
    }
    if (!this.texts.length) return;
    this.left = this.texts[0].rawLength;
    this.text = "";
    this.decoder = new TextDecoder();
  };

  Reader.prototype.bytes = function (bytes) {
    while (bytes.length && this.texts.length) {
      var n = Math.min(bytes.length, this.left);
      this.left -= n;
      // Joined as the pieces come; the engine copies them into one text when it is first read
      // whole, so no task here copies the whole text.
      this.text += this.decoder.decode(bytes.subarray(0, n), { stream: this.left > 0 });
      bytes = bytes.subarray(n);
      if (this.left === 0) {
        var a = this.texts.shift();
        a.value = this.text;
        delete a.rawLength;
        this.text = "";
        this.next();
      }
    }
  };

  // The answer in a text message of the channel. A refusal is one JSON object with its HTTP
  // status.
  function messageAnswer(data, source) {
    var status = 200;
    if (data.charCodeAt(0) === 123) {
      var refusal = JSON.parse(data);
      if (refusal && typeof refusal.status === "number") status = refusal.status;
    }
    return hooks.parse(status, data, source);
  }

  // A Promise of the answer in a split body of a fetch response, read a piece at a time as the
  // channel's messages are, where the browser streams bodies.
  function readSplit(response, source) {
    if (!response.body || typeof response.body.getReader !== "function") {
      return response.arrayBuffer().then(function (b) { return splitAnswers(new Uint8Array(b), response.status, source); });
    }
    var stream = response.body.getReader();
    var reader = new Reader(source);
    var head = null; // the bytes of the JSON line while it is not whole
    function pump() {
      return stream.read().then(function (chunk) {
        if (chunk.done) throw hooks.lost(source);
        var bytes = chunk.value;
        var answer;
        if (reader.texts === null) {
          if (head) {
            var joined = new Uint8Array(head.length + bytes.length);
            joined.set(head);
            joined.set(bytes, head.length);
            bytes = joined;
          }
          var nl = bytes.indexOf(10);
          if (nl < 0) {
            head = bytes;
            return pump();
          }
          head = null;
          answer = reader.take(bytes.subarray(0, nl + 1));
          if (answer === undefined && nl + 1 < bytes.length) answer = reader.take(bytes.subarray(nl + 1));
        } else {
          answer = reader.take(bytes);
        }
        if (answer !== undefined) {
          stream.cancel().catch(function () {});
          return answer;
        }
        return pump();
      });
    }
    return pump();
  }

  // Whether a fetch response is a split body.
  function isSplit(response) {
    var type = response.headers.get("Content-Type") || "";
    return decoder !== null && type.indexOf(SPLIT_TYPE) === 0;
  }

  // A Promise of the answers to `text` (a batch) in the session `token`.
  function send(token, text, source) {
    return open(token).then(function (ch) {
      if (!ch || ch.socket.readyState !== 1) return hooks.post(hooks.target(token), text, source);
      return new Promise(function (resolve, reject) {
        var reader = new Reader(source);
        ch.waiting.push({
          // Whether the answer is whole (or failed) with this message.
          take: function (data) {
            var answer;
            try {
              answer = reader.take(data);
            } catch (e) {
              reject(e);
              return true;
            }
            if (answer === undefined) return false;
            resolve(answer);
            hooks.answered();
            return true;
          },
          fail: function (refused) {
            reject(refused ? hooks.error(E_INVALIDARG, refused, source) : hooks.lost(source));
          }
        });
        ch.socket.send(text);
      });
    });
  }

  return {
    send: send,
    isSplit: isSplit,
    readSplit: readSplit,
    // Which way the next batch goes: "websocket" while the channel is open, else "http".
    kind: function () { return channel && channel.open ? "websocket" : "http"; }
  };
}

// The viewer element: what stands for ActiveFormX_Foxit in a page. zentrakViewer(Zentrak, base)
// defines <zentrak-viewer> and upgrades the elements that pages written for the control have,
// <object classid="clsid:D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA"> with <param> children, in place:
// the same element gets the control's members, so document.getElementById(id).preview(doc) runs
// unchanged. It relies on the Zentrak namespace of zentrakClient (the host's ActiveFormX_Foxit
// object writes the ToPrint file) and on pdf.js, which the host serves under /pdfjs/.
//
// The element keeps its own copy of the properties, with the control's conversions and errors,
// and applies the ones that show to itself. Boolean properties read true and false, as JScript
// showed the control's -1 and 0, so old code that tests them (`if (v.Visible)`, `== true`) keeps
// working. It draws the document itself and raises the control's eight events: handlers come from
// <script for="ID" event="OnX(...)"> blocks, obj.attachEvent("OnX", f), obj.OnX = f, and
// addEventListener("OnX", f) (a CustomEvent whose detail holds the arguments by name).
function zentrakViewer(Zentrak, base) {
  "use strict";
  if (typeof document === "undefined" || typeof customElements === "undefined") return;
  if (customElements.get("zentrak-viewer")) return; // zentrak.js and zentrak.mjs both loaded

  var CLSID = "clsid:d3d2f0aa-5b8a-44a7-91b6-54b227f1e6fa";
  var PROGID = "Zentrak.ActiveFormX_Foxit";
  var TYPE_MISMATCH = -2147352571;
  var MEMBER_NOT_FOUND = -2147352573;
  var EVENTS = ["OnActivate", "OnClick", "OnCreate", "OnDblClick", "OnDestroy", "OnDeactivate",
                "OnKeyPress", "OnPaint"];
  var EVENT_KEYS = Object.create(null);
  EVENTS.forEach(function (n) { EVENT_KEYS[n.toLowerCase()] = n; });
  var PDFJS = base + "pdfjs/";
  var PAGE_GAP = 8; // pixels between pages and around them
  var ZOOM_STEP = 1.25;
  var MIN_ZOOM = 0.25;
  var MAX_ZOOM = 8;

  function makeError(number, description) {
    var e = new Error(description);
    e.number = number;
    e.description = description;
    e.source = PROGID;
    return e;
  }

  function mismatch() {
    return makeError(TYPE_MISMATCH, "Type mismatch");
  }

  // The conversions the control applies to what a page writes: those of the host's variants, so
  // that a page sees the same values and the same "Type mismatch" as from the control.

  // The number in a text, decimal or hexadecimal (0x10, &H10) when `hex`, or null.
  function numberOfText(s, hex) {
    var t = String(s).trim();
    if (hex && /^(0x|&h)[0-9a-f]+$/i.test(t)) return parseInt(t.replace(/^(0x|&h)/i, ""), 16);
    if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(t)) return null;
    return Number(t);
  }

  function toBool(v) {
    if (v === undefined) return false;
    if (v === null) throw mismatch();
    if (typeof v === "boolean") return v;
    if (typeof v === "number") {
      if (v !== v) throw mismatch();
      return v !== 0;
    }
    var t = String(v).trim().toLowerCase();
    if (t === "true") return true;
    if (t === "false") return false;
    var n = numberOfText(t, false);
    if (n === null) throw mismatch();
    return n !== 0;
  }

  // Rounds half to even, as variant conversions do.
  function roundEven(n) {
    var r = Math.round(n);
    if (Math.abs(n % 1) === 0.5 && r % 2 !== 0) r -= 1;
    return r;
  }

  function toInteger(v, low, high) {
    var n;
    if (v === undefined) return 0;
    if (v === null) throw mismatch();
    if (typeof v === "boolean") n = v ? -1 : 0;
    else if (typeof v === "number") n = v;
    else n = numberOfText(v, true);
    if (n === null || !isFinite(n)) throw mismatch();
    n = roundEven(n);
    if (n < low || n > high) throw mismatch();
    return n;
  }

  function toInt32(v) {
    return toInteger(v, -2147483648, 2147483647);
  }

  // Colours are unsigned 32-bit values; a negative number stands for its two's complement.
  function toColor(v) {
    return toInteger(v, -2147483648, 4294967295) >>> 0;
  }

  function numberText(n) {
    if (Number.isInteger(n) && Math.abs(n) < 1e21) return String(n);
    return String(Number(n.toPrecision(15))).replace("e+", "E").replace("e-", "E-");
  }

  function toText(v) {
    if (v === undefined) return "";
    if (v === null) throw mismatch();
    if (typeof v === "boolean") return v ? "True" : "False";
    if (typeof v === "number") return numberText(v);
    return String(v);
  }

  // The font object that Font reads as: its default value (its text) is the font's name.
  function ViewerFont(from) {
    this.Name = from ? from.Name : "MS Sans Serif";
    this.Size = from ? from.Size : 8.25;
    this.Bold = from ? from.Bold : false;
    this.Italic = from ? from.Italic : false;
    this.Underline = from ? from.Underline : false;
    this.Strikethrough = from ? from.Strikethrough : false;
    this.Weight = from ? from.Weight : 400;
    this.Charset = from ? from.Charset : 1;
  }
  ViewerFont.prototype.toString = function () { return this.Name; };
  ViewerFont.prototype.valueOf = function () { return this.Name; };

  // A font object written to Font: one of ours, or any object with a Name, as the control's
  // put and putref copied a font object's attributes.
  function toFont(v) {
    if (v === undefined) return null;
    if (v === null || typeof v !== "object" || typeof v.Name !== "string" || !v.Name)
      throw makeError(TYPE_MISMATCH, "The object is not a font object");
    var f = new ViewerFont();
    f.Name = v.Name;
    if (v.Size !== undefined) f.Size = Number(v.Size) || f.Size;
    if (v.Weight !== undefined) f.Weight = toInteger(v.Weight, 0, 1000);
    f.Bold = v.Bold !== undefined ? toBool(v.Bold) : f.Weight >= 700;
    if (f.Bold && f.Weight < 700) f.Weight = 700;
    if (!f.Bold && f.Weight >= 700) f.Weight = 400;
    if (v.Italic !== undefined) f.Italic = toBool(v.Italic);
    if (v.Underline !== undefined) f.Underline = toBool(v.Underline);
    if (v.Strikethrough !== undefined) f.Strikethrough = toBool(v.Strikethrough);
    if (v.Charset !== undefined) f.Charset = toInteger(v.Charset, -32768, 32767);
    return f;
  }

  // The font object that Font answers: it stands for the viewer's font, so that writing one of
  // its attributes (viewer.Font.Size = 12) changes the font shown, as the control's did. Bold
  // follows a written Weight, and Weight a written Bold.
  function liveFont(x) {
    var view = Object.create(ViewerFont.prototype);
    ["Name", "Size", "Bold", "Italic", "Underline", "Strikethrough", "Weight", "Charset"].forEach(function (name) {
      Object.defineProperty(view, name, {
        enumerable: true,
        get: function () { return x.values.Font[name]; },
        set: function (v) {
          var next = {};
          for (var k in x.values.Font) if (Object.prototype.hasOwnProperty.call(x.values.Font, k)) next[k] = x.values.Font[k];
          next[name] = v;
          if (name === "Weight") delete next.Bold;
          if (name === "Bold") delete next.Weight;
          x.values.Font = toFont(next);
          x.showFont();
        }
      });
    });
    return view;
  }

  // The system colours by their index (the low 8 bits of a colour with the top bit set), as the
  // CSS system colours that stand for them.
  var SYSTEM_COLORS = [
    "Scrollbar", "Background", "ActiveCaption", "InactiveCaption", "Menu", "Window", "WindowFrame",
    "MenuText", "WindowText", "CaptionText", "ActiveBorder", "InactiveBorder", "AppWorkspace",
    "Highlight", "HighlightText", "ButtonFace", "ButtonShadow", "GrayText", "ButtonText",
    "InactiveCaptionText", "ButtonHighlight", "ThreeDDarkShadow", "ThreeDLightShadow", "InfoText",
    "InfoBackground", "ButtonFace", "LinkText", "ActiveCaption", "InactiveCaption", "Highlight", "Menu"
  ];

  function cssColor(value) {
    if (value & 0x80000000) return SYSTEM_COLORS[value & 0xFF] || "ButtonFace";
    return "rgb(" + (value & 0xFF) + ", " + ((value >>> 8) & 0xFF) + ", " + ((value >>> 16) & 0xFF) + ")";
  }

  // The border styles (afbNone, afbSingle, afbSunken, afbRaised) as CSS borders; other values
  // draw none, as the control's window then has no border bits.
  var BORDERS = ["none", "1px solid WindowFrame", "2px inset ButtonFace", "3px outset ButtonFace"];

  // The properties in interface order, which is also the order of a property bag's load. `to`
  // converts a written value; `show` applies the value to the element. Read-only ones have none.
  var PROPERTIES = [
    { name: "Visible", to: toBool, initial: true, show: function (v, x) { x.frame.style.visibility = x.values.Visible ? "" : "hidden"; } },
    { name: "AutoScroll", to: toBool, initial: false },
    { name: "AutoSize", to: toBool, initial: false },
    { name: "AxBorderStyle", to: toInt32, initial: 1, same: true, show: function (v, x) { x.frame.style.border = BORDERS[x.values.AxBorderStyle] || "none"; } },
    { name: "Caption", to: toText, initial: "ActiveFormX_Foxit", show: function (v, x) { x.el.setAttribute("aria-label", x.values.Caption); } },
    { name: "Color", to: toColor, initial: 0xFF00000F, show: function (v, x) { x.frame.style.backgroundColor = cssColor(x.values.Color); x.paintSoon(); } },
    { name: "Font", to: toFont, initial: null, show: function (v, x) { x.showFont(); } },
    { name: "KeyPreview", to: toBool, initial: false },
    { name: "PixelsPerInch", to: toInt32, initial: 96 },
    { name: "PrintScale", to: toInt32, initial: 1 },
    { name: "Scaled", to: toBool, initial: true },
    { name: "Active", readOnly: true },
    { name: "DropTarget", to: toBool, initial: false },
    { name: "HelpFile", to: toText, initial: "" },
    { name: "ScreenSnap", to: toBool, initial: false },
    { name: "SnapBuffer", to: toInt32, initial: 10 },
    { name: "DoubleBuffered", to: toBool, initial: false },
    { name: "AlignDisabled", readOnly: true },
    { name: "VisibleDockClientCount", readOnly: true },
    { name: "Enabled", to: toBool, initial: true, show: function (v, x) { x.showEnabled(); } }
  ];

  var STYLE = [
    ":host { display: inline-block; width: 870px; height: 500px; box-sizing: border-box; }",
    ".frame { position: relative; box-sizing: border-box; width: 100%; height: 100%; overflow: hidden; outline: none; }",
    ".pages { position: absolute; inset: 0; overflow: auto; text-align: center; }",
    ".pages canvas { display: block; margin: " + PAGE_GAP + "px auto; background: white; box-shadow: 0 0 3px rgba(0,0,0,.5); }",
    ".frame[aria-disabled=true] .pages { pointer-events: none; }"
  ].join("\n");
  var sheet = null;
  function styleSheet() {
    if (!sheet) {
      sheet = new CSSStyleSheet();
      sheet.replaceSync(STYLE);
    }
    return sheet;
  }

  var pdfjs = null; // a Promise of the pdf.js module, loaded with the first document
  function loadPdfjs() {
    if (!pdfjs) {
      pdfjs = import(PDFJS + "pdf.min.mjs").then(function (lib) {
        lib.GlobalWorkerOptions.workerSrc = PDFJS + "pdf.worker.min.mjs";
        return lib;
      });
    }
    return pdfjs;
  }

  function decodeBase64(text) {
    var clean = String(text).replace(/[\s]/g, "");
    var binary;
    try {
      binary = atob(clean);
    } catch (e) {
      return null; // what the control's engine could not open shows nothing
    }
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  var viewers = []; // the live viewers, for <script for> blocks that come later and for unload

  // One viewer: its element (`el`, the custom element or the old page's <object>), the shadow
  // root it draws in, its properties and its handlers.
  function Viewer(el, host) {
    var x = this;
    x.el = el;
    x.values = Object.create(null);
    PROPERTIES.forEach(function (p) { if (!p.readOnly) x.values[p.name] = p.initial; });
    x.values.Font = new ViewerFont();
    x.active = false;
    x.handlers = Object.create(null); // lower-case event name -> attached functions
    x.onprops = Object.create(null); // lower-case event name -> obj.OnX
    x.scripts = Object.create(null); // lower-case event name -> <script for> handlers
    x.connected = false;
    x.destroyed = false;
    x.control = null; // the host's ActiveFormX_Foxit object, created with the first preview
    x.task = null; // the pdf.js loading task of the document shown
    x.observer = null; // watches which pages are in and near the view
    x.doc = null; // the document
    x.zoom = 1;
    x.drawing = 0; // counts draws, so that an older one stops when a newer starts
    x.painting = false;

    var root = host.attachShadow({ mode: "open", delegatesFocus: true });
    root.adoptedStyleSheets = [styleSheet()];
    x.frame = document.createElement("div");
    x.frame.className = "frame";
    x.frame.tabIndex = 0;
    x.pages = document.createElement("div");
    x.pages.className = "pages";
    x.frame.appendChild(x.pages);
    root.appendChild(x.frame);
    PROPERTIES.forEach(function (p) { if (p.show) p.show(undefined, x); });
    x.listen();
    viewers.push(x);
  }

  Viewer.prototype.read = function (p) {
    switch (p.name) {
      case "Active": return this.active;
      case "AlignDisabled": return false;
      case "VisibleDockClientCount": return 0;
      case "Font": return this.font || (this.font = liveFont(this));
      default: return this.values[p.name];
    }
  };

  Viewer.prototype.write = function (p, v) {
    if (p.readOnly) throw makeError(MEMBER_NOT_FOUND, "Object doesn't support this property or method");
    var value = p.to(v);
    if (p.name === "Font" && value === null) return; // an Empty font changes nothing
    if (p.same && value === this.values[p.name]) return; // the same border style: no new window
    this.values[p.name] = value;
    if (p.show) p.show(value, this);
  };

  Viewer.prototype.showFont = function () {
    var f = this.values.Font;
    var s = this.frame.style;
    s.fontFamily = '"' + f.Name.replace(/["\\]/g, "") + '", sans-serif';
    s.fontSize = f.Size + "pt";
    s.fontWeight = String(f.Weight);
    s.fontStyle = f.Italic ? "italic" : "normal";
    s.textDecoration = [f.Underline ? "underline" : "", f.Strikethrough ? "line-through" : ""].join(" ").trim() || "none";
  };

  Viewer.prototype.showEnabled = function () {
    var on = this.values.Enabled;
    this.frame.setAttribute("aria-disabled", on ? "false" : "true");
    // A disabled form takes neither the focus nor clicks.
    this.frame.inert = !on;
  };

  // Raises an event: obj.OnX first, then the attachEvent handlers, the <script for> blocks and
  // the addEventListener listeners. A failing handler does not stop the others, and never
  // reaches the viewer; the page still sees its error.
  Viewer.prototype.raise = function (name, args, detail) {
    if (this.destroyed && name !== "OnDestroy") return;
    var key = name.toLowerCase();
    var fns = (this.handlers[key] || []).slice();
    if (this.onprops[key]) fns.unshift(this.onprops[key]);
    Array.prototype.push.apply(fns, this.scripts[key] || []);
    var self = this.el;
    fns.forEach(function (f) {
      try {
        f.apply(self, args);
      } catch (e) {
        setTimeout(function () { throw e; }, 0);
      }
    });
    try {
      this.el.dispatchEvent(new CustomEvent(name, { detail: detail || {} }));
    } catch (e) {
      setTimeout(function () { throw e; }, 0);
    }
  };

  // The first handler the page connects is the control's first events sink: OnCreate follows,
  // once in the viewer's life, after the script that connected it has run (so that its OnCreate
  // handler, connected in the same script, hears it).
  Viewer.prototype.connect = function () {
    if (this.connected || this.destroyed) return;
    this.connected = true;
    var x = this;
    setTimeout(function () { x.raise("OnCreate", []); }, 0);
  };

  // `unloading`: the page is going, and its session with the host object ends with it.
  Viewer.prototype.destroy = function (unloading) {
    if (this.destroyed) return;
    this.destroyed = true;
    this.drawing++;
    this.raise("OnDestroy", []);
    var i = viewers.indexOf(this);
    if (i >= 0) viewers.splice(i, 1);
    this.close();
    if (this.control && !unloading) {
      try {
        Zentrak.release(this.control);
      } catch (e) {
        // The session has ended with the page: the object is gone already.
      }
      this.control = null;
    }
  };

  Viewer.prototype.paintSoon = function () {
    if (this.painting || this.destroyed) return;
    this.painting = true;
    var x = this;
    requestAnimationFrame(function () {
      x.painting = false;
      x.raise("OnPaint", []);
    });
  };

  // preview: the host's object writes the ToPrint file, as the control did; the element then
  // shows the document. Fails as the control's preview fails (a Null document: the conversion
  // error), and otherwise answers true, also for bytes that are no PDF (which show nothing).
  Viewer.prototype.preview = function (doc) {
    if (!this.control) this.control = Zentrak.createObject(PROGID);
    var value = this.control.preview(doc);
    this.show(decodeBase64(doc));
    return value;
  };

  Viewer.prototype.show = function (bytes) {
    var x = this;
    var draw = ++x.drawing;
    x.close();
    x.pages.textContent = "";
    x.pages.scrollTop = 0;
    x.zoom = 1;
    if (!bytes || !bytes.length) {
      x.paintSoon();
      return;
    }
    loadPdfjs().then(function (lib) {
      if (draw !== x.drawing) return undefined;
      x.task = lib.getDocument({
        data: bytes,
        isEvalSupported: false,
        standardFontDataUrl: PDFJS + "standard_fonts/",
        cMapUrl: PDFJS + "cmaps/",
        cMapPacked: true
      });
      return x.task.promise.then(function (doc) {
        if (draw !== x.drawing) return undefined;
        x.doc = doc;
        return x.drawPages(draw);
      });
    }).catch(function (e) {
      // A document pdf.js cannot read shows nothing, as the control's engine did.
      if (draw === x.drawing && typeof console !== "undefined") console.warn("Zentrak viewer: " + (e && e.message));
      x.paintSoon();
    });
  };

  // Lets go of the document shown and of its worker.
  Viewer.prototype.close = function () {
    if (this.observer) this.observer.disconnect();
    this.observer = null;
    if (this.task) this.task.destroy();
    this.task = null;
    this.doc = null;
  };

  // Lays out every page, fitted to the frame's width at zoom 1, one under the other, and draws
  // the pages in and near the view as they come there. A page that leaves that range gives its
  // pixels back, so that a long document costs the memory of a few pages. Resolves once the pages
  // are laid out.
  Viewer.prototype.drawPages = function (draw) {
    var x = this;
    var doc = x.doc;
    // The width leaves room for the scroll bar, so that pages keep their size when it comes or goes.
    var width = Math.max(50, x.frame.clientWidth - 2 * PAGE_GAP - 20);
    var ratio = window.devicePixelRatio || 1;
    var slots = [];
    var chain = Promise.resolve();
    (x.slots || []).forEach(function (slot) { x.dropSlot(slot); });
    x.slots = slots;
    if (x.observer) x.observer.disconnect();
    x.observer = null;
    x.pages.textContent = "";
    for (var n = 1; n <= doc.numPages; n++) {
      (function (number) {
        chain = chain.then(function () {
          if (draw !== x.drawing) return undefined;
          return doc.getPage(number).then(function (page) {
            var unscaled = page.getViewport({ scale: 1 });
            var viewport = page.getViewport({ scale: (width / unscaled.width) * x.zoom * ratio });
            var canvas = document.createElement("canvas");
            canvas.setAttribute("data-page", String(number));
            canvas.style.width = Math.floor(viewport.width / ratio) + "px";
            canvas.style.height = Math.floor(viewport.height / ratio) + "px";
            canvas.width = 0;
            canvas.height = 0;
            x.pages.appendChild(canvas);
            slots.push({ canvas: canvas, page: page, viewport: viewport, task: null, drawn: false });
          });
        });
      })(n);
    }
    return chain.then(function () {
      if (draw !== x.drawing) return;
      x.el.setAttribute("data-pages", String(doc.numPages));
      x.observer = new IntersectionObserver(function (entries) {
        entries.forEach(function (e) {
          var slot = slots[Number(e.target.getAttribute("data-page")) - 1];
          if (e.isIntersecting) x.drawSlot(slot, draw);
          else x.dropSlot(slot);
        });
      }, { root: x.pages, rootMargin: "100% 0px" });
      slots.forEach(function (slot) { x.observer.observe(slot.canvas); });
      x.paintSoon();
    });
  };

  Viewer.prototype.drawSlot = function (slot, draw) {
    if (slot.task || slot.drawn) return;
    var x = this;
    var canvas = slot.canvas;
    canvas.width = Math.floor(slot.viewport.width);
    canvas.height = Math.floor(slot.viewport.height);
    slot.task = slot.page.render({ canvas: canvas, canvasContext: canvas.getContext("2d"), viewport: slot.viewport });
    slot.task.promise.then(function () {
      slot.task = null;
      slot.drawn = true;
      if (draw === x.drawing) x.paintSoon();
    }, function () {
      slot.task = null; // cancelled: the page left the view, or a new drawing began
    });
  };

  Viewer.prototype.dropSlot = function (slot) {
    if (slot.task) slot.task.cancel();
    slot.task = null;
    slot.drawn = false;
    slot.canvas.width = 0;
    slot.canvas.height = 0;
  };

  // Lays the pages out again (a new zoom, a new width), keeping the place in the document.
  Viewer.prototype.relayout = function () {
    var p = this.pages;
    var at = p.scrollHeight ? p.scrollTop / p.scrollHeight : 0;
    this.drawPages(++this.drawing).then(function () { p.scrollTop = at * p.scrollHeight; });
  };

  Viewer.prototype.zoomBy = function (factor) {
    var next = Math.min(MAX_ZOOM, Math.max(MIN_ZOOM, this.zoom * factor));
    if (!this.doc || next === this.zoom) return;
    this.zoom = next;
    this.relayout();
  };

  // What the form does with a key: scrolling and zoom. Answers whether the key was used.
  Viewer.prototype.act = function (key) {
    var p = this.pages;
    var line = 40;
    switch (key) {
      case "ArrowDown": p.scrollTop += line; return true;
      case "ArrowUp": p.scrollTop -= line; return true;
      case "ArrowRight": p.scrollLeft += line; return true;
      case "ArrowLeft": p.scrollLeft -= line; return true;
      case "PageDown": case " ": p.scrollTop += p.clientHeight * 0.9; return true;
      case "PageUp": p.scrollTop -= p.clientHeight * 0.9; return true;
      case "Home": p.scrollTop = 0; return true;
      case "End": p.scrollTop = p.scrollHeight; return true;
      case "+": case "=": this.zoomBy(ZOOM_STEP); return true;
      case "-": this.zoomBy(1 / ZOOM_STEP); return true;
      default: return false;
    }
  };

  // The character code of a key that the control's form received as a character (0 to 255), or
  // -1 for the others (arrows, function keys, characters beyond the form's 8-bit code page).
  function charCode(e) {
    if (e.ctrlKey || e.altKey || e.metaKey) return -1;
    if (e.key === "Enter") return 13;
    if (e.key === "Escape") return 27;
    if (e.key === "Backspace") return 8;
    if (e.key.length !== 1) return -1;
    var c = e.key.charCodeAt(0);
    return c <= 255 ? c : -1;
  }

  Viewer.prototype.listen = function () {
    var x = this;
    var f = x.frame;
    // Clicks on the frame itself count, not those on the document's pages.
    function onFrame(e) {
      return !(e.target instanceof HTMLCanvasElement);
    }
    f.addEventListener("click", function (e) {
      if (x.values.Enabled && onFrame(e)) x.raise("OnClick", []);
    });
    f.addEventListener("dblclick", function (e) {
      if (x.values.Enabled && onFrame(e)) x.raise("OnDblClick", []);
    });
    f.addEventListener("focusin", function () {
      if (x.active) return;
      x.active = true;
      x.raise("OnActivate", []);
    });
    f.addEventListener("focusout", function (e) {
      if (!x.active || (e.relatedTarget && f.contains(e.relatedTarget))) return;
      x.active = false;
      x.raise("OnDeactivate", []);
    });
    f.addEventListener("keydown", function (e) {
      if (!x.values.Enabled) return;
      var code = charCode(e);
      if (code < 0) {
        if (x.act(e.key)) e.preventDefault();
        return;
      }
      // The handlers may replace the key or swallow it (0); the viewer goes on with the low
      // 8 bits of what they leave.
      var box = new Zentrak.EventRef(code);
      x.raise("OnKeyPress", [box], { Key: box });
      var left = Number(box.value);
      left = isFinite(left) ? (left & 0xFF) : code;
      e.preventDefault();
      if (left !== 0) x.act(String.fromCharCode(left));
    });
    f.addEventListener("wheel", function (e) {
      if (!e.ctrlKey || !x.values.Enabled) return;
      e.preventDefault();
      x.zoomBy(e.deltaY < 0 ? ZOOM_STEP : 1 / ZOOM_STEP);
    }, { passive: false });
    // Pages are fitted to the frame's width: a frame that changes width lays them out again.
    if (typeof ResizeObserver === "function") {
      var laidOutWidth = -1;
      new ResizeObserver(function () {
        var width = f.clientWidth;
        if (laidOutWidth < 0 || !x.doc) {
          laidOutWidth = width;
          return;
        }
        if (Math.abs(width - laidOutWidth) < 2) return;
        laidOutWidth = width;
        x.relayout();
      }).observe(f);
    }
    f.addEventListener("mousedown", function () {
      if (x.values.Enabled) f.focus({ preventScroll: true });
    });
  };

  // The control's members on the element itself, under their own names; the properties also in
  // lower case (JScript found them in any case; these two spellings cover the code pages have).
  function install(el, x) {
    var define = function (name, desc, alias) {
      desc.configurable = true;
      Object.defineProperty(el, name, desc);
      if (alias && !(name.toLowerCase() in el)) Object.defineProperty(el, name.toLowerCase(), desc);
    };
    PROPERTIES.forEach(function (p) {
      define(p.name, {
        get: function () { return x.read(p); },
        set: function (v) { x.write(p, v); }
      }, true);
    });
    define("preview", { value: function (doc) { return x.preview(doc); }, writable: true });
    EVENTS.forEach(function (name) {
      var key = name.toLowerCase();
      define(name, {
        get: function () { return x.onprops[key] || null; },
        set: function (f) {
          x.onprops[key] = typeof f === "function" ? f : null;
          if (typeof f === "function") x.connect();
        }
      });
    });
    define("attachEvent", {
      value: function (name, f) {
        var key = String(name).toLowerCase();
        if (!EVENT_KEYS[key] || typeof f !== "function") return false;
        var list = x.handlers[key] || (x.handlers[key] = []);
        if (list.indexOf(f) < 0) list.push(f);
        x.connect();
        return true;
      },
      writable: true
    });
    define("detachEvent", {
      value: function (name, f) {
        var list = x.handlers[String(name).toLowerCase()] || [];
        var at = list.indexOf(f);
        if (at >= 0) list.splice(at, 1);
        return at >= 0;
      },
      writable: true
    });
    var add = el.addEventListener;
    define("addEventListener", {
      value: function (type) {
        add.apply(el, arguments);
        if (EVENT_KEYS[String(type).toLowerCase()]) x.connect();
      },
      writable: true
    });
  }

  // The property bag of an old page's element: its <param> children, applied in interface
  // order. A value that the property refuses is skipped and the load goes on.
  function loadBag(el, x) {
    var bag = Object.create(null);
    Array.prototype.forEach.call(el.children, function (c) {
      if (c.localName === "param" && c.getAttribute("name")) bag[c.getAttribute("name").toLowerCase()] = c.getAttribute("value");
    });
    PROPERTIES.forEach(function (p) {
      var key = p.name.toLowerCase();
      if (p.readOnly || !(key in bag)) return;
      try {
        x.write(p, p.name === "Font" ? { Name: bag[key] } : bag[key]);
      } catch (e) {
        // ignored, as the control's load ignored a property it could not write
      }
    });
  }

  // <script for="ID" event="OnKeyPress(Key)"> blocks, which browsers no longer run: each becomes
  // a handler of the named event, its parameters those in the event attribute.
  function connectScripts() {
    var blocks = document.querySelectorAll("script[for][event]");
    Array.prototype.forEach.call(blocks, function (s) {
      if (s.__zentrakViewer) return;
      var target = document.getElementById(s.getAttribute("for"));
      var x = target && target.__zentrakViewer;
      if (!x) return;
      var m = /^\s*(\w+)\s*(?:\(([^)]*)\))?\s*$/.exec(s.getAttribute("event"));
      var key = m && m[1].toLowerCase();
      if (!key || !EVENT_KEYS[key]) return;
      var params = (m[2] || "").split(",").map(function (p) { return p.trim(); }).filter(Boolean);
      var f;
      try {
        f = Function.apply(null, params.concat([s.text]));
      } catch (e) {
        setTimeout(function () { throw e; }, 0);
        return;
      }
      s.__zentrakViewer = true;
      (x.scripts[key] || (x.scripts[key] = [])).push(f);
      x.connect();
    });
  }

  function upgradeObject(el) {
    if (el.__zentrakViewer) return;
    // Fallback content is what a browser shows of an object without a plug-in: the viewer
    // draws there, at the size the page gave the object.
    var holder = document.createElement("span");
    holder.className = "zentrak-viewer";
    holder.style.display = "block";
    holder.style.width = "100%";
    holder.style.height = "100%";
    el.style.display = el.style.display || "inline-block";
    if (!el.getAttribute("width") && !el.style.width) el.style.width = "870px";
    if (!el.getAttribute("height") && !el.style.height) el.style.height = "500px";
    el.appendChild(holder);
    var x = new Viewer(el, holder);
    el.__zentrakViewer = x;
    install(el, x);
    loadBag(el, x);
  }

  function isControlObject(node) {
    return node.nodeType === 1 && node.localName === "object" &&
      String(node.getAttribute("classid") || "").replace(/[{}]/g, "").toLowerCase() === CLSID;
  }

  function scan(root) {
    if (isControlObject(root)) upgradeObject(root);
    if (root.querySelectorAll) Array.prototype.forEach.call(root.querySelectorAll("object[classid]"), function (o) {
      if (isControlObject(o)) upgradeObject(o);
    });
  }

  // Elements arrive while the page is parsed: upgrade each as it comes, before the page's next
  // script runs; <param>s that arrive after their object are loaded then; <script for> blocks
  // are connected as they come; a removed viewer is destroyed.
  new MutationObserver(function (records) {
    var scripts = false;
    records.forEach(function (r) {
      Array.prototype.forEach.call(r.addedNodes, function (n) {
        if (n.nodeType !== 1) return;
        if (n.localName === "param" && r.target.__zentrakViewer) {
          var name = String(n.getAttribute("name") || "").toLowerCase();
          PROPERTIES.forEach(function (p) {
            if (p.readOnly || p.name.toLowerCase() !== name) return;
            try {
              r.target.__zentrakViewer.write(p, p.name === "Font" ? { Name: n.getAttribute("value") } : n.getAttribute("value"));
            } catch (e) {
              // ignored, as in the property bag's load
            }
          });
          return;
        }
        if (n.localName === "script" || n.querySelector && n.querySelector("script[for]")) scripts = true;
        scan(n);
      });
      Array.prototype.forEach.call(r.removedNodes, function (n) {
        if (n.nodeType !== 1) return;
        viewers.slice().forEach(function (x) {
          if (x.el.localName === "object" && !x.el.isConnected && (n === x.el || n.contains(x.el))) x.destroy();
        });
      });
    });
    if (scripts) connectScripts();
  }).observe(document, { childList: true, subtree: true });

  scan(document);
  connectScripts();
  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", connectScripts);
  addEventListener("pagehide", function () {
    viewers.slice().forEach(function (x) { x.destroy(true); });
  });

  // <zentrak-viewer>: new pages' viewer. Attributes named as properties (caption="...") are read
  // as the property bag when it is first connected.
  var ViewerElement = function () {
    return Reflect.construct(HTMLElement, [], ViewerElement);
  };
  ViewerElement.prototype = Object.create(HTMLElement.prototype, {
    constructor: { value: ViewerElement, writable: true, configurable: true },
    connectedCallback: {
      value: function () {
        if (!this.__zentrakViewer) {
          var x = new Viewer(this, this);
          this.__zentrakViewer = x;
          install(this, x);
          var el = this;
          PROPERTIES.forEach(function (p) {
            var a = p.readOnly ? null : el.getAttribute(p.name);
            if (a === null) return;
            try {
              x.write(p, p.name === "Font" ? { Name: a } : a);
            } catch (e) {
              // ignored, as in the property bag's load
            }
          });
          connectScripts();
        }
      },
      configurable: true
    },
    disconnectedCallback: {
      value: function () {
        var el = this;
        // Moving the element within the page disconnects and connects it again at once.
        queueMicrotask(function () {
          if (!el.isConnected && el.__zentrakViewer) el.__zentrakViewer.destroy();
        });
      },
      configurable: true
    }
  });
  Object.setPrototypeOf(ViewerElement, HTMLElement);
  customElements.define("zentrak-viewer", ViewerElement);
}

  var script = typeof document !== "undefined" ? document.currentScript : null;
  var named = script && script.getAttribute ? script.getAttribute("data-zentrak-host") : null;
  var base = named ? new URL(named).href : "http://127.0.0.1:48620/";
  var Zentrak = zentrakClient(base.charAt(base.length - 1) === "/" ? base : base + "/");
  global.Zentrak = Zentrak;
  if (typeof global.ActiveXObject === "undefined") global.ActiveXObject = Zentrak.ActiveXObject;
  zentrakViewer(Zentrak, Zentrak.host);
})(typeof globalThis !== "undefined" ? globalThis : this);

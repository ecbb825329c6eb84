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

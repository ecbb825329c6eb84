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
//
// Events of an object reach the page in the answers the host sends (and in a poll while a handler
// is attached). A handler is attached as with the control in old pages, obj.attachEvent("OnX", f)
// or obj.OnX = f; a by-reference argument arrives as a Zentrak.EventRef whose .value the handler
// may change, and the values the handlers leave are sent back to the object.
function zentrakClient(base) {
  "use strict";

  var API = base + "api";
  var RELEASE = base + "release";
  var E_FAIL = -2147467259;
  var RPC_S_SERVER_UNAVAILABLE = -2147023174; // the host did not answer this page
  var RPC_E_DISCONNECTED = -2147417848; // the session has ended
  var DISP_E_UNKNOWNNAME = -2147352570;

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

  // The decoded answer of an HTTP exchange, or a thrown Error.
  function parseAnswer(status, text, source) {
    if (status === 0) throw unreachable(source);
    var answer;
    try {
      answer = JSON.parse(text);
    } catch (e) {
      throw makeError(E_FAIL, "The Zentrak host answered HTTP " + status + " without JSON", source);
    }
    if (status !== 200 && answer && !Array.isArray(answer) && answer.ok === false) {
      if (answer.error && answer.error.code === RPC_E_DISCONNECTED) session = null;
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
      x.send(body);
    } catch (e) {
      throw unreachable(source);
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
      throw unreachable(source);
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
      heartbeat(answer.idleTimeout);
    }
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
      if (!session || inFlight) return;
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
    postAsync(url(session), JSON.stringify({ op: "release", object: h.handle })).catch(function () {});
  }) : null;

  function invokeSync(state, dispid, kind, args) {
    if (unloaded !== null && state.owner === unloaded) return undefined;
    if (state.released || session !== state.owner)
      throw makeError(RPC_E_DISCONNECTED, "The object has been released", state.cls.progid);
    var a = postSync(url(state.owner), callRequest(state.handle, dispid, kind, args), state.cls.progid);
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
          failAll([item], makeError(RPC_E_DISCONNECTED, "The object has been released"));
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
    if (state.released || session !== state.owner)
      return Promise.reject(makeError(RPC_E_DISCONNECTED, "The object has been released", state.cls.progid));
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

  function createObject(progid) {
    var token = sessionSync(String(progid));
    var reqs = createRequests(progid);
    var answers = postSync(url(token), JSON.stringify(reqs), String(progid));
    return created(progid, answers, token, invokeSync);
  }

  function create(progid) {
    var reqs = createRequests(progid).map(function (r) { return JSON.stringify(r); });
    return enqueue(null, reqs, String(progid)).then(function (answers) {
      return created(progid, answers, answers.token, invokeAsync);
    });
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
    if (gone) gone.unregister(s);
    var body = JSON.stringify({ op: "release", object: s.handle });
    if (s.async) return enqueue(s.owner, [body], s.cls.progid).then(function () {});
    postSync(url(s.owner), body, s.cls.progid);
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
    endSession: endSession
  };
  return Zentrak;
}

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

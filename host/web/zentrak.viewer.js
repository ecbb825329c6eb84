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

// Browser tests of the viewer element that stands for ActiveFormX_Foxit: an old page's <object>
// with <param>s and <script for> handlers, the new <zentrak-viewer>, preview drawn by pdf.js,
// the property rules beside the host's own object, the eight events and the demo's viewer.
// run.mjs calls viewerTests with its harness.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const TO_PRINT = /^ToPrint\d{14}\d{1,2}\.pdf$/;

// A three-page A4 document with a large "PAGE n" on each page (tests/cups/sample_pdf.py).
function samplePdf() {
  const script = [
    "import sys",
    `sys.path.insert(0, ${JSON.stringify(path.join(here, "..", "cups"))})`,
    "from sample_pdf import A4, make_pdf",
    "sys.stdout.buffer.write(make_pdf([(A4[0], A4[1], 0, 'PAGE %d' % n, 60, 600, 120) for n in (1, 2, 3)]))",
  ].join("\n");
  const r = spawnSync("python3", ["-c", script]);
  if (r.status !== 0) throw new Error(`sample_pdf.py: ${r.stderr}`);
  return r.stdout;
}

// The share of dark pixels in a PNG file (ImageMagick): 0 for a blank picture.
function darkShare(file) {
  const r = spawnSync("convert", [file, "-colorspace", "Gray", "-threshold", "50%", "-negate", "-format", "%[fx:mean]", "info:"],
    { encoding: "utf8" });
  if (r.status !== 0) throw new Error(`convert: ${r.stderr}`);
  return Number(r.stdout);
}

export async function viewerTests({ test, withPage, assert, equal, origin, hostBase, profile, work, shots }) {
  const pdf = samplePdf();
  const b64 = pdf.toString("base64");
  const folder = path.join(profile, "Zentrak");
  const toPrintFiles = () => (fs.existsSync(folder) ? fs.readdirSync(folder).filter((f) => f.startsWith("ToPrint")) : []);
  const shot = (name) => path.join(shots || work, name);

  // What the viewer's frame shows, read from its shadow root.
  const frameOf = (id) => `(function () {
    var el = document.getElementById(${JSON.stringify(id)});
    var root = el.shadowRoot || el.querySelector(":scope > .zentrak-viewer").shadowRoot;
    return root.querySelector(".frame");
  })()`;

  async function waitForPages(page, id, count) {
    await page.waitForFunction(([id, count]) => {
      const el = document.getElementById(id);
      const root = el.shadowRoot || el.querySelector(":scope > .zentrak-viewer").shadowRoot;
      return el.getAttribute("data-pages") === String(count) && root.querySelectorAll("canvas").length === count;
    }, [id, count], { timeout: 20000 });
  }

  await test("an old page's <object classid>: <param> bag, <script for> handlers, preview of every page", () => withPage(async (page) => {
    const before = new Set(toPrintFiles());
    await page.goto(`${origin}/viewer_old.html`);
    const loaded = await page.evaluate(() => window.loaded);
    // SnapBuffer's bad value and the read-only Active are skipped; the load goes on after them.
    equal(loaded, {
      Caption: "Invoice viewer", Color: 15793151, AxBorderStyle: 2, SnapBuffer: 10, HelpFile: "viewer.chm",
      KeyPreview: true, Active: false, Font: "DejaVu Serif", label: "Invoice viewer",
    }, "the properties after the bag");
    await page.waitForFunction(() => window.log.includes("OnCreate"));
    equal(await page.evaluate(() => window.pdfView instanceof HTMLObjectElement), true, "the page's own element");
    // Eight handlers connected, and one more later: OnCreate once in the viewer's life.
    await page.evaluate(() => window.pdfView.attachEvent("OnCreate", () => window.log.push("late OnCreate")));
    await page.waitForTimeout(100);
    equal(await page.evaluate(() => window.log.filter((e) => /OnCreate/.test(e))), ["OnCreate"], "OnCreate once");

    equal(await page.evaluate((d) => document.getElementById("pdfView").preview(d), b64), true, "preview's answer");
    await waitForPages(page, "pdfView", 3);
    await page.waitForFunction(() => window.log.includes("OnPaint"));
    // A page is drawn when it is in or near the view: its canvas has dark pixels (the text) on
    // white. The last page, far below, is not drawn until it is scrolled to.
    const ink = (n) => page.evaluate(`(function () {
      var c = ${frameOf("pdfView")}.querySelector("canvas[data-page='${n}']");
      if (!c.width) return 0;
      var d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data, dark = 0;
      for (var i = 0; i < d.length; i += 4) if (d[i] < 100 && d[i + 3] > 200) dark++;
      return dark;
    })()`);
    await page.waitForFunction(`${frameOf("pdfView")}.querySelector("canvas[data-page='1']").width > 0`);
    await page.waitForTimeout(500);
    assert((await ink(1)) > 500, `dark pixels of page 1: ${await ink(1)}`);
    equal(await ink(3), 0, "page 3 before it is scrolled to");
    await page.evaluate(`${frameOf("pdfView")}.querySelector(".pages").scrollTop = 1e6`);
    await page.waitForFunction(`${frameOf("pdfView")}.querySelector("canvas[data-page='3']").width > 0`);
    await page.waitForTimeout(500);
    assert((await ink(3)) > 500, `dark pixels of page 3: ${await ink(3)}`);
    await page.evaluate(`${frameOf("pdfView")}.querySelector(".pages").scrollTop = 0`);
    await page.waitForTimeout(500);
    await page.locator("#pdfView").screenshot({ path: shot("viewer_old.png") });
    const dark = darkShare(shot("viewer_old.png"));
    assert(dark > 0.005 && dark < 0.5, `the screenshot's dark share: ${dark}`);

    // The host wrote one ToPrint file with the document's bytes, and it stays.
    const added = toPrintFiles().filter((f) => !before.has(f));
    equal(added.length, 1, "new ToPrint files");
    assert(TO_PRINT.test(added[0]), added[0]);
    assert(fs.readFileSync(path.join(folder, added[0])).equals(pdf), "the ToPrint file holds the document");
  }));

  await test("the viewer's keys, zoom and events, with a replaced and a swallowed key", () => withPage(async (page) => {
    await page.goto(`${origin}/viewer_old.html`);
    await page.evaluate((d) => document.getElementById("pdfView").preview(d), b64);
    await waitForPages(page, "pdfView", 3);
    const state = () => page.evaluate(`(function () {
      var f = ${frameOf("pdfView")}, p = f.querySelector(".pages"), c = f.querySelector("canvas");
      return { top: p.scrollTop, width: c.getBoundingClientRect().width };
    })()`);
    const settle = () => page.waitForTimeout(300);
    const frame = page.locator("#pdfView");
    const box = await frame.boundingBox();

    // A click on the page's drawing is not the frame's; the gap beside it is.
    await page.evaluate(() => { window.log.length = 0; });
    const canvas = await page.evaluate(`(function () { var r = ${frameOf("pdfView")}.querySelector("canvas").getBoundingClientRect(); return { x: r.x, y: r.y, w: r.width }; })()`);
    await page.mouse.click(canvas.x + canvas.w / 2, canvas.y + 40);
    await page.mouse.click(box.x + 3, box.y + 3);
    await page.mouse.dblclick(box.x + 3, box.y + 3);
    const clicks = await page.evaluate(() => window.log.filter((e) => e === "OnClick" || e === "OnDblClick" || e === "OnActivate"));
    equal(clicks, ["OnActivate", "OnClick", "OnClick", "OnClick", "OnDblClick"], "activation, then frame clicks only");
    equal(await page.evaluate(() => window.pdfView.Active), true, "Active while the viewer has the focus");

    const start = await state();
    await page.keyboard.press("End");
    await settle();
    assert((await state()).top > start.top, "End scrolls down");
    await page.keyboard.press("Home");
    await settle();
    equal((await state()).top, 0, "Home");
    await page.keyboard.press("PageDown");
    await settle();
    const paged = (await state()).top;
    assert(paged > 0, "Page Down");
    await page.keyboard.press("ArrowDown");
    await settle();
    assert((await state()).top > paged, "Arrow Down");
    await page.keyboard.press("Home");
    // Space is swallowed by the page's handler: no scrolling.
    await page.keyboard.press(" ");
    await settle();
    equal((await state()).top, 0, "a swallowed Space");
    // '+' is replaced by '-': the viewer zooms out. '=' is left alone and zooms in.
    const width = (await state()).width;
    await page.keyboard.press("+");
    await page.waitForFunction(`${frameOf("pdfView")}.querySelector("canvas").getBoundingClientRect().width < ${width - 10}`);
    await page.keyboard.press("=");
    await page.waitForFunction(`Math.abs(${frameOf("pdfView")}.querySelector("canvas").getBoundingClientRect().width - ${width}) < 3`);
    // Ctrl+wheel zooms in.
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.keyboard.down("Control");
    await page.mouse.wheel(0, -100);
    await page.keyboard.up("Control");
    await page.waitForFunction(`${frameOf("pdfView")}.querySelector("canvas").getBoundingClientRect().width > ${width + 10}`);
    const keys = await page.evaluate(() => window.log.filter((e) => Array.isArray(e)));
    equal(keys, [["OnKeyPress", 32], ["OnKeyPress", 43], ["OnKeyPress", 61]], "OnKeyPress for character keys only");
    const paints = await page.evaluate(() => window.log.filter((e) => e === "OnPaint").length);
    assert(paints >= 2, `OnPaint after each zoom's drawing: ${paints}`);

    await page.evaluate(() => { window.log.length = 0; });
    await page.click("#outside");
    // The last zoom's drawing may still end (OnPaint) after the width changed.
    equal(await page.evaluate(() => window.log.filter((e) => e !== "OnPaint")), ["OnDeactivate"], "focus leaves");
    equal(await page.evaluate(() => [window.pdfView.Active]), [false], "Active after");

    // Removal destroys the viewer once; the page's handler hears it.
    await page.evaluate(() => { window.pdfView.remove(); });
    await page.waitForFunction(() => window.destroyedOnce === 1);
    await page.waitForTimeout(200);
    equal(await page.evaluate(() => window.destroyedOnce), 1, "OnDestroy once");
  }));

  await test("the viewer's property rules match the control's, and the visible ones change the element", () => withPage(async (page) => {
    await page.goto(`${origin}/viewer_old.html`);
    // Each value is written to the element and to the host's own ActiveFormX_Foxit; both must
    // read back the same, or fail with the same number.
    const cases = [
      ["Visible", false], ["Visible", "true"], ["Visible", "0"], ["Visible", "abc"], ["Visible", null], ["Visible", undefined],
      ["AutoScroll", 1], ["AutoSize", -1], ["Scaled", "False"], ["DropTarget", 2.5], ["ScreenSnap", ""],
      ["DoubleBuffered", true], ["KeyPreview", "1e3"], ["Enabled", 0], ["Enabled", true],
      ["AxBorderStyle", 3], ["AxBorderStyle", "0"], ["AxBorderStyle", 2.5], ["AxBorderStyle", 7], ["AxBorderStyle", "x"],
      ["SnapBuffer", 3.5], ["SnapBuffer", "0x10"], ["SnapBuffer", "&H10"], ["SnapBuffer", 3e10], ["SnapBuffer", true], ["SnapBuffer", " 12 "],
      ["PixelsPerInch", 120], ["PixelsPerInch", null], ["PrintScale", 2], ["PrintScale", "0"],
      ["Color", 255], ["Color", -2147483643], ["Color", 4294967295], ["Color", -5], ["Color", 3e10], ["Color", "12"],
      ["Caption", "Rechnung"], ["Caption", 12], ["Caption", 2.5], ["Caption", true], ["Caption", undefined], ["Caption", null], ["Caption", 1e21],
      ["HelpFile", "a.chm"], ["HelpFile", false],
    ];
    const r = await page.evaluate((cases) => {
      const control = new ActiveXObject("Zentrak.ActiveFormX_Foxit");
      const el = document.getElementById("pdfView");
      const attempt = (obj, name, v) => {
        try {
          obj[name] = v;
          return ["ok", obj[name]];
        } catch (e) {
          return ["error", e.number];
        }
      };
      return cases.map(([name, v]) => [name, String(v), attempt(el, name, v), attempt(control, name, v)]);
    }, cases);
    for (const [name, v, element, control] of r) equal(element, control, `${name} = ${v}`);

    const readOnly = await page.evaluate(() => ["Active", "AlignDisabled", "VisibleDockClientCount"].map((n) => {
      const el = document.getElementById("pdfView");
      const was = el[n];
      try {
        el[n] = 1;
        return [n, "written"];
      } catch (e) {
        return [n, e.number, e.description, e.source, e instanceof Error, el[n] === was];
      }
    }));
    for (const row of readOnly) {
      equal(row.slice(1), [-2147352573, "Object doesn't support this property or method", "Zentrak.ActiveFormX_Foxit", true, true],
        `writing ${row[0]}`);
    }
    equal(await page.evaluate(() => [pdfView.AlignDisabled, pdfView.VisibleDockClientCount]), [false, 0], "read-only values");

    // What shows.
    const shown = await page.evaluate(`(function () {
      var el = document.getElementById("pdfView"), f = ${frameOf("pdfView")}, out = {};
      var cs = function () { return getComputedStyle(f); };
      var probe = document.createElement("div");
      document.body.appendChild(probe);
      var system = function (name) { probe.style.backgroundColor = name; return getComputedStyle(probe).backgroundColor; };
      el.Color = 255; out.red = cs().backgroundColor;
      el.Color = 0x80000005; out.window = [cs().backgroundColor, system("Window")];
      el.Color = 0xFF00000F; out.buttonFace = [cs().backgroundColor, system("ButtonFace")];
      out.borders = [0, 1, 2, 3].map(function (b) { el.AxBorderStyle = b; return [cs().borderTopWidth, cs().borderTopStyle]; });
      el.Visible = false; out.hidden = cs().visibility; el.Visible = true; out.shown = cs().visibility;
      el.Caption = "Delivery note"; out.label = el.getAttribute("aria-label");
      el.Font = { Name: "DejaVu Sans Mono", Size: 12, Bold: true, Italic: true };
      out.font = [cs().fontFamily, cs().fontSize, cs().fontWeight, cs().fontStyle, String(el.Font), el.Font.Bold];
      try { el.Font = 5; } catch (e) { out.badFont = [e.number, e.description]; }
      el.Font = el.Font; out.sameFont = String(el.Font);
      var live = el.Font; live.Size = 9; live.Bold = false; live.Underline = true;
      out.liveFont = [cs().fontSize, cs().fontWeight, cs().textDecorationLine, el.Font.Weight, el.Font === live];
      el.Enabled = false; out.disabled = [f.getAttribute("aria-disabled"), f.inert];
      probe.remove();
      return out;
    })()`);
    equal(shown.red, "rgb(255, 0, 0)", "an RGB colour (red in the low byte)");
    equal(shown.window[0], shown.window[1], "system colour 5, Window");
    equal(shown.buttonFace[0], shown.buttonFace[1], "clBtnFace");
    equal(shown.borders, [["0px", "none"], ["1px", "solid"], ["2px", "inset"], ["3px", "outset"]], "border styles");
    equal([shown.hidden, shown.shown], ["hidden", "visible"], "Visible");
    equal(shown.label, "Delivery note", "Caption as the accessible name");
    equal(shown.font, ['"DejaVu Sans Mono", sans-serif', "16px", "700", "italic", "DejaVu Sans Mono", true], "Font");
    equal(shown.badFont, [-2147352571, "The object is not a font object"], "a Font that is no font object");
    equal(shown.sameFont, "DejaVu Sans Mono", "putting the font object read");
    equal(shown.liveFont, ["12px", "400", "underline", 400, true], "writing the font object's attributes");
    equal(shown.disabled, ["true", true], "Enabled false");
    // An <object> that script inserts later is upgraded too (its classid in braces, its <param>
    // names in any case), and a <param> added afterwards is loaded then.
    const inserted = await page.evaluate(async () => {
      document.body.insertAdjacentHTML("beforeend", '<object id="dyn" classid="CLSID:{D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA}">' +
        '<param name="caption" value="Inserted"><param name="VISIBLE" value="0"></object>');
      await new Promise((r) => setTimeout(r, 0));
      const el = document.getElementById("dyn");
      const p = document.createElement("param");
      p.name = "SnapBuffer";
      p.value = "7";
      el.appendChild(p);
      await new Promise((r) => setTimeout(r, 0));
      return [el.Caption, el.Visible, el.SnapBuffer];
    });
    equal(inserted, ["Inserted", false, 7], "an <object> inserted by script");
    // A disabled viewer raises no click and takes no keys.
    await page.evaluate(() => { window.log.length = 0; });
    const box = await page.locator("#pdfView").boundingBox();
    await page.mouse.click(box.x + 5, box.y + 5);
    await page.keyboard.press("a");
    equal(await page.evaluate(() => window.log.filter((e) => e !== "OnPaint")), [], "events of a disabled viewer");
  }));

  await test("<zentrak-viewer>: attributes, addEventListener, preview, OnDestroy on unload", () => withPage(async (page) => {
    await page.goto(`${origin}/viewer_new.html`);
    await page.waitForFunction(() => window.log.includes("listener OnCreate"));
    equal(await page.evaluate(() => [viewer.Caption, viewer.getAttribute("aria-label"), viewer.Visible, viewer.Color]),
      ["Statements", "Statements", true, 4278190095], "attributes as the property bag, and defaults");
    equal(await page.evaluate((d) => viewer.preview(d), b64), true, "preview");
    await waitForPages(page, "viewer", 3);
    await page.waitForFunction(() => window.log.includes("OnPaint"));
    await page.locator("#viewer").screenshot({ path: shot("viewer_new.png") });
    assert(darkShare(shot("viewer_new.png")) > 0.005, "the new element's screenshot shows the page");
    // A narrower viewer fits its pages to the new width.
    const pageWidth = () => page.evaluate(() => viewer.shadowRoot.querySelector("canvas").getBoundingClientRect().width);
    const wide = await pageWidth();
    await page.evaluate(() => { viewer.style.width = "300px"; });
    await page.waitForFunction((w) => viewer.shadowRoot.querySelector("canvas").getBoundingClientRect().width < w - 150, wide);
    await page.locator("#viewer").focus();
    await page.keyboard.press("x");
    equal(await page.evaluate(() => window.log.filter((e) => Array.isArray(e))), [["OnKeyPress", 120]], "listener's key");
    // An empty document: an empty ToPrint file, nothing shown, and still true. (A second later
    // than the last preview, whose file could otherwise have the same name.)
    await page.waitForTimeout(1100);
    const before = new Set(toPrintFiles());
    equal(await page.evaluate(() => viewer.preview("")), true, "preview of an empty text");
    const added = toPrintFiles().filter((f) => !before.has(f));
    equal(added.map((f) => fs.statSync(path.join(folder, f)).size), [0], "the empty ToPrint file");
    equal(await page.evaluate(() => viewer.shadowRoot.querySelectorAll("canvas").length), 0, "nothing shown");
    // A Null document fails as the control's preview fails, with the host's conversion error.
    const failed = await page.evaluate(() => { try { viewer.preview(null); return "no error"; } catch (e) { return [e.number, e.source]; } });
    equal(failed, [-2147418113, "Zentrak.ActiveFormX_Foxit"], "preview(null)");
    // Leaving the page destroys the viewer: its OnDestroy runs during pagehide.
    await page.evaluate(() => {
      viewer.addEventListener("OnDestroy", () => sessionStorage.setItem("destroyed", "yes"));
    });
    await page.goto(`${origin}/viewer_new.html`);
    equal(await page.evaluate(() => sessionStorage.getItem("destroyed")), "yes", "OnDestroy on unload");
  }));

  await test("the demo's viewer previews the sample under the demo's Content-Security-Policy", () => withPage(async (page) => {
    const violations = [];
    page.on("console", (m) => { if (/Content Security Policy/i.test(m.text())) violations.push(m.text()); });
    await page.addInitScript(() => {
      window.violations = [];
      document.addEventListener("securitypolicyviolation", (e) => window.violations.push(`${e.violatedDirective} ${e.blockedURI}`));
    });
    await page.goto(`${hostBase}demo`);
    await page.click("#view-sample");
    equal((await page.textContent("#view-result")).trim(), "preview answered true.", "the demo's output");
    await waitForPages(page, "viewer", 3);
    await page.waitForFunction(() => /OnPaint/.test(document.getElementById("view-events").textContent));
    await page.locator("#viewing").screenshot({ path: shot("viewer_demo.png") });
    assert(darkShare(shot("viewer_demo.png")) > 0.002, "the demo's screenshot shows the sample");
    equal([await page.evaluate(() => window.violations), violations], [[], []], "no CSP violations");
  }));
}

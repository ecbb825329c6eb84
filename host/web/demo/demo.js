// The demo page: each section calls one or two members of the Zentrak objects through the
// Promise API of zentrak.js and shows the answer, or the failure with its code and source.
"use strict";

const $ = (id) => document.getElementById(id);
let db = null;
let fso = null;
let printer = null;
let pageIndex = 1;

function clear(out) {
  out.replaceChildren();
  out.className = "";
}

function showError(out, e) {
  clear(out);
  out.className = "error";
  const code = document.createElement("code");
  code.textContent = e.number !== undefined ? `Error ${e.number}` : "Error";
  out.append(code, e.source ? ` (${e.source}): ` : ": ", e.description || e.message || String(e));
}

function showText(out, text, ok) {
  clear(out);
  if (ok) out.className = "ok";
  out.textContent = text;
}

// A result JSON text {"size","total","page","meta","data"} as a table.
function showTable(out, text) {
  let result;
  try {
    result = JSON.parse(text);
  } catch {
    showText(out, text);
    return;
  }
  if (!result || !Array.isArray(result.data) || !Array.isArray(result.meta)) {
    showText(out, text);
    return;
  }
  clear(out);
  const info = document.createElement("div");
  info.className = "muted";
  info.textContent = `${result.total} row${result.total === 1 ? "" : "s"} in all` +
    (result.size > 0 ? `, page ${result.page} of ${Math.max(1, Math.ceil(result.total / result.size))}` : "");
  const table = document.createElement("table");
  const head = table.createTHead().insertRow();
  for (const name of result.meta) {
    const th = document.createElement("th");
    th.textContent = name;
    head.append(th);
  }
  const body = table.createTBody();
  for (const row of result.data) {
    const tr = body.insertRow();
    for (const cell of row) {
      const td = tr.insertCell();
      if (cell === null) {
        td.className = "null";
        td.textContent = "null";
      } else {
        td.textContent = cell;
      }
    }
  }
  out.append(info, table);
}

// Runs one action of the page; failures are shown in `out`.
function action(button, out, work) {
  $(button).addEventListener("click", async () => {
    $(button).disabled = true;
    try {
      await work($(out));
    } catch (e) {
      showError($(out), e);
    } finally {
      $(button).disabled = false;
    }
  });
}

async function database() {
  if (!db) db = await Zentrak.create("Zentrak.LocalDB");
  return db;
}

async function files() {
  if (!fso) fso = await Zentrak.create("Zentrak.FileSystemObject");
  return fso;
}

action("db-open", "db-result", async (out) => {
  const d = await database();
  const ok = await d.setDBName($("db-name").value, $("db-path").value);
  showText(out, ok ? `Opened ${$("db-name").value}.` : "setDBName answered false: the database could not be opened.", ok);
});

action("sql-query", "sql-result", async (out) => {
  showTable(out, await (await database()).queryAll($("sql-text").value));
});

action("sql-execute", "sql-result", async (out) => {
  // Data comes back with the statement's error message when executeSql answers false.
  const data = Zentrak.ref($("sql-text").value);
  const value = await (await database()).executeSql(data);
  if (value === true) showText(out, "Done.", true);
  else if (value === false) showText(out, `The statement failed: ${data.value}`);
  else showTable(out, String(value));
});

// Paging: the page shown and how many pages the last answer had (0 before the first answer).
// A new statement or page size starts again at page 1.
let pageCount = 0;
let pagedQuery = "";

async function showPage(out, step) {
  const size = Number($("page-size").value) || 10;
  const sql = $("page-sql").value;
  if (`${size}\u0000${sql}` !== pagedQuery) {
    pagedQuery = `${size}\u0000${sql}`;
    pageIndex = 1;
    pageCount = 0;
  } else if (pageCount > 0) {
    pageIndex = Math.min(Math.max(1, pageIndex + step), pageCount);
  }
  const text = await (await database()).queryByPage(sql, size, pageIndex);
  try {
    const result = JSON.parse(text);
    pageCount = Math.max(1, Math.ceil(result.total / size));
    if (pageIndex > pageCount) {
      // The table shrank since the last page: show its last page instead of an empty one.
      pageIndex = pageCount;
      return showPage(out, 0);
    }
  } catch {
    pageCount = 0;
  }
  $("page-label").textContent = pageCount ? `Page ${pageIndex} of ${pageCount}` : `Page ${pageIndex}`;
  showTable(out, text);
}

action("page-prev", "page-result", (out) => showPage(out, -1));
action("page-next", "page-result", (out) => showPage(out, +1));

action("cache-load", "cache-result", async (out) => {
  const ok = await (await database()).initCache($("cache-doc").value);
  showText(out, ok ? "Loaded." : "initCache answered false: the document was not applied.", ok);
});

action("cache-list", "cache-result", async (out) => {
  showTable(out, await (await database()).getCacheObjs(false));
});

action("file-choose", "file-chosen", async (out) => {
  const text = await (await files()).selectFiles(false);
  if (!text) {
    showText(out, "No file chosen.");
    return;
  }
  const chosen = JSON.parse(text);
  showText(out, chosen.map((f) => `${f.filename} (${f.size} bytes)`).join("\n"), true);
  if (chosen.length) $("file-name").value = chosen[0].filename;
});

action("file-read", "file-result", async (out) => {
  const text = await (await files()).GetFileStream($("file-name").value, $("file-zip").checked,
    Number($("file-start").value), Number($("file-length").value));
  clear(out);
  const bytes = atob(text);
  const info = document.createElement("div");
  info.className = "muted";
  info.textContent = `${text.length} characters of Base64, ${bytes.length} bytes` +
    ($("file-zip").checked ? " of zip archive" : "");
  const base64 = document.createElement("pre");
  base64.textContent = text.length > 2000 ? text.slice(0, 2000) + "\u2026" : text;
  const hex = document.createElement("pre");
  hex.textContent = Array.from(bytes.slice(0, 256), (c) => c.charCodeAt(0).toString(16).padStart(2, "0")).join(" ");
  out.append(info, base64, hex);
});

// The sample document that ships with the demo, written here so that it needs no file: three
// pages with a line of text each; the third is a small landscape page (A6), which shows rotation
// and centring.
function samplePdf() {
  const pages = [[595, 842, "Zentrak sample, page 1", 72, 760], [595, 842, "Zentrak sample, page 2", 72, 760],
    [420, 298, "Page 3: A6 landscape", 24, 250]];
  const objects = ["<< /Type /Catalog /Pages 2 0 R >>", "",
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"];
  const kids = [];
  for (const [width, height, text, x, y] of pages) {
    const body = `BT /F1 24 Tf ${x} ${y} Td (${text}) Tj ET\n0.5 w 10 10 ${width - 20} ${height - 20} re S\n`;
    objects.push(`<< /Length ${body.length} >>\nstream\n${body}\nendstream`);
    objects.push(`<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ${width} ${height}] ` +
      `/Resources << /Font << /F1 3 0 R >> >> /Contents ${objects.length} 0 R >>`);
    kids.push(`${objects.length} 0 R`);
  }
  objects[1] = `<< /Type /Pages /Kids [${kids.join(" ")}] /Count ${kids.length} >>`;
  let out = "%PDF-1.4\n";
  const offsets = [];
  objects.forEach((object, i) => {
    offsets.push(out.length);
    out += `${i + 1} 0 obj\n${object}\nendobj\n`;
  });
  const xref = out.length;
  out += `xref\n0 ${objects.length + 1}\n0000000000 65535 f \n`;
  for (const offset of offsets) out += `${String(offset).padStart(10, "0")} 00000 n \n`;
  out += `trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
  return btoa(out);
}

// The PrintServer, with the database of section 1 open (its Printers table).
async function printServer() {
  if (!printer) printer = await Zentrak.create("Zentrak.PrintServer");
  if (!(await printer.setDBName($("db-name").value, $("db-path").value))) {
    throw new Error("setDBName answered false: the database could not be opened.");
  }
  return printer;
}

action("print-list", "print-lists", async (out) => {
  const p = await printServer();
  const installed = JSON.parse(await p.getPhPrinters());
  const select = $("print-phname");
  select.replaceChildren(...installed.data.map(([name]) => new Option(name, name)));
  clear(out);
  const a = document.createElement("div");
  const b = document.createElement("div");
  showTable(a, JSON.stringify(installed));
  showTable(b, await p.getVPrinters());
  out.append(a, b);
});

action("print-map", "print-map-result", async (out) => {
  await printServer();
  const quote = (text) => `'${text.replaceAll("'", "''")}'`;
  const d = await database();
  await d.setDBName($("db-name").value, $("db-path").value);
  const ok = await d.executeSql(`insert or replace into Printers values (${quote($("print-vname").value)},` +
    `${quote($("print-phname").value)})`);
  showText(out, ok === true ? `${$("print-vname").value} prints on ${$("print-phname").value}.` : String(ok), ok === true);
});

action("print-plain", "print-result", async (out) => {
  await (await printServer()).printOut($("print-target").value, samplePdf());
  showText(out, `Sent to ${$("print-target").value}.`, true);
});

action("print-options", "print-result", async (out) => {
  const options = {
    PrinterRangeMode: $("print-range").checked ? 1 : 0,
    printerRangeFrom: Number($("print-from").value),
    printerRangeTo: Number($("print-to").value),
    numOfCopies: Number($("print-copies").value),
    AutoRotate: $("print-rotate").checked ? 1 : 0,
    AutoCenter: $("print-center").checked ? 1 : 0,
    Scaling: Number($("print-scaling").value),
  };
  await (await printServer()).printOutWithPage($("print-target").value, samplePdf(), JSON.stringify(options));
  showText(out, `Sent to ${$("print-target").value} with ${JSON.stringify(options)}.`, true);
});

action("view-sample", "view-result", async (out) => {
  // preview is synchronous, as the control's was: it answers once the file is written.
  const shown = $("viewer").preview(samplePdf());
  showText(out, `preview answered ${shown}.`, shown === true);
});

// The viewer's events, as they come.
for (const name of ["OnCreate", "OnActivate", "OnDeactivate", "OnClick", "OnDblClick", "OnKeyPress", "OnPaint", "OnDestroy"]) {
  $("viewer").addEventListener(name, (e) => {
    const key = e.detail.Key ? ` ${e.detail.Key.value}` : "";
    $("view-events").textContent = `Last event: ${name}${key}`;
  });
}

(async () => {
  try {
    const d = await database();
    showText($("version"), `Connected: ${await d.GetVersion()}.`, true);
  } catch (e) {
    showError($("version"), e);
  }
})();

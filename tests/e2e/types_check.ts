// Compiled (never run) by run.sh: the declarations of zentrak.d.ts describe the objects as pages
// use them, and reject what the objects do not have.
import Zentrak, { create, ILocalDB, IActiveFormX_Foxit, ZentrakError, ZentrakViewerElement } from "../../host/web/zentrak";

async function newCode(): Promise<string> {
  const db = await create("Zentrak.LocalDB");
  const ok: boolean = await db.setDBName("orders", "");
  const rows: string = await db.queryAll("select * from goods");
  const page: string = await db.queryByPage("select * from goods", 10, 1);
  const fso = await Zentrak.create("Zentrak.FileSystemObject");
  const slice: string = await fso.GetFileStream("/tmp/a.pdf", false, 0, 1024);
  const form = await Zentrak.create("Zentrak.ActiveFormX_Foxit");
  const caption: string = await form.Caption;
  await Zentrak.setProperty(form, "Caption", "Hello");
  // @ts-expect-error asynchronous properties are written with setProperty
  form.Caption = "Hello";
  // @ts-expect-error queryAll takes one argument
  await db.queryAll("a", "b");
  // @ts-expect-error no such member
  await db.nothing();
  return String(ok) + rows + page + slice + caption;
}

function oldCode(): string {
  const db: ILocalDB = new ActiveXObject("Zentrak.LocalDB");
  const form: IActiveFormX_Foxit = Zentrak.createObject("Zentrak.ActiveFormX_Foxit");
  form.Caption = "Hello";
  form.AxBorderStyle = 2;
  // @ts-expect-error Active is read-only
  form.Active = true;
  // @ts-expect-error not a border style
  form.AxBorderStyle = 7;
  try {
    return db.queryAll(null);
  } catch (e) {
    const z = e as ZentrakError;
    return z.number + " " + z.description + " " + z.source;
  }
}

async function bulkAndStatus(): Promise<number> {
  const db = await create("Zentrak.LocalDB");
  const [a, b] = await Zentrak.batch(() => [db.executeSql("insert into t values(1)"), db.GetVersion()] as const);
  const okA: string | boolean = a;
  const version: string = b;
  const listed: unknown[] = await Zentrak.batch([[db, "executeSql", "insert into t values(2)"]]);
  const s: "not-running" | "waiting-approval" | "blocked" | "connected" = await Zentrak.status();
  Zentrak.onstatus = (e) => console.log(e.status, e.previous);
  Zentrak.addEventListener("status", (e) => console.log(e.status));
  // @ts-expect-error not a status
  const wrong: typeof s = "down";
  Zentrak.configure({ host: "http://127.0.0.1:48621/" });
  return String(okA).length + version.length + listed.length + s.length + wrong.length + Zentrak.errors.HOST_RESTARTED;
}

export { bulkAndStatus };

function viewer(doc: string): boolean {
  const v = document.createElement("zentrak-viewer");
  v.Caption = "Invoices";
  v.OnKeyPress = (key) => { if (key.value === 32) key.value = 0; };
  v.attachEvent("OnClick", () => {});
  v.addEventListener("OnPaint", () => {});
  const old = document.getElementById("pdfView") as ZentrakViewerElement;
  const bold: boolean = old.Font.Bold;
  // @ts-expect-error Active is read-only
  v.Active = true;
  // @ts-expect-error no such event
  v.attachEvent("OnScroll", () => {});
  return v.preview(doc) && bold;
}

export { newCode, oldCode, viewer };

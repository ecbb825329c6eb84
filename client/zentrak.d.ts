// Declarations for zentrak.js (a classic script: the globals Zentrak and ActiveXObject) and
// zentrak.mjs (an ES module whose default export is Zentrak), served by zentrak-host at
// http://127.0.0.1:48620/zentrak.d.ts.
//
// Every member takes variants: any value a script could pass. undefined arrives as Empty and
// null as Null; Zentrak.value(tag, value) passes a value with an explicit variant tag. Member
// names work in any letter case at run time; these declarations spell them as the type library
// does.

/** The variant tags a value may carry on its way to the host. */
export type VarTypeName =
  | "Empty" | "Null" | "Smallint" | "Integer" | "Single" | "Double" | "Currency" | "Date"
  | "OleStr" | "Dispatch" | "Error" | "Boolean" | "Variant" | "Unknown" | "Decimal"
  | "ShortInt" | "Byte" | "Word" | "LongWord" | "Int64" | "String" | "Any";

/** A value with an explicit tag, made by Zentrak.value(). */
export interface TaggedValue {
  readonly wire: { vt: VarTypeName; value?: unknown; byref?: boolean };
}

/** What a member accepts. */
export type VariantArg = string | number | boolean | bigint | null | undefined | TaggedValue | object;

/** A failed call, as script saw it from the control. */
export interface ZentrakError extends Error {
  /** The signed status code, e.g. -2147418113 for E_UNEXPECTED. */
  number: number;
  /** The error's description; also the message. */
  description: string;
  /** The programmatic name of the object, e.g. "Zentrak.LocalDB". */
  source: string;
}

/** Zentrak.LocalDB: a local SQLite database per user and application. */
export interface ILocalDB {
  GetVersion(): string;
  InitDB(shortName: VariantArg, version: VariantArg, displayName: VariantArg, maxSize: VariantArg): void;
  /** Runs one statement: a query's result JSON text or error text, or true/false for others. */
  /** Pass Zentrak.ref(sql) as Data to read, after the call, what executeSql left there (the
   *  statement's error message when it answers false). */
  executeSql(Data: VariantArg | Ref<unknown>): string | boolean;
  BeginTrans(): void;
  CommitTrans(): void;
  RollBackTrans(): void;
  setDBName(DBName: VariantArg, Path: VariantArg): boolean;
  isTableCached(TableName: VariantArg): boolean;
  initCache(InitJsonString: VariantArg): boolean;
  /** The result JSON text: {"size","total","page","meta","data"}. */
  queryAll(SQL: VariantArg): string;
  queryByPage(SQL: VariantArg, pageSize: VariantArg, pageIndex: VariantArg): string;
  getCacheObjs(Reversed: VariantArg): string;
  close(): void;
}

/**
 * The page options of printOutWithPage, written with JSON.stringify. Keys are matched exactly,
 * letter case included; a missing key takes its default. Values are integers (numbers round half
 * to even; a string holding a number counts as that number).
 */
export interface PrintOptions {
  /** 0 (default): every page; any other value: the pages printerRangeFrom to printerRangeTo. */
  PrinterRangeMode?: number;
  /** First page, from 1 (default 1). */
  printerRangeFrom?: number;
  /** Last page (default 1); past the last page means the last page. */
  printerRangeTo?: number;
  /** Copies (default 1); 0 prints one. */
  numOfCopies?: number;
  /** 1 turns pages to the paper's orientation; anything else (true included) does not. Default 0. */
  AutoRotate?: number;
  /** 1 centres pages smaller than the paper; otherwise they sit at its top left corner. Default 0. */
  AutoCenter?: number;
  /** Percent of the pages' size (default 100). */
  Scaling?: number;
}

/** Zentrak.PrintServer: printing of PDF documents given as Base64 text, and the compressed-text codec. */
export interface IPrintServer {
  /** The Printers table as result JSON, rows [VPrinterName, PhPrinterName]; needs setDBName. */
  getVPrinters(): string;
  /** The installed printers as result JSON, one column "PhPrinterName", in the platform's order. */
  getPhPrinters(): string;
  preview(Doc: VariantArg): string | boolean;
  /** Prints a Base64 PDF on the printer that printerName stands for (a virtual name of the Printers table, else an installed printer's name), which becomes the user's default printer; an unknown name prints on the current printer. */
  printOut(printerName: VariantArg, Doc: VariantArg): boolean;
  /** Opens Path\Zentrak\DBName.db (Path "" is the user's profile folder) and its Printers table; false on failure. */
  setDBName(DBName: VariantArg, Path: VariantArg): boolean;
  /** printOut with page options: the JSON text of PrintOptions. Returns nothing. */
  printOutWithPage(printerName: VariantArg, Doc: VariantArg, printOptions: VariantArg): undefined;
  compress(Doc: VariantArg): string;
  deCompress(Doc: VariantArg): string;
}

/** Zentrak.FileSystemObject: the file-open dialog and byte ranges of local files. */
export interface IFileSystemObject {
  /** The chosen files as JSON text, [{"filename":..,"size":..}], or "" when cancelled. */
  selectFiles(multiFiles: VariantArg): string;
  /** A byte range of a file as Base64 text, packed into a zip archive first when bEncrypt is true. */
  GetFileStream(FileName: VariantArg, bEncrypt: VariantArg, iStartPos: VariantArg, iLength: VariantArg): string;
}

/** afbNone 0, afbSingle 1, afbSunken 2, afbRaised 3 */
export type TxActiveFormBorderStyle = 0 | 1 | 2 | 3;
/** poNone 0, poProportional 1, poPrintToFit 2 */
export type TxPrintScale = 0 | 1 | 2;

/** Zentrak.ActiveFormX_Foxit: the viewer control's properties and its preview method. */
export interface IActiveFormX_Foxit {
  Visible: boolean;
  AutoScroll: boolean;
  AutoSize: boolean;
  AxBorderStyle: TxActiveFormBorderStyle;
  Caption: string;
  /** OLE_COLOR */
  Color: number;
  /** IFontDisp */
  Font: object;
  KeyPreview: boolean;
  PixelsPerInch: number;
  PrintScale: TxPrintScale;
  Scaled: boolean;
  readonly Active: boolean;
  DropTarget: boolean;
  HelpFile: string;
  ScreenSnap: boolean;
  SnapBuffer: number;
  DoubleBuffered: boolean;
  readonly AlignDisabled: boolean;
  readonly VisibleDockClientCount: number;
  Enabled: boolean;
  preview(Doc: VariantArg): unknown;
}

/**
 * The asynchronous flavour of an interface: methods return Promises and property reads are
 * Promises; write properties with Zentrak.setProperty(object, name, value).
 */
export type Async<T> = {
  readonly [K in keyof T]: T[K] extends (...args: infer A) => infer R ? (...args: A) => Promise<R> : Promise<T[K]>;
};

export interface ZentrakObjects {
  "Zentrak.LocalDB": ILocalDB;
  "Zentrak.PrintServer": IPrintServer;
  "Zentrak.FileSystemObject": IFileSystemObject;
  "Zentrak.ActiveFormX_Foxit": IActiveFormX_Foxit;
}

export interface ActiveXObjectConstructor {
  new <P extends keyof ZentrakObjects>(progid: P): ZentrakObjects[P];
  new (progid: string): any;
}

/** A box for an argument a member takes by reference: value holds what the member left there. */
export interface Ref<T = unknown> {
  value: T;
}

/** An in/out argument of the last call that answered. */
export interface OutArgument {
  index: number;
  name: string;
  value: unknown;
}

/** A by-reference argument of an event: the handler reads and may replace value. */
export interface EventRef {
  value: unknown;
}

/**
 * The connection to the host: "not-running" (no answer: the host is stopped, or the browser keeps
 * the page from it), "waiting-approval" (the user has not answered whether this origin may use
 * Zentrak), "blocked" (the origin is refused, or the page is not served over http(s)),
 * "connected".
 */
export type ConnectionStatus = "not-running" | "waiting-approval" | "blocked" | "connected";

/** The event that Zentrak.onstatus and the "status" listeners receive on each change. */
export interface StatusEvent {
  type: "status";
  status: ConnectionStatus;
  /** null for the first status learnt. */
  previous: ConnectionStatus | null;
}

/** The numbers of the errors about the connection (docs/errors.md). */
export interface ConnectionErrors {
  /** -2147023174: the host is not running at the configured address. */
  readonly HOST_NOT_RUNNING: number;
  /** -2147024875: the user has not answered whether this origin may use Zentrak. */
  readonly WAITING_APPROVAL: number;
  /** -2147024891: the origin is blocked. */
  readonly ORIGIN_BLOCKED: number;
  /** -2147024846: the page is not served over http or https (a file: page). */
  readonly PAGE_NOT_SERVED: number;
  /** -2147417848: the object's session ended (the page was unloaded or idle), or it was released. */
  readonly SESSION_ENDED: number;
  /** -2147418105: the host was restarted; objects made before are gone, new ones work. */
  readonly HOST_RESTARTED: number;
}

/** One call of a Zentrak.batch list: the object, the member's name, then its arguments. */
export type BatchCall = [object, string, ...VariantArg[]];

export interface ZentrakNamespace {
  /** The address of the host this client talks to, e.g. "http://127.0.0.1:48620/". */
  readonly host: string;
  readonly ActiveXObject: ActiveXObjectConstructor;
  /** Creates an object whose calls are synchronous, as the control's were. */
  createObject<P extends keyof ZentrakObjects>(progid: P): ZentrakObjects[P];
  createObject(progid: string): any;
  /** Creates an object whose calls return Promises. */
  create<P extends keyof ZentrakObjects>(progid: P): Promise<Async<ZentrakObjects[P]>>;
  create(progid: string): Promise<any>;
  /** Releases an object now; a LocalDB closes its database. A Promise for asynchronous objects. */
  release(object: object): void | Promise<void>;
  getProperty(object: object, name: string): unknown;
  setProperty(object: object, name: string, value: VariantArg): unknown;
  value(vt: VarTypeName, value?: unknown, byref?: boolean): TaggedValue;
  /** A box for a by-reference argument of a call (executeSql's Data). */
  ref<T>(value: T): Ref<T>;
  readonly Ref: new <T>(value: T) => Ref<T>;
  /** The in/out arguments of the last call that answered, with the values the member left. */
  lastOuts(): OutArgument[];
  /** The class of the by-reference arguments that event handlers receive. */
  readonly EventRef: new (value?: unknown) => EventRef;
  /** Ends this page's session now, releasing all its objects (done by itself when the page unloads). */
  endSession(): void;
  /**
   * Runs many Promise calls in one request. Give a function that makes the calls (without
   * awaiting between them) and returns their Promises, or a list of [object, name, ...args].
   * Resolves with the results in order once every call has answered; when calls fail the others
   * still run, and the Promise rejects with the first failure's error, whose `index` is its place.
   * Requests over 1 MiB together go in more than one round trip, in order.
   *   await Zentrak.batch(rows.map((r) => [db, "executeSql", sqlOf(r)]));
   */
  batch<T extends readonly unknown[]>(work: () => T): Promise<{ -readonly [K in keyof T]: Awaited<T[K]> }>;
  batch(calls: BatchCall[]): Promise<unknown[]>;
  /** Asks the host now and resolves with the connection's status. */
  status(): Promise<ConnectionStatus>;
  /** Called on each change of the status (also with addEventListener("status", f)). */
  onstatus: ((event: StatusEvent) => void) | null;
  addEventListener(type: "status", listener: (event: StatusEvent) => void): void;
  removeEventListener(type: "status", listener: (event: StatusEvent) => void): void;
  /** Points the client at another host address, e.g. { host: "http://127.0.0.1:48621/" }; the session with the host before ends. */
  configure(options: { host?: string }): ZentrakNamespace;
  /** The numbers of the connection's errors. */
  readonly errors: ConnectionErrors;
}

/** The font object that the viewer element's Font reads as; its text is the font's name. */
export interface ViewerFont {
  Name: string;
  /** In points. */
  Size: number;
  Bold: boolean;
  Italic: boolean;
  Underline: boolean;
  Strikethrough: boolean;
  Weight: number;
  Charset: number;
}

/** The viewer's events: the handler of OnKeyPress gets the key (0 to 255) in a box. */
export type ViewerEventName =
  | "OnActivate" | "OnClick" | "OnCreate" | "OnDblClick" | "OnDestroy" | "OnDeactivate" | "OnKeyPress" | "OnPaint";

/**
 * The viewer element that zentrak.js defines, <zentrak-viewer>, and that an old page's
 * <object classid="clsid:D3D2F0AA-5B8A-44A7-91B6-54B227F1E6FA"> becomes: the control's
 * properties (booleans read true/false) and preview, which answers true once the host has
 * written the ToPrint file. Its events reach obj.OnX, attachEvent and addEventListener("OnX"),
 * whose CustomEvent carries the arguments by name in detail (detail.Key for OnKeyPress).
 */
export interface ZentrakViewerMembers extends Omit<IActiveFormX_Foxit, "Font" | "preview"> {
  Font: ViewerFont;
  preview(Doc: VariantArg): boolean;
  attachEvent(name: ViewerEventName, handler: (...args: any[]) => void): boolean;
  detachEvent(name: ViewerEventName, handler: (...args: any[]) => void): boolean;
  OnActivate: (() => void) | null;
  OnClick: (() => void) | null;
  OnCreate: (() => void) | null;
  OnDblClick: (() => void) | null;
  OnDestroy: (() => void) | null;
  OnDeactivate: (() => void) | null;
  OnKeyPress: ((Key: EventRef) => void) | null;
  OnPaint: (() => void) | null;
}
export type ZentrakViewerElement = HTMLElement & ZentrakViewerMembers;

declare const Zentrak: ZentrakNamespace;
export default Zentrak;
export declare const ActiveXObject: ActiveXObjectConstructor;
export declare const createObject: ZentrakNamespace["createObject"];
export declare const create: ZentrakNamespace["create"];
export declare const release: ZentrakNamespace["release"];
export declare const getProperty: ZentrakNamespace["getProperty"];
export declare const setProperty: ZentrakNamespace["setProperty"];
export declare const value: ZentrakNamespace["value"];
export declare const endSession: ZentrakNamespace["endSession"];
export declare const batch: ZentrakNamespace["batch"];
export declare const status: ZentrakNamespace["status"];
export declare const configure: ZentrakNamespace["configure"];
/** A client of its own for the host at `base` ("http://127.0.0.1:48620/"). */
export declare function zentrakClient(base: string): ZentrakNamespace;

declare global {
  interface HTMLElementTagNameMap {
    "zentrak-viewer": ZentrakViewerElement;
  }
  /** Set by zentrak.js. */
  var Zentrak: ZentrakNamespace;
  /** Set by zentrak.js where the browser has none. */
  var ActiveXObject: ActiveXObjectConstructor;
}

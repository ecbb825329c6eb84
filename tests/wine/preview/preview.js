// PrintServer.preview under Wine. The runner drives the window from another process
// (zentrak_preview_driver) while this suite waits in preview, and checks what the window showed
// and printed, and that the document file is there while the window is open and gone after;
// this suite checks what the call gives back. The document is the
// runner's sample (ZENTRAK_PREVIEW_DOC, Base64), else text that is no PDF.
var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function readText(path) {
  var f = fso.OpenTextFile(path, 1);
  var text = f.AtEndOfStream ? "" : f.ReadAll();
  f.Close();
  return text;
}

var docPath = env("ZENTRAK_PREVIEW_DOC");
var doc = docPath ? readText(docPath) : "SGVsbG8sIHdvcmxk";  // "Hello, world"

var ps = new ActiveXObject("Zentrak.PrintServer");
check("setDBName", ps.setDBName("wine_preview", ""), true);
var db = new ActiveXObject("Zentrak.LocalDB");
db.setDBName("wine_preview", "");
db.executeSql("delete from Printers");
db.executeSql("insert into Printers values ('Labels','ZentrakB')");
db.close();

check("preview", ps.preview(doc), "true");
finish();

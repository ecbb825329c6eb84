// Printing from the module under Wine, end to end: Wine's winspool lists the queues of the private
// cupsd (tests/cups/with_cupsd.sh) and hands the module's RAW job to it, which types it as PDF and
// writes it to the queue's file. The runner gives the folder of those files and a sample document
// in Base64 through the environment; without them (no private cupsd) the suite checks nothing.
// The runner also serves requests to change the scheduler's queues while the suite runs
// (askRunner), and reads the job attributes of the suite's prints afterwards.
var env = new ActiveXObject("WScript.Shell").Environment("PROCESS");
var outDir = env("ZENTRAK_PRINT_OUT");
var samplePath = env("ZENTRAK_PRINT_SAMPLE");
var runnerDir = env("ZENTRAK_PRINT_RUNNER");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function readText(path) {
  var f = fso.OpenTextFile(path, 1);
  var text = f.AtEndOfStream ? "" : f.ReadAll();
  f.Close();
  return text;
}

// Wine's cscript does not implement WScript.Sleep: the wait spins on the clock.
function pause(ms) {
  var until = new Date().getTime() + ms;
  while (new Date().getTime() < until) {}
}

// Waits up to 20 seconds until the queue's file exists and keeps its size for a moment; its
// text, or null.
function waitForPrint(path) {
  var last = -1;
  for (var i = 0; i < 100; i++) {
    if (fso.FileExists(path)) {
      var size = fso.GetFile(path).Size;
      if (size > 0 && size == last) return readText(path);
      last = size;
    }
    pause(200);
  }
  return null;
}

// Asks the runner to do what request says ("delete QUEUE": lpadmin -x QUEUE) and waits up to 20
// seconds until it is done; whether it was done.
function askRunner(request) {
  var done = runnerDir + "\\done";
  var f = fso.CreateTextFile(runnerDir + "\\request.tmp", true);
  f.Write(request);
  f.Close();
  fso.MoveFile(runnerDir + "\\request.tmp", runnerDir + "\\request");
  for (var i = 0; i < 100; i++) {
    if (fso.FileExists(done)) {
      fso.DeleteFile(done, true);
      return true;
    }
    pause(200);
  }
  return false;
}

if (!outDir || !samplePath) {
  WScript.Echo("printing: no private cupsd; nothing checked");
} else {
  var ps = new ActiveXObject("Zentrak.PrintServer");
  var db = new ActiveXObject("Zentrak.LocalDB");

  // The installed printers are the scheduler's queues, in winspool's order.
  var installed = ps.getPhPrinters();
  check("getPhPrinters lists ZentrakA", installed.indexOf('["ZentrakA"]') >= 0, true);
  check("getPhPrinters lists ZentrakB", installed.indexOf('["ZentrakB"]') >= 0, true);

  // A virtual name, mapped by the page through LocalDB on the same database.
  check("setDBName", ps.setDBName("wine_print", ""), true);
  check("LocalDB on the same database", db.setDBName("wine_print", ""), true);
  db.executeSql("delete from Printers");
  check("map a virtual name", db.executeSql("insert into Printers values ('Labels','ZentrakB')"), true);
  check("getVPrinters", ps.getVPrinters(),
        '{"size":-1,"total":1,"page":-1,"meta":["VPRINTERNAME","PHPRINTERNAME"],"data":[["Labels","ZentrakB"]]}');
  db.close();

  var out = outDir + "\\ZentrakB.pdf";
  if (fso.FileExists(out)) fso.DeleteFile(out, true);

  // Bytes that are no PDF: the engine's error, and no job reaches the queue.
  checkError("printOut of text that is no PDF", function () { ps.printOut("Labels", "SGVsbG8sIHdvcmxk"); },
             E_UNEXPECTED);
  try {
    ps.printOut("Labels", "SGVsbG8sIHdvcmxk");
  } catch (e) {
    check("no PDF: the reason", e.description.indexOf("not a PDF document") >= 0, true);
  }

  // The sample through the virtual name: the queue's file is a PDF (its pages are counted by the
  // runner with pdfinfo).
  check("printOut through the virtual name", ps.printOut("Labels", readText(samplePath)), true);
  var printed = waitForPrint(out);
  check("the queue wrote the document", printed !== null, true);
  if (printed !== null) {
    check("the printed file is a PDF", printed.substr(0, 5), "%PDF-");
    check("the printed file is whole", printed.indexOf("%%EOF") >= 0, true);
  }

  // The printer picked stays the user's default: the profile's device value names it.
  var device = new ActiveXObject("WScript.Shell").RegRead(
      "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Device");
  check("the default is written to the profile", device.split(",")[0], "ZentrakB");

  // A name that is no printer and maps to none prints on the current printer, which the job above
  // made ZentrakB.
  fso.DeleteFile(out, true);
  check("printOut on the current printer", ps.printOut("NoSuchPrinter", readText(samplePath)), true);
  check("the current printer printed", waitForPrint(out) !== null, true);

  // Copies are jobs of their own on the printer named in any letter case (the runner counts the
  // jobs); the options the engine does not apply are still converted, and a bad one fails the call.
  var outA = outDir + "\\ZentrakA.pdf";
  if (fso.FileExists(outA)) fso.DeleteFile(outA, true);
  check("printOutWithPage, two copies",
        ps.printOutWithPage("zentraka", readText(samplePath), '{"numOfCopies":2,"Scaling":50,"AutoRotate":1}'),
        undefined);
  check("the copies printed", waitForPrint(outA) !== null, true);
  checkError("printOutWithPage, an option that is no number",
             function () { ps.printOutWithPage("zentraka", readText(samplePath), '{"Scaling":"abc"}'); }, E_UNEXPECTED);

  // A printer that disappears between its selection and the print: the runner deletes the queue
  // ZentrakC (which it added before the suite) after a first print made it the current printer.
  // The next print fails naming it, and nothing is queued (the runner counts what is left).
  var outC = outDir + "\\ZentrakC.pdf";
  if (fso.FileExists(outC)) fso.DeleteFile(outC, true);
  check("printOut on ZentrakC", ps.printOut("ZentrakC", readText(samplePath)), true);
  check("ZentrakC printed", waitForPrint(outC) !== null, true);
  check("the runner deletes ZentrakC", askRunner("delete ZentrakC"), true);
  try {
    ps.printOut("ZentrakC", readText(samplePath));
    fail("printOut on a printer that is gone: no error");
  } catch (e) {
    check("a printer that is gone: number", e.number, E_UNEXPECTED);
    check("a printer that is gone: named", e.description.indexOf('Cannot print on "ZentrakC": ') == 0, true);
  }
}
finish();

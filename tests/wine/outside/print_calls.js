// The dispatch calls that printing makes on the outside PDF control, when its class is registered:
// the runner registers the test's recorder (print_recorder.cpp) under the control's class for this
// suite only. Each print is compared with the recorder's lines: DISPIDs, order, kinds and values.
var recordPath = new ActiveXObject("WScript.Shell").Environment("PROCESS")("ZENTRAK_RECORD_FILE");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var ps = new ActiveXObject("Zentrak.PrintServer");
ps.setDBName("wine_print_calls", "");  // printing looks names up in the database
var doc = "JVBERi0xLjQK";  // "%PDF-1.4\n": the recorder never reads the bytes, only their count
// Each job sites the control in a hidden child window, and takes the site back after the close.
var open = ["ole SetClientSite site", "ole DoVerb -5 child hidden", "control 23 call I4:* I4:9 BSTR:''", "control 6 get"];
var close = ["control 22 call", "ole Close", "ole SetClientSite null"];

// The recorded lines since the last call, which are then forgotten.
function takeCalls() {
  if (!fso.FileExists(recordPath)) return "";
  var f = fso.OpenTextFile(recordPath, 1);
  var text = f.AtEndOfStream ? "" : f.ReadAll();
  f.Close();
  fso.DeleteFile(recordPath, true);
  return text;
}

function puts(mode, from, to, copies, rotate, center, scaling) {
  return ["printer 2 put I4:" + mode, "printer 3 put I2:" + from, "printer 4 put I2:" + to, "printer 5 put I2:" + copies,
          "printer 7 put BOOL:" + rotate, "printer 8 put BOOL:" + center, "printer 6 put I2:" + scaling];
}

function lines(parts) {
  return parts.join("\n") + "\n";
}

takeCalls();
check("printOut", ps.printOut("NoSuchPrinter", doc), true);
check("printOut: the calls", takeCalls(), lines(open.concat([
  "printer 2 put I4:0", "printer 5 put I2:1", "printer 7 put BOOL:0", "printer 8 put BOOL:0", "printer 6 put I2:100",
  "printer 15 call"], close)));

// printOutWithPage: the options' conversions as the puts carry them. Values: halves round to
// even, true is -1 (so it is not 1), text holding a number converts, 16-bit values keep their low
// 16 bits, signed.
var cases = [
  ["no options", "{}", puts(0, 1, 1, 1, 0, 0, 100)],
  ["every option", '{"PrinterRangeMode":2,"printerRangeFrom":3,"printerRangeTo":5,"numOfCopies":4,' +
   '"AutoRotate":1,"AutoCenter":1,"Scaling":80}', puts(2, 3, 5, 4, -1, -1, 80)],
  ["16-bit truncation", '{"printerRangeFrom":65537,"printerRangeTo":32768,"numOfCopies":-65535,"Scaling":98304}',
   puts(0, 1, -32768, 1, 0, 0, -32768)],
  ["halves, true and text", '{"PrinterRangeMode":true,"numOfCopies":2.5,"Scaling":"3.5","AutoRotate":true,"AutoCenter":"1"}',
   puts(-1, 1, 1, 2, 0, -1, 4)],
  ["zero copies", '{"numOfCopies":0}', puts(0, 1, 1, 0, 0, 0, 100)]  // no comma: JScript counts one more
];
for (var i = 0; i < cases.length; i++) {
  check("printOutWithPage, " + cases[i][0], ps.printOutWithPage("NoSuchPrinter", doc, cases[i][1]), undefined);
  check("printOutWithPage, " + cases[i][0] + ": the calls", takeCalls(),
        lines(open.concat(cases[i][2], ["printer 14 call"], close)));
}

// An option that cannot be converted stops the puts where it is read; the document is still closed.
checkError("printOutWithPage, copies that are no number",
           function () { ps.printOutWithPage("NoSuchPrinter", doc, '{"numOfCopies":"abc"}'); }, E_UNEXPECTED);
check("a bad option: the calls", takeCalls(),
      lines(open.concat(["printer 2 put I4:0", "printer 3 put I2:1", "printer 4 put I2:1"], close)));

// A print that the control refuses fails with the control's text, after which the document closes.
checkError("a refused print", function () { ps.printOutWithPage("NoSuchPrinter", doc, '{"numOfCopies":13}'); },
           E_UNEXPECTED, "The recorder refuses 13 copies");
check("a refused print: the calls", takeCalls(),
      lines(open.concat(puts(0, 1, 1, 13, 0, 0, 100), ["printer 14 call"], close)));
finish();

// Printing where Wine has no printer and no default: the runner starts this suite with
// CUPS_SERVER naming a socket where no scheduler listens, so Wine's winspool finds no queue
// (and drops the ones it had listed and the default among them).
var ps = new ActiveXObject("Zentrak.PrintServer");
ps.setDBName("wine_no_printers", "");
check("getPhPrinters lists none", ps.getPhPrinters(), '{"size":-1,"total":0,"page":-1,"meta":["PhPrinterName"],"data":[]}');
var doc = "JVBERi0xLjQKJSVFT0YK";  // "%PDF-1.4\n%%EOF\n": the frame of a PDF file, which the engine takes
checkError("printOut", function () { ps.printOut("ZentrakB", doc); }, E_UNEXPECTED,
           "There is no default printer currently selected");
checkError("printOutWithPage", function () { ps.printOutWithPage("", doc, "{}"); }, E_UNEXPECTED,
           "There is no default printer currently selected");
finish();

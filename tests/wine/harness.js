// The JScript suites' checks. The runner puts this file in front of each suite. A check prints a
// line only when it fails; finish() prints "RESULT <passed> <failed>" and sets the exit code.
var passedCount = 0, failedCount = 0;

function show(v) {
  if (v === null) return "null";
  if (v === undefined) return "undefined";
  return typeof v + " " + String(v);
}

// The one place that counts: every check ends in pass() or fail().
function pass() {
  passedCount++;
}
function fail(text) {
  failedCount++;
  WScript.Echo("FAIL " + text);
}

function check(what, got, want) {
  if (got === want) {
    pass();
  } else {
    fail(what + ": got [" + show(got) + "], want [" + show(want) + "]");
  }
}

// Runs fn, which must fail with the error number (and description, when one is given).
function checkError(what, fn, number, description) {
  try {
    fn();
  } catch (e) {
    check(what + ": number", e.number, number);
    if (description !== undefined) check(what + ": description", e.description, description);
    return;
  }
  fail(what + ": no error");
}

function finish() {
  WScript.Echo("RESULT " + passedCount + " " + failedCount);
  WScript.Quit(failedCount ? 1 : 0);
}

// The runner wraps each suite in a try whose catch calls this: Wine's cscript reports an error
// that leaves a script nowhere and exits with 0.
function uncaught(e) {
  fail("uncaught error " + e.number + ": " + e.description);
  finish();
}

// The code page the script runs under.
function codePage() {
  var shell = new ActiveXObject("WScript.Shell");
  return shell.RegRead("HKLM\\System\\CurrentControlSet\\Control\\Nls\\CodePage\\ACP");
}

var E_UNEXPECTED = -2147418113;
var E_NOTIMPL = -2147467263;
var DISP_E_TYPEMISMATCH = -2147352571;
var DISP_E_BADPARAMCOUNT = -2147352562;
var NO_SUCH_MEMBER = -2146827850;  // what script sees for DISP_E_UNKNOWNNAME

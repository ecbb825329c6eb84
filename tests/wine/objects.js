// The four objects are registered and creatable by programmatic name; members not built yet fail
// with a clear "not available yet" error.
var names = ["Zentrak.LocalDB", "Zentrak.PrintServer", "Zentrak.FileSystemObject", "Zentrak.ActiveFormX_Foxit"];
for (var i = 0; i < names.length; i++) {
  var created = false;
  try {
    created = new ActiveXObject(names[i]) != null;
  } catch (e) {
    WScript.Echo("  " + names[i] + ": " + e.number + " " + e.description);
  }
  check("create " + names[i], created, true);
}
checkError("a class that is not served", function () { new ActiveXObject("Zentrak.NoSuchObject"); }, -2146827859);

var form = new ActiveXObject("Zentrak.ActiveFormX_Foxit");
checkError("control method", function () { form.preview(""); }, E_NOTIMPL);
checkError("control property", function () { return form.Caption; }, E_NOTIMPL);
checkError("control property write", function () { form.AutoScroll = true; }, E_NOTIMPL);

var files = new ActiveXObject("Zentrak.FileSystemObject");
checkError("FileSystemObject: unknown member", function () { files.GetVersion(); }, NO_SUCH_MEMBER);
finish();

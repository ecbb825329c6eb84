// The four objects are registered and creatable by programmatic name; a name that is no member
// of an object is refused by name.
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
checkError("control: unknown member", function () { form.GetVersion(); }, NO_SUCH_MEMBER);

var files = new ActiveXObject("Zentrak.FileSystemObject");
checkError("FileSystemObject: unknown member", function () { files.GetVersion(); }, NO_SUCH_MEMBER);
finish();

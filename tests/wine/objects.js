// The four objects are registered and creatable by programmatic name. A name that is no member of
// an object is refused by name, and the control's members are reached through it: a write its
// declared type refuses, or a call with the wrong number of arguments, fails with the dispatch's
// own status code.
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
checkError("control method with no argument", function () { form.preview(); }, DISP_E_BADPARAMCOUNT);
checkError("control number property set to text", function () { form.PixelsPerInch = "not a number"; },
           DISP_E_TYPEMISMATCH);
checkError("control text property set to null", function () { form.Caption = null; }, DISP_E_TYPEMISMATCH);

var files = new ActiveXObject("Zentrak.FileSystemObject");
checkError("FileSystemObject: unknown member", function () { files.GetVersion(); }, NO_SUCH_MEMBER);
finish();

' What VBScript sees of a failed member: number, description and source; and the in/out argument
' of executeSql, which VBScript passes by reference.
Set db = CreateObject("Zentrak.LocalDB")
On Error Resume Next
r = db.queryAll(Null)
CheckErr "queryAll(Null)", E_UNEXPECTED, "Could not convert variant of type (Null) into type (String)", "Zentrak.LocalDB"
Check "result of a failed call", IsEmpty(r), True

Set form = CreateObject("Zentrak.ActiveFormX_Foxit")
' A write the property's type refuses: VBScript's own "Type mismatch", whose text follows the
' code page.
form.PixelsPerInch = "not a number"
Check "control write refused by its type", Err.Number, CLng(13)
Err.Clear
On Error GoTo 0

Check "setDBName", db.setDBName("wine_vbs", ""), True
d = "select 1 as one"
v = db.executeSql(d)
Check "executeSql query: Data becomes the JSON", d, "{""size"":-1,""total"":1,""page"":-1,""meta"":[""ONE""],""data"":[[""1""]]}"
Check "executeSql query: Value is the same", v, d
d = "create table if not exists v(a)"
v = db.executeSql(d)
Check "executeSql statement: Value", v, True
Check "executeSql statement: Data kept", d, "create table if not exists v(a)"
d = "insert into missing values(1)"
v = db.executeSql(d)
Check "executeSql failure: Value", v, False
Check "executeSql failure: Data holds the message", InStr(d, "missing") > 0, True
db.close
Finish

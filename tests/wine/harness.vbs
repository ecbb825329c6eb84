' The VBScript suites' checks. The runner puts this file in front of each suite. A check prints
' a line only when it fails; Finish prints "RESULT <passed> <failed>" and sets the exit code.
Dim passedCount, failedCount
passedCount = 0
failedCount = 0

Sub Check(what, got, want)
  If VarType(got) = VarType(want) And got = want Then
    passedCount = passedCount + 1
  Else
    failedCount = failedCount + 1
    WScript.Echo "FAIL " & what & ": got [" & TypeName(got) & " " & got & "], want [" & TypeName(want) & " " & want & "]"
  End If
End Sub

' Checks the error that the statement before it left in Err, then clears it.
Sub CheckErr(what, number, description, source)
  Check what & ": number", Err.Number, number
  Check what & ": description", Err.Description, description
  Check what & ": source", Err.Source, source
  Err.Clear
End Sub

Sub Finish()
  WScript.Echo "RESULT " & passedCount & " " & failedCount
  If failedCount > 0 Then WScript.Quit 1 Else WScript.Quit 0
End Sub

Const E_UNEXPECTED = -2147418113
Const E_NOTIMPL = -2147467263

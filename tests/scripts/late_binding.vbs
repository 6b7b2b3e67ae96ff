' Reads a Drivers object late-bound, through IDispatch and the type library, and prints what it
' reads in the same lines as early_bound_client.exe. Argument: the ProgID to create.
Option Explicit
Dim progId, drivers, size, i, first
progId = WScript.Arguments(0)
Set drivers = CreateObject(progId)
WScript.Echo "info=" & drivers.GetComponentInfomation()
size = drivers.GetDataListSize()
WScript.Echo "size=" & size
For i = -1 To size
    WScript.Echo "name[" & i & "]=" & drivers.GetDataListName(i)
    WScript.Echo "value[" & i & "]=" & drivers.GetDataListValueByIndex(i)
Next
first = drivers.GetDataListName(0)
WScript.Echo "date-of-first=" & drivers.GetDataListValueByName("DATE-" & first)
WScript.Echo "by-lower-case-name=" & drivers.GetDataListValueByName(LCase(first))
WScript.Echo "missing=" & drivers.GetDataListValueByName("NO SUCH DRIVER.VXD")

On Error Resume Next
Err.Clear
drivers.AddDataElement "X.VXD", "1"
WScript.Echo "notimpl AddDataElement " & Err.Number
Err.Clear
drivers.RemoveDataElementByIndex 0
WScript.Echo "notimpl RemoveDataElementByIndex " & Err.Number
Err.Clear
drivers.RemoveDataElementByName first
WScript.Echo "notimpl RemoveDataElementByName " & Err.Number
Err.Clear
drivers.SetDataListValue 0, "1"
WScript.Echo "notimpl SetDataListValue " & Err.Number
Err.Clear
drivers.LogDataListToFile "C:\DRIVERS.LOG"
WScript.Echo "notimpl LogDataListToFile " & Err.Number
On Error GoTo 0
WScript.Echo "size-after=" & drivers.GetDataListSize()
WScript.Echo "END"

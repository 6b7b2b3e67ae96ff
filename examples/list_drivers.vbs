' list_drivers.vbs - lists the driver files that are in use on this Windows 98 machine, as
' the Brantovix component reports them, and optionally writes them to a CSV file.
'
'   cscript //nologo list_drivers.vbs              prints the table
'   cscript //nologo list_drivers.vbs drivers.csv  prints the table and writes drivers.csv
'
' Needs Brantovix.dll registered (regsvr32 Brantovix.dll). Creating the object runs the whole
' inventory; the object then only hands out its list.
Option Explicit

Dim drivers, size, i, name, stamp, fileDate, files, csv

Set drivers = CreateObject("Brantovix.Drivers.1")
size = drivers.GetDataListSize()

' The list holds two elements per file: "NAME.EXT" with the version stamp, and
' "DATE-NAME.EXT" with the last-write date. The first file's name element comes first and its
' date element last; every other file has its date element directly before its name element.
' Pairing by position keeps two files of the same name (found in two directories) apart.
Function DateIndexOf(nameIndex)
  If nameIndex = 0 Then
    DateIndexOf = size - 1
  Else
    DateIndexOf = nameIndex - 1
  End If
End Function

Function Pad(text, width)
  If Len(text) < width Then
    Pad = text & Space(width - Len(text))
  Else
    Pad = text & " "
  End If
End Function

' A CSV field: quoted when it holds a comma, a quote or a blank at either end.
Function CsvField(text)
  If InStr(text, ",") > 0 Or InStr(text, """") > 0 Or Trim(text) <> text Then
    CsvField = """" & Replace(text, """", """""") & """"
  Else
    CsvField = text
  End If
End Function

If WScript.Arguments.Count > 0 Then
  Dim fso
  Set fso = CreateObject("Scripting.FileSystemObject")
  Set csv = fso.CreateTextFile(WScript.Arguments(0), True)
  csv.WriteLine "File,Version,Date"
End If

WScript.Echo Pad("File name", 15) & Pad("Version stamp", 16) & "Date"
WScript.Echo Pad("-------------", 15) & Pad("--------------", 16) & "----------"
files = 0
For i = 0 To size - 1 Step 2
  name = drivers.GetDataListName(i)
  stamp = drivers.GetDataListValueByIndex(i)
  If drivers.GetDataListName(DateIndexOf(i)) = "DATE-" & name Then
    fileDate = drivers.GetDataListValueByIndex(DateIndexOf(i))
  Else
    fileDate = drivers.GetDataListValueByName("DATE-" & name)
  End If
  WScript.Echo Pad(name, 15) & Pad(stamp, 16) & fileDate
  If IsObject(csv) Then csv.WriteLine CsvField(name) & "," & CsvField(stamp) & "," & CsvField(fileDate)
  files = files + 1
Next
If IsObject(csv) Then csv.Close

WScript.Echo files & " files in use, " & size & " elements"

// list_drivers.js - lists the driver files that are in use on this Windows 98 machine, as
// the Brantovix component reports them, and optionally writes them to a CSV file.
//
//   cscript //nologo list_drivers.js              prints the table
//   cscript //nologo list_drivers.js drivers.csv  prints the table and writes drivers.csv
//
// Needs Brantovix.dll registered (regsvr32 Brantovix.dll). Creating the object runs the whole
// inventory; the object then only hands out its list.
//
// Written for the script engine Windows 98 ships (Windows Script Host 1.0 with JScript 3.0):
// no Array.prototype.push and no try/catch, which came with later engines.

var drivers = new ActiveXObject("Brantovix.Drivers.1");
var size = drivers.GetDataListSize();

// The list holds two elements per file: "NAME.EXT" with the version stamp, and
// "DATE-NAME.EXT" with the last-write date. The first file's name element comes first and its
// date element last; every other file has its date element directly before its name element.
// Pairing by position keeps two files of the same name (found in two directories) apart.
function dateIndexOf(nameIndex) {
  return nameIndex == 0 ? size - 1 : nameIndex - 1;
}

function pad(text, width) {
  while (text.length < width - 1) text += " ";
  return text + " ";
}

// A CSV field: quoted when it holds a comma, a quote or a blank at either end.
function csvField(text) {
  if (/[,"]|^\s|\s$/.test(text)) return '"' + text.replace(/"/g, '""') + '"';
  return text;
}

var files = new Array();
for (var i = 0; i < size; i += 2) {
  var name = drivers.GetDataListName(i);
  var dateIndex = dateIndexOf(i);
  var date = drivers.GetDataListName(dateIndex) == "DATE-" + name
      ? drivers.GetDataListValueByIndex(dateIndex)
      : drivers.GetDataListValueByName("DATE-" + name);
  var file = new Object();
  file.name = name;
  file.stamp = drivers.GetDataListValueByIndex(i);
  file.date = date;
  files[files.length] = file;
}

WScript.Echo(pad("File name", 15) + pad("Version stamp", 16) + "Date");
WScript.Echo(pad("-------------", 15) + pad("--------------", 16) + "----------");
for (var f = 0; f < files.length; ++f)
  WScript.Echo(pad(files[f].name, 15) + pad(files[f].stamp, 16) + files[f].date);

if (WScript.Arguments.length > 0) {
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var csv = fso.CreateTextFile(WScript.Arguments.Item(0), true);
  csv.WriteLine("File,Version,Date");
  for (var f = 0; f < files.length; ++f)
    csv.WriteLine(csvField(files[f].name) + "," + csvField(files[f].stamp) + "," + csvField(files[f].date));
  csv.Close();
}

WScript.Echo(files.length + " files in use, " + size + " elements");

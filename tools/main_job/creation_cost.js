// Prints how long creating one Drivers object takes: creation runs the whole inventory.
// Output: "ms <milliseconds> elements <list size>".
var start = new Date().getTime();
var drivers = new ActiveXObject("Brantovix.Drivers.1");
var elapsed = new Date().getTime() - start;
WScript.Echo("ms " + elapsed + " elements " + drivers.GetDataListSize());

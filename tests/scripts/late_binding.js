// Reads a Drivers object late-bound, through IDispatch and the type library, and prints what
// it reads in the same lines as early_bound_client.exe. Argument: the ProgID to create.
var progId = WScript.Arguments(0);
var drivers = new ActiveXObject(progId);
WScript.Echo("info=" + drivers.GetComponentInfomation());
var size = drivers.GetDataListSize();
WScript.Echo("size=" + size);
for (var i = -1; i <= size; i++) {
    WScript.Echo("name[" + i + "]=" + drivers.GetDataListName(i));
    WScript.Echo("value[" + i + "]=" + drivers.GetDataListValueByIndex(i));
}
var first = drivers.GetDataListName(0);
WScript.Echo("date-of-first=" + drivers.GetDataListValueByName("DATE-" + first));
WScript.Echo("by-lower-case-name=" + drivers.GetDataListValueByName(first.toLowerCase()));
WScript.Echo("missing=" + drivers.GetDataListValueByName("NO SUCH DRIVER.VXD"));

function notImplemented(method, call) {
    try {
        call();
        WScript.Echo("notimpl " + method + " none");
    } catch (e) {
        WScript.Echo("notimpl " + method + " " + (e.number >>> 0).toString(16));
    }
}
notImplemented("AddDataElement", function () { drivers.AddDataElement("X.VXD", "1"); });
notImplemented("RemoveDataElementByIndex", function () { drivers.RemoveDataElementByIndex(0); });
notImplemented("RemoveDataElementByName", function () { drivers.RemoveDataElementByName(first); });
notImplemented("SetDataListValue", function () { drivers.SetDataListValue(0, "1"); });
notImplemented("LogDataListToFile", function () { drivers.LogDataListToFile("C:\\DRIVERS.LOG"); });
WScript.Echo("size-after=" + drivers.GetDataListSize());
WScript.Echo("END");

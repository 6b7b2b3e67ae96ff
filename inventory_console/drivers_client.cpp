#include "drivers_client.h"

const wchar_t kDriversProgId[] = L"Brantovix.Drivers.1";

HRESULT CreateDriversObject(IOrvService** drivers, bool* notRegistered) {
    *drivers = nullptr;
    *notRegistered = false;
    CLSID classId;
    HRESULT result = CLSIDFromProgID(kDriversProgId, &classId);
    if (FAILED(result)) {
        *notRegistered = true;
        return result;
    }
    void* object = nullptr;
    result = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvService, &object);
    if (FAILED(result)) {
        *notRegistered = result == REGDB_E_CLASSNOTREG;
        return result;
    }
    *drivers = static_cast<IOrvService*>(object);
    return result;
}

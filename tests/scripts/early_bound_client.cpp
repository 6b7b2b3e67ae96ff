// Reads a Drivers object early-bound, through the IOrvService vtable, and prints the same lines
// as the late-bound script clients (a null string prints as an empty one, as scripts see it).
// Argument: the ProgID to create.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include "brantovix_idl.h"

namespace {

void Echo(const char* label, BSTR text) {
    char ansi[2048] = "";
    if (text) WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof(ansi), nullptr, nullptr);
    printf("%s%s\r\n", label, ansi);
    SysFreeString(text);
}

BSTR Concat(const wchar_t* prefix, BSTR text) {
    wchar_t buffer[1024];
    lstrcpyW(buffer, prefix);
    if (text) lstrcatW(buffer, text);
    return SysAllocString(buffer);
}

}   // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    wchar_t progId[256];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, progId, 256);
    CoInitialize(nullptr);
    CLSID classId;
    IOrvService* drivers = nullptr;
    HRESULT result = CLSIDFromProgID(progId, &classId);
    if (SUCCEEDED(result))
        result = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvService,
                                  reinterpret_cast<void**>(&drivers));
    if (FAILED(result)) {
        printf("cannot create %s: %08lx\r\n", argv[1], static_cast<unsigned long>(result));
        return 1;
    }
    BSTR text = nullptr;
    drivers->GetComponentInfomation(&text);
    Echo("info=", text);
    long size = 0;
    drivers->GetDataListSize(&size);
    printf("size=%ld\r\n", size);
    char label[64];
    for (long i = -1; i <= size; ++i) {
        drivers->GetDataListName(i, &text);
        wsprintfA(label, "name[%ld]=", i);
        Echo(label, text);
        drivers->GetDataListValueByIndex(i, &text);
        wsprintfA(label, "value[%ld]=", i);
        Echo(label, text);
    }
    BSTR first = nullptr;
    drivers->GetDataListName(0, &first);
    BSTR key = Concat(L"DATE-", first);
    drivers->GetDataListValueByName(key, &text);
    Echo("date-of-first=", text);
    SysFreeString(key);
    key = Concat(L"", first);
    CharLowerW(key);
    drivers->GetDataListValueByName(key, &text);
    Echo("by-lower-case-name=", text);
    SysFreeString(key);
    key = SysAllocString(L"NO SUCH DRIVER.VXD");
    drivers->GetDataListValueByName(key, &text);
    Echo("missing=", text);
    SysFreeString(key);

    BSTR any = SysAllocString(L"X.VXD");
    printf("notimpl AddDataElement %08lx\r\n", static_cast<unsigned long>(drivers->AddDataElement(any, any)));
    printf("notimpl RemoveDataElementByIndex %08lx\r\n",
           static_cast<unsigned long>(drivers->RemoveDataElementByIndex(0)));
    printf("notimpl RemoveDataElementByName %08lx\r\n",
           static_cast<unsigned long>(drivers->RemoveDataElementByName(first)));
    printf("notimpl SetDataListValue %08lx\r\n", static_cast<unsigned long>(drivers->SetDataListValue(0, any)));
    printf("notimpl LogDataListToFile %08lx\r\n", static_cast<unsigned long>(drivers->LogDataListToFile(any)));
    SysFreeString(any);
    SysFreeString(first);
    drivers->GetDataListSize(&size);
    printf("size-after=%ld\r\n", size);
    printf("END\r\n");
    drivers->Release();
    CoUninitialize();
    return 0;
}

// The main job's client: creates a Drivers object through COM from its ProgID, as any client
// of the registered server does (inventory_console/drivers_client.h, shared with BRANLIST.EXE),
// and prints every element of its list, in index order, as name and value.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include "drivers_client.h"

namespace {

void Print(const char* label, BSTR text) {
    char ansi[1024] = "";
    if (text) WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof(ansi), nullptr, nullptr);
    printf("%s%s", label, text ? ansi : "(null)");
}

int PrintInventory() {
    IOrvService* drivers = nullptr;
    bool notRegistered = false;
    HRESULT result = CreateDriversObject(&drivers, &notRegistered);
    if (notRegistered) {
        printf("Brantovix.Drivers.1 is not registered (0x%08lX): register Brantovix.dll first.\n",
               static_cast<unsigned long>(result));
        return 1;
    }
    if (FAILED(result)) {
        printf("Creating Brantovix.Drivers.1 failed (0x%08lX).\n", static_cast<unsigned long>(result));
        return 1;
    }
    BSTR information = nullptr;
    drivers->GetComponentInfomation(&information);
    Print("Component: ", information);
    printf("\n");
    SysFreeString(information);

    long size = 0;
    drivers->GetDataListSize(&size);
    if (size == 0) printf("The Drivers list is empty: no driver file was found in use.\n");
    for (long i = 0; i < size; ++i) {
        BSTR name = nullptr, value = nullptr;
        drivers->GetDataListName(i, &name);
        drivers->GetDataListValueByIndex(i, &value);
        printf("%4ld  ", i);
        Print("", name);
        Print(" = ", value);
        printf("\n");
        SysFreeString(name);
        SysFreeString(value);
    }
    printf("%ld element(s)\n", size);
    drivers->Release();
    return 0;
}

}   // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) {
        printf("COM could not be initialised.\n");
        return 1;
    }
    int status = PrintInventory();
    CoUninitialize();
    return status;
}

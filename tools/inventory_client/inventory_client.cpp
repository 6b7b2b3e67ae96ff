// The main job's client: creates a Drivers object and prints every element of its list, in
// index order, as name and value.
#include <stdio.h>

#include "drivers.h"
#include "object_map.h"
#include "server_module.h"

namespace {

class LocalDrivers : public DriversBody {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

void Print(const char* label, BSTR text) {
    char ansi[1024] = "";
    if (text) WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof(ansi), nullptr, nullptr);
    printf("%s%s", label, text ? ansi : "(null)");
}

}  // namespace

int main() {
    ServerModule module;
    ObjectMapEntry map[1] = {};
    module.Initialize(map, GetModuleHandleA(nullptr));
    {
        LocalDrivers drivers;
        long size = 0;
        drivers.GetDataListSize(&size);
        if (size == 0) printf("The Drivers list is empty: no driver file was found in use.\n");
        for (long i = 0; i < size; ++i) {
            BSTR name = nullptr, value = nullptr;
            drivers.GetDataListName(i, &name);
            drivers.GetDataListValueByIndex(i, &value);
            printf("%4ld  ", i);
            Print("", name);
            Print(" = ", value);
            printf("\n");
            SysFreeString(name);
            SysFreeString(value);
        }
        printf("%ld element(s)\n", size);
    }
    module.Terminate();
    return 0;
}

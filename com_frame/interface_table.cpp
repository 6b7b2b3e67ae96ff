#include "interface_table.h"

HRESULT QueryInterfaceFromTable(void* object, const InterfaceTableEntry* table, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const InterfaceTableEntry* found = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        found = table->iid ? table : nullptr;
    } else {
        for (const InterfaceTableEntry* entry = table; entry->iid; ++entry) {
            if (IsEqualIID(iid, *entry->iid)) {
                found = entry;
                break;
            }
        }
    }
    if (!found) return E_NOINTERFACE;
    IUnknown* answer = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + found->offset);
    answer->AddRef();
    *out = answer;
    return S_OK;
}

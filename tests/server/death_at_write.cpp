// death_at_write.exe STEP N WHEN OUTPUT: runs one step of Brantovix.dll, loaded with its imports
// hooked (import_hooks.h), and ends its own process (TerminateProcess on itself: no clean-up, no
// destructors, no flush) immediately before or immediately after the DLL's Nth write to the
// registry or the file system, as a process stopped there by a script host, a cut logon or the
// power switch ends.
//
//   STEP    create      creates a Drivers object (through DllGetClassObject) and releases it
//           register    DllRegisterServer
//           unregister  DllUnregisterServer
//           list        creates a Drivers object and writes its list to OUTPUT, a line
//                       "name=value" per element (N is 0 for it)
//   N       the write to die at, from 1; 0 dies at none
//   WHEN    before | after
//   OUTPUT  a file: a step that ends by itself writes "writes K" (the writes it made) there,
//           and `list` its list after that
//
// Exit codes: 0 the step ran to its end; kDiedAtWrite the process ended itself at write N;
// anything else a fault of this program (named on stderr). Message boxes are answered at once.
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "brantovix_idl.h"
#include "death_at_write.h"
#include "import_hooks.h"
#include "server_test_support.h"

namespace {

int g_dieAt = 0;
bool g_dieAfter = false;
int g_writes = 0;

void AtWrite(const char*, bool done) {
    if (!done) ++g_writes;
    if (g_writes == g_dieAt && done == g_dieAfter) TerminateProcess(GetCurrentProcess(), kDiedAtWrite);
}

std::string Narrow(BSTR text) {
    std::string narrow;
    if (!text) return "<null>";
    for (UINT i = 0; i < SysStringLen(text); ++i) narrow += static_cast<char>(text[i]);
    SysFreeString(text);
    return narrow;
}

int Fail(const char* what, HRESULT result) {
    fprintf(stderr, "death_at_write: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(result));
    return 2;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: death_at_write create|register|unregister|list N before|after OUTPUT\n");
        return 2;
    }
    const std::string step = argv[1];
    g_dieAt = atoi(argv[2]);
    g_dieAfter = strcmp(argv[3], "after") == 0;
    const char* output = argv[4];
    DeleteFileA(output);

    if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize", E_FAIL);
    LoadedServer server;
    if (!server.module || !server.getClassObject) return Fail("loading the DLL", E_FAIL);
    std::string list;
    HRESULT result = S_OK;
    {
        ImportHooks hooks(server.module, kKeyLedgerHooks | kFileLedgerHooks | kWriteHooks | kMessageBoxHooks);
        if (!hooks.missing().empty()) {
            fprintf(stderr, "death_at_write: the DLL does not import %s\n", hooks.missing().c_str());
            return 2;
        }
        Hooked().writeObserver = &AtWrite;
        if (step == "create" || step == "list") {
            IClassFactory* factory = nullptr;
            result = server.getClassObject(CLSID_Drivers, IID_IClassFactory, reinterpret_cast<void**>(&factory));
            if (FAILED(result)) return Fail("DllGetClassObject", result);
            IOrvService* object = nullptr;
            result = factory->CreateInstance(nullptr, IID_IOrvService, reinterpret_cast<void**>(&object));
            factory->Release();
            if (FAILED(result)) return Fail("CreateInstance", result);
            long size = 0;
            object->GetDataListSize(&size);
            for (long i = 0; i < size; ++i) {
                BSTR name = nullptr, value = nullptr;
                object->GetDataListName(i, &name);
                object->GetDataListValueByIndex(i, &value);
                list += Narrow(name) + "=" + Narrow(value) + "\n";
            }
            object->Release();
        } else if (step == "register" || step == "unregister") {
            using Export = HRESULT(STDAPICALLTYPE*)();
            const char* name = step == "register" ? "DllRegisterServer" : "DllUnregisterServer";
            Export run = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server.module, name)));
            if (!run) return Fail(name, E_FAIL);
            result = run();
            if (FAILED(result)) return Fail(name, result);
        } else {
            fprintf(stderr, "death_at_write: no step %s\n", step.c_str());
            return 2;
        }
        Hooked().writeObserver = nullptr;
    }
    FILE* file = fopen(output, "w");
    if (!file) return Fail("writing the output", E_FAIL);
    fprintf(file, "writes %d\n%s", g_writes, list.c_str());
    fclose(file);
    CoUninitialize();
    return 0;
}

// Test equipment: a stand-in for the kernel side of the enumerator driver, built from the
// driver's own request logic (enumerator_logic.c) on a kernel held in memory (memory_kernel.h)
// whose two lists each test sets up. So it answers every request exactly as the driver does;
// a test may override single answers, and every request is logged. A status other than 0
// makes the call return FALSE with the status as the last error.
#include <string.h>

#include <string>
#include <vector>

#include "enumerator_logic.h"
#include "memory_kernel.h"
#include "test_device_protocol.h"

namespace {

// How many requests of one code have come so far, for the overrides' ordinals.
struct CodeCount {
    DWORD code;
    DWORD count;
};
const DWORD kCountedCodes = 16;

struct State {
    std::vector<LoadedModule> modules;
    std::vector<std::string> devices;
    bool listsChanged = true;   // the kernel's lists are to be built again from the two above
    MemoryKernel kernel;
    TestDeviceOverride overrides[kTestDeviceMaxOverrides];
    DWORD overrideCount = 0;
    TestDeviceRequest log[kTestDeviceMaxLog];
    DWORD logCount = 0;   // requests received, also beyond what the log holds
    CodeCount counts[kCountedCodes];
    DWORD countedCodes = 0;
};

State* state = nullptr;

State& Current() {
    if (!state) state = new State();
    return *state;
}

// The ordinal of this request among those of its code (from 0); codes beyond the first 16
// seen all count as one.
DWORD NextOrdinal(DWORD code) {
    State& s = Current();
    for (DWORD i = 0; i < s.countedCodes; ++i) {
        if (s.counts[i].code == code) return s.counts[i].count++;
    }
    if (s.countedCodes == kCountedCodes) return s.counts[kCountedCodes - 1].count++;
    s.counts[s.countedCodes++] = {code, 1};
    return 0;
}

// The driver's answer; writes its reply into `output` only when `write`, else into scratch
// space of the same size.
DWORD Answer(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize, uint32_t* byteCount,
             bool write) {
    State& s = Current();
    if (s.listsChanged) {
        s.kernel = MemoryKernel();
        s.kernel.SetModules(s.modules);
        s.kernel.SetDevices(s.devices);
        s.listsChanged = false;
    }
    std::vector<uint8_t> scratch;
    if (!write && output) {
        scratch.resize(outputSize ? outputSize : 1);
        output = scratch.data();
    }
    EnumeratorRequest request = {
        code, static_cast<const uint8_t*>(input), inputSize, static_cast<uint8_t*>(output), outputSize, byteCount};
    MemoryKernel::Use(&s.kernel);
    const DWORD status = EnumeratorHandleRequest(&request);
    MemoryKernel::Use(nullptr);
    return status;
}

const TestDeviceOverride* FindOverride(DWORD code, DWORD ordinal) {
    const State& s = Current();
    for (DWORD i = 0; i < s.overrideCount; ++i) {
        const TestDeviceOverride& o = s.overrides[i];
        if (o.code == code && (o.ordinal == kEveryRequest || o.ordinal == ordinal)) return &o;
    }
    return nullptr;
}

void Log(DWORD code, const void* input, DWORD inputSize, const void* output, DWORD outputSize) {
    State& s = Current();
    if (s.logCount < kTestDeviceMaxLog) {
        TestDeviceRequest& r = s.log[s.logCount];
        r.code = code;
        r.index = 0xFFFFFFFFu;
        if (input && inputSize >= 4) memcpy(&r.index, input, 4);
        r.inputSize = inputSize;
        r.outputSize = outputSize;
        r.inputPresent = input != nullptr;
        r.outputPresent = output != nullptr;
    }
    ++s.logCount;
}

}   // namespace

extern "C" {

// The platform's routing passes DeviceIoControl's arguments unchanged and hands back this
// BOOL and the last error.
BOOL WINAPI TestDeviceIoControl(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
                                DWORD* bytesReturned, OVERLAPPED* /*overlapped*/) {
    Log(code, input, inputSize, output, outputSize);
    const TestDeviceOverride* o = FindOverride(code, NextOrdinal(code));
    uint32_t byteCount = bytesReturned ? *bytesReturned : 0;
    const DWORD status = Answer(code, input, inputSize, output, outputSize, bytesReturned ? &byteCount : nullptr,
                                o ? o->writeReply != FALSE : true);
    if (o) {
        if (bytesReturned) *bytesReturned = o->byteCount;
        if (!o->result) SetLastError(o->lastError);
        return o->result;
    }
    if (bytesReturned) *bytesReturned = byteCount;
    if (status != ENUMDRV_STATUS_SUCCESS) {
        SetLastError(status);
        return FALSE;
    }
    return TRUE;
}

void __cdecl TestDeviceReset() {
    delete state;
    state = new State();
}

BOOL __cdecl TestDeviceAddModule(const char* name, BYTE loadCount) {
    State& s = Current();
    if (s.modules.size() >= kTestDeviceMaxModules) return FALSE;
    LoadedModule module;
    module.hasName = name != nullptr;
    if (name) module.name = name;
    module.loadCount = loadCount;
    s.modules.push_back(module);
    s.listsChanged = true;
    return TRUE;
}

BOOL __cdecl TestDeviceAddDevice(const char* name8) {
    State& s = Current();
    if (s.devices.size() >= kTestDeviceMaxDevices) return FALSE;
    s.devices.push_back(std::string(name8, ENUMDRV_DEVICE_NAME_BYTES));
    s.listsChanged = true;
    return TRUE;
}

BOOL __cdecl TestDeviceAddOverride(const TestDeviceOverride* override) {
    State& s = Current();
    if (s.overrideCount >= kTestDeviceMaxOverrides) return FALSE;
    s.overrides[s.overrideCount++] = *override;
    return TRUE;
}

DWORD __cdecl TestDeviceRequestCount() {
    return Current().logCount;
}

BOOL __cdecl TestDeviceGetRequest(DWORD n, TestDeviceRequest* request) {
    const State& s = Current();
    if (n >= s.logCount || n >= kTestDeviceMaxLog) return FALSE;
    *request = s.log[n];
    return TRUE;
}

}   // extern "C"

// Test equipment: a stand-in for the kernel side of the enumerator driver. It answers the
// requests of enumerator_protocol.h as the driver does (the same replies, byte counts and
// statuses, 122 for a module request with short buffers) from lists that each test sets up,
// lets a test override single answers, and logs every request. A status other than 0 makes
// the call return FALSE with the status as the last error.
#include <string.h>

#include "enumerator_protocol.h"
#include "test_device_protocol.h"

namespace {

struct Module {
    BYTE loadCount;
    char name[ENUMDRV_MODULE_NAME_BYTES];
};

struct State {
    Module modules[kTestDeviceMaxModules];
    DWORD moduleCount;
    char devices[kTestDeviceMaxDevices][ENUMDRV_DEVICE_NAME_BYTES];
    DWORD deviceCount;
    TestDeviceOverride overrides[kTestDeviceMaxOverrides];
    DWORD overrideCount;
    TestDeviceRequest log[kTestDeviceMaxLog];
    DWORD logCount;     // requests received, also beyond what the log holds
    DWORD perCode[4];   // requests of 0x8000..0x8003 so far, for the overrides' ordinals
};

State state;

struct Reply {
    DWORD status;
    DWORD byteCount;
    bool touchesCount;
};

Reply Answer(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize, bool write) {
    Reply reply = {0, 0, true};
    switch (code) {
    case ENUMDRV_DIOC_OPEN:
    case ENUMDRV_DIOC_CLOSEHANDLE:
        reply.touchesCount = false;
        return reply;
    case ENUMDRV_GET_VERSION:
        if (!output || outputSize < ENUMDRV_VERSION_SIZE) {
            reply.status = ENUMDRV_STATUS_VERSION_NO_ROOM;
            return reply;
        }
        if (write) {
            DWORD version = ENUMDRV_VERSION;
            memcpy(output, &version, ENUMDRV_VERSION_SIZE);
        }
        reply.byteCount = ENUMDRV_VERSION_SIZE;
        return reply;
    case ENUMDRV_GET_MODULE: {
        if (!input || inputSize < ENUMDRV_MODULE_INDEX_SIZE || !output || outputSize < ENUMDRV_MODULE_RECORD_SIZE) {
            reply.status = ENUMDRV_STATUS_BAD_BUFFERS;
            return reply;
        }
        if (state.moduleCount == 0) {
            reply.status = ENUMDRV_STATUS_NO_LIST;
            return reply;
        }
        DWORD index;
        memcpy(&index, input, ENUMDRV_MODULE_INDEX_SIZE);
        if (index >= state.moduleCount) {
            reply.status = ENUMDRV_STATUS_INDEX_PAST_END;
            return reply;
        }
        if (write) {
            BYTE* record = static_cast<BYTE*>(output);
            record[ENUMDRV_MODULE_LOAD_COUNT_OFFSET] = state.modules[index].loadCount;
            memcpy(record + ENUMDRV_MODULE_NAME_OFFSET, state.modules[index].name, ENUMDRV_MODULE_NAME_BYTES);
        }
        reply.byteCount = ENUMDRV_MODULE_RECORD_SIZE;
        return reply;
    }
    case ENUMDRV_GET_DEVICE_NAMES: {
        DWORD count = state.deviceCount;
        if (count == 0 || count > ENUMDRV_MAX_DEVICES) {
            reply.status = ENUMDRV_STATUS_NO_LIST;
            return reply;
        }
        DWORD needed = count * ENUMDRV_DEVICE_ENTRY_SIZE;
        if (!output || outputSize < needed) {
            reply.status = needed;
            return reply;
        }
        if (write) {
            BYTE* entries = static_cast<BYTE*>(output);
            for (DWORD i = 0; i < count; ++i) {
                memcpy(entries + i * ENUMDRV_DEVICE_ENTRY_SIZE, state.devices[i], ENUMDRV_DEVICE_NAME_BYTES);
                entries[i * ENUMDRV_DEVICE_ENTRY_SIZE + ENUMDRV_DEVICE_NAME_BYTES] = 0;
            }
        }
        reply.byteCount = needed;
        return reply;
    }
    default:
        return reply;
    }
}

const TestDeviceOverride* FindOverride(DWORD code, DWORD ordinal) {
    for (DWORD i = 0; i < state.overrideCount; ++i) {
        const TestDeviceOverride& o = state.overrides[i];
        if (o.code == code && (o.ordinal == kEveryRequest || o.ordinal == ordinal)) return &o;
    }
    return nullptr;
}

void Log(DWORD code, const void* input, DWORD inputSize, const void* output, DWORD outputSize) {
    if (state.logCount < kTestDeviceMaxLog) {
        TestDeviceRequest& r = state.log[state.logCount];
        r.code = code;
        r.index = 0xFFFFFFFFu;
        if (input && inputSize >= 4) memcpy(&r.index, input, 4);
        r.inputSize = inputSize;
        r.outputSize = outputSize;
        r.inputPresent = input != nullptr;
        r.outputPresent = output != nullptr;
    }
    ++state.logCount;
}

}   // namespace

extern "C" {

// The platform's routing passes DeviceIoControl's arguments unchanged and hands back this
// BOOL and the last error.
BOOL WINAPI TestDeviceIoControl(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
                                DWORD* bytesReturned, OVERLAPPED* /*overlapped*/) {
    Log(code, input, inputSize, output, outputSize);
    DWORD ordinal = 0;
    if (code >= 0x8000 && code <= ENUMDRV_GET_DEVICE_NAMES) ordinal = state.perCode[code - 0x8000]++;

    const TestDeviceOverride* o = FindOverride(code, ordinal);
    Reply reply = Answer(code, input, inputSize, output, outputSize, o ? o->writeReply != FALSE : true);
    if (o) {
        if (bytesReturned) *bytesReturned = o->byteCount;
        if (!o->result) SetLastError(o->lastError);
        return o->result;
    }
    if (bytesReturned && reply.touchesCount) *bytesReturned = reply.byteCount;
    if (reply.status != 0) {
        SetLastError(reply.status);
        return FALSE;
    }
    return TRUE;
}

void __cdecl TestDeviceReset() {
    memset(&state, 0, sizeof(state));
}

BOOL __cdecl TestDeviceAddModule(const char* name, BYTE loadCount) {
    if (state.moduleCount >= kTestDeviceMaxModules) return FALSE;
    Module& m = state.modules[state.moduleCount++];
    m.loadCount = loadCount;
    memset(m.name, 0, sizeof(m.name));
    size_t length = strlen(name);
    memcpy(m.name, name, length < ENUMDRV_MODULE_NAME_BYTES ? length : ENUMDRV_MODULE_NAME_BYTES);
    return TRUE;
}

BOOL __cdecl TestDeviceAddDevice(const char* name8) {
    if (state.deviceCount >= kTestDeviceMaxDevices) return FALSE;
    memcpy(state.devices[state.deviceCount++], name8, ENUMDRV_DEVICE_NAME_BYTES);
    return TRUE;
}

BOOL __cdecl TestDeviceAddOverride(const TestDeviceOverride* override) {
    if (state.overrideCount >= kTestDeviceMaxOverrides) return FALSE;
    state.overrides[state.overrideCount++] = *override;
    return TRUE;
}

DWORD __cdecl TestDeviceRequestCount() {
    return state.logCount;
}

BOOL __cdecl TestDeviceGetRequest(DWORD n, TestDeviceRequest* request) {
    if (n >= state.logCount || n >= kTestDeviceMaxLog) return FALSE;
    *request = state.log[n];
    return TRUE;
}

}   // extern "C"

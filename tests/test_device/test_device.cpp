// Test equipment: a stand-in for the kernel side of the enumerator driver, answering the
// driver's request protocol from lists that each test sets up, and logging every request.
//
//   0x8001 version         4 bytes 0x00000100; less than 4 bytes of output: 0 bytes, status 1
//   0x8002 module by index input 4-byte index, output 17-byte record (load count, 16 name
//                          bytes): 17 bytes; index past the end 0 bytes, status 0xFFFFFFFE;
//                          no module at all 0 bytes, status 0xFFFFFFFF; short buffers 0
//                          bytes, status 122
//   0x8003 device names    9 bytes per device (8 name bytes and a zero); no device or more
//                          than 256: 0 bytes, status 0xFFFFFFFF; output too small: 0 bytes,
//                          status = bytes needed
//   0, 0xFFFFFFFF          open and close notifications: status 0, byte count untouched
//   anything else          0 bytes, status 0
// A status other than 0 makes the call return FALSE with the status as the last error.
#include <string.h>

#include "test_device_protocol.h"

namespace {

const DWORD kGetVersion = 0x8001;
const DWORD kGetModule = 0x8002;
const DWORD kGetDeviceNames = 0x8003;
const DWORD kOpenNotification = 0;
const DWORD kCloseNotification = 0xFFFFFFFFu;
const DWORD kRecordSize = 17;
const DWORD kNameBytes = 16;
const DWORD kEntrySize = 9;
const DWORD kMaxReplyDevices = 256;
const DWORD kStatusBadBuffers = 122;
const DWORD kStatusIndexPastEnd = 0xFFFFFFFEu;
const DWORD kStatusNoList = 0xFFFFFFFFu;

struct Module {
    BYTE loadCount;
    char name[kNameBytes];
};

struct State {
    Module modules[kTestDeviceMaxModules];
    DWORD moduleCount;
    char devices[kTestDeviceMaxDevices][8];
    DWORD deviceCount;
    TestDeviceOverride overrides[kTestDeviceMaxOverrides];
    DWORD overrideCount;
    TestDeviceRequest log[kTestDeviceMaxLog];
    DWORD logCount;      // requests received, also beyond what the log holds
    DWORD perCode[4];    // requests of 0x8000..0x8003 so far, for the overrides' ordinals
};

State state;

struct Reply {
    DWORD status;
    DWORD byteCount;
    bool touchesCount;
};

Reply Answer(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
             bool write) {
    Reply reply = {0, 0, true};
    switch (code) {
    case kOpenNotification:
    case kCloseNotification:
        reply.touchesCount = false;
        return reply;
    case kGetVersion:
        if (!output || outputSize < 4) {
            reply.status = 1;
            return reply;
        }
        if (write) {
            DWORD version = 0x100;
            memcpy(output, &version, 4);
        }
        reply.byteCount = 4;
        return reply;
    case kGetModule: {
        if (!input || inputSize < 4 || !output || outputSize < kRecordSize) {
            reply.status = kStatusBadBuffers;
            return reply;
        }
        if (state.moduleCount == 0) {
            reply.status = kStatusNoList;
            return reply;
        }
        DWORD index;
        memcpy(&index, input, 4);
        if (index >= state.moduleCount) {
            reply.status = kStatusIndexPastEnd;
            return reply;
        }
        if (write) {
            BYTE* record = static_cast<BYTE*>(output);
            record[0] = state.modules[index].loadCount;
            memcpy(record + 1, state.modules[index].name, kNameBytes);
        }
        reply.byteCount = kRecordSize;
        return reply;
    }
    case kGetDeviceNames: {
        DWORD count = state.deviceCount;
        if (count == 0 || count > kMaxReplyDevices) {
            reply.status = kStatusNoList;
            return reply;
        }
        DWORD needed = count * kEntrySize;
        if (!output || outputSize < needed) {
            reply.status = needed;
            return reply;
        }
        if (write) {
            BYTE* entries = static_cast<BYTE*>(output);
            for (DWORD i = 0; i < count; ++i) {
                memcpy(entries + i * kEntrySize, state.devices[i], 8);
                entries[i * kEntrySize + 8] = 0;
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

}  // namespace

extern "C" {

// The platform's routing passes DeviceIoControl's arguments unchanged and hands back this
// BOOL and the last error.
BOOL WINAPI TestDeviceIoControl(DWORD code, void* input, DWORD inputSize, void* output,
                                DWORD outputSize, DWORD* bytesReturned, OVERLAPPED* /*overlapped*/) {
    Log(code, input, inputSize, output, outputSize);
    DWORD ordinal = 0;
    if (code >= 0x8000 && code <= 0x8003) ordinal = state.perCode[code - 0x8000]++;

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

void __cdecl TestDeviceReset() { memset(&state, 0, sizeof(state)); }

BOOL __cdecl TestDeviceAddModule(const char* name, BYTE loadCount) {
    if (state.moduleCount >= kTestDeviceMaxModules) return FALSE;
    Module& m = state.modules[state.moduleCount++];
    m.loadCount = loadCount;
    memset(m.name, 0, sizeof(m.name));
    size_t length = strlen(name);
    memcpy(m.name, name, length < kNameBytes ? length : kNameBytes);
    return TRUE;
}

BOOL __cdecl TestDeviceAddDevice(const char* name8) {
    if (state.deviceCount >= kTestDeviceMaxDevices) return FALSE;
    memcpy(state.devices[state.deviceCount++], name8, 8);
    return TRUE;
}

BOOL __cdecl TestDeviceAddOverride(const TestDeviceOverride* override) {
    if (state.overrideCount >= kTestDeviceMaxOverrides) return FALSE;
    state.overrides[state.overrideCount++] = *override;
    return TRUE;
}

DWORD __cdecl TestDeviceRequestCount() { return state.logCount; }

BOOL __cdecl TestDeviceGetRequest(DWORD n, TestDeviceRequest* request) {
    if (n >= state.logCount || n >= kTestDeviceMaxLog) return FALSE;
    *request = state.log[n];
    return TRUE;
}

}  // extern "C"

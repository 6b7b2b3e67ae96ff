/* The enumerator driver's answers: control messages and the three requests. */
#include "enumerator_logic.h"

#include "enumerator_platform.h"

static uint32_t ReadDword(const uint8_t* bytes) {
    return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) | ((uint32_t)bytes[3] << 24);
}

static void WriteDword(uint8_t* bytes, uint32_t value) {
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
    bytes[2] = (uint8_t)(value >> 16);
    bytes[3] = (uint8_t)(value >> 24);
}

static void CopyBytes(uint8_t* destination, const uint8_t* source, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) destination[i] = source[i];
}

static void SetByteCount(const EnumeratorRequest* request, uint32_t count) {
    if (request->bytes_returned) *request->bytes_returned = count;
}

static uint32_t GetVersion(const EnumeratorRequest* request) {
    if (request->output_size < ENUMDRV_VERSION_SIZE) {
        SetByteCount(request, 0);
        return ENUMDRV_STATUS_VERSION_NO_ROOM;
    }
    WriteDword(request->output, ENUMDRV_VERSION);
    SetByteCount(request, ENUMDRV_VERSION_SIZE);
    return ENUMDRV_STATUS_SUCCESS;
}

/* Request 0x8002: the loader walk. The record for the index is looked up inside the
 * critical section and built in the request's own storage; the caller's buffer is written
 * only after the critical section is left. */
static uint32_t GetModule(const EnumeratorRequest* request) {
    SetByteCount(request, 0);
    if (request->input_size < ENUMDRV_MODULE_INDEX_SIZE || request->output_size < ENUMDRV_MODULE_RECORD_SIZE)
        return ENUMDRV_STATUS_BAD_BUFFERS;
    uint32_t index = ReadDword(request->input);

    uint8_t record[ENUMDRV_MODULE_RECORD_SIZE];
    for (uint32_t i = 0; i < ENUMDRV_MODULE_RECORD_SIZE; ++i) record[i] = 0;

    uint8_t* scratch = (uint8_t*)EnumeratorAllocate(ENUMDRV_DEVICE_INFO_SIZE);
    if (!scratch) return ENUMDRV_STATUS_NO_MEMORY;
    EnumeratorEnterCriticalSection();

    uint32_t status;
    EnumeratorAddress head = EnumeratorLoaderListHead();
    if (!head) {
        status = ENUMDRV_STATUS_NO_LIST;
    } else {
        EnumeratorCopyRecord(scratch, head, ENUMDRV_DEVICE_INFO_SIZE);
        uint32_t position = 0;
        while (position < index) {
            EnumeratorAddress next = ReadDword(scratch + ENUMDRV_DEVICE_INFO_NEXT);
            if (!next) break;
            EnumeratorCopyRecord(scratch, next, ENUMDRV_DEVICE_INFO_SIZE);
            ++position;
        }
        if (position < index) {
            status = ENUMDRV_STATUS_INDEX_PAST_END;
        } else {
            record[ENUMDRV_MODULE_LOAD_COUNT_OFFSET] = scratch[ENUMDRV_DEVICE_INFO_LOAD_COUNT];
            /* A record without a module name is reported with an empty name. */
            EnumeratorAddress name = ReadDword(scratch + ENUMDRV_DEVICE_INFO_MODULE_NAME);
            if (name) EnumeratorCopyName(record + ENUMDRV_MODULE_NAME_OFFSET, name, ENUMDRV_MODULE_NAME_BYTES);
            status = ENUMDRV_STATUS_SUCCESS;
        }
    }

    EnumeratorFree(scratch);
    EnumeratorLeaveCriticalSection();

    if (status != ENUMDRV_STATUS_SUCCESS) return status;
    CopyBytes(request->output, record, ENUMDRV_MODULE_RECORD_SIZE);
    SetByteCount(request, ENUMDRV_MODULE_RECORD_SIZE);
    return ENUMDRV_STATUS_SUCCESS;
}

/* Request 0x8003: the chain walk. The reply is assembled in a buffer of the request's own,
 * taken from the system heap like the scratch record (2304 bytes would not fit on a thread's
 * ring-0 stack of a few kilobytes beside the system's own frames), and copied to the caller
 * only when it is whole and fits. */
static uint32_t GetDeviceNames(const EnumeratorRequest* request) {
    SetByteCount(request, 0);
    uint8_t* reply = (uint8_t*)EnumeratorAllocate(ENUMDRV_DEVICE_REPLY_CAPACITY);
    if (!reply) return ENUMDRV_STATUS_NO_MEMORY;
    uint8_t* scratch = (uint8_t*)EnumeratorAllocate(ENUMDRV_DDB_SIZE);
    if (!scratch) {
        EnumeratorFree(reply);
        return ENUMDRV_STATUS_NO_MEMORY;
    }
    EnumeratorEnterCriticalSection();

    int failed = 0;
    uint32_t offset = 0;
    EnumeratorAddress block = EnumeratorDeviceChainHead();
    if (!block) failed = 1;
    while (!failed && block) {
        if (offset + ENUMDRV_DEVICE_ENTRY_SIZE > ENUMDRV_DEVICE_REPLY_CAPACITY) {
            failed = 1; /* more than 256 devices */
            break;
        }
        EnumeratorCopyRecord(scratch, block, ENUMDRV_DDB_SIZE);
        CopyBytes(reply + offset, scratch + ENUMDRV_DDB_NAME, ENUMDRV_DEVICE_NAME_BYTES);
        reply[offset + ENUMDRV_DEVICE_NAME_BYTES] = 0;
        offset += ENUMDRV_DEVICE_ENTRY_SIZE;
        block = ReadDword(scratch + ENUMDRV_DDB_NEXT);
    }

    EnumeratorFree(scratch);
    EnumeratorLeaveCriticalSection();

    uint32_t status = ENUMDRV_STATUS_SUCCESS;
    if (failed) {
        status = ENUMDRV_STATUS_NO_LIST;
    } else if (offset > request->output_size) {
        status = offset; /* the bytes the reply needs */
    } else {
        CopyBytes(request->output, reply, offset);
        SetByteCount(request, offset);
    }
    EnumeratorFree(reply);
    return status;
}

uint32_t EnumeratorHandleRequest(const EnumeratorRequest* given) {
    /* A buffer given as a null pointer has no room, whatever size comes with it. The system
     * hands the caller's pointers and sizes on unchecked, and in ring 0 the lowest addresses
     * belong to the current virtual machine: a write through a null pointer would not fault
     * but overwrite that machine's memory. */
    EnumeratorRequest checked = *given;
    if (!checked.input) checked.input_size = 0;
    if (!checked.output) checked.output_size = 0;
    const EnumeratorRequest* request = &checked;
    switch (request->code) {
    case ENUMDRV_DIOC_OPEN:
    case ENUMDRV_DIOC_CLOSEHANDLE:
        return ENUMDRV_STATUS_SUCCESS;
    case ENUMDRV_GET_VERSION:
        return GetVersion(request);
    case ENUMDRV_GET_MODULE:
        return GetModule(request);
    case ENUMDRV_GET_DEVICE_NAMES:
        return GetDeviceNames(request);
    default:
        SetByteCount(request, 0);
        return ENUMDRV_STATUS_SUCCESS;
    }
}

uint32_t EnumeratorAnswerMessage(uint32_t message, uint32_t* carry) {
    /* Loading, unloading and every message the driver has no business with succeed;
     * a new device node is declined. */
    *carry = message == ENUMDRV_PNP_NEW_DEVNODE ? 1u : 0u;
    return 1;
}

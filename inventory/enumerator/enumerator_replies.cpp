#include "enumerator_replies.h"

namespace enumerator_replies {

bool EndsModuleLoop(bool succeeded, uint32_t byteCount) {
    if (!succeeded) return true;
    if (byteCount == ENUMDRV_STATUS_INDEX_PAST_END || byteCount == ENUMDRV_STATUS_NO_LIST) return true;
    return byteCount < ENUMDRV_MODULE_RECORD_SIZE;
}

void StoreModuleName(char* slot, uint32_t slotSize, const unsigned char* record) {
    if (slotSize == 0) return;
    uint32_t length = 0;
    while (length < ENUMDRV_MODULE_NAME_BYTES && length + 1 < slotSize) {
        char c = static_cast<char>(record[ENUMDRV_MODULE_NAME_OFFSET + length]);
        if (c == '\0') break;
        slot[length++] = c;
    }
    slot[length] = '\0';
}

uint32_t DeviceNameCount(bool succeeded, uint32_t byteCount, uint32_t listSize) {
    if (!succeeded || byteCount > listSize) return 0;
    return byteCount / ENUMDRV_DEVICE_ENTRY_SIZE;
}

uint32_t FindNameInSlots(const char* slots, uint32_t slotSize, uint32_t count, const char* name,
                         NameComparison compare) {
    if (slotSize == 0 || slotSize > kLongestSlot) return 0;
    char bounded[kLongestSlot];
    for (uint32_t i = 0; i < count; ++i) {
        const char* slot = slots + i * slotSize;
        uint32_t length = 0;
        while (length + 1 < slotSize && slot[length] != '\0') {
            bounded[length] = slot[length];
            ++length;
        }
        bounded[length] = '\0';
        if (compare(bounded, name) == 0) return i + 1;
    }
    return 0;
}

}   // namespace enumerator_replies

// Fuzz driver for the byte and list logic of the plug-and-play scan and the enumerator driver
// client. Input: one selector byte, a 32-bit reported length, then the data. Built with
// libFuzzer by the target device_lists_fuzzer (clang), and run on generated inputs by
// device_tree_text_test. Every buffer has exactly its stated size, so that any access past
// it is caught by the sanitizers.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "device_tree_text.h"
#include "enumerator_replies.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

const uint32_t kValueBufferSize = 1024;
const uint32_t kPathBufferSize = 1024;
const uint32_t kDriverSlotSize = 16;

int CompareBytes(const char* left, const char* right) {
    return strcmp(left, right);
}

struct Pieces {
    std::vector<std::string> names;
};

void CheckValueAndList(const uint8_t* data, size_t size, uint32_t reported) {
    std::vector<char> buffer(kValueBufferSize);
    memcpy(buffer.data(), data, size < kValueBufferSize ? size : kValueBufferSize);
    if (!device_tree_text::TerminateValueString(buffer.data(), kValueBufferSize, reported)) return;
    const char* list = buffer.data();
    const size_t length = strnlen(list, kValueBufferSize);
    Check(length < kValueBufferSize);

    Pieces pieces;
    device_tree_text::ForEachListedName(
        list,
        [](const char* name, void* context) {
            const size_t n = strnlen(name, device_tree_text::kPieceBufferSize);
            Check(n < device_tree_text::kPieceBufferSize);
            Check(strchr(name, ',') == nullptr);
            static_cast<Pieces*>(context)->names.push_back(name);
        },
        &pieces);
    // Joined again, the pieces give the list back, less the pieces that were too long.
    size_t commas = 0;
    for (size_t i = 0; i < length; ++i) commas += list[i] == ',';
    Check(pieces.names.size() <= commas + 1);
    std::string joined;
    for (size_t i = 0; i < pieces.names.size(); ++i) joined += (i ? "," : "") + pieces.names[i];
    if (pieces.names.size() == commas + 1) Check(joined == std::string(list, length));

    // The value as the tail of a key path.
    std::vector<char> path(kPathBufferSize);
    if (device_tree_text::JoinKeyPath(path.data(), kPathBufferSize, "Enum", list)) {
        Check(strlen(path.data()) == 5 + length);
    } else {
        Check(path[0] == '\0' && 5 + length + 1 > kPathBufferSize);
    }
}

void CheckReplies(const uint8_t* data, size_t size, uint32_t reported) {
    using namespace enumerator_replies;
    // Driver-name slots filled from records cut out of the data, as many as it holds.
    const uint32_t records = static_cast<uint32_t>(size / ENUMDRV_MODULE_RECORD_SIZE);
    std::vector<char> slots(records * kDriverSlotSize + 1);
    for (uint32_t i = 0; i < records; ++i) {
        std::vector<unsigned char> record(data + i * ENUMDRV_MODULE_RECORD_SIZE,
                                          data + (i + 1) * ENUMDRV_MODULE_RECORD_SIZE);
        StoreModuleName(&slots[i * kDriverSlotSize], kDriverSlotSize, record.data());
        Check(strnlen(&slots[i * kDriverSlotSize], kDriverSlotSize) < kDriverSlotSize);
    }
    if (records) {
        const char* first = &slots[0];
        const uint32_t found = FindNameInSlots(first, kDriverSlotSize, records, first, CompareBytes);
        Check(found == 1);
    }

    // The device-name list as the driver could have written it, with any byte count.
    std::vector<char> list(ENUMDRV_DEVICE_REPLY_CAPACITY);
    memcpy(list.data(), data, size < ENUMDRV_DEVICE_REPLY_CAPACITY ? size : ENUMDRV_DEVICE_REPLY_CAPACITY);
    const uint32_t count = DeviceNameCount(true, reported, ENUMDRV_DEVICE_REPLY_CAPACITY);
    Check(count <= ENUMDRV_DEVICE_REPLY_CAPACITY / ENUMDRV_DEVICE_ENTRY_SIZE);
    Check(count * ENUMDRV_DEVICE_ENTRY_SIZE <= reported);
    Check(DeviceNameCount(false, reported, ENUMDRV_DEVICE_REPLY_CAPACITY) == 0);
    const uint32_t hit = FindNameInSlots(list.data(), ENUMDRV_DEVICE_ENTRY_SIZE, count, "IOS     ", CompareBytes);
    Check(hit <= count);
    EndsModuleLoop(true, reported);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint8_t selector = data[0];
    uint32_t reported;
    memcpy(&reported, data + 1, 4);
    data += 5;
    size -= 5;
    // Mostly lengths near the data's own, sometimes anything at all.
    if (selector & 1) reported = static_cast<uint32_t>(size) + (reported % 3) - 1;
    if (selector & 2) {
        CheckReplies(data, size, reported);
    } else {
        CheckValueAndList(data, size, reported);
    }
    return 0;
}

// The client's handling of the enumerator driver's replies, natively under the sanitizers:
// when the module loop ends, what a driver-name slot keeps of a module name of any length,
// the device-name count of any byte count, and lookups that stay inside their slots.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "enumerator_replies.h"

namespace {

using namespace enumerator_replies;

const uint32_t kDriverSlotSize = 16;

// Case-insensitive like the platform's comparison, for the names used here.
int CompareIgnoringCase(const char* left, const char* right) {
    for (;; ++left, ++right) {
        int a = tolower(static_cast<unsigned char>(*left));
        int b = tolower(static_cast<unsigned char>(*right));
        if (a != b || a == 0) return a - b;
    }
}

std::vector<unsigned char> Record(const std::string& nameBytes) {
    std::vector<unsigned char> record(ENUMDRV_MODULE_RECORD_SIZE, 0);
    record[0] = 3;   // load count, never used
    memcpy(record.data() + ENUMDRV_MODULE_NAME_OFFSET, nameBytes.data(),
           std::min<size_t>(nameBytes.size(), ENUMDRV_MODULE_NAME_BYTES));
    return record;
}

TEST(EnumeratorReplies, ModuleLoopEndsOnFailureAndOnEveryNoMoreByteCount) {
    struct {
        bool succeeded;
        uint32_t byteCount;
        bool ends;
    } cases[] = {
        {true, 17, false}, {true, 0, true},  {true, 0xFFFFFFFE, true}, {true, 0xFFFFFFFF, true}, {false, 17, true},
        {false, 0, true},  {true, 16, true}, {true, 1, true},          {true, 18, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.succeeded << " " << c.byteCount);
        EXPECT_EQ(c.ends, EndsModuleLoop(c.succeeded, c.byteCount));
    }
}

TEST(EnumeratorReplies, SlotKeepsAtMost15CharactersOfAModuleName) {
    struct {
        std::string nameBytes;   // the record's 16 name bytes (zero-filled after the given ones)
        std::string kept;
    } cases[] = {
        {"VPOWERD", "VPOWERD"},
        {"", ""},
        {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},              // 15 + terminator
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNO"},             // 16, no terminator
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNO"},   // the driver sends 16 of them
        {std::string("AB\0GARBAGE", 10), "AB"},              // bytes after the zero mean nothing
    };
    // Three adjacent slots: the middle one is written, its neighbours must stay untouched.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        std::vector<char> slots(3 * kDriverSlotSize, '#');
        std::vector<unsigned char> record = Record(c.nameBytes);
        StoreModuleName(slots.data() + kDriverSlotSize, kDriverSlotSize, record.data());
        EXPECT_EQ(c.kept, std::string(slots.data() + kDriverSlotSize));
        for (uint32_t i = 0; i < kDriverSlotSize; ++i) {
            ASSERT_EQ('#', slots[i]);
            ASSERT_EQ('#', slots[2 * kDriverSlotSize + i]);
        }
    }
}

TEST(EnumeratorReplies, DeviceNameCountTakesWholeEntriesOfAPossibleReply) {
    struct {
        bool succeeded;
        uint32_t byteCount;
        uint32_t count;
    } cases[] = {
        {true, 27, 3},   {true, 0, 0},          {true, 20, 2},  {true, 8, 0},  {true, 2304, 256},
        {true, 2305, 0}, {true, 0xFFFFFFFF, 0}, {false, 27, 0}, {false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.succeeded << " " << c.byteCount);
        EXPECT_EQ(c.count, DeviceNameCount(c.succeeded, c.byteCount, ENUMDRV_DEVICE_REPLY_CAPACITY));
    }
}

TEST(EnumeratorReplies, FindsTheFirstEqualSlotIgnoringCase) {
    char slots[4][kDriverSlotSize] = {"VXDLDR", "orv_de", "ORV_DE", "PCI"};
    EXPECT_EQ(2u, FindNameInSlots(slots[0], kDriverSlotSize, 4, "ORV_DE", CompareIgnoringCase));
    EXPECT_EQ(1u, FindNameInSlots(slots[0], kDriverSlotSize, 4, "vxdldr", CompareIgnoringCase));
    EXPECT_EQ(0u, FindNameInSlots(slots[0], kDriverSlotSize, 3, "PCI", CompareIgnoringCase));   // unused slot
    EXPECT_EQ(0u, FindNameInSlots(slots[0], kDriverSlotSize, 4, "PC", CompareIgnoringCase));
    EXPECT_EQ(0u, FindNameInSlots(slots[0], kDriverSlotSize, 0, "VXDLDR", CompareIgnoringCase));
}

TEST(EnumeratorReplies, DeviceEntriesKeepTheirBlanksAndNeverRunIntoTheNext) {
    // Entries as the driver delivers them; the second has lost its zero byte.
    const char list[] = "IOS     \0VMM     XVDD     \0";
    const uint32_t count = 3;
    EXPECT_EQ(1u, FindNameInSlots(list, ENUMDRV_DEVICE_ENTRY_SIZE, count, "ios     ", CompareIgnoringCase));
    EXPECT_EQ(0u, FindNameInSlots(list, ENUMDRV_DEVICE_ENTRY_SIZE, count, "IOS", CompareIgnoringCase));
    EXPECT_EQ(2u, FindNameInSlots(list, ENUMDRV_DEVICE_ENTRY_SIZE, count, "VMM     ", CompareIgnoringCase));
    EXPECT_EQ(0u, FindNameInSlots(list, ENUMDRV_DEVICE_ENTRY_SIZE, count, "VMM     XVDD     ", CompareIgnoringCase));

    // The last slot of a full list without a terminator is read within the list.
    std::vector<char> full(ENUMDRV_DEVICE_REPLY_CAPACITY);
    for (uint32_t i = 0; i < 256; ++i) memcpy(&full[i * ENUMDRV_DEVICE_ENTRY_SIZE], "DEVICE00\0", 9);
    memcpy(&full[255 * ENUMDRV_DEVICE_ENTRY_SIZE], "LASTONE!X", 9);
    EXPECT_EQ(256u, FindNameInSlots(full.data(), ENUMDRV_DEVICE_ENTRY_SIZE, 256, "LASTONE!", CompareIgnoringCase));
}

}   // namespace

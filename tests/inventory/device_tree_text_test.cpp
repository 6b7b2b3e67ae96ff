// Text handling of the plug-and-play scan, natively under the sanitizers: registry value data
// made into strings within the value buffer, key paths that must fit the path buffer, and the
// comma-separated driver lists cut into pieces of at most 255 characters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_tree_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using device_tree_text::ForEachListedName;
using device_tree_text::JoinKeyPath;
using device_tree_text::TerminateValueString;

const uint32_t kValueBufferSize = 1024;

std::vector<std::string> Pieces(const std::string& list) {
    std::vector<std::string> pieces;
    ForEachListedName(
        list.c_str(),
        [](const char* name, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(name); },
        &pieces);
    return pieces;
}

struct ValueCase {
    const char* what;
    std::string data;    // bytes the query put into the buffer
    uint32_t reported;   // the length it reported
    int expected;
    std::string string;   // the string the buffer holds afterwards
};

TEST(DeviceTreeText, TerminatesValueDataWithinTheBuffer) {
    const std::string full(kValueBufferSize, 'x');
    const std::string fullWithZero = std::string(kValueBufferSize - 1, 'y') + '\0';
    const ValueCase cases[] = {
        {"terminated string", std::string("PCI.VXD\0", 8), 8, 1, "PCI.VXD"},
        {"no terminator", "PCI.VXD", 7, 1, "PCI.VXD"},
        {"empty data", "", 0, 1, ""},
        {"two strings (multi-string)", std::string("A.VXD\0B.VXD\0\0", 14), 14, 1, "A.VXD"},
        {"binary with an inner zero", std::string("AB\0CD", 5), 5, 1, "AB"},
        {"dword-sized data", std::string("F\x58I\0", 4), 4, 1, "FXI"},
        {"fills the buffer, zero last", fullWithZero, kValueBufferSize, 1, std::string(kValueBufferSize - 1, 'y')},
        {"fills the buffer, no zero", full, kValueBufferSize, 0, ""},
        {"reports more than the buffer", full, kValueBufferSize + 100, 0, ""},
        {"one short of the buffer", std::string(kValueBufferSize - 1, 'z'), kValueBufferSize - 1, 1,
         std::string(kValueBufferSize - 1, 'z')},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> buffer(kValueBufferSize, '#');
        memcpy(buffer.data(), c.data.data(), std::min<size_t>(c.data.size(), kValueBufferSize));
        ASSERT_EQ(c.expected, TerminateValueString(buffer.data(), kValueBufferSize, c.reported));
        if (c.expected) {
            EXPECT_EQ(c.string, std::string(buffer.data()));
        }
    }
}

TEST(DeviceTreeText, JoinsKeyPathsOnlyWhenTheyFit) {
    const uint32_t kPathBufferSize = 1024;
    const std::string head = "Enum";
    struct {
        size_t tailLength;
        int expected;
    } cases[] = {
        {0, 1},
        {10, 1},
        {kPathBufferSize - 1 - head.size() - 1, 1},   // exactly 1023 characters
        {kPathBufferSize - head.size() - 1, 0},       // 1024: no room for the zero
        {5000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tailLength);
        const std::string tail(c.tailLength, 'k');
        std::vector<char> out(kPathBufferSize + 16, '#');
        ASSERT_EQ(c.expected, JoinKeyPath(out.data(), kPathBufferSize, head.c_str(), tail.c_str()));
        if (c.expected) {
            EXPECT_EQ(head + "\\" + tail, std::string(out.data()));
        } else {
            EXPECT_EQ('\0', out[0]);
        }
        for (size_t i = kPathBufferSize; i < out.size(); ++i) ASSERT_EQ('#', out[i]);
    }
}

TEST(DeviceTreeText, CutsListsAtEveryCommaKeepingBlanks) {
    struct {
        const char* list;
        std::vector<std::string> pieces;
    } cases[] = {
        {"vpowerd.vxd,pci.vxd", {"vpowerd.vxd", "pci.vxd"}},
        {"vpowerd.vxd, pci.vxd", {"vpowerd.vxd", " pci.vxd"}},
        {"ios.vxd", {"ios.vxd"}},
        {"", {""}},
        {",", {"", ""}},
        {"a.vxd,,b.vxd,", {"a.vxd", "", "b.vxd", ""}},
        {"C:\\WINDOWS\\SYSTEM\\X.VXD", {"C:\\WINDOWS\\SYSTEM\\X.VXD"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(c.pieces, Pieces(c.list));
    }
}

TEST(DeviceTreeText, SkipsPiecesLongerThan255Characters) {
    const std::string longest(255, 'L');
    const std::string tooLong(256, 'M');
    const std::string farTooLong(5000, 'N');
    EXPECT_EQ((std::vector<std::string>{longest, "b.vxd"}), Pieces(longest + ",b.vxd"));
    EXPECT_EQ((std::vector<std::string>{"a.vxd", "b.vxd"}), Pieces("a.vxd," + tooLong + ",b.vxd"));
    EXPECT_EQ((std::vector<std::string>{"a.vxd"}), Pieces("a.vxd," + farTooLong));
    EXPECT_EQ((std::vector<std::string>{"c.vxd"}), Pieces(farTooLong + ",c.vxd"));
}

// The fuzz driver (device_lists_fuzz.cpp) on generated inputs: lists of names, commas and
// zeros, long runs, and reported lengths near and far from the data's.
TEST(DeviceTreeText, FuzzDriverOnGeneratedValuesAndReplies) {
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const char alphabet[] = "abcXYZ.,, \\0";
    for (int round = 0; round < 4000; ++round) {
        std::vector<uint8_t> input(5 + next() % 2600);
        input[0] = static_cast<uint8_t>(next());
        for (size_t i = 1; i < 5; ++i) input[i] = static_cast<uint8_t>(next());
        const uint32_t runLength = 1 + next() % 300;
        for (size_t i = 5; i < input.size();) {
            const char c = (next() % 50 == 0) ? '\0' : alphabet[next() % (sizeof(alphabet) - 1)];
            for (uint32_t k = 0; k < (next() % 4 == 0 ? runLength : 1) && i < input.size(); ++k) input[i++] = c;
        }
        ASSERT_EQ(0, LLVMFuzzerTestOneInput(input.data(), input.size())) << "round " << round;
    }
}

}   // namespace

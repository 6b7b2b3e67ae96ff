// The owner contract, on a counting kind and on the real kinds: empty, reset, release, move,
// and an open that fails after writing into the out-parameter. The template is free of the
// platform, so the contract also runs natively; the real kinds run on Windows only.
#include "owner_template.h"

#include <gtest/gtest.h>

#include <string.h>

#include <utility>

#ifdef _WIN32
#include "owner.h"
#endif

namespace {

int closes[8];
const int kEmpty = -1;

struct CountingTraits {
    using Value = int;
    static int Empty() { return kEmpty; }
    static void Close(int value) { ++closes[value]; }
};
using Counted = Owner<CountingTraits>;

class OwnerContract : public ::testing::Test {
protected:
    void SetUp() override { memset(closes, 0, sizeof(closes)); }
};

TEST_F(OwnerContract, EmptyOwnerClosesNothing) {
    {
        Counted owner;
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(owner.get(), kEmpty);
    }
    for (int count : closes) EXPECT_EQ(count, 0);
}

TEST_F(OwnerContract, ClosesWhatItHoldsOnceAtTheEnd) {
    {
        Counted owner(3);
        EXPECT_TRUE(owner.valid());
        EXPECT_EQ(closes[3], 0);
    }
    EXPECT_EQ(closes[3], 1);
}

TEST_F(OwnerContract, ResetClosesTheOldValueAndHoldsTheNew) {
    {
        Counted owner(1);
        owner.reset(2);
        EXPECT_EQ(closes[1], 1);
        EXPECT_EQ(owner.get(), 2);
        owner.reset(2);   // the same value again is not closed under the owner's feet
        EXPECT_EQ(closes[2], 0);
        owner.reset();
        EXPECT_EQ(closes[2], 1);
        EXPECT_FALSE(owner.valid());
    }
    EXPECT_EQ(closes[1], 1);
    EXPECT_EQ(closes[2], 1);
}

TEST_F(OwnerContract, ReleaseHandsOverWithoutClosing) {
    {
        Counted owner(4);
        EXPECT_EQ(owner.release(), 4);
        EXPECT_FALSE(owner.valid());
    }
    EXPECT_EQ(closes[4], 0);
}

TEST_F(OwnerContract, MoveLeavesOneOwner) {
    {
        Counted first(5);
        Counted second(std::move(first));
        EXPECT_FALSE(first.valid());
        Counted third(6);
        third = std::move(second);
        EXPECT_EQ(closes[6], 1);
        EXPECT_EQ(third.get(), 5);
    }
    EXPECT_EQ(closes[5], 1);
}

TEST_F(OwnerContract, ReceiveClosesFirstAndAFailedOpenLeavesNothingToClose) {
    {
        Counted owner(1);
        int* out = owner.receive();
        EXPECT_EQ(closes[1], 1);
        *out = 7;   // what a failing open might leave behind
        EXPECT_FALSE(owner.Opened(false));
        EXPECT_FALSE(owner.valid());
    }
    EXPECT_EQ(closes[7], 0);
    {
        Counted owner;
        *owner.receive() = 2;
        EXPECT_TRUE(owner.Opened(true));
    }
    EXPECT_EQ(closes[2], 1);
}

// Traits with state: each value goes back to the ledger that handed it out, also after the
// owner was moved or assigned.
struct LedgerTraits {
    using Value = int;
    int* ledger;
    static int Empty() { return kEmpty; }
    void Close(int value) const { ++ledger[value]; }
};
using Ledgered = Owner<LedgerTraits>;

TEST_F(OwnerContract, ValuesGoBackToTheLedgerOfTheirTraits) {
    int first[8] = {};
    int second[8] = {};
    {
        Ledgered a(1, LedgerTraits{first});
        Ledgered b(2, LedgerTraits{second});
        Ledgered moved(std::move(a));
        EXPECT_FALSE(a.valid());
        b = std::move(moved);   // b's 2 goes back to the second ledger, then b holds the first's 1
        EXPECT_EQ(second[2], 1);
        EXPECT_EQ(b.get(), 1);
        Ledgered c(LedgerTraits{second});
        *c.receive() = 3;
        EXPECT_TRUE(c.Opened(true));
    }
    EXPECT_EQ(first[1], 1);
    EXPECT_EQ(second[3], 1);
    int total = 0;
    for (int i = 0; i < 8; ++i) total += first[i] + second[i];
    EXPECT_EQ(total, 3);                       // each value closed once, by its own ledger
    EXPECT_EQ(sizeof(Counted), sizeof(int));   // stateless traits take no room
}

#ifdef _WIN32
// The real kinds: a failed registry open, a failed file open and a failed search leave their
// owners empty; a successful one is closed by the owner (the key can no longer be used).
TEST(OwnerKinds, RegistryKeyFromAFailedOpenIsEmpty) {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\No such key here\\At all", 0, KEY_READ, key.receive());
    EXPECT_NE(status, ERROR_SUCCESS);
    EXPECT_FALSE(key.Opened(status == ERROR_SUCCESS));
}

TEST(OwnerKinds, RegistryKeyIsClosedByItsOwner) {
    HKEY raw = nullptr;
    {
        RegistryKey key;
        ASSERT_TRUE(
            key.Opened(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.receive()) == ERROR_SUCCESS));
        raw = key.get();
        DWORD subkeys = 0;
        EXPECT_EQ(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
    }
    EXPECT_NE(RegCloseKey(raw), ERROR_SUCCESS);
}

TEST(OwnerKinds, FileAndFindHandlesOfFailedCallsAreEmpty) {
    FileHandle file(
        CreateFileA("C:\\no such directory\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.valid());
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA("C:\\no such directory\\*.vxd", &found));
    EXPECT_FALSE(search.valid());
}

TEST(OwnerKinds, BstrAndTaskMemoryAreFreedByTheirOwners) {
    Bstr text(SysAllocString(L"owned"));
    ASSERT_TRUE(text.valid());
    EXPECT_EQ(SysStringLen(text.get()), 5u);
    TaskMemory<char> block(static_cast<char*>(CoTaskMemAlloc(16)));
    EXPECT_TRUE(block.valid());
    HeapArray<char> buffer(new char[16]);
    EXPECT_TRUE(buffer.valid());
}
#endif

}   // namespace

// TargetKey, the owner of a key opened on a registry target: it closes what it holds once,
// through the target, and never closes what a failed open left in its out-parameter.
#include <gtest/gtest.h>

#include "registry_target.h"
#include "script_host_environment.h"

namespace {

// Fails every open after writing into the out-parameter, as some platform calls do.
class ScribblingRegistry : public MemoryRegistry {
public:
    long OpenKey(ScriptKey, const char*, RegistryAccess, ScriptKey* key) override {
        *key = 0x5EB7;
        return kRegistryFileNotFound;
    }
};

class TargetKeyContract : public ::testing::Test {
protected:
    void SetUp() override { registry.AddKey("HKCU\\Key"); }

    bool Open(TargetKey& key) {
        return key.Opened(registry.OpenKey(kCurrentUserKey, "Key", RegistryAccess::kRead, key.receive()) ==
                          kRegistrySuccess);
    }

    MemoryRegistry registry;
};

TEST_F(TargetKeyContract, EmptyOwnerClosesNothing) {
    {
        TargetKey key(registry);
        EXPECT_FALSE(key.valid());
        EXPECT_EQ(kNoScriptKey, key.get());
    }
    EXPECT_EQ(0, registry.Keys().opens());
    EXPECT_EQ("", registry.Keys().Faults());
}

TEST_F(TargetKeyContract, ClosesWhatItHoldsOnceAtTheEnd) {
    ScriptKey held = kNoScriptKey;
    {
        TargetKey key(registry);
        ASSERT_TRUE(Open(key));
        held = key.get();
        EXPECT_TRUE(registry.Keys().IsOpen(reinterpret_cast<const void*>(held)));
    }
    EXPECT_FALSE(registry.Keys().IsOpen(reinterpret_cast<const void*>(held)));
    EXPECT_EQ("", registry.Keys().Faults());
}

TEST_F(TargetKeyContract, ResetAndReceiveCloseTheOldKey) {
    TargetKey key(registry);
    ASSERT_TRUE(Open(key));
    ScriptKey first = key.get();
    ASSERT_TRUE(Open(key));   // receive() closes the first before the second open
    EXPECT_FALSE(registry.Keys().IsOpen(reinterpret_cast<const void*>(first)));
    key.reset(key.get());   // the same key again is not closed under the owner's feet
    EXPECT_TRUE(key.valid());
    key.reset();
    EXPECT_FALSE(key.valid());
    EXPECT_EQ(2, registry.Keys().opens());
    EXPECT_EQ("", registry.Keys().Faults());
}

TEST_F(TargetKeyContract, ReleaseHandsOverWithoutClosing) {
    ScriptKey handed = kNoScriptKey;
    {
        TargetKey key(registry);
        ASSERT_TRUE(Open(key));
        handed = key.release();
        EXPECT_FALSE(key.valid());
    }
    EXPECT_EQ(1, registry.Keys().stillOpen());
    EXPECT_EQ(kRegistrySuccess, registry.CloseKey(handed));
    EXPECT_EQ("", registry.Keys().Faults());
}

TEST_F(TargetKeyContract, FailedOpenLeavesNothingToClose) {
    ScribblingRegistry scribbling;
    {
        TargetKey key(scribbling);
        EXPECT_FALSE(key.Opened(scribbling.OpenKey(kCurrentUserKey, "Key", RegistryAccess::kRead, key.receive()) ==
                                kRegistrySuccess));
        EXPECT_FALSE(key.valid());
    }
    EXPECT_EQ("", scribbling.Keys().Faults());   // 0x5EB7 was never closed
}

TEST_F(TargetKeyContract, CloseGivesTheTargetsAnswerAndClosesOnce) {
    registry.FailClose("Key");
    {
        TargetKey key(registry);
        ASSERT_TRUE(Open(key));
        EXPECT_NE(kRegistrySuccess, key.Close());
        EXPECT_FALSE(key.valid());
        EXPECT_EQ(kRegistrySuccess, key.Close());   // nothing left to close
    }
    EXPECT_EQ("", registry.Keys().Faults());
}

}   // namespace

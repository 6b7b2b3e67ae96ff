// Registering and unregistering Brantovix.dll in the test process while each registry write,
// file write and allocation it makes fails in turn (failing_imports.h), until a run goes
// through without a failure to inject. The keys and values that the registrar script names are
// compared before and after: a registration reported as done holds all of them and the type
// library; a failed one holds all of them (a later step failed) or none, taken back as the
// interpreter takes back a root block; unregistration only ever removes. Every key opened is
// closed once, and the next normal registration or unregistration completes.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "failing_imports.h"
#include "server_test_support.h"

namespace {

using Snapshot = std::map<std::string, std::string>;

const std::string kClassKey = "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}";
const std::string kCategoryMarks = kClassKey + "\\Implemented Categories";
const std::string kLibraryVersionKey = "TypeLib\\{3F0A52FC-6D1E-11D3-9B27-0050DA4C81E6}\\1.0";
const char* const kScriptKeys[] = {"Brantovix.Drivers.1", "Brantovix.Drivers",
                                   "CLSID\\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}"};
const char* const kCategories[] = {"{B93E1F57-72A4-11D2-8C5D-00A0C9E48B12}", "{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
                                   "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"};

// The keys and values under HKEY_CLASSES_ROOT that the registrar script names: every key below
// the two ProgID keys and the class key, and their values. The class key's category marks are
// the category manager's, not the script's.
Snapshot ScriptSnapshot() {
    Snapshot all;
    for (const char* key : kScriptKeys) {
        for (const auto& entry : SnapshotKey(HKEY_CLASSES_ROOT, key)) {
            if (entry.first.compare(0, kCategoryMarks.size(), kCategoryMarks) == 0) continue;
            all.insert(entry);
        }
    }
    return all;
}

// Nothing of the script but the class key with its description, which unregistration leaves
// for the category marks below it (they go after the script has run).
bool IsClean(const Snapshot& snapshot) {
    for (const auto& entry : snapshot) {
        if (entry.first != kClassKey && entry.first != kClassKey + "|") return false;
    }
    return true;
}

// Only what `whole` has, each value as `whole` has it.
bool IsPartOf(const Snapshot& part, const Snapshot& whole) {
    for (const auto& entry : part) {
        auto found = whole.find(entry.first);
        if (found == whole.end() || found->second != entry.second) return false;
    }
    return true;
}

std::string Describe(const Snapshot& snapshot) {
    std::string text;
    for (const auto& entry : snapshot) {
        text += entry.first;
        if (!entry.second.empty()) text += " = " + entry.second.substr(entry.second.find(':') + 1);
        text += "\n";
    }
    return text;
}

enum class Registration { kRegisterOverNothing, kRegisterOverRegistration, kUnregister };
const char* const kOperationNames[] = {"RegisterOverNothing", "RegisterOverRegistration", "Unregister"};

class RegistrationUnderFailingCalls : public FailingCallsTest,
                                      public ::testing::WithParamInterface<std::tuple<Registration, CallKind>> {
protected:
    typedef HRESULT(STDAPICALLTYPE* Export)();

    void SetUp() override {
        FailingCallsTest::SetUp();
        if (HasFatalFailure()) return;
        register_ =
            reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server_.module, "DllRegisterServer")));
        unregister_ =
            reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server_.module, "DllUnregisterServer")));
        ASSERT_TRUE(register_ && unregister_);
        wasRegistered_ = KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32");
        classKeyExisted_ = KeyExists(HKEY_CLASSES_ROOT, kClassKey);
        for (const char* category : kCategories) {
            categoryExisted_.push_back(KeyExists(HKEY_CLASSES_ROOT, std::string("Component Categories\\") + category));
        }
    }
    // The registration as it was found: registered again, or unregistered with what the
    // unregistration keeps removed when it was not there before.
    void TearDown() override {
        if (register_) {
            if (wasRegistered_) {
                EXPECT_EQ(S_OK, Register());
            } else {
                Unregister();
                if (!classKeyExisted_) DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
                for (size_t i = 0; i < categoryExisted_.size(); ++i) {
                    if (!categoryExisted_[i]) {
                        DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("Component Categories\\") + kCategories[i]);
                    }
                }
            }
        }
        FailingCallsTest::TearDown();
    }

    HRESULT Register() {
        HRESULT result = E_UNEXPECTED;
        RunNormally([&] { result = register_(); });
        return result;
    }
    HRESULT Unregister() {
        HRESULT result = E_UNEXPECTED;
        RunNormally([&] { result = unregister_(); });
        return result;
    }

    Export register_ = nullptr;
    Export unregister_ = nullptr;
    bool wasRegistered_ = false;
    bool classKeyExisted_ = false;
    std::vector<bool> categoryExisted_;
};

TEST_P(RegistrationUnderFailingCalls, ScriptIsRegisteredWholeOrTakenBack) {
    const Registration operation = std::get<0>(GetParam());
    const CallKind kind = std::get<1>(GetParam());
    const bool registering = operation != Registration::kUnregister;

    // The two states: nothing of the script, and the script registered over nothing. (Removing
    // the category marks of a class that has none fails: registered first.)
    ASSERT_EQ(S_OK, Register());
    ASSERT_EQ(S_OK, Unregister());
    const Snapshot clean = ScriptSnapshot();
    ASSERT_TRUE(IsClean(clean)) << Describe(clean);
    ASSERT_EQ(S_OK, Register());
    const Snapshot registered = ScriptSnapshot();
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kLibraryVersionKey));
    ASSERT_EQ(1u, registered.count(kClassKey + "\\InprocServer32|ThreadingModel")) << Describe(registered);
    ASSERT_TRUE(EveryHandleClosedOnce());

    int failAt = 1;
    for (;; ++failAt) {
        ASSERT_LT(failAt, kMostFaultPoints);
        SCOPED_TRACE(std::string(KindName(kind)) + ", call " + std::to_string(failAt));
        if (operation == Registration::kRegisterOverNothing) {
            ASSERT_EQ(S_OK, Unregister());
            ASSERT_TRUE(IsClean(ScriptSnapshot()));
        } else {
            ASSERT_EQ(S_OK, Register());
            ASSERT_EQ(registered, ScriptSnapshot());
        }

        HRESULT result = E_UNEXPECTED;
        RunArmed(kind, failAt, [&] { result = registering ? register_() : unregister_(); });
        const std::string failed = FailedCall();
        SCOPED_TRACE("failed: " + (failed.empty() ? std::string("nothing") : failed));
        const Snapshot after = ScriptSnapshot();
        if (failed.empty()) EXPECT_EQ(S_OK, result);

        if (registering && SUCCEEDED(result)) {
            // Reported as done: all of it is there.
            EXPECT_EQ(registered, after) << Describe(after);
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kLibraryVersionKey));
        } else if (registering) {
            // Failed: the script's keys are all there (a later step failed) or all taken back.
            EXPECT_TRUE(after == registered || IsClean(after)) << Describe(after);
        } else {
            // Unregistering only ever removes.
            EXPECT_TRUE(IsPartOf(after, registered)) << Describe(after);
        }
        EXPECT_TRUE(EveryHandleClosedOnce());

        // The next normal run completes.
        if (registering) {
            EXPECT_EQ(S_OK, Register());
            EXPECT_EQ(registered, ScriptSnapshot());
        } else {
            EXPECT_EQ(S_OK, Unregister());
            EXPECT_TRUE(IsClean(ScriptSnapshot())) << Describe(ScriptSnapshot());
        }
        EXPECT_TRUE(EveryHandleClosedOnce());
        if (HasFailure() || failed.empty()) break;
    }
    printf("%s, %s: %d runs, the last without a failure to inject\n", kOperationNames[static_cast<int>(operation)],
           KindName(kind), failAt);
}

std::string RegistrationParamName(const ::testing::TestParamInfo<std::tuple<Registration, CallKind>>& info) {
    return std::string(kOperationNames[static_cast<int>(std::get<0>(info.param))]) + "_" +
           KindName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, RegistrationUnderFailingCalls,
    ::testing::Combine(::testing::Values(Registration::kRegisterOverNothing, Registration::kRegisterOverRegistration,
                                         Registration::kUnregister),
                       ::testing::Values(CallKind::kRegistryWrite, CallKind::kFileWrite, CallKind::kAllocation)),
    RegistrationParamName);

}   // namespace

#include "interlocked_results.h"

namespace {

// The kernel's functions are stdcall; the platform headers' InterlockedIncrement is an inline
// function of another convention, so no type is taken from it.
typedef LONG(WINAPI* InterlockedFunction)(LONG volatile*);
InterlockedFunction g_realIncrement = nullptr;
InterlockedFunction g_realDecrement = nullptr;

LONG Sign(LONG value) {
    return value > 0 ? 1 : value < 0 ? -1 : 0;
}

LONG WINAPI SignOnlyIncrement(LONG volatile* addend) {
    return Sign(g_realIncrement(addend));
}
LONG WINAPI SignOnlyDecrement(LONG volatile* addend) {
    return Sign(g_realDecrement(addend));
}

}   // namespace

std::string InterlockedResultsName(const ::testing::TestParamInfo<InterlockedResults>& info) {
    return info.param == InterlockedResults::kSignOnly ? "SignOnlyAsWindows95" : "NewValueAsWindows98";
}

InterlockedResultsRule::InterlockedResultsRule(HMODULE module, InterlockedResults results) : results_(results) {
    if (results != InterlockedResults::kSignOnly) return;
    increment_.reset(new ScopedImportPatch(module, "kernel32.dll", "InterlockedIncrement",
                                           reinterpret_cast<void*>(&SignOnlyIncrement)));
    decrement_.reset(new ScopedImportPatch(module, "kernel32.dll", "InterlockedDecrement",
                                           reinterpret_cast<void*>(&SignOnlyDecrement)));
    g_realIncrement = reinterpret_cast<InterlockedFunction>(increment_->previous());
    g_realDecrement = reinterpret_cast<InterlockedFunction>(decrement_->previous());
}

::testing::AssertionResult InterlockedResultsRule::InForce() const {
    if (results_ != InterlockedResults::kSignOnly) return ::testing::AssertionSuccess();
    if (!increment_->previous()) {
        return ::testing::AssertionFailure() << "the module does not import InterlockedIncrement";
    }
    if (!decrement_->previous()) {
        return ::testing::AssertionFailure() << "the module does not import InterlockedDecrement";
    }
    return ::testing::AssertionSuccess();
}

#include "failing_imports.h"

#include "handle_ledger.h"

namespace {

HandleLedger g_keys;       // keys opened or created by the DLL
HandleLedger g_files;      // files and devices it opened
HandleLedger g_searches;   // directory searches

}   // namespace

std::string KindParamName(const ::testing::TestParamInfo<CallKind>& info) {
    return KindName(info.param);
}

FailingImports::FailingImports(HMODULE module) : hooks_(module, kEveryHook) {
    HookedCalls& h = Hooked();
    h.keys = &g_keys;
    h.files = &g_files;
    h.searches = &g_searches;
}

FailingImports::~FailingImports() {
    HookedCalls& h = Hooked();
    h.keys = nullptr;
    h.files = h.searches = nullptr;
}

::testing::AssertionResult FailingImports::Complete() const {
    if (hooks_.missing().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the module does not import " << hooks_.missing();
}

void ArmFault(CallKind kind, int failAt, bool lasting) {
    g_keys = HandleLedger();
    g_files = HandleLedger();
    g_searches = HandleLedger();
    Hooked().boxes = 0;
    Hooked().lastBoxText.clear();
    ArmFaults(kind, failAt, lasting);
}

void DisarmFault() {
    DisarmFaults();
}

std::string FailedCall() {
    return Hooked().failed;
}

int FailedCalls() {
    return Hooked().failures;
}

int MessageBoxesShown() {
    return Hooked().boxes;
}

std::string LastMessageBoxText() {
    return Hooked().lastBoxText;
}

::testing::AssertionResult EveryHandleClosedOnce() {
    const std::string keys = g_keys.Faults();
    if (!keys.empty()) return ::testing::AssertionFailure() << "keys: " << keys;
    const std::string files = g_files.Faults();
    if (!files.empty()) return ::testing::AssertionFailure() << "files: " << files;
    const std::string searches = g_searches.Faults();
    if (!searches.empty()) return ::testing::AssertionFailure() << "searches: " << searches;
    return ::testing::AssertionSuccess();
}

// What InterlockedIncrement and InterlockedDecrement answer Brantovix.dll. Windows 98 and NT
// return the new value; Windows 95 performs the operation but returns only the sign of the new
// value (Platform SDK: "the return value is positive, but it is not necessarily equal to the
// result"). Wine answers as Windows 98 does, so the Windows 95 answers are put in by patching
// the two imports of the loaded DLL: +1, 0 or -1, after the real operation.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "import_patch.h"

enum class InterlockedResults { kNewValue, kSignOnly };

std::string InterlockedResultsName(const ::testing::TestParamInfo<InterlockedResults>& info);

// The rule in force on one loaded module until this goes (before the module is freed).
class InterlockedResultsRule {
public:
    InterlockedResultsRule(HMODULE module, InterlockedResults results);
    // Whether the rule reaches the module: under kSignOnly, both functions are imported and
    // patched.
    ::testing::AssertionResult InForce() const;

private:
    InterlockedResults results_;
    std::unique_ptr<ScopedImportPatch> increment_;
    std::unique_ptr<ScopedImportPatch> decrement_;
};

// The platform the test runs on, as the product asks for it (GetVersionExA): the prefix answers
// as Windows 98, or, under the NT-mode wrapper, as Windows NT.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

inline ::testing::AssertionResult PlatformAnswersAs(DWORD platformId, const char* otherwise) {
    OSVERSIONINFOA version = {sizeof(version)};
    if (!GetVersionExA(&version)) return ::testing::AssertionFailure() << "GetVersionExA failed";
    if (version.dwPlatformId != platformId) {
        return ::testing::AssertionFailure() << otherwise << " (platform " << version.dwPlatformId << ")";
    }
    return ::testing::AssertionSuccess();
}

// For ASSERT_TRUE in a test's set-up.
inline ::testing::AssertionResult InWindows98Mode() {
    return PlatformAnswersAs(VER_PLATFORM_WIN32_WINDOWS, "the prefix is not in Windows 98 mode");
}
inline ::testing::AssertionResult InWindowsNtMode() {
    return PlatformAnswersAs(VER_PLATFORM_WIN32_NT, "the NT-mode wrapper is not in effect");
}

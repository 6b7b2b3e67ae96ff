// Owners for the handles tests open that the product's kinds (owner.h) do not cover: kernel
// objects whose failed creation answers null (events, semaphores, threads, file mappings).
// A test holds every handle it opens in an owner, so that an assertion that returns early
// closes it too.
#pragma once

#include <windows.h>

#include "owner.h"

struct KernelObjectTraits {
    using Value = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using KernelObject = Owner<KernelObjectTraits>;

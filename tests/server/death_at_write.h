// What death_at_write.exe and the test that runs it share.
#pragma once

#include <windows.h>

// The exit code of a death_at_write.exe that ended itself at the write it was told.
const UINT kDiedAtWrite = 0xDEAD;

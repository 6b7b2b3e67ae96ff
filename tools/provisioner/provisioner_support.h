// What every part of the provisioner needs from the platform: reporting a failure, paths as
// Windows programs take them, whole-file reads and writes, and deletion that tolerates what is
// already gone.
#ifndef BRANTOVIX_PROVISIONER_SUPPORT_H
#define BRANTOVIX_PROVISIONER_SUPPORT_H

#include <windows.h>

#include <string>

namespace provisioner {

// The system's text for an error code, with the code.
std::string LastErrorText(DWORD error);

// Writes "provisioner: WHAT" to standard error; returns false.
bool Fail(const std::string& what);

// A path as Windows programs take it: under Wine a Unix absolute path ("/work/...") is turned
// into its DOS form (Z:\work\...); anything else is kept.
std::string WindowsPath(const std::string& path);

bool Exists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string* text);
// Creates the file with the disposition given and writes all of bytes.
bool WriteNewFile(const std::string& path, const void* bytes, size_t size, DWORD disposition);
// Deletes a file; gone already counts as deleted. A file that another process has open (an
// inventory reading its version resource, a script host still shutting down) is tried again
// for a few seconds.
bool DeleteIfPresent(const std::string& path);

}   // namespace provisioner

#endif

// Text handling of the plug-and-play registry scan, kept within its fixed buffers: registry
// value data made into a string, key paths joined, and the comma-separated driver lists cut
// into names. No platform calls, so this builds natively as well.
#pragma once

#include <stdint.h>

namespace device_tree_text {

const uint32_t kPieceBufferSize = 256;   // one listed name: 255 characters and a terminator

// Makes the data of a registry value, dataLength bytes as the query reported them in a
// buffer of bufferSize bytes, a zero-terminated string inside the buffer. The query does not
// promise a terminator (data stored without one, or of another type). Returns 1 when the
// buffer holds a string: the data's own first zero ends it, otherwise a zero is put right
// after the data. Returns 0 when the data fills the whole buffer without a zero: the value
// does not fit and counts as absent.
int TerminateValueString(char* buffer, uint32_t bufferSize, uint32_t dataLength);

// Writes head, "\" and tail into out, a buffer of outSize characters. Returns 1 when the
// path fits with its terminator, 0 (out holds an empty string) when it does not.
int JoinKeyPath(char* out, uint32_t outSize, const char* head, const char* tail);

// Calls visit for every piece of a comma-separated list, in order, each piece exactly as it
// stands between the commas (blanks kept, empty pieces included). A piece longer than 255
// characters does not fit the piece buffer and is skipped; the pieces after it are not.
typedef void (*ListedNameVisitor)(const char* name, void* context);
void ForEachListedName(const char* list, ListedNameVisitor visit, void* context);

}   // namespace device_tree_text

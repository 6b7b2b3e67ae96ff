// How the client turns the enumerator driver's replies into its two fixed lists. Byte and
// list logic only: the platform's name comparison comes in through NameComparison, so this
// builds natively as well.
//
// The requests and their replies are those of enumerator_protocol.h.
#pragma once

#include <stdint.h>

#include "enumerator_protocol.h"

namespace enumerator_replies {

const uint32_t kLongestSlot = 16;   // widest slot FindNameInSlots reads

// The platform's comparison of two zero-terminated names: 0 when they are equal.
typedef int (*NameComparison)(const char* left, const char* right);

// Whether a reply to request 0x8002 ends the driver-name loop instead of adding a name: a
// failed request, the byte counts 0, 0xFFFFFFFE and 0xFFFFFFFF, and any count short of a
// whole record (the record would hold bytes the driver did not write).
bool EndsModuleLoop(bool succeeded, uint32_t byteCount);

// Copies the module name of a record into a slot of slotSize characters. The name ends at
// its terminator, after the record's 16 name bytes, or when the slot has room for the
// terminator alone, whichever comes first; the slot is always terminated and nothing is
// written past it.
void StoreModuleName(char* slot, uint32_t slotSize, const unsigned char* record);

// The device-name count for a reply to request 0x8003 into a list of listSize bytes: the
// whole entries of the byte count. A failed request, or a byte count larger than the list
// (the driver cannot have written that much; the slots it claims would be stale zeros that
// compare equal to every empty device name), gives 0.
uint32_t DeviceNameCount(bool succeeded, uint32_t byteCount, uint32_t listSize);

// The 1-based number of the first of count slots, slotSize bytes apart from slots, whose
// name compares equal to name, or 0 when none does. Each slot is read as the zero-terminated
// string that begins at it, cut at slotSize - 1 characters so that a slot without a
// terminator never runs into the next (slotSize at most kLongestSlot).
uint32_t FindNameInSlots(const char* slots, uint32_t slotSize, uint32_t count, const char* name,
                         NameComparison compare);

}   // namespace enumerator_replies

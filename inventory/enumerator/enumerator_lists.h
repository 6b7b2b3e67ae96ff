// The two lists that the enumerator driver reports, as the client keeps them:
//
//   driver-name list: 1024 slots of 16 characters, each a zero-terminated module name of at
//                     most 15 characters (the dynamically loaded drivers, without path or
//                     extension);
//   device-name list: 2304 bytes, 256 slots of 9 bytes, each an entry exactly as the driver
//                     delivered it: 8 name characters, blank-padded, and a zero (every loaded
//                     virtual device).
//
// Slots are addressed from 0. A list whose allocation failed stays empty.
#pragma once

#include <windows.h>

#include "enumerator_protocol.h"
#include "owner.h"

class DriverNameList {
public:
    static constexpr DWORD kDriverNameSlots = 1024;
    static constexpr DWORD kDriverNameSlotSize = 16;
    static constexpr DWORD kNotListed = 0xFFFFFFFFu;

    DriverNameList();
    DriverNameList(const DriverNameList&) = delete;
    DriverNameList& operator=(const DriverNameList&) = delete;

    bool Allocated() const { return slots_.valid(); }
    DWORD Count() const { return count_; }
    bool Full() const { return !Allocated() || count_ >= kDriverNameSlots; }
    const char* Name(DWORD slot) const { return slots_.get() + slot * kDriverNameSlotSize; }

    // Empties every slot.
    void Clear();
    // Stores the module name of a 17-byte module record in the next slot. A name of 16 or more
    // characters keeps its first 15. Returns 0 when the list is full.
    int AddModuleRecord(const BYTE* record);

    // The first slot whose name equals `name` without regard to case, or kNotListed.
    DWORD FindDriverName(const char* name) const;

private:
    HeapArray<char> slots_;
    DWORD count_;
};

class DeviceNameList {
public:
    // The list is the enumerator driver's whole reply, one entry per slot.
    static constexpr DWORD kDeviceNameSlots = ENUMDRV_MAX_DEVICES;
    static constexpr DWORD kDeviceNameSlotSize = ENUMDRV_DEVICE_ENTRY_SIZE;
    static constexpr DWORD kDeviceNameListSize = ENUMDRV_DEVICE_REPLY_CAPACITY;
    static constexpr DWORD kNotListed = 0xFFFFFFFFu;

    DeviceNameList();
    DeviceNameList(const DeviceNameList&) = delete;
    DeviceNameList& operator=(const DeviceNameList&) = delete;

    bool Allocated() const { return entries_.valid(); }
    DWORD Count() const { return count_; }
    const BYTE* Entry(DWORD slot) const { return entries_.get() + slot * kDeviceNameSlotSize; }

    // The device-name request writes its reply straight into the list: kDeviceNameListSize
    // bytes, or null when the list could not be allocated.
    BYTE* ReplyBuffer() { return entries_.get(); }
    // Takes the outcome of that request: the list holds the whole entries of the byte count,
    // none when the request failed or claims more than the list holds.
    void TakeReply(bool succeeded, DWORD byteCount);

    // The first slot whose entry, read as the zero-terminated string that begins at it, equals
    // `name` without regard to case (blanks count), or kNotListed.
    DWORD FindDeviceName(const char* name) const;

private:
    HeapArray<BYTE> entries_;
    DWORD count_;
};

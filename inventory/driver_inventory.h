// DriverInventory: the engine of the driver inventory. Its construction runs the whole
// inventory (enumerator driver lists, version cache, file scan, stamps, active-file decisions,
// compaction); afterwards it only answers the three accessors.
#pragma once

#include <windows.h>

#include "driver_item.h"
#include "enumerator_protocol.h"

class DriverInventory {
public:
    static const DWORD kTableCapacity = 1024;   // rows allocated
    static const DWORD kMaxItems = 1023;        // rows ever used
    static const DWORD kDriverNameSlots = 1024;
    static const DWORD kDriverNameSlotSize = 16;
    // The device-name list is the enumerator driver's whole reply, one entry per slot.
    static const DWORD kDeviceNameSlots = ENUMDRV_MAX_DEVICES;
    static const DWORD kDeviceNameSlotSize = ENUMDRV_DEVICE_ENTRY_SIZE;
    static const DWORD kDeviceNameListSize = ENUMDRV_DEVICE_REPLY_CAPACITY;
    static const DWORD kPathBufferSize = 2048;
    static const DWORD kDirectoryBufferSize = 512;

    // Runs the inventory. A non-zero timing flag measures the run and shows
    // "Time = %d ms" (caption "ActiveDriverList") when it is done.
    explicit DriverInventory(int timing);
    virtual ~DriverInventory();

    DWORD GetItemCount() const;
    // index counts from 1. Return 1 and fill the destinations, or 0 and write nothing.
    int GetItemNameAndStamp(char* name, char* stamp, DWORD index) const;
    int GetItemDate(char* date, DWORD index) const;

protected:
    // Allocates the tables without running the inventory, so that the steps can be driven
    // one at a time.
    struct TablesOnly {};
    explicit DriverInventory(TablesOnly);

    void RunInventory(int timing);
    void AddItem(const char* fileName, const char* fullPath, DWORD lastWriteLow, DWORD lastWriteHigh);
    void CompactItems();
    bool TablesAllocated() const;

    // Enumerator driver client (enumerator_client.cpp)
    void QueryEnumeratorDriver();
    DWORD FindDriverName(const char* name) const;
    DWORD FindDeviceName(const char* name) const;
    void MatchDriverNames();
    void MatchDeviceNames();

    // Version cache (version_cache.cpp); rows counted from 0
    void LoadVersionCache();
    int LookupVersionCache(DWORD row);
    void UpdateVersionCache(DWORD row);
    void SaveVersionCache();

    // File scan (driver_file_scan.cpp)
    int ScanDriverFiles();
    void ScanPattern(const char* pattern);

    // Plug-and-play registry scan (device_tree_scan.cpp)
    void ScanDeviceTree();
    void MarkListedFiles(const char* list);
    DWORD FindItemByFileName(const char* name) const;

    DriverItem* items_;
    char (*driverNames_)[kDriverNameSlotSize];
    BYTE* deviceNames_;
    DWORD driverNameCount_;
    DWORD itemCount_;
    DWORD deviceNameCount_;
    DWORD cacheLength_;
    int cacheDirty_;
    WIN32_FIND_DATAA findData_;
    BYTE* cacheImage_;
    char* directoryBuffer_;
    char* pathBuffer_;

private:
    void AllocateTables();

    DriverInventory(const DriverInventory&) = delete;
    DriverInventory& operator=(const DriverInventory&) = delete;
};

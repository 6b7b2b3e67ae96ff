// The Windows 98 kernel as the enumerator driver's logic sees it (enumerator_platform.h), held
// in memory: the loader's list of dynamically loaded devices and the chain of descriptor
// blocks are records at 32-bit addresses of an arena, the critical section is a depth count
// and the system heap hands out blocks of exactly the size asked for, so that AddressSanitizer
// sees any access past a scratch record. Whatever the logic does out of turn (a list read
// outside the critical section, a read outside the arena, an allocation inside the critical
// section, a block freed twice or never) is recorded as a fault.
//
// One kernel is current at a time (MemoryKernel::Use); the logic's platform calls go to it.
// The native logic test, the enumerator_requests fuzz driver and its seed writer run on it.
#ifndef BRANTOVIX_MEMORY_KERNEL_H
#define BRANTOVIX_MEMORY_KERNEL_H

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "loaded_module.h"

class MemoryKernel {
public:
    // The lists, head first. Device names are the 8 bytes of the descriptor block's name field
    // (shorter ones are padded with blanks). Each call replaces that list.
    void SetModules(const std::vector<LoadedModule>& modules);   // names stored with a terminating zero
    void SetDevices(const std::vector<std::string>& devices);
    void FailAllocations(bool fail) { allocationsLeft_ = fail ? 0 : -1; }
    // The next count allocations succeed, every later one fails.
    void FailAllocationsAfter(int count) { allocationsLeft_ = count; }

    // Makes this kernel the one the logic's platform calls reach (null: none).
    static void Use(MemoryKernel* kernel);

    // After a request: the critical section is left, every scratch block freed, nothing done
    // out of turn. Empty when all is well, else the first fault.
    std::string Fault() const;
    void ClearFaults() { faults_.clear(); }

    // Platform side, called through enumerator_platform.h.
    void* Allocate(uint32_t size);
    void Free(void* block);
    void Enter();
    void Leave();
    uint32_t LoaderHead();
    uint32_t ChainHead();
    void CopyRecord(void* destination, uint32_t source, uint32_t count);
    void CopyName(uint8_t* destination, uint32_t source, uint32_t limit);

private:
    static constexpr uint32_t kBase = 0x10000;
    uint32_t Put(const void* bytes, size_t count);
    const uint8_t* At(uint32_t address, uint32_t count);

    std::vector<uint8_t> memory_;
    uint32_t loaderHead_ = 0, chainHead_ = 0;
    int allocationsLeft_ = -1;   // -1: no limit
    int criticalDepth_ = 0;
    std::set<void*> scratch_;
    std::vector<std::string> faults_;
};

#endif

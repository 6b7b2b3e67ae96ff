#include "memory_kernel.h"

#include <stdlib.h>
#include <string.h>

#include "enumerator_logic.h"
#include "enumerator_platform.h"

namespace {

MemoryKernel* g_current = nullptr;

void PutDword(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}   // namespace

void MemoryKernel::Use(MemoryKernel* kernel) {
    g_current = kernel;
}

uint32_t MemoryKernel::Put(const void* bytes, size_t count) {
    const uint32_t address = kBase + static_cast<uint32_t>(memory_.size());
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    memory_.insert(memory_.end(), b, b + count);
    return address;
}

// The records first, then the names, so that the last module's name ends the arena: a read
// past its terminator is a read outside the arena.
void MemoryKernel::SetModules(const std::vector<LoadedModule>& modules) {
    const size_t records = memory_.size();
    memory_.resize(records + modules.size() * ENUMDRV_DEVICE_INFO_SIZE, 0x5A);
    for (size_t i = 0; i < modules.size(); ++i) {
        uint8_t* record = &memory_[records + i * ENUMDRV_DEVICE_INFO_SIZE];
        const uint32_t next =
            i + 1 < modules.size() ? kBase + static_cast<uint32_t>(records + (i + 1) * ENUMDRV_DEVICE_INFO_SIZE) : 0;
        PutDword(record + ENUMDRV_DEVICE_INFO_NEXT, next);
        record[ENUMDRV_DEVICE_INFO_LOAD_COUNT] = modules[i].loadCount;
        PutDword(record + ENUMDRV_DEVICE_INFO_MODULE_NAME, 0);
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        if (!modules[i].hasName) continue;
        const uint32_t name = Put(modules[i].name.c_str(), modules[i].name.size() + 1);
        PutDword(&memory_[records + i * ENUMDRV_DEVICE_INFO_SIZE + ENUMDRV_DEVICE_INFO_MODULE_NAME], name);
    }
    loaderHead_ = modules.empty() ? 0 : kBase + static_cast<uint32_t>(records);
}

void MemoryKernel::SetDevices(const std::vector<std::string>& devices) {
    uint32_t next = 0;
    for (size_t i = devices.size(); i-- > 0;) {
        uint8_t block[ENUMDRV_DDB_SIZE] = {};
        PutDword(block + ENUMDRV_DDB_NEXT, next);
        std::string name = devices[i].substr(0, ENUMDRV_DEVICE_NAME_BYTES);
        name.resize(ENUMDRV_DEVICE_NAME_BYTES, ' ');
        memcpy(block + ENUMDRV_DDB_NAME, name.data(), ENUMDRV_DEVICE_NAME_BYTES);
        next = Put(block, sizeof block);
    }
    chainHead_ = next;
}

const uint8_t* MemoryKernel::At(uint32_t address, uint32_t count) {
    if (address < kBase || address - kBase + uint64_t{count} > memory_.size()) {
        faults_.push_back("read outside the system's records at " + std::to_string(address));
        return nullptr;
    }
    if (criticalDepth_ != 1) faults_.push_back("system records read outside the critical section");
    return memory_.data() + (address - kBase);
}

std::string MemoryKernel::Fault() const {
    if (!faults_.empty()) return faults_.front();
    if (criticalDepth_ != 0) return "critical section not left";
    if (!scratch_.empty()) return "scratch memory not freed";
    return std::string();
}

void* MemoryKernel::Allocate(uint32_t size) {
    if (criticalDepth_) faults_.push_back("allocation inside the critical section");
    if (allocationsLeft_ == 0) return nullptr;
    if (allocationsLeft_ > 0) --allocationsLeft_;
    void* block = malloc(size ? size : 1);
    if (block) scratch_.insert(block);
    return block;
}

void MemoryKernel::Free(void* block) {
    if (!scratch_.erase(block)) {
        faults_.push_back("freed a block the heap did not hand out, or freed it twice");
        return;
    }
    free(block);
}

void MemoryKernel::Enter() {
    if (criticalDepth_) faults_.push_back("critical section entered twice");
    ++criticalDepth_;
}

void MemoryKernel::Leave() {
    if (criticalDepth_ == 0)
        faults_.push_back("critical section left without being entered");
    else
        --criticalDepth_;
}

uint32_t MemoryKernel::LoaderHead() {
    if (criticalDepth_ != 1) faults_.push_back("loader list read outside the critical section");
    return loaderHead_;
}

uint32_t MemoryKernel::ChainHead() {
    if (criticalDepth_ != 1) faults_.push_back("device chain read outside the critical section");
    return chainHead_;
}

void MemoryKernel::CopyRecord(void* destination, uint32_t source, uint32_t count) {
    if (const uint8_t* p = At(source, count)) memcpy(destination, p, count);
}

void MemoryKernel::CopyName(uint8_t* destination, uint32_t source, uint32_t limit) {
    for (uint32_t i = 0; i < limit; ++i) {
        const uint8_t* p = At(source + i, 1);
        if (!p) return;
        destination[i] = *p;
        if (!*p) return;
    }
}

extern "C" {
void* EnumeratorAllocate(uint32_t size) {
    return g_current->Allocate(size);
}
void EnumeratorFree(void* block) {
    g_current->Free(block);
}
void EnumeratorEnterCriticalSection(void) {
    g_current->Enter();
}
void EnumeratorLeaveCriticalSection(void) {
    g_current->Leave();
}
EnumeratorAddress EnumeratorLoaderListHead(void) {
    return g_current->LoaderHead();
}
EnumeratorAddress EnumeratorDeviceChainHead(void) {
    return g_current->ChainHead();
}
void EnumeratorCopyRecord(void* destination, EnumeratorAddress source, uint32_t count) {
    g_current->CopyRecord(destination, source, count);
}
void EnumeratorCopyName(uint8_t* destination, EnumeratorAddress source, uint32_t limit) {
    g_current->CopyName(destination, source, limit);
}
}

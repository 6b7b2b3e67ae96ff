// The emulated kernel's system side: the lists it sets up, the calls of the control
// procedure, the services behind the driver's dynamic links and the exception handler that
// patches those links. The loader is driver_loader.cpp.
#include "emulated_kernel.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "system_records.h"

extern "C" {
void EmuStubBeginCriticalSection();
void EmuStubEndCriticalSection();
void EmuStubHeapAllocate();
void EmuStubHeapFree();
void EmuStubGetDdbList();
void EmuStubGetDeviceList();
void EmuStubUnknown();
uint32_t EmuCallWithRegisters(const void* procedure, emulated_kernel::Registers* registers);
uint32_t EmuCallOnStack(const void* procedure, emulated_kernel::Registers* registers, void* stackTop);

void EmuBeginCriticalSection(uint32_t flags) {
    emulated_kernel::Kernel::Instance().BeginCriticalSection(flags);
}
void EmuEndCriticalSection() {
    emulated_kernel::Kernel::Instance().EndCriticalSection();
}
uint32_t EmuHeapAllocate(uint32_t size, uint32_t flags) {
    return emulated_kernel::Kernel::Instance().HeapAllocate(size, flags);
}
uint32_t EmuHeapFree(uint32_t address, uint32_t flags) {
    return emulated_kernel::Kernel::Instance().HeapFree(address, flags) ? 1 : 0;
}
uint32_t EmuGetDdbList() {
    return emulated_kernel::Kernel::Instance().GetDdbList();
}
uint32_t EmuGetDeviceList() {
    return emulated_kernel::Kernel::Instance().GetDeviceList();
}
}

namespace emulated_kernel {
namespace {

// The services this kernel provides, by identifier (device ID << 16 | service number), and
// the slots that patched call sites call through.
struct Service {
    uint32_t id;
    void (*stub)();
};
const Service kServices[] = {
    {0x0001001F, EmuStubBeginCriticalSection},   // Begin_Critical_Section
    {0x00010020, EmuStubEndCriticalSection},     // End_Critical_Section
    {0x0001004F, EmuStubHeapAllocate},           // _HeapAllocate
    {0x00010051, EmuStubHeapFree},               // _HeapFree
    {0x0001013F, EmuStubGetDdbList},             // VMM_GetDDBList
    {0x00270005, EmuStubGetDeviceList},          // VXDLDR_GetDeviceList
};
void* g_serviceSlots[std::size(kServices) + 1];

constexpr uint32_t kPageSize = 4096;
constexpr uint8_t kStackPattern = 0x5A;   // the last one: unknown services

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* pointers) {
    return Kernel::Instance().HandleException(pointers);
}

}   // namespace

Kernel& Kernel::Instance() {
    static Kernel kernel;
    return kernel;
}

Kernel::Kernel() {
    for (size_t i = 0; i < std::size(kServices); ++i) g_serviceSlots[i] = reinterpret_cast<void*>(kServices[i].stub);
    g_serviceSlots[std::size(kServices)] = reinterpret_cast<void*>(EmuStubUnknown);
    AddVectoredExceptionHandler(1, VectoredHandler);
}

std::string Kernel::DdbName() const {
    return ddb_ ? std::string(reinterpret_cast<const char*>(ddb_ + kDdbName), 8) : std::string();
}

void Kernel::UnloadDriver() {
    FreeLists();
    for (Object& object : objects_) VirtualFree(object.base, 0, MEM_RELEASE);
    objects_.clear();
    ddb_ = nullptr;
    moduleName_.clear();
}

void Kernel::FreeLists() {
    if (lists_) VirtualFree(lists_, 0, MEM_RELEASE);
    lists_ = nullptr;
    listsSize_ = 0;
    loaderHead_ = chainHead_ = 0;
}

void Kernel::ProtectLists(bool readable) {
    DWORD old;
    if (lists_) VirtualProtect(lists_, listsSize_, readable ? PAGE_READONLY : PAGE_NOACCESS, &old);
}

void Kernel::SetLists(const std::vector<LoadedModule>& modules, const std::vector<std::string>& devices) {
    FreeLists();
    uint32_t size = 16;
    for (const LoadedModule& m : modules) size += kDeviceInfoSize + static_cast<uint32_t>(m.name.size()) + 1;
    size += kDdbSize * static_cast<uint32_t>(devices.size());
    listsSize_ = (size + 4095) / 4096 * 4096;
    lists_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, listsSize_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    uint8_t* freeAt = lists_;
    auto take = [&](uint32_t n) {
        uint8_t* p = freeAt;
        freeAt += n;
        return p;
    };
    auto address = [](const void* p) { return reinterpret_cast<uint32_t>(p); };

    // The loader's list, head first; the records are laid out last to first so that each
    // can point at the next.
    std::vector<uint32_t> nameAt;
    for (const LoadedModule& m : modules) {
        uint8_t* name = take(static_cast<uint32_t>(m.name.size()) + 1);
        std::memcpy(name, m.name.c_str(), m.name.size() + 1);
        nameAt.push_back(m.hasName ? address(name) : 0);
    }
    uint32_t next = 0;
    for (size_t i = modules.size(); i-- > 0;) {
        uint8_t* record = take(kDeviceInfoSize);
        std::memset(record, 0xEE, kDeviceInfoSize);   // the fields the driver does not read
        std::memcpy(record + 0, &next, 4);
        record[4] = modules[i].loadCount;
        std::memcpy(record + 11, &nameAt[i], 4);
        next = address(record);
    }
    loaderHead_ = next;

    // The chain of descriptor blocks, with the driver's own linked in at its place.
    next = 0;
    for (size_t i = devices.size(); i-- > 0;) {
        std::string name = devices[i];
        name.resize(8, ' ');
        uint8_t* block;
        if (ddb_ && name == DdbName()) {
            block = ddb_;
        } else {
            block = take(kDdbSize);
            std::memset(block, 0, kDdbSize);
            std::memcpy(block + kDdbName, name.data(), 8);
        }
        std::memcpy(block, &next, 4);
        next = address(block);
    }
    chainHead_ = next;
    ProtectLists(false);
}

Registers Kernel::Control(const Registers& in) {
    Registers r = in;
    const void* procedure;
    std::memcpy(&procedure, ddb_ + kDdbControlProc, 4);
    if (stack_) {
        // The stack's bytes hold a pattern, so that the deepest byte the call changed shows
        // how much of it the call used.
        uint8_t* bottom = stack_ + kPageSize;
        uint8_t* top = bottom + stackSize_;
        std::memset(bottom, kStackPattern, stackSize_);
        EmuCallOnStack(procedure, &r, top);
        uint8_t* deepest = bottom;
        while (deepest < top && *deepest == kStackPattern) ++deepest;
        stackUsed_ = std::max(stackUsed_, static_cast<uint32_t>(top - deepest));
    } else {
        EmuCallWithRegisters(procedure, &r);
    }
    if (criticalDepth_ != 0) {
        Fault("the control procedure returned inside the critical section");
        criticalDepth_ = 0;
        ProtectLists(false);
    }
    if (!allocations_.empty()) Fault(std::to_string(allocations_.size()) + " scratch record(s) not freed");
    return r;
}

bool Kernel::SetStackSize(uint32_t bytes) {
    FreeStack();
    stackUsed_ = 0;
    if (bytes == 0) return true;
    // The guard page, then whole pages for the stack; the stack's lowest byte is the first
    // above the guard page, its top bytes above that.
    const uint32_t pages = (bytes + kPageSize - 1) / kPageSize;
    stack_ =
        static_cast<uint8_t*>(VirtualAlloc(nullptr, kPageSize * (pages + 1), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    if (!stack_ || !VirtualProtect(stack_, kPageSize, PAGE_NOACCESS, &old)) {
        FreeStack();
        return false;
    }
    stackSize_ = bytes;
    return true;
}

void Kernel::FreeStack() {
    if (stack_) VirtualFree(stack_, 0, MEM_RELEASE);
    stack_ = nullptr;
    stackSize_ = 0;
}

uint32_t Kernel::DeviceIoControl(uint32_t code, const void* input, uint32_t inputSize, void* output,
                                 uint32_t outputSize, uint32_t* bytesReturned, bool* carry) {
    DIOCParams params{};
    params.VMHandle = kVmHandle;
    params.Internal2 = reinterpret_cast<uint32_t>(ddb_);
    params.dwIoControlCode = code;
    params.lpvInBuffer = reinterpret_cast<uint32_t>(input);
    params.cbInBuffer = inputSize;
    params.lpvOutBuffer = reinterpret_cast<uint32_t>(output);
    params.cbOutBuffer = outputSize;
    params.lpcbBytesReturned = reinterpret_cast<uint32_t>(bytesReturned);
    params.hDevice = 0x42;
    Registers r;
    r.eax = kW32DeviceIoControl;
    r.ebx = kVmHandle;
    r.esi = reinterpret_cast<uint32_t>(&params);
    Registers out = Control(r);
    if (carry) *carry = out.Carry();
    return out.eax;
}

std::vector<std::string> Kernel::TakeFaults() {
    std::vector<std::string> faults;
    faults.swap(faults_);
    return faults;
}

void Kernel::Fault(const std::string& what) {
    faults_.push_back(what);
}

void Kernel::BeginCriticalSection(uint32_t flags) {
    if (flags != 0) Fault("Begin_Critical_Section with flags " + Hex(flags));
    if (criticalDepth_++ == 0) ProtectLists(true);
}

void Kernel::EndCriticalSection() {
    if (criticalDepth_ == 0) {
        Fault("End_Critical_Section outside the critical section");
        return;
    }
    if (--criticalDepth_ == 0) ProtectLists(false);
}

uint32_t Kernel::HeapAllocate(uint32_t size, uint32_t flags) {
    if (flags != 0) Fault("_HeapAllocate with flags " + Hex(flags));
    if (criticalDepth_ != 0) Fault("scratch record allocated inside the critical section");
    if (heapExhausted_) return 0;
    void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    std::memset(block, 0xAB, size);
    allocations_.emplace_back(reinterpret_cast<uint32_t>(block), size);
    return reinterpret_cast<uint32_t>(block);
}

bool Kernel::HeapFree(uint32_t address, uint32_t flags) {
    if (flags != 0) Fault("_HeapFree with flags " + Hex(flags));
    for (auto it = allocations_.begin(); it != allocations_.end(); ++it) {
        if (it->first == address) {
            allocations_.erase(it);
            ::HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(address));
            return true;
        }
    }
    Fault("_HeapFree of " + Hex(address) + ", which was not allocated");
    return false;
}

uint32_t Kernel::GetDdbList() {
    if (criticalDepth_ == 0) Fault("VMM_GetDDBList outside the critical section");
    return chainHead_;
}

uint32_t Kernel::GetDeviceList() {
    if (criticalDepth_ == 0) Fault("VXDLDR_GetDeviceList outside the critical section");
    return loaderHead_;
}

void Kernel::UnknownService(uint32_t id) {
    Fault("call of unknown service " + Hex(id));
}

long Kernel::HandleException(void* exceptionPointers) {
    auto* pointers = static_cast<EXCEPTION_POINTERS*>(exceptionPointers);
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_PRIV_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
    uint8_t* at = reinterpret_cast<uint8_t*>(pointers->ContextRecord->Eip);

    // A dynamic link of the driver: int 20h, then the service identifier.
    for (const Object& object : objects_) {
        if (at < object.base || at + 6 > object.base + object.size || at[0] != 0xCD || at[1] != 0x20) continue;
        uint32_t id;
        std::memcpy(&id, at + 2, 4);
        const bool jump = id & 0x8000;
        const uint32_t service = id & ~0x8000u;
        size_t slot = std::size(kServices);
        for (size_t i = 0; i < std::size(kServices); ++i)
            if (kServices[i].id == service) slot = i;
        if (slot == std::size(kServices)) UnknownService(id);
        at[0] = 0xFF;
        at[1] = jump ? 0x25 : 0x15;   // jmp / call dword ptr [slot]
        const uint32_t slotAddress = reinterpret_cast<uint32_t>(&g_serviceSlots[slot]);
        std::memcpy(at + 2, &slotAddress, 4);
        FlushInstructionCache(GetCurrentProcess(), at, 6);
        ++patched_;
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    // A read of the lists outside the critical section (or a write to them at all).
    if (code == EXCEPTION_ACCESS_VIOLATION && lists_ && pointers->ExceptionRecord->NumberParameters >= 2) {
        const uintptr_t address = pointers->ExceptionRecord->ExceptionInformation[1];
        const bool write = pointers->ExceptionRecord->ExceptionInformation[0] == 1;
        if (address >= reinterpret_cast<uintptr_t>(lists_) &&
            address < reinterpret_cast<uintptr_t>(lists_) + listsSize_) {
            Fault(write ? "the driver wrote to a system list" : "system list read outside the critical section");
            DWORD old;
            VirtualProtect(lists_, listsSize_, PAGE_READWRITE, &old);
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}   // namespace emulated_kernel

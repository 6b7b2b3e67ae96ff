// An emulated Windows 98 kernel for one virtual device driver in an ordinary 32-bit
// process: it does what the system loader and the virtual machine manager do for a
// dynamically loaded driver. It reads the driver's LE file, maps its objects, applies its
// fixups, links its descriptor block into a chain of descriptor blocks, calls its control
// procedure with the system's registers, and serves its dynamic links (int 20h followed by
// a service identifier): the first time a call site runs, the fault is caught by a vectored
// exception handler that patches the six bytes into an indirect call of an emulated
// service, as the system does, and resumes.
//
// The emulated services answer from lists the caller sets (the loader's DeviceInfo records
// and the descriptor blocks) and watch the driver: every list must be read inside the
// critical section, every block of the heap must be allocated outside it and freed before the
// control procedure returns. What the driver does wrong is collected as faults.
#ifndef BRANTOVIX_EMULATED_KERNEL_H
#define BRANTOVIX_EMULATED_KERNEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_module.h"

namespace emulated_kernel {

// Registers for and from a call of the control procedure.
struct Registers {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0, ebp = 0, eflags = 0;
    bool Carry() const { return eflags & 1; }
};

// The request parameters the system passes with W32_DEVICEIOCONTROL.
struct DIOCParams {
    uint32_t Internal1, VMHandle, Internal2, dwIoControlCode, lpvInBuffer, cbInBuffer, lpvOutBuffer, cbOutBuffer,
        lpcbBytesReturned, lpoOverlapped, hDevice, tagProcess;
};
static_assert(sizeof(DIOCParams) == 48, "twelve DWORDs");

// Message numbers.
constexpr uint32_t kSysDynamicDeviceInit = 0x1B;
constexpr uint32_t kSysDynamicDeviceExit = 0x1C;
constexpr uint32_t kPnpNewDevnode = 0x22;
constexpr uint32_t kW32DeviceIoControl = 0x23;

class Kernel {
public:
    // The process's one kernel (the exception handler is process-wide).
    static Kernel& Instance();

    // Loads the driver's LE file: maps the objects, applies the fixups, finds the descriptor
    // block (entry ordinal 1) and checks its signature ('Prev' in DDB_Prev): a driver whose
    // block lacks it is refused, as a loader that checks the signature refuses it. Replaces a
    // driver loaded before.
    bool LoadDriver(const std::string& path, std::string* error);
    void UnloadDriver();
    bool Loaded() const { return !objects_.empty(); }

    // The loaded driver.
    std::string ModuleName() const { return moduleName_; }   // resident name table entry 0
    uint8_t* DescriptorBlock() const { return ddb_; }
    std::string DdbName() const;   // the 8 bytes of DDB_Name
    uint32_t ObjectCount() const { return static_cast<uint32_t>(objects_.size()); }
    uint8_t* ObjectBase(uint32_t i) const { return objects_[i].base; }
    uint32_t ObjectSize(uint32_t i) const { return objects_[i].size; }

    // Sets the system's lists. A device whose 8-byte name is the loaded driver's DDB_Name is
    // the driver's own descriptor block, linked into the chain at that place; every other
    // device gets a block of its own. Names shorter than 8 bytes are padded with blanks.
    void SetLists(const std::vector<LoadedModule>& modules, const std::vector<std::string>& devices);

    // Where the lists begin (for tests of the kernel's own checks).
    uint32_t LoaderHead() const { return loaderHead_; }
    uint32_t ChainHead() const { return chainHead_; }

    // Calls the control procedure with the given registers; returns them as it left them.
    Registers Control(const Registers& in);
    Registers Control(uint32_t message) {
        Registers r;
        r.eax = message;
        r.ebx = kVmHandle;
        return Control(r);
    }
    // Sends W32_DEVICEIOCONTROL with a DIOCParams for the request; returns EAX, and the carry
    // flag through *carry when given.
    uint32_t DeviceIoControl(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                             uint32_t* bytesReturned, bool* carry = nullptr);

    // Runs the control procedure on a stack of its own of the given size in bytes (0: on the
    // caller's stack, the default), above a page the process may not touch, so that a procedure
    // that needs more stack faults there. A thread's ring-0 stack on Windows 95/98 is a few
    // kilobytes, and the system's own frames lie below the driver's. The services keep only
    // the registers they save on it. False when the stack cannot be made.
    bool SetStackSize(uint32_t bytes);
    // The most bytes of its own stack the control procedure used in one call since the stack
    // was set.
    uint32_t StackUsed() const { return stackUsed_; }

    // Makes _HeapAllocate fail (return 0) while set.
    void SetHeapExhausted(bool exhausted) { heapExhausted_ = exhausted; }

    // What the driver did wrong since the last call (cleared by reading it): a list read
    // outside the critical section, a block of the heap allocated inside it, a free of what
    // was not allocated, the control procedure returning inside the critical
    // section or with scratch records still allocated, an unknown service.
    std::vector<std::string> TakeFaults();
    // Scratch records allocated and not freed.
    size_t OutstandingAllocations() const { return allocations_.size(); }
    // Dynamic-link call sites patched so far, and service identifiers the kernel does not know.
    uint32_t PatchedCallSites() const { return patched_; }

    static constexpr uint32_t kVmHandle = 0xC1001000;

    // Used by the service stubs and the exception handler.
    void BeginCriticalSection(uint32_t flags);
    void EndCriticalSection();
    uint32_t HeapAllocate(uint32_t size, uint32_t flags);
    bool HeapFree(uint32_t address, uint32_t flags);   // true: the block was allocated
    uint32_t GetDdbList();
    uint32_t GetDeviceList();
    void UnknownService(uint32_t id);
    long HandleException(void* exceptionPointers);

private:
    Kernel();
    struct Object {
        uint8_t* base = nullptr;
        uint32_t size = 0;
    };
    void Fault(const std::string& what);
    void ProtectLists(bool readable);
    void FreeLists();
    void FreeStack();

    std::vector<Object> objects_;
    std::string moduleName_;
    uint8_t* ddb_ = nullptr;
    uint8_t* lists_ = nullptr;   // the records, names and blocks of the lists
    uint32_t listsSize_ = 0;
    uint32_t loaderHead_ = 0, chainHead_ = 0;
    int criticalDepth_ = 0;
    bool heapExhausted_ = false;
    std::vector<std::pair<uint32_t, uint32_t>> allocations_;   // address, size
    std::vector<std::string> faults_;
    uint32_t patched_ = 0;
    uint8_t* stack_ = nullptr;   // the guard page, then the stack's pages
    uint32_t stackSize_ = 0, stackUsed_ = 0;
};

}   // namespace emulated_kernel

#endif

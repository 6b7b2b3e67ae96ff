// The layouts of the system records the emulated kernel builds and reads, shared by its
// loader and its services, and how it names a 32-bit value in a fault.
#ifndef BRANTOVIX_EMULATED_KERNEL_SYSTEM_RECORDS_H
#define BRANTOVIX_EMULATED_KERNEL_SYSTEM_RECORDS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace emulated_kernel {

// The loader's device record (DeviceInfo, packed): DI_Next at 0, DI_LoadCount at 4,
// DI_ModuleName at 11.
constexpr uint32_t kDeviceInfoSize = 35;

// The device descriptor block: DDB_Next at 0, DDB_Name (8 bytes) at 12, DDB_Control_Proc at
// 0x18, DDB_Prev at 0x3C.
constexpr uint32_t kDdbSize = 80;
constexpr uint32_t kDdbName = 12;
constexpr uint32_t kDdbControlProc = 0x18;
constexpr uint32_t kDdbPrev = 0x3C;
// The signature every descriptor block carries in DDB_Prev: the multi-character constant
// 'Prev' as the platform's assembler and C compiler write it, first character most significant
// (the bytes "verP" in memory).
constexpr uint32_t kDdbSignature = uint32_t{'P'} << 24 | uint32_t{'r'} << 16 | uint32_t{'e'} << 8 | uint32_t{'v'};

inline std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}   // namespace emulated_kernel

#endif

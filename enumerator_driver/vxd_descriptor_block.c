/* The enumerator driver's device descriptor block, `_The_DDB`: the record by which the system
 * knows a virtual device. The LE image exports it as entry ordinal 1; the system loader finds
 * it there, checks its signature and links it into the chain of descriptor blocks. */
#include <stddef.h>
#include <stdint.h>

#include "enumerator_logic.h"

/* The signature every descriptor block carries in DDB_Prev: the multi-character constant
 * 'Prev' as the platform's assembler and C compiler write it, the first character in the most
 * significant byte (0x50726576, the bytes "verP" in the image). Spelled out here because the
 * C standard leaves the value of a multi-character constant to the compiler. */
#define DDB_SIGNATURE ((uint32_t)'P' << 24 | (uint32_t)'r' << 16 | (uint32_t)'e' << 8 | (uint32_t)'v')

/* The device descriptor block, in the system's layout (80 bytes). */
typedef struct DeviceDescriptorBlock {
    uint32_t DDB_Next;
    uint16_t DDB_SDK_Version;
    uint16_t DDB_Req_Device_Number;
    uint8_t DDB_Dev_Major_Version;
    uint8_t DDB_Dev_Minor_Version;
    uint16_t DDB_Flags;
    char DDB_Name[8];
    uint32_t DDB_Init_Order;
    const void* DDB_Control_Proc;
    const void* DDB_V86_API_Proc;
    const void* DDB_PM_API_Proc;
    uint32_t DDB_V86_API_CSIP;
    uint32_t DDB_PM_API_CSIP;
    uint32_t DDB_Reference_Data;
    const void* DDB_Service_Table_Ptr;
    uint32_t DDB_Service_Table_Size;
    uint32_t DDB_Win32_Service_Table;
    uint32_t DDB_Prev;
    uint32_t DDB_Size;
    uint32_t DDB_Reserved1;
    uint32_t DDB_Reserved2;
    uint32_t DDB_Reserved3;
} DeviceDescriptorBlock;
_Static_assert(sizeof(DeviceDescriptorBlock) == ENUMDRV_DDB_SIZE, "the descriptor block is 80 bytes");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Name) == ENUMDRV_DDB_NAME, "DDB_Name");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Control_Proc) == 0x18, "DDB_Control_Proc");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Prev) == 0x3C, "DDB_Prev");

/* Entry points of vxd_entry.S. */
extern const char EnumeratorControlEntry[];
extern const char EnumeratorApiEntry[];

/* The driver offers no services to other drivers. */
static const uint32_t EmptyServiceTable[1] = {0};

DeviceDescriptorBlock TheDdb __asm__("_The_DDB") = {
    .DDB_Next = 0,
    .DDB_SDK_Version = 0x0400,
    .DDB_Req_Device_Number = 0,
    .DDB_Dev_Major_Version = 1,
    .DDB_Dev_Minor_Version = 0,
    .DDB_Flags = 0,
    .DDB_Name = {'O', 'R', 'V', '_', 'D', 'E', ' ', ' '},
    .DDB_Init_Order = 0x80000000u,
    .DDB_Control_Proc = EnumeratorControlEntry,
    .DDB_V86_API_Proc = EnumeratorApiEntry,
    .DDB_PM_API_Proc = EnumeratorApiEntry,
    .DDB_Service_Table_Ptr = EmptyServiceTable,
    .DDB_Service_Table_Size = 0,
    .DDB_Prev = DDB_SIGNATURE,
};

/* The enumerator driver's binding to the Windows 95/98 kernel: the device descriptor
 * block, the C half of the control procedure, and the list-walking interface over the
 * virtual machine manager's services, reached through the dynamic link (int 20h followed by
 * the 32-bit service identifier, which the system patches into a call on first use). */
#include <stddef.h>
#include <stdint.h>

#include "enumerator_logic.h"
#include "enumerator_platform.h"

/* Service identifiers: device ID in the high word, service number in the low word. */
#define VMM_BEGIN_CRITICAL_SECTION "0x0001001F"
#define VMM_END_CRITICAL_SECTION "0x00010020"
#define VMM_HEAP_ALLOCATE "0x0001004F"
#define VMM_HEAP_FREE "0x00010051"
#define VMM_GET_DDB_LIST "0x0001013F"
#define VXDLDR_GET_DEVICE_LIST "0x00270005"

/* The request parameters the system passes in ESI with W32_DEVICEIOCONTROL. */
typedef struct DIOCParams {
  uint32_t Internal1;
  uint32_t VMHandle;
  uint32_t Internal2;
  uint32_t dwIoControlCode;
  uint32_t lpvInBuffer;
  uint32_t cbInBuffer;
  uint32_t lpvOutBuffer;
  uint32_t cbOutBuffer;
  uint32_t lpcbBytesReturned;
  uint32_t lpoOverlapped;
  uint32_t hDevice;
  uint32_t tagProcess;
} DIOCParams;
_Static_assert(sizeof(DIOCParams) == 48, "DIOCParams is twelve DWORDs");

/* The signature every descriptor block carries in DDB_Prev: the multi-character constant
 * 'Prev' as the platform's assembler and C compiler write it, the first character in the most
 * significant byte (0x50726576, the bytes "verP" in the image). Spelled out here because the
 * C standard leaves the value of a multi-character constant to the compiler. */
#define DDB_SIGNATURE \
  ((uint32_t)'P' << 24 | (uint32_t)'r' << 16 | (uint32_t)'e' << 8 | (uint32_t)'v')

/* The device descriptor block, in the system's layout. */
typedef struct DeviceDescriptorBlock {
  uint32_t DDB_Next;
  uint16_t DDB_SDK_Version;
  uint16_t DDB_Req_Device_Number;
  uint8_t DDB_Dev_Major_Version;
  uint8_t DDB_Dev_Minor_Version;
  uint16_t DDB_Flags;
  char DDB_Name[8];
  uint32_t DDB_Init_Order;
  const void *DDB_Control_Proc;
  const void *DDB_V86_API_Proc;
  const void *DDB_PM_API_Proc;
  uint32_t DDB_V86_API_CSIP;
  uint32_t DDB_PM_API_CSIP;
  uint32_t DDB_Reference_Data;
  const void *DDB_Service_Table_Ptr;
  uint32_t DDB_Service_Table_Size;
  uint32_t DDB_Win32_Service_Table;
  uint32_t DDB_Prev;
  uint32_t DDB_Size;
  uint32_t DDB_Reserved1;
  uint32_t DDB_Reserved2;
  uint32_t DDB_Reserved3;
} DeviceDescriptorBlock;
_Static_assert(sizeof(DeviceDescriptorBlock) == 80, "the descriptor block is 80 bytes");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Name) == ENUMDRV_DDB_NAME, "DDB_Name");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Control_Proc) == 0x18, "DDB_Control_Proc");
_Static_assert(offsetof(DeviceDescriptorBlock, DDB_Prev) == 0x3C, "DDB_Prev");

/* Entry points of vxd_entry.S and vxd_init.c. */
extern const char EnumeratorControlEntry[];
extern const char EnumeratorApiEntry[];
uint32_t EnumeratorDynamicInit(void);

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

/* Called by EnumeratorControlEntry with the message (EAX), the VM handle (EBX) and ESI;
 * returns EAX and sets *carry for the carry flag. */
uint32_t EnumeratorControlProcedure(uint32_t message, uint32_t vm, const DIOCParams *params,
                                    uint32_t *carry) {
  (void)vm;
  if (message == ENUMDRV_W32_DEVICEIOCONTROL) {
    EnumeratorRequest request;
    request.code = params->dwIoControlCode;
    request.input = (const uint8_t *)params->lpvInBuffer;
    request.input_size = params->cbInBuffer;
    request.output = (uint8_t *)params->lpvOutBuffer;
    request.output_size = params->cbOutBuffer;
    request.bytes_returned = (uint32_t *)params->lpcbBytesReturned;
    uint32_t status = EnumeratorHandleRequest(&request);
    *carry = status != 0;
    return status;
  }
  if (message == ENUMDRV_SYS_DYNAMIC_DEVICE_INIT && !EnumeratorDynamicInit()) {
    *carry = 1;
    return 0;
  }
  return EnumeratorAnswerMessage(message, carry);
}

/* The list-walking interface over the system's services. */

void *EnumeratorAllocate(uint32_t size) {
  void *block;
  __asm__ volatile(
      "pushl $0\n\t"
      "pushl %1\n\t"
      "int $0x20\n\t"
      ".long " VMM_HEAP_ALLOCATE "\n\t"
      "addl $8, %%esp"
      : "=a"(block)
      : "r"(size)
      : "ecx", "edx", "memory", "cc");
  return block;
}

void EnumeratorFree(void *block) {
  uint32_t ignored;
  __asm__ volatile(
      "pushl $0\n\t"
      "pushl %1\n\t"
      "int $0x20\n\t"
      ".long " VMM_HEAP_FREE "\n\t"
      "addl $8, %%esp"
      : "=a"(ignored)
      : "r"(block)
      : "ecx", "edx", "memory", "cc");
}

void EnumeratorEnterCriticalSection(void) {
  __asm__ volatile(
      "int $0x20\n\t"
      ".long " VMM_BEGIN_CRITICAL_SECTION
      :
      : "c"(0)
      : "memory", "cc");
}

void EnumeratorLeaveCriticalSection(void) {
  __asm__ volatile(
      "int $0x20\n\t"
      ".long " VMM_END_CRITICAL_SECTION
      :
      :
      : "memory", "cc");
}

EnumeratorAddress EnumeratorLoaderListHead(void) {
  EnumeratorAddress head;
  __asm__ volatile(
      "int $0x20\n\t"
      ".long " VXDLDR_GET_DEVICE_LIST
      : "=a"(head)
      :
      : "ecx", "edx", "memory", "cc");
  return head;
}

EnumeratorAddress EnumeratorDeviceChainHead(void) {
  EnumeratorAddress head;
  __asm__ volatile(
      "int $0x20\n\t"
      ".long " VMM_GET_DDB_LIST
      : "=a"(head)
      :
      : "memory", "cc");
  return head;
}

void EnumeratorCopyRecord(void *destination, EnumeratorAddress source, uint32_t count) {
  const volatile uint8_t *from = (const volatile uint8_t *)source;
  uint8_t *to = (uint8_t *)destination;
  for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}

void EnumeratorCopyName(uint8_t *destination, EnumeratorAddress source, uint32_t limit) {
  const volatile uint8_t *from = (const volatile uint8_t *)source;
  for (uint32_t i = 0; i < limit; ++i) {
    destination[i] = from[i];
    if (!destination[i]) break;
  }
}

/* The compiler may call these for block copies and clears. */
void *memcpy(void *destination, const void *source, size_t count) {
  uint8_t *to = (uint8_t *)destination;
  const uint8_t *from = (const uint8_t *)source;
  while (count--) *to++ = *from++;
  return destination;
}

void *memset(void *destination, int value, size_t count) {
  uint8_t *to = (uint8_t *)destination;
  while (count--) *to++ = (uint8_t)value;
  return destination;
}

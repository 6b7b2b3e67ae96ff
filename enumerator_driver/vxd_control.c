/* The C half of the enumerator driver's control procedure. The system calls the procedure
 * named in the descriptor block with a control message; vxd_entry.S takes the registers and
 * calls EnumeratorControlProcedure, which turns a W32_DEVICEIOCONTROL request record into an
 * EnumeratorRequest for the logic and answers every other message through the logic too. */
#include <stdint.h>

#include "enumerator_logic.h"

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

/* Start-up code in the discardable object (vxd_init.c). */
uint32_t EnumeratorDynamicInit(void);

/* Called by EnumeratorControlEntry with the message (EAX), the VM handle (EBX) and ESI;
 * returns EAX and sets *carry for the carry flag. */
uint32_t EnumeratorControlProcedure(uint32_t message, uint32_t vm, const DIOCParams* params, uint32_t* carry) {
    (void)vm;
    if (message == ENUMDRV_W32_DEVICEIOCONTROL) {
        EnumeratorRequest request;
        request.code = params->dwIoControlCode;
        request.input = (const uint8_t*)params->lpvInBuffer;
        request.input_size = params->cbInBuffer;
        request.output = (uint8_t*)params->lpvOutBuffer;
        request.output_size = params->cbOutBuffer;
        request.bytes_returned = (uint32_t*)params->lpcbBytesReturned;
        uint32_t status = EnumeratorHandleRequest(&request);
        *carry = status != ENUMDRV_STATUS_SUCCESS;
        return status;
    }
    if (message == ENUMDRV_SYS_DYNAMIC_DEVICE_INIT && !EnumeratorDynamicInit()) {
        *carry = 1;
        return 0;
    }
    return EnumeratorAnswerMessage(message, carry);
}

/* The enumerator driver's answers, apart from the platform.
 *
 * This file and enumerator_logic.c hold everything the driver decides: how each control
 * message is answered and how each device I/O control request is answered from the two
 * system lists (the requests and replies are those of enumerator_protocol.h). They reach the
 * lists only through the small interface of enumerator_platform.h, so the same code builds
 * freestanding for the driver image and natively for tests. */
#ifndef BRANTOVIX_ENUMERATOR_LOGIC_H
#define BRANTOVIX_ENUMERATOR_LOGIC_H

#include <stdint.h>

#include "enumerator_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Control messages the driver tells apart. */
#define ENUMDRV_SYS_DYNAMIC_DEVICE_INIT 0x1Bu
#define ENUMDRV_SYS_DYNAMIC_DEVICE_EXIT 0x1Cu
#define ENUMDRV_PNP_NEW_DEVNODE 0x22u
#define ENUMDRV_W32_DEVICEIOCONTROL 0x23u

/* Layout of the system records the walks read. */
#define ENUMDRV_DEVICE_INFO_SIZE 35u
#define ENUMDRV_DEVICE_INFO_NEXT 0u
#define ENUMDRV_DEVICE_INFO_LOAD_COUNT 4u
#define ENUMDRV_DEVICE_INFO_MODULE_NAME 11u
#define ENUMDRV_DDB_SIZE 80u
#define ENUMDRV_DDB_NEXT 0u
#define ENUMDRV_DDB_NAME 12u

/* One device I/O control request, as the platform binding hands it over. */
typedef struct EnumeratorRequest {
    uint32_t code;
    const uint8_t* input;
    uint32_t input_size;
    uint8_t* output;
    uint32_t output_size;
    uint32_t* bytes_returned; /* null: the caller wants no byte count */
} EnumeratorRequest;

/* Answers a request; returns its status (0 is success). A buffer given as a null pointer
 * counts as one of 0 bytes, whatever size comes with it. */
uint32_t EnumeratorHandleRequest(const EnumeratorRequest* request);

/* Answers a control message other than W32_DEVICEIOCONTROL: returns the value for EAX and
 * sets *carry to 1 when the carry flag is to be set, else 0. */
uint32_t EnumeratorAnswerMessage(uint32_t message, uint32_t* carry);

#ifdef __cplusplus
}
#endif

#endif

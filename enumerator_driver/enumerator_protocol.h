/* The enumerator driver's request contract: what a client sends to "\\.\ORV_DE.vxd" with
 * DeviceIoControl and what the driver answers. The one statement of it, shared by the driver,
 * the inventory's client and the test equipment that stands in for the driver. Plain macros
 * only, so the header serves C and C++, freestanding driver code and Win32 code alike.
 *
 * All integers are little-endian. The byte count of a request is what the driver stores
 * through the bytes-returned argument; its status is the driver's completion code: 0 is
 * success, and for any other status DeviceIoControl returns FALSE with the status as the
 * last error. */
#ifndef BRANTOVIX_ENUMERATOR_PROTOCOL_H
#define BRANTOVIX_ENUMERATOR_PROTOCOL_H

/* The device a client opens: opening it loads the driver, closing it (the open carries
 * FILE_FLAG_DELETE_ON_CLOSE) unloads it. */
#define ENUMDRV_DEVICE_PATH "\\\\.\\ORV_DE.vxd"

/* Request codes. The system's own open and close notifications succeed with the byte count
 * untouched; any code not listed succeeds with 0 bytes and nothing written. */
#define ENUMDRV_DIOC_OPEN 0u
#define ENUMDRV_DIOC_CLOSEHANDLE 0xFFFFFFFFu
#define ENUMDRV_GET_VERSION 0x8001u      /* no input; 4 bytes of output: ENUMDRV_VERSION */
#define ENUMDRV_GET_MODULE 0x8002u       /* 4-byte index in; one module record out */
#define ENUMDRV_GET_DEVICE_NAMES 0x8003u /* input ignored; one device-name entry per device */
/* The first code after the last one listed: no request of its own yet (the tests and the fuzz
 * driver send it as a code the driver does not know). A code added above moves it on. */
#define ENUMDRV_FIRST_UNASSIGNED_CODE 0x8004u

/* Reply to ENUMDRV_GET_VERSION: version 1.00. */
#define ENUMDRV_VERSION 0x00000100u
#define ENUMDRV_VERSION_SIZE 4u

/* Module record, the reply to ENUMDRV_GET_MODULE (17 bytes):
 *   offset 0, 1 byte    the loader's load count of the device
 *   offset 1, 16 bytes  the module name the loader keeps, zero-terminated only when shorter
 *                       than 16 characters; bytes after the terminator carry no meaning */
#define ENUMDRV_MODULE_INDEX_SIZE 4u
#define ENUMDRV_MODULE_RECORD_SIZE 17u
#define ENUMDRV_MODULE_LOAD_COUNT_OFFSET 0u
#define ENUMDRV_MODULE_NAME_OFFSET 1u
#define ENUMDRV_MODULE_NAME_BYTES 16u

/* Device-name entry, the reply to ENUMDRV_GET_DEVICE_NAMES, one per device of the chain of
 * descriptor blocks, entry k at byte 9 * k:
 *   offset 0, 8 bytes   the device name as its descriptor block holds it (blank-padded, not
 *                       terminated)
 *   offset 8, 1 byte    zero
 * The driver builds the reply in a buffer of 256 entries; a longer chain fails. */
#define ENUMDRV_DEVICE_ENTRY_SIZE 9u
#define ENUMDRV_DEVICE_NAME_BYTES 8u
#define ENUMDRV_MAX_DEVICES 256u
#define ENUMDRV_DEVICE_REPLY_CAPACITY (ENUMDRV_MAX_DEVICES * ENUMDRV_DEVICE_ENTRY_SIZE) /* 2304 */

/* Statuses. Every failed request writes nothing and leaves the byte count 0. A device-name
 * reply that does not fit the caller's output space fails with the number of bytes it needs
 * (9 * devices) as its status. */
#define ENUMDRV_STATUS_SUCCESS 0u
#define ENUMDRV_STATUS_VERSION_NO_ROOM 1u         /* ENUMDRV_GET_VERSION with under 4 bytes */
#define ENUMDRV_STATUS_NO_MEMORY 8u               /* the driver's scratch record: none left */
#define ENUMDRV_STATUS_BAD_BUFFERS 122u           /* ENUMDRV_GET_MODULE, input or output short */
#define ENUMDRV_STATUS_INDEX_PAST_END 0xFFFFFFFEu /* ENUMDRV_GET_MODULE, index past the last */
#define ENUMDRV_STATUS_NO_LIST 0xFFFFFFFFu        /* no device loaded; or chain empty or too long */

#endif

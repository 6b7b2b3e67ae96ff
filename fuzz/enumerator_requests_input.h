// The input of the enumerator_requests fuzz driver: a machine's two system lists, then the
// requests sent to the driver on it. Read by the driver, written by the seed writer. Every
// field is read from what is left of the input; past its end every byte reads as zero.
//
//   machine:
//     byte      module count M
//     M times:  byte flags (bit 0: the record has no module name), byte load count,
//               byte name length L, L name bytes (a zero byte among them ends the name early)
//     byte      count N of named devices
//     N times:  8 bytes, the descriptor block's name field
//     2 bytes   count G of further devices (little-endian), modulo kMaxDevices: named
//               DEVnnnnn after their place in the chain, so that a chain can grow past the
//               256 entries that a reply holds
//   requests, until the input ends (at most kMaxRequests):
//     byte      code: kCodes[byte % 8]; the last entry means 4 more bytes give the code
//     byte      buffers: bits 0-1 the input buffer (kExact, kNull, kAliased: the output
//               buffer itself, kShort: a buffer of at most 4 bytes whatever the size says),
//               bits 2-3 the output buffer (kExact, kNull, kLarge: any 32-bit size with a
//               buffer of at most kLargeBuffer bytes, kBoundary: a size from kBoundarySizes),
//               bit 4: no byte count address, bit 5: the system heap has no memory left
//     2 bytes   input size (4 bytes when the input buffer is kShort)
//     2 bytes   output size (4 bytes when kLarge, 1 byte indexing kBoundarySizes when kBoundary)
//     4 bytes   the first input bytes, the module index of a 0x8002 request
#ifndef BRANTOVIX_FUZZ_ENUMERATOR_REQUESTS_INPUT_H
#define BRANTOVIX_FUZZ_ENUMERATOR_REQUESTS_INPUT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "enumerator_protocol.h"

namespace enumerator_requests {

const uint32_t kMaxDevices = 320;   // past the 256 entries a reply can hold
const uint32_t kMaxRequests = 32;
const uint32_t kLargeBuffer = 2304 + 64;
const uint32_t kAnyCode = 7;
// The last entry (index kAnyCode) stands for a code read from 4 more bytes.
const uint32_t kCodes[8] = {
    ENUMDRV_GET_MODULE,       ENUMDRV_GET_DEVICE_NAMES,      ENUMDRV_GET_VERSION, ENUMDRV_DIOC_OPEN,
    ENUMDRV_DIOC_CLOSEHANDLE, ENUMDRV_FIRST_UNASSIGNED_CODE, ENUMDRV_GET_MODULE,  0};
const uint32_t kBoundarySizes[16] = {0, 1, 3, 4, 5, 8, 9, 16, 17, 18, 26, 27, 28, 2303, 2304, 2305};

enum InputBuffer { kExact = 0, kNull = 1, kAliased = 2, kShort = 3 };
enum OutputBuffer { kOutExact = 0, kOutNull = 1, kLarge = 2, kBoundary = 3 };
const uint8_t kNoByteCount = 0x10;
const uint8_t kNoMemory = 0x20;

// Appends fields in the layout above.
class InputWriter {
public:
    void Byte(uint32_t value) { bytes_ += static_cast<char>(value & 0xFF); }
    void Word(uint32_t value) {
        Byte(value);
        Byte(value >> 8);
    }
    void Dword(uint32_t value) {
        Word(value);
        Word(value >> 16);
    }
    // The device count and names, then no further devices.
    void Devices(const std::vector<std::string>& names) {
        Byte(static_cast<uint32_t>(names.size()));
        for (std::string name : names) {
            name.resize(8, ' ');
            bytes_ += name;
        }
        Word(0);
    }
    void Module(const std::string& name, uint8_t loadCount, bool hasName = true) {
        Byte(hasName ? 0 : 1);
        Byte(loadCount);
        Byte(static_cast<uint32_t>(name.size()));
        bytes_ += name;
    }
    // A request whose buffers are exact heap buffers of the sizes given, or null pointers
    // that come with those sizes.
    void Request(uint32_t codeIndex, uint32_t inputSize, uint32_t outputSize, uint32_t index,
                 InputBuffer input = kExact, OutputBuffer output = kOutExact) {
        Byte(codeIndex);
        Byte(input | output << 2);
        Word(inputSize);
        Word(outputSize);
        Dword(index);
    }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

}   // namespace enumerator_requests

#endif

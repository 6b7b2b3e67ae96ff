// Fuzz driver for the enumerator driver's request handling, built natively on the kernel held
// in memory that the native logic test runs on too (memory_kernel.h). The input
// (enumerator_requests_input.h) gives the machine's two lists and a run of requests: any code, and buffers that are
// exact heap buffers, null pointers, the same buffer for input and output, or shorter than their stated size.
//
// What must hold for every request:
//   - nothing is read or written outside the buffers: each one is a heap block of exactly the
//     bytes the driver may touch, so AddressSanitizer reports any access past it; a buffer
//     given as a null pointer is never touched, whatever size comes with it;
//   - only the reply is written: the output past the byte count is as it was, and a request
//     that fails leaves the whole output and the byte count 0;
//   - the status, byte count and reply are those the request contract gives for these lists;
//   - the critical section is left, every scratch record freed, no list read outside it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "enumerator_logic.h"
#include "enumerator_requests_input.h"
#include "memory_kernel.h"

namespace {

using namespace enumerator_requests;

void Check(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "enumerator request: %s\n", what);
    abort();
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return used_ >= size_; }
    uint32_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
    uint32_t Word() { return Byte() | Byte() << 8; }
    uint32_t Dword() { return Word() | Word() << 16; }
    std::string Bytes(size_t count) {
        std::string bytes;
        for (size_t i = 0; i < count; ++i) bytes += static_cast<char>(Byte());
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// A heap block of exactly `size` bytes (none for size 0: any access is reported).
struct Block {
    explicit Block(size_t size) : bytes(new uint8_t[size]), size(size) {}
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
};

struct Machine {
    std::vector<LoadedModule> modules;
    std::vector<std::string> devices;   // 8 bytes each
};

Machine ReadMachine(Reader& in) {
    Machine machine;
    const uint32_t modules = in.Byte();
    for (uint32_t i = 0; i < modules; ++i) {
        LoadedModule module;
        module.hasName = (in.Byte() & 1) == 0;
        module.loadCount = static_cast<uint8_t>(in.Byte());
        std::string name = in.Bytes(in.Byte());
        module.name = name.substr(0, name.find('\0'));
        machine.modules.push_back(module);
    }
    const uint32_t named = in.Byte();
    for (uint32_t i = 0; i < named; ++i) machine.devices.push_back(in.Bytes(8));
    const uint32_t further = in.Word() % kMaxDevices;
    for (uint32_t i = 0; i < further; ++i) {
        char name[16];
        snprintf(name, sizeof name, "DEV%05u", named + i);
        machine.devices.push_back(name);
    }
    return machine;
}

// The reply the request contract gives; `inputRoom` and `outputRoom` are the sizes of
// buffers that are there (a null pointer has none).
struct Expected {
    uint32_t status = 0;
    bool touchesCount = true;
    uint32_t count = 0;
    std::string reply;
};

Expected Answer(const Machine& machine, uint32_t code, uint32_t index, uint32_t inputRoom, uint32_t outputRoom,
                bool noMemory) {
    Expected e;
    switch (code) {
    case ENUMDRV_DIOC_OPEN:
    case ENUMDRV_DIOC_CLOSEHANDLE:
        e.touchesCount = false;
        return e;
    case ENUMDRV_GET_VERSION:
        if (outputRoom < ENUMDRV_VERSION_SIZE) {
            e.status = ENUMDRV_STATUS_VERSION_NO_ROOM;
            return e;
        }
        e.count = 4;
        e.reply = std::string("\x00\x01\x00\x00", 4);
        return e;
    case ENUMDRV_GET_MODULE: {
        if (inputRoom < ENUMDRV_MODULE_INDEX_SIZE || outputRoom < ENUMDRV_MODULE_RECORD_SIZE) {
            e.status = ENUMDRV_STATUS_BAD_BUFFERS;
        } else if (noMemory) {
            e.status = ENUMDRV_STATUS_NO_MEMORY;
        } else if (machine.modules.empty()) {
            e.status = ENUMDRV_STATUS_NO_LIST;
        } else if (index >= machine.modules.size()) {
            e.status = ENUMDRV_STATUS_INDEX_PAST_END;
        } else {
            const LoadedModule& module = machine.modules[index];
            e.count = ENUMDRV_MODULE_RECORD_SIZE;
            e.reply = std::string(1, static_cast<char>(module.loadCount));
            // The name with its terminator, 16 bytes at most; the bytes after a terminator carry
            // no meaning and are not compared.
            const std::string name = module.hasName ? module.name : std::string();
            e.reply += std::string(name.c_str(), name.size() + 1).substr(0, ENUMDRV_MODULE_NAME_BYTES);
        }
        return e;
    }
    case ENUMDRV_GET_DEVICE_NAMES: {
        const uint32_t needed = static_cast<uint32_t>(machine.devices.size()) * ENUMDRV_DEVICE_ENTRY_SIZE;
        if (noMemory) {
            e.status = ENUMDRV_STATUS_NO_MEMORY;
        } else if (machine.devices.empty() || machine.devices.size() > ENUMDRV_MAX_DEVICES) {
            e.status = ENUMDRV_STATUS_NO_LIST;
        } else if (needed > outputRoom) {
            e.status = needed;
        } else {
            e.count = needed;
            for (const std::string& device : machine.devices) e.reply += device + std::string(1, '\0');
        }
        return e;
    }
    default:
        return e;
    }
}

void SendRequest(Reader& in, const Machine& machine, MemoryKernel& kernel) {
    const uint32_t selector = in.Byte() % 8;
    const uint32_t buffers = in.Byte();
    const uint32_t inputKind = buffers & 3;
    const uint32_t outputKind = buffers >> 2 & 3;
    const uint32_t code = selector == kAnyCode ? in.Dword() : kCodes[selector];
    const uint32_t inputSize = inputKind == kShort ? in.Dword() : in.Word();
    uint32_t outputSize;
    if (outputKind == kLarge) {
        outputSize = in.Dword();
    } else if (outputKind == kBoundary) {
        outputSize = kBoundarySizes[in.Byte() % 16];
    } else {
        outputSize = in.Word();
    }
    const uint32_t index = in.Dword();
    const bool noMemory = (buffers & kNoMemory) != 0;

    // The output: a block of its stated size, or of kLargeBuffer bytes at most for a large size
    // (no reply is longer than 2304 bytes), or none at all.
    std::unique_ptr<Block> output;
    if (outputKind != kOutNull) {
        const uint32_t real = outputKind == kLarge && outputSize > kLargeBuffer ? kLargeBuffer : outputSize;
        output.reset(new Block(real));
        memset(output->bytes.get(), 0xCC, real);
    }
    // The input: its own block with the index in its first bytes, the output block itself, or
    // a block of at most 4 bytes (all a request ever reads) whatever its stated size.
    std::unique_ptr<Block> inputBlock;
    const uint8_t* input = nullptr;
    uint32_t statedInput = inputSize;
    uint8_t indexBytes[4] = {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                             static_cast<uint8_t>(index >> 16), static_cast<uint8_t>(index >> 24)};
    if (inputKind == kExact || inputKind == kShort) {
        const uint32_t real = inputKind == kShort && inputSize > 4 ? 4 : inputSize;
        inputBlock.reset(new Block(real));
        memset(inputBlock->bytes.get(), 0xEE, real);
        memcpy(inputBlock->bytes.get(), indexBytes, real < 4 ? real : 4);
        input = inputBlock->bytes.get();
    } else if (inputKind == kAliased && output) {
        if (statedInput > output->size) statedInput = static_cast<uint32_t>(output->size);
        memcpy(output->bytes.get(), indexBytes, output->size < 4 ? output->size : 4);
        input = output->bytes.get();
    } else {
        statedInput = inputSize;   // a null pointer with whatever size came with it
    }
    uint32_t readIndex = 0;
    if (input) memcpy(&readIndex, indexBytes, 4);

    const std::vector<uint8_t> before =
        output ? std::vector<uint8_t>(output->bytes.get(), output->bytes.get() + output->size) : std::vector<uint8_t>();
    uint32_t count = 0xA5A5A5A5u;
    EnumeratorRequest request{code,        input,
                              statedInput, output ? output->bytes.get() : nullptr,
                              outputSize,  (buffers & kNoByteCount) ? nullptr : &count};

    kernel.FailAllocations(noMemory);
    const uint32_t status = EnumeratorHandleRequest(&request);
    const std::string fault = kernel.Fault();
    if (!fault.empty()) {
        fprintf(stderr, "enumerator request: %s\n", fault.c_str());
        abort();
    }

    const Expected e = Answer(machine, code, readIndex, input ? statedInput : 0, output ? outputSize : 0, noMemory);
    Check(status == e.status, "status other than the contract's");
    if (request.bytes_returned) {
        Check(count == (e.touchesCount ? e.count : 0xA5A5A5A5u), "byte count other than the contract's");
    }
    if (!output) return;
    const uint8_t* after = output->bytes.get();
    Check(memcmp(after, e.reply.data(), e.reply.size()) == 0 || code == ENUMDRV_GET_MODULE,
          "reply other than the contract's");
    if (code == ENUMDRV_GET_MODULE && !e.reply.empty()) {
        Check(after[0] == static_cast<uint8_t>(e.reply[0]), "module record with another load count");
        const size_t nameBytes = e.reply.size() - 1;
        Check(memcmp(after + 1, e.reply.data() + 1, nameBytes) == 0, "module record with another name");
    }
    // Nothing past the reply: the bytes after the byte count are as they were.
    Check(std::equal(after + e.count, after + output->size, before.begin() + e.count), "output written past the reply");
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const Machine machine = ReadMachine(in);
    MemoryKernel kernel;
    kernel.SetDevices(machine.devices);
    kernel.SetModules(machine.modules);
    MemoryKernel::Use(&kernel);
    for (uint32_t n = 0; n < kMaxRequests && !in.AtEnd(); ++n) SendRequest(in, machine, kernel);
    MemoryKernel::Use(nullptr);
    return 0;
}

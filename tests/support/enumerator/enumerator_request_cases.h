// The enumerator driver's request contract (enumerator_protocol.h) as one table of cases: on
// which system lists a request is sent, with which code, input and output space, and what the
// driver answers: its status, its byte count and the reply it writes. Every place that runs the
// driver's request handling loops over this table: its logic natively on the kernel held in
// memory (enumerator_logic_test), the built image on the emulated kernel
// (enumerator_driver_test) and the image behind the kernel stand-in, through the platform's
// DeviceIoControl (kernel_standin_test). Each adds only what it alone can check.
//
// A request code added to the driver gets its cases here.
#ifndef BRANTOVIX_ENUMERATOR_REQUEST_CASES_H
#define BRANTOVIX_ENUMERATOR_REQUEST_CASES_H

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_module.h"

namespace enumerator_cases {

// The system as a case finds it: the two lists, head first (device names padded with blanks
// to 8 bytes as the descriptor blocks hold them), and whether the system heap has run out.
struct SystemLists {
    std::string name;
    std::vector<LoadedModule> modules;
    std::vector<std::string> devices;
    bool heapExhausted = false;
};

// The byte count a request leaves as it found it (the open and close notifications).
constexpr uint32_t kByteCountUntouched = 0xA5A5A5A5u;
// What every output byte holds before a request; bytes the request does not write keep it.
constexpr uint8_t kUnwritten = 0xCC;

struct RequestCase {
    std::string name;
    const SystemLists* system;
    uint32_t code;
    std::string input;        // the input bytes
    bool nullInput = false;   // the input is a null pointer that comes with input.size() bytes
    uint32_t outputSize;
    bool nullOutput = false;   // the output is a null pointer that comes with outputSize bytes
    // The driver's answer.
    uint32_t status;
    uint32_t byteCount;   // kByteCountUntouched: left as it was
    std::string reply;    // the bytes written from the start of the output; the rest unwritten
};

// Every case, grouped by the system lists they run on (cases on one system are adjacent).
const std::vector<RequestCase>& RequestCases();

// Whether the kernel stand-in can stand for the case's system: a machine description (its
// README) names every module and has no way to exhaust the heap, and the stand-in puts the
// driver into both lists unless they hold it already, so a system the stand-in can show holds
// the driver ORV_DE in both.
bool StandinCanShow(const SystemLists& system);
// The machine description of a system the stand-in can show.
std::string MachineDescription(const SystemLists& system);

// What a request did, as the caller sees it: its status, its byte count (set to
// kByteCountUntouched before), the whole output space as the request left it (filled with
// kUnwritten before; empty for a null output) and whether anything was written outside it.
struct RequestOutcome {
    uint32_t status = 0;
    uint32_t byteCount = 0;
    std::string output;
    bool outsideWritten = false;
};

// Empty when the outcome is the one the case gives, else what differs.
std::string Mismatch(const RequestCase& c, const RequestOutcome& outcome);

// The output space a sender hands a request: `size` bytes between guard bytes, all kUnwritten
// before the request, or a null pointer that comes with `size` bytes.
class GuardedOutput {
public:
    GuardedOutput(uint32_t size, bool null);
    // What the request gets as its output pointer.
    uint8_t* Pointer() { return null_ ? nullptr : bytes_.data() + kGuard; }
    // The outcome's output (the whole space as the request left it; empty for a null pointer)
    // and whether any byte outside the space was written.
    void Read(RequestOutcome* outcome) const;

private:
    static constexpr size_t kGuard = 16;
    std::vector<uint8_t> bytes_;
    bool null_;
};

// A request as one line of text and an outcome as one line of text, for a client program that
// sends the requests in a process of its own (the kernel stand-in's):
//   request: CODE INPUTHEX|- [null-input] OUTPUTSIZE [null-output]     (hex bytes, '-' for none)
//   outcome: STATUS BYTECOUNT OUTPUTHEX|-                              (a line with "outside"
//            appended when a guard byte was written)
std::string RequestLine(const RequestCase& c);
struct ParsedRequest {
    uint32_t code = 0;
    std::string input;
    bool nullInput = false;
    uint32_t outputSize = 0;
    bool nullOutput = false;
};
bool ParseRequestLine(const std::string& line, ParsedRequest* request);
std::string OutcomeLine(const RequestOutcome& outcome);
bool ParseOutcomeLine(const std::string& line, RequestOutcome* outcome);

}   // namespace enumerator_cases

#endif

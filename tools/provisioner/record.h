// The provisioner's record of what it created, PROVISIONED-MACHINE.TXT in the Windows
// directory: one line per thing, in the order of creation, fields separated by TABs:
//
//   machine <machine file>
//   dir <path>
//   file <path>
//   key <root> <path>
//   value <root> <path> <name> <data>
//
// <root> is HKEY_DYN_DATA or HKEY_LOCAL_MACHINE. A value line carries the string it was given,
// so that the part of the machine that lives only in the running system (HKEY_DYN_DATA) can
// be built again from the record when the system starts. Lines are written as things are
// created, before the thing itself where a half-made thing must be found again.
#ifndef BRANTOVIX_PROVISIONER_RECORD_H
#define BRANTOVIX_PROVISIONER_RECORD_H

#include <windows.h>

#include <string>
#include <vector>

namespace provisioner {

extern const char kDynamicRootName[];   // "HKEY_DYN_DATA"
extern const char kMachineRootName[];   // "HKEY_LOCAL_MACHINE"

std::string RecordPath();

// The registry root a record line names, or null for a name it does not know.
HKEY RootByName(const std::string& name);

// Appends lines to the record, creating it when there is none.
class Record {
public:
    Record() = default;
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    bool Open();
    // Writes one line and flushes it. A field holding a TAB, CR or LF cannot be recorded: the
    // line is refused and nothing is written.
    bool Add(const std::vector<std::string>& fields);

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

using RecordLine = std::vector<std::string>;   // the fields of one line

// Reads the record. No record at all gives no lines and true; a record that exists but cannot
// be read gives false.
bool ReadRecord(std::vector<RecordLine>* lines);

}   // namespace provisioner

#endif

// One report over the rows of many machines (the computer column tells them apart): which
// versions of each file the fleet carries, and which machines are off the version most of them
// carry. Free of the platform.
//
// A file is a name, without regard to case, and, for two files of one name on one machine, its
// place among them: the first of a name on every machine is one file, the second another
// ("ESDI_506.PDR #2"). A machine that lacks a file counts as carrying "(none)" of it. The version
// most machines carry is the one with the most machines; on a tie, the one of the first machine
// (machines sorted by name without regard to case) that carries one of the tied.
#pragma once
#include <stddef.h>

#include "inventory_rows.h"
#include "owned_array.h"
#include "text_buffer.h"

class FleetReport {
public:
    // False when memory ran out.
    bool Build(const RowList& rows);

    size_t MachineCount() const { return machineCount_; }
    size_t FileCount() const { return keyCount_; }

    // The console summary: the machines, one line per file with its versions and how many
    // machines carry each ("04.10.00.2222 (2), (none) (1)") and the machines off the most
    // common version, then each machine that is off for some file with those files.
    bool AppendSummary(TextBuffer& out) const;
    // One self-contained HTML 3.2 page: a table of files by machines, the odd versions marked.
    bool AppendHtmlPage(TextBuffer& out) const;

private:
    static const size_t kNone = static_cast<size_t>(-1);
    // The row of machine `machine` for file `key`, or kNone.
    size_t Cell(size_t key, size_t machine) const { return cells_.get()[key * machineCount_ + machine]; }
    // The row whose stamp most machines carry for file `key`, or kNone when most carry none.
    size_t Common(size_t key) const { return common_.get()[key]; }
    bool IsOdd(size_t key, size_t machine) const;
    void AppendFileName(TextBuffer& out, size_t key) const;
    void AppendVersions(TextBuffer& out, size_t key) const;
    const char* Stamp(size_t row) const { return row == kNone ? nullptr : rows_->Field(row, kVersionStamp); }

    const RowList* rows_ = nullptr;
    size_t machineCount_ = 0;
    size_t keyCount_ = 0;
    OwnedArray<size_t> machineRows_;   // one row of each machine, for its name
    OwnedArray<size_t> keyRows_;       // one row of each file, for its name
    OwnedArray<size_t> keyOccurrences_;
    OwnedArray<size_t> cells_;
    OwnedArray<size_t> common_;
};

// Fuzz driver for BRANLIST.EXE's CSV reader (inventory_console/inventory_csv.cpp), which reads
// the files of /COMPARE and /MERGE: any bytes are refused with a line from 1 to the file's number
// of lines and a reason, or read as rows that the writer writes back into a file the reader reads
// as the same rows. Accepted rows also go through the comparison (with themselves: no change)
// and the fleet report, summary and page.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fleet_report.h"
#include "inventory_compare.h"
#include "inventory_csv.h"
#include "inventory_rows.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

bool SameRows(const RowList& a, const RowList& b) {
    if (a.Count() != b.Count()) return false;
    for (size_t row = 0; row < a.Count(); ++row) {
        for (int field = 0; field < kRowFieldCount; ++field) {
            if (strcmp(a.Field(row, static_cast<RowField>(field)), b.Field(row, static_cast<RowField>(field))) != 0)
                return false;
        }
    }
    return true;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    RowList rows;
    CsvProblem problem;
    if (!ReadInventoryCsv(bytes, size, rows, problem)) {
        unsigned long lines = 1;
        for (size_t i = 0; i < size; ++i) lines += bytes[i] == '\n';
        Check(problem.what != nullptr && problem.what[0] != 0);
        Check(problem.line >= 1 && problem.line <= lines);
        return 0;
    }
    TextBuffer written;
    Check(AppendInventoryCsv(rows, true, written));
    RowList back;
    Check(ReadInventoryCsv(written.data(), written.size(), back, problem));
    Check(SameRows(rows, back));

    TextBuffer lines;
    size_t changes = 1;
    Check(CompareInventories(rows, back, lines, &changes));
    Check(changes == 0 && lines.size() == 0);

    FleetReport report;
    Check(report.Build(rows));
    Check(report.FileCount() <= rows.Count() && report.MachineCount() <= rows.Count());
    TextBuffer summary, page;
    Check(report.AppendSummary(summary));
    Check(report.AppendHtmlPage(page));
    return 0;
}

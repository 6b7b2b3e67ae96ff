#include "inventory_report.h"

namespace {

size_t Length(const char* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return count;
}

const RowField kColumns[] = {kFileName, kVersionStamp, kDate};
const char* const kTitles[] = {"File name", "Version stamp", "Date"};
const int kColumnCount = 3;

void AppendCells(TextBuffer& out, const char* const cells[kColumnCount], const size_t widths[kColumnCount]) {
    for (int column = 0; column < kColumnCount; ++column) {
        size_t length = Length(cells[column]);
        out.Append(cells[column], length);
        if (column + 1 < kColumnCount) {
            out.AppendPadding(length, widths[column]);
            out.Append("  ", 2);
        }
    }
    out.Append("\r\n", 2);
}

}   // namespace

bool AppendInventoryTable(const RowList& rows, bool header, TextBuffer& out) {
    size_t widths[kColumnCount];
    for (int column = 0; column < kColumnCount; ++column) {
        widths[column] = header ? Length(kTitles[column]) : 0;
        for (size_t row = 0; row < rows.Count(); ++row) {
            size_t length = Length(rows.Field(row, kColumns[column]));
            if (length > widths[column]) widths[column] = length;
        }
    }
    if (header) {
        AppendCells(out, kTitles, widths);
        for (int column = 0; column < kColumnCount; ++column) {
            for (size_t i = 0; i < widths[column]; ++i) out.AppendChar('-');
            out.Append(column + 1 < kColumnCount ? "  " : "\r\n");
        }
    }
    for (size_t row = 0; row < rows.Count(); ++row) {
        const char* cells[kColumnCount];
        for (int column = 0; column < kColumnCount; ++column) cells[column] = rows.Field(row, kColumns[column]);
        AppendCells(out, cells, widths);
    }
    return out.Ok();
}

bool AppendInventoryList(const RowList& rows, TextBuffer& out) {
    const size_t width = Length("Version stamp:") + 1;
    for (size_t row = 0; row < rows.Count(); ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            out.Append(kTitles[column]);
            out.AppendChar(':');
            out.AppendPadding(Length(kTitles[column]) + 1, width);
            out.Append(rows.Field(row, kColumns[column]));
            out.Append("\r\n", 2);
        }
        out.Append("\r\n", 2);
    }
    return out.Ok();
}

#include "inventory_compare.h"

#include "owned_array.h"

namespace {

// The index of the `occurrence`-th row (counting from 0) named `name` in `rows`, or Count().
size_t FindOccurrence(const RowList& rows, const char* name, size_t occurrence) {
    for (size_t row = 0; row < rows.Count(); ++row) {
        if (EqualNoCase(rows.Field(row, kFileName), name) && occurrence-- == 0) return row;
    }
    return rows.Count();
}

// How many rows before `row` have its name.
size_t OccurrenceOf(const RowList& rows, size_t row) {
    size_t occurrence = 0;
    for (size_t before = 0; before < row; ++before) {
        if (EqualNoCase(rows.Field(before, kFileName), rows.Field(row, kFileName))) ++occurrence;
    }
    return occurrence;
}

void AppendRowLine(TextBuffer& out, const char* word, const RowList& rows, size_t row) {
    out.Append(word);
    out.Append(rows.Field(row, kFileName));
    out.Append("  ");
    out.Append(rows.Field(row, kVersionStamp));
    out.Append("  ");
    out.Append(rows.Field(row, kDate));
}

}   // namespace

bool CompareInventories(const RowList& earlier, const RowList& now, TextBuffer& out, size_t* changes) {
    *changes = 0;
    OwnedArray<bool> matched(new bool[earlier.Count() + 1]);
    if (!matched.get()) return false;
    for (size_t row = 0; row < earlier.Count(); ++row) matched.get()[row] = false;
    for (size_t row = 0; row < now.Count(); ++row) {
        size_t before = FindOccurrence(earlier, now.Field(row, kFileName), OccurrenceOf(now, row));
        if (before == earlier.Count()) {
            AppendRowLine(out, "added    ", now, row);
            out.Append("\r\n");
            ++*changes;
            continue;
        }
        matched.get()[before] = true;
        bool sameStamp = EqualNoCase(earlier.Field(before, kVersionStamp), now.Field(row, kVersionStamp));
        bool sameDate = EqualNoCase(earlier.Field(before, kDate), now.Field(row, kDate));
        if (sameStamp && sameDate) continue;
        AppendRowLine(out, "changed  ", earlier, before);
        out.Append(" -> ");
        out.Append(now.Field(row, kVersionStamp));
        out.Append("  ");
        out.Append(now.Field(row, kDate));
        out.Append("\r\n");
        ++*changes;
    }
    for (size_t row = 0; row < earlier.Count(); ++row) {
        if (matched.get()[row]) continue;
        AppendRowLine(out, "removed  ", earlier, row);
        out.Append("\r\n");
        ++*changes;
    }
    return out.Ok();
}

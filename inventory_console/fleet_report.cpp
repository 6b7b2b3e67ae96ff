#include "fleet_report.h"

namespace {

size_t Length(const char* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return count;
}

// A stable merge sort of indexes; `less(a, b)` orders two of them.
template <typename Less>
bool SortIndexes(size_t* items, size_t count, Less less) {
    OwnedArray<size_t> scratch(new size_t[count + 1]);
    if (!scratch.get()) return false;
    size_t* from = items;
    size_t* to = scratch.get();
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t start = 0; start < count; start += 2 * width) {
            size_t middle = start + width < count ? start + width : count;
            size_t end = middle + width < count ? middle + width : count;
            size_t left = start, right = middle, out = start;
            while (left < middle && right < end)
                to[out++] = less(from[right], from[left]) ? from[right++] : from[left++];
            while (left < middle) to[out++] = from[left++];
            while (right < end) to[out++] = from[right++];
        }
        size_t* swap = from;
        from = to;
        to = swap;
    }
    if (from != items) {
        for (size_t i = 0; i < count; ++i) items[i] = from[i];
    }
    return true;
}

bool SameStamp(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return EqualNoCase(a, b);
}

const char kNoneText[] = "(none)";

void AppendHtmlText(TextBuffer& out, const char* text) {
    for (; *text; ++text) {
        switch (*text) {
        case '&':
            out.Append("&amp;");
            break;
        case '<':
            out.Append("&lt;");
            break;
        case '>':
            out.Append("&gt;");
            break;
        case '"':
            out.Append("&quot;");
            break;
        default:
            out.AppendChar(*text);
        }
    }
}

}   // namespace

bool FleetReport::Build(const RowList& rows) {
    rows_ = &rows;
    size_t count = rows.Count();
    OwnedArray<size_t> order(new size_t[count + 1]);
    OwnedArray<size_t> machineOf(new size_t[count + 1]);
    OwnedArray<size_t> occurrenceOf(new size_t[count + 1]);
    OwnedArray<size_t> keyOf(new size_t[count + 1]);
    machineRows_.reset(new size_t[count + 1]);
    keyRows_.reset(new size_t[count + 1]);
    keyOccurrences_.reset(new size_t[count + 1]);
    if (!order.get() || !machineOf.get() || !occurrenceOf.get() || !keyOf.get() || !machineRows_.get() ||
        !keyRows_.get() || !keyOccurrences_.get())
        return false;
    size_t* sorted = order.get();

    // Machines: the rows by computer name.
    for (size_t i = 0; i < count; ++i) sorted[i] = i;
    if (!SortIndexes(sorted, count, [&](size_t a, size_t b) {
            return CompareNoCase(rows.Field(a, kComputer), rows.Field(b, kComputer)) < 0;
        }))
        return false;
    machineCount_ = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i == 0 || !EqualNoCase(rows.Field(sorted[i], kComputer), rows.Field(sorted[i - 1], kComputer)))
            machineRows_.get()[machineCount_++] = sorted[i];
        machineOf.get()[sorted[i]] = machineCount_ - 1;
    }

    // Each row's place among the rows of its name on its machine (the sort is stable: in order).
    if (!SortIndexes(sorted, count, [&](size_t a, size_t b) {
            if (machineOf.get()[a] != machineOf.get()[b]) return machineOf.get()[a] < machineOf.get()[b];
            return CompareNoCase(rows.Field(a, kFileName), rows.Field(b, kFileName)) < 0;
        }))
        return false;
    for (size_t i = 0; i < count; ++i) {
        bool sameRun = i > 0 && machineOf.get()[sorted[i]] == machineOf.get()[sorted[i - 1]] &&
                       EqualNoCase(rows.Field(sorted[i], kFileName), rows.Field(sorted[i - 1], kFileName));
        occurrenceOf.get()[sorted[i]] = sameRun ? occurrenceOf.get()[sorted[i - 1]] + 1 : 0;
    }

    // Files: name and place.
    auto keyLess = [&](size_t a, size_t b) {
        int names = CompareNoCase(rows.Field(a, kFileName), rows.Field(b, kFileName));
        if (names != 0) return names < 0;
        return occurrenceOf.get()[a] < occurrenceOf.get()[b];
    };
    if (!SortIndexes(sorted, count, keyLess)) return false;
    keyCount_ = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i == 0 || keyLess(sorted[i - 1], sorted[i])) {
            keyRows_.get()[keyCount_] = sorted[i];
            keyOccurrences_.get()[keyCount_] = occurrenceOf.get()[sorted[i]];
            ++keyCount_;
        }
        keyOf.get()[sorted[i]] = keyCount_ - 1;
    }

    size_t cellCount = keyCount_ * machineCount_;
    if (machineCount_ && cellCount / machineCount_ != keyCount_) return false;
    cells_.reset(new size_t[cellCount + 1]);
    common_.reset(new size_t[keyCount_ + 1]);
    if (!cells_.get() || !common_.get()) return false;
    for (size_t i = 0; i < cellCount; ++i) cells_.get()[i] = kNone;
    for (size_t row = 0; row < count; ++row)
        cells_.get()[keyOf.get()[row] * machineCount_ + machineOf.get()[row]] = row;

    // The version most machines carry: for each machine in order, how many carry its version.
    for (size_t key = 0; key < keyCount_; ++key) {
        size_t best = kNone, bestCount = 0;
        for (size_t machine = 0; machine < machineCount_; ++machine) {
            const char* stamp = Stamp(Cell(key, machine));
            size_t carriers = 0;
            for (size_t other = 0; other < machineCount_; ++other) {
                if (SameStamp(stamp, Stamp(Cell(key, other)))) ++carriers;
            }
            if (carriers > bestCount) {
                bestCount = carriers;
                best = Cell(key, machine);
            }
        }
        common_.get()[key] = best;
    }
    return true;
}

bool FleetReport::IsOdd(size_t key, size_t machine) const {
    return !SameStamp(Stamp(Cell(key, machine)), Stamp(Common(key)));
}

void FleetReport::AppendFileName(TextBuffer& out, size_t key) const {
    out.Append(rows_->Field(keyRows_.get()[key], kFileName));
    if (keyOccurrences_.get()[key] > 0) {
        out.Append(" #");
        out.AppendNumber(keyOccurrences_.get()[key] + 1);
    }
}

// "04.10.00.2222 (2), (none) (1)": each version once, in the order of the first machine that
// carries it, the most common first.
void FleetReport::AppendVersions(TextBuffer& out, size_t key) const {
    bool first = true;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t machine = 0; machine < machineCount_; ++machine) {
            const char* stamp = Stamp(Cell(key, machine));
            bool common = SameStamp(stamp, Stamp(Common(key)));
            if (common != (pass == 0)) continue;
            bool seen = false;
            size_t carriers = 0;
            for (size_t other = 0; other < machineCount_; ++other) {
                if (!SameStamp(stamp, Stamp(Cell(key, other)))) continue;
                if (other < machine) seen = true;
                ++carriers;
            }
            if (seen) continue;
            if (!first) out.Append(", ");
            first = false;
            out.Append(stamp ? stamp : kNoneText);
            out.Append(" (");
            out.AppendNumber(carriers);
            out.Append(")");
        }
    }
}

bool FleetReport::AppendSummary(TextBuffer& out) const {
    out.AppendNumber(machineCount_);
    out.Append(machineCount_ == 1 ? " machine" : " machines");
    if (machineCount_ > 0) out.Append(": ");
    for (size_t machine = 0; machine < machineCount_; ++machine) {
        if (machine) out.Append(", ");
        out.Append(rows_->Field(machineRows_.get()[machine], kComputer));
    }
    out.Append("\r\n");
    out.AppendNumber(keyCount_);
    out.Append(keyCount_ == 1 ? " file\r\n\r\n" : " files\r\n\r\n");

    // Columns: file, versions, machines off; each as wide as its widest entry.
    const char* const titles[] = {"File name", "Versions (machines)", "Off the most common version"};
    TextBuffer cell;
    size_t widths[2] = {Length(titles[0]), Length(titles[1])};
    for (size_t key = 0; key < keyCount_; ++key) {
        cell.Clear();
        AppendFileName(cell, key);
        if (cell.size() > widths[0]) widths[0] = cell.size();
        cell.Clear();
        AppendVersions(cell, key);
        if (cell.size() > widths[1]) widths[1] = cell.size();
    }
    if (!cell.Ok()) return false;
    for (int column = 0; column < 3; ++column) {
        out.Append(titles[column]);
        if (column < 2) out.AppendPadding(Length(titles[column]), widths[column] + 2);
    }
    out.Append("\r\n");
    for (int column = 0; column < 3; ++column) {
        size_t width = column < 2 ? widths[column] : Length(titles[2]);
        for (size_t i = 0; i < width; ++i) out.AppendChar('-');
        if (column < 2) out.Append("  ");
    }
    out.Append("\r\n");
    for (size_t key = 0; key < keyCount_; ++key) {
        cell.Clear();
        AppendFileName(cell, key);
        out.Append(cell.data(), cell.size());
        out.AppendPadding(cell.size(), widths[0] + 2);
        cell.Clear();
        AppendVersions(cell, key);
        out.Append(cell.data(), cell.size());
        bool anyOdd = false;
        for (size_t machine = 0; machine < machineCount_; ++machine) {
            if (!IsOdd(key, machine)) continue;
            if (!anyOdd)
                out.AppendPadding(cell.size(), widths[1] + 2);
            else
                out.Append(", ");
            anyOdd = true;
            out.Append(rows_->Field(machineRows_.get()[machine], kComputer));
        }
        out.Append("\r\n");
    }

    // The machines that are off, each with its odd files.
    out.Append("\r\n");
    bool anyMachine = false;
    for (size_t machine = 0; machine < machineCount_; ++machine) {
        bool anyOdd = false;
        for (size_t key = 0; key < keyCount_; ++key) {
            if (!IsOdd(key, machine)) continue;
            if (!anyMachine) out.Append("Machines off the most common version:\r\n");
            anyMachine = true;
            if (!anyOdd) {
                out.Append("  ");
                out.Append(rows_->Field(machineRows_.get()[machine], kComputer));
                out.Append(": ");
            } else {
                out.Append(", ");
            }
            anyOdd = true;
            AppendFileName(out, key);
            out.Append(" ");
            const char* stamp = Stamp(Cell(key, machine));
            out.Append(stamp ? stamp : kNoneText);
        }
        if (anyOdd) out.Append("\r\n");
    }
    if (!anyMachine) out.Append("Every machine carries the most common version of every file.\r\n");
    return out.Ok() && cell.Ok();
}

bool FleetReport::AppendHtmlPage(TextBuffer& out) const {
    out.Append("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n");
    out.Append("<HTML>\r\n<HEAD>\r\n<TITLE>Driver inventory of ");
    out.AppendNumber(machineCount_);
    out.Append(machineCount_ == 1 ? " machine" : " machines");
    out.Append("</TITLE>\r\n</HEAD>\r\n<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\">\r\n");
    out.Append("<H1>Driver inventory</H1>\r\n<P>");
    out.AppendNumber(machineCount_);
    out.Append(machineCount_ == 1 ? " machine, " : " machines, ");
    out.AppendNumber(keyCount_);
    out.Append(keyCount_ == 1 ? " file. " : " files. ");
    out.Append(
        "A version that differs from the one most machines carry is marked "
        "<B>[like this]</B> on a yellow ground.</P>\r\n");
    out.Append(
        "<TABLE BORDER=1 CELLPADDING=3 CELLSPACING=0>\r\n<TR><TH ALIGN=LEFT>File name</TH>"
        "<TH ALIGN=LEFT>Most common</TH>");
    for (size_t machine = 0; machine < machineCount_; ++machine) {
        out.Append("<TH ALIGN=LEFT>");
        AppendHtmlText(out, rows_->Field(machineRows_.get()[machine], kComputer));
        out.Append("</TH>");
    }
    out.Append("</TR>\r\n");
    TextBuffer name;
    for (size_t key = 0; key < keyCount_; ++key) {
        name.Clear();
        AppendFileName(name, key);
        name.AppendChar('\0');
        out.Append("<TR><TD>");
        AppendHtmlText(out, name.Ok() ? name.data() : "");
        out.Append("</TD><TD>");
        const char* common = Stamp(Common(key));
        AppendHtmlText(out, common ? common : kNoneText);
        out.Append("</TD>");
        for (size_t machine = 0; machine < machineCount_; ++machine) {
            const char* stamp = Stamp(Cell(key, machine));
            if (IsOdd(key, machine)) {
                out.Append("<TD BGCOLOR=\"#FFCC33\"><B>[");
                AppendHtmlText(out, stamp ? stamp : kNoneText);
                out.Append("]</B></TD>");
            } else {
                out.Append("<TD>");
                AppendHtmlText(out, stamp ? stamp : kNoneText);
                out.Append("</TD>");
            }
        }
        out.Append("</TR>\r\n");
    }
    out.Append("</TABLE>\r\n</BODY>\r\n</HTML>\r\n");
    return out.Ok() && name.Ok();
}

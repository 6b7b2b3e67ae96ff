#include "inventory_csv.h"

namespace {

const char* const kHeader[kRowFieldCount] = {"Computer", "File name", "Version stamp", "Date"};

bool AppendQuoted(TextBuffer& out, const char* text) {
    out.AppendChar('"');
    for (; *text; ++text) {
        if (*text == '"') out.AppendChar('"');
        out.AppendChar(*text);
    }
    return out.AppendChar('"');
}

bool AppendLine(TextBuffer& out, const char* const fields[kRowFieldCount]) {
    for (int field = 0; field < kRowFieldCount; ++field) {
        if (field) out.AppendChar(',');
        AppendQuoted(out, fields[field]);
    }
    return out.Append("\r\n", 2);
}

// One line's fields, unquoted, in a buffer of the line's own; `lengths` counts each field's bytes.
struct LineFields {
    TextBuffer text;
    size_t start[kRowFieldCount];
    size_t length[kRowFieldCount];
    int count = 0;
};

bool SameText(const char* bytes, size_t length, const char* text) {
    size_t i = 0;
    for (; i < length; ++i) {
        if (!text[i] || text[i] != bytes[i]) return false;
    }
    return text[i] == 0;
}

}   // namespace

bool AppendInventoryCsv(const RowList& rows, bool header, TextBuffer& out) {
    if (header) AppendLine(out, kHeader);
    for (size_t row = 0; row < rows.Count(); ++row) {
        const char* fields[kRowFieldCount];
        for (int field = 0; field < kRowFieldCount; ++field)
            fields[field] = rows.Field(row, static_cast<RowField>(field));
        AppendLine(out, fields);
    }
    return out.Ok();
}

bool ReadInventoryCsv(const char* bytes, size_t size, RowList& rows, CsvProblem& problem) {
    problem.line = 0;
    problem.what = nullptr;
    size_t at = 0;
    unsigned long line = 0;
    LineFields fields;
    auto refuse = [&](const char* what) {
        problem.line = line;
        problem.what = what;
        return false;
    };
    while (at < size || line == 0) {
        ++line;
        fields.text.Clear();
        fields.count = 0;
        // One line: fields separated by commas, up to CR LF, LF or the end of the file.
        bool lineEnded = false;
        while (!lineEnded) {
            if (fields.count == kRowFieldCount) return refuse("the line has more than four fields");
            size_t fieldStart = fields.text.size();
            if (at < size && bytes[at] == '"') {
                ++at;
                for (;;) {
                    if (at >= size) return refuse("a quote is not closed");
                    char c = bytes[at++];
                    if (c == '\0') return refuse("the line holds a NUL byte");
                    if (c == '"') {
                        if (at < size && bytes[at] == '"') {
                            fields.text.AppendChar('"');
                            ++at;
                            continue;
                        }
                        break;
                    }
                    fields.text.AppendChar(c);
                }
            } else {
                while (at < size && bytes[at] != ',' && bytes[at] != '\r' && bytes[at] != '\n') {
                    char c = bytes[at++];
                    if (c == '"') return refuse("a field holds a quote without being quoted");
                    if (c == '\0') return refuse("the line holds a NUL byte");
                    fields.text.AppendChar(c);
                }
            }
            fields.start[fields.count] = fieldStart;
            fields.length[fields.count] = fields.text.size() - fieldStart;
            ++fields.count;
            if (at >= size) {
                lineEnded = true;
            } else if (bytes[at] == ',') {
                ++at;
            } else if (bytes[at] == '\n') {
                ++at;
                lineEnded = true;
            } else if (bytes[at] == '\r' && at + 1 < size && bytes[at + 1] == '\n') {
                at += 2;
                lineEnded = true;
            } else if (bytes[at] == '\r') {
                return refuse("a line ends in CR without LF");
            } else {
                return refuse("a quoted field has text after its closing quote");
            }
        }
        if (!fields.text.Ok()) return refuse("not enough memory to read the line");
        if (fields.count < kRowFieldCount) {
            if (line == 1)
                return refuse("the first line is not the header \"Computer\",\"File name\",\"Version stamp\",\"Date\"");
            return refuse("the line has fewer than four fields");
        }
        const char* text = fields.text.data();
        if (line == 1) {
            for (int field = 0; field < kRowFieldCount; ++field) {
                if (!SameText(text + fields.start[field], fields.length[field], kHeader[field]))
                    return refuse(
                        "the first line is not the header \"Computer\",\"File name\",\"Version stamp\",\"Date\"");
            }
            continue;
        }
        const char* row[kRowFieldCount];
        for (int field = 0; field < kRowFieldCount; ++field) row[field] = text + fields.start[field];
        if (!rows.Add(row, fields.length)) return refuse("not enough memory to keep the rows");
    }
    return true;
}

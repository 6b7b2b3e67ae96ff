// The console program's CSV: the header line "Computer","File name","Version stamp","Date", then
// one line per row; every field quoted, a quote inside a field doubled; lines end in CR LF, as
// batch files and the MS-DOS prompt of Windows 95/98 expect. Free of the platform: the reader
// takes the file's bytes and gives rows or the line that is wrong, so it also runs natively under
// the sanitizers and the fuzz driver.
#pragma once
#include <stddef.h>

#include "inventory_rows.h"
#include "text_buffer.h"

// Appends the rows as CSV, with the header line unless `header` is false.
bool AppendInventoryCsv(const RowList& rows, bool header, TextBuffer& out);

struct CsvProblem {
    unsigned long line;   // 1 for the header line
    const char* what;     // a sentence without the file name or line, e.g. "a quote is not closed"
};

// Reads a whole file as this program's CSV (with its header) and adds its rows. Accepts what
// AppendInventoryCsv writes, lines ending in LF alone too, and fields without quotes that hold no
// quote, comma or line end. Refuses, with the line and what is wrong: a header that is not the
// program's, a quote not closed or text after a closing quote, a line with fewer or more than four
// fields, a NUL byte. On a refusal the rows of the lines before stay added: callers that must
// not use part of a file read into a list of their own.
bool ReadInventoryCsv(const char* bytes, size_t size, RowList& rows, CsvProblem& problem);

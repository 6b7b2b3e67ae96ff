// The console program's table and list of one machine's rows, laid out as text with CR LF line
// ends. Free of the platform. The CSV is inventory_csv.h's.
#pragma once
#include "inventory_rows.h"
#include "text_buffer.h"

// Columns "File name", "Version stamp" and "Date", each as wide as its widest entry, two blanks
// apart, the header (unless `header` is false) underlined with dashes.
bool AppendInventoryTable(const RowList& rows, bool header, TextBuffer& out);
// One block per row, "File name:", "Version stamp:" and "Date:" lines, a blank line after each.
bool AppendInventoryList(const RowList& rows, TextBuffer& out);

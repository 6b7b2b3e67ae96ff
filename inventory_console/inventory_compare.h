// What changed on one machine between an earlier inventory and the one now. Free of the platform.
//
// Files pair up by name (without regard to case) and, for two files of one name, by their order:
// the first of a name in the earlier rows with the first of it now, and so on. The computer column
// is not compared. One line per file that changed, CR LF at its end:
//
//   changed  NAME  OLD-STAMP  OLD-DATE -> NEW-STAMP  NEW-DATE     (stamp or date or both differ)
//   added    NAME  STAMP  DATE                                    (now, not before)
//   removed  NAME  STAMP  DATE                                    (before, not now)
//
// The word is padded to eight characters and the parts are two blanks apart. The "changed" and
// "added" lines come in the order of the rows now, then the "removed" lines in the earlier order.
#pragma once
#include <stddef.h>

#include "inventory_rows.h"
#include "text_buffer.h"

// Appends the lines and gives their number through *changes; false when memory ran out.
bool CompareInventories(const RowList& earlier, const RowList& now, TextBuffer& out, size_t* changes);

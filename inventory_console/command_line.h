// BRANLIST.EXE's command line, taken apart. Free of the platform.
#pragma once
#include <stddef.h>

#include "text_buffer.h"

enum class OutputFormat { kTable, kList, kCsv, kHtml };

struct CommandOptions {
    OutputFormat format = OutputFormat::kTable;
    bool formatGiven = false;
    bool noHeader = false;
    bool help = false;
    const char* outPath = nullptr;       // /OUT
    const char* comparePath = nullptr;   // /COMPARE
    const char* mergeFolder = nullptr;   // /MERGE
};

// Splits a command line as batch files and the MS-DOS prompt give it: words apart by blanks or
// TABs; a double quote begins or ends a part in which blanks belong to the word and is not kept
// itself; backslashes are kept as they are (so "\\SERVER\INVENTORY\" ends in a backslash). The
// first word, the program, is skipped. The words go into `words` one after another, each ending
// in a NUL; *count says how many.
bool SplitCommandLine(const char* line, TextBuffer& words, size_t* count);

// Reads the options from `count` NUL-ended words one after another. False with *problem set
// (a sentence) on bad usage. Options begin with '/' or '-' and compare without regard to case.
bool ParseCommandOptions(const char* words, size_t count, CommandOptions& options, const char** problem);

// The usage text that /? prints, lines ending in CR LF.
const char* UsageText();

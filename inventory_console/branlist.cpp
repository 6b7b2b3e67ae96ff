// BRANLIST.EXE: the administrator's console program. It lists this computer's driver files in
// use through the Brantovix.Drivers.1 component (early-bound, through IOrvService's vtable),
// writes them as a table, a list or CSV to the console or a file, compares them with an earlier
// CSV, and merges the CSV files of a fleet into one report.
//
// A program for Windows 95 as first shipped: it links no C runtime (Windows 95 has no
// msvcrt.dll), so this file has the entry point itself, mainCRTStartup, which takes the command
// line from GetCommandLineA and ends the process with ExitProcess. The laying out of text, the
// CSV reader and writer, the comparison and the fleet report are free of the platform (the other
// files of this folder); here are the calls to the platform.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "command_line.h"
#include "drivers_client.h"
#include "fleet_report.h"
#include "inventory_compare.h"
#include "inventory_csv.h"
#include "inventory_report.h"
#include "inventory_rows.h"
#include "owned_array.h"
#include "owner.h"
#include "text_buffer.h"

namespace {

enum ExitStatus : UINT {
    kDone = 0,
    kChangesFound = 1,
    kBadUsageOrInput = 2,
    kComponentUnavailable = 3,
    kOutputNotWritten = 4,
};

size_t Length(const char* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return count;
}

void WriteTo(DWORD which, const char* bytes, size_t size) {
    HANDLE handle = GetStdHandle(which);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
    while (size > 0) {
        DWORD written = 0;
        DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return;
        bytes += written;
        size -= written;
    }
}

void Print(const TextBuffer& text) {
    WriteTo(STD_OUTPUT_HANDLE, text.data(), text.size());
}

void PrintError(const TextBuffer& text) {
    WriteTo(STD_ERROR_HANDLE, text.data(), text.size());
}

void PrintError(const char* text) {
    WriteTo(STD_ERROR_HANDLE, text, Length(text));
}

void AppendHex(TextBuffer& out, DWORD value) {
    const char kDigits[] = "0123456789ABCDEF";
    out.Append("0x");
    for (int shift = 28; shift >= 0; shift -= 4) out.AppendChar(kDigits[(value >> shift) & 0xF]);
}

// The system's text for an error code or an HRESULT, without its line end; nothing when the
// system has none.
void AppendSystemText(TextBuffer& out, DWORD code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
    out.Append(text, length);
}

// "0x80070005: Access is denied."
void AppendCode(TextBuffer& out, DWORD code) {
    AppendHex(out, code);
    TextBuffer text;
    AppendSystemText(text, code);
    if (text.size() > 0) {
        out.Append(": ");
        out.Append(text.data(), text.size());
    }
}

// ---------------------------------------------------------------------------------------------
// The inventory, from the component.

// The computer's name as the system keeps it (Windows 95/98 have no COMPUTERNAME variable).
bool ComputerName(char* name, DWORD size) {
    DWORD length = size;
    if (!GetComputerNameA(name, &length)) return false;
    return name[0] != 0;
}

void ReportComponentFailure(HRESULT result, bool notRegistered) {
    TextBuffer message;
    if (notRegistered) {
        message.Append("BRANLIST: the component Brantovix.Drivers.1 is not registered (");
        AppendCode(message, static_cast<DWORD>(result));
        message.Append(").\r\nRegister it with: regsvr32 Brantovix.dll\r\n");
    } else {
        message.Append("BRANLIST: creating Brantovix.Drivers.1 failed (");
        AppendCode(message, static_cast<DWORD>(result));
        message.Append(").\r\n");
    }
    PrintError(message);
}

// Appends a BSTR as ANSI text with its NUL.
bool AppendAnsi(TextBuffer& pool, BSTR text) {
    int wideLength = text ? static_cast<int>(SysStringLen(text)) : 0;
    if (wideLength > 0) {
        int length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
        char* to = length > 0 ? pool.Reserve(static_cast<size_t>(length)) : nullptr;
        if (!to) return false;
        if (WideCharToMultiByte(CP_ACP, 0, text, wideLength, to, length, nullptr, nullptr) != length) return false;
        pool.Commit(static_cast<size_t>(length));
    }
    return pool.AppendChar('\0');
}

// Creates the Drivers object (which runs the inventory) and reads its list as rows. On failure
// it has said why and gives the exit status through *status.
bool ReadInventory(RowList& rows, UINT* status) {
    *status = kComponentUnavailable;
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
    if (!ComputerName(computer, sizeof(computer))) {
        PrintError("BRANLIST: the computer's name could not be read.\r\n");
        return false;
    }
    ComPointer<IOrvService> drivers;
    bool notRegistered = false;
    HRESULT result = CreateDriversObject(drivers.receive(), &notRegistered);
    if (FAILED(result)) {
        ReportComponentFailure(result, notRegistered);
        return false;
    }
    long size = 0;
    result = drivers.get()->GetDataListSize(&size);
    // A list of more than a million elements is no inventory (and its arrays' sizes would wrap).
    if (FAILED(result) || size < 0 || size > 0x100000) {
        ReportComponentFailure(FAILED(result) ? result : E_UNEXPECTED, false);
        return false;
    }
    // Names and values go into one pool; their places into two arrays, turned into pointers
    // once the pool no longer grows.
    size_t count = static_cast<size_t>(size);
    TextBuffer pool;
    OwnedArray<size_t> places(new size_t[2 * count + 1]);
    OwnedArray<const char*> texts(new const char*[2 * count + 1]);
    if (!places.get() || !texts.get()) {
        ReportComponentFailure(E_OUTOFMEMORY, false);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        Bstr name, value;
        result = drivers.get()->GetDataListName(static_cast<long>(i), name.receive());
        if (SUCCEEDED(result)) result = drivers.get()->GetDataListValueByIndex(static_cast<long>(i), value.receive());
        if (FAILED(result)) {
            ReportComponentFailure(result, false);
            return false;
        }
        places.get()[2 * i] = pool.size();
        AppendAnsi(pool, name.get());
        places.get()[2 * i + 1] = pool.size();
        if (!AppendAnsi(pool, value.get())) {
            ReportComponentFailure(E_OUTOFMEMORY, false);
            return false;
        }
    }
    for (size_t i = 0; i < 2 * count; ++i) texts.get()[i] = pool.data() + places.get()[i];
    // Element i's name is text 2i and its value text 2i + 1: the arrays step by two.
    OwnedArray<const char*> names(new const char*[count + 1]);
    OwnedArray<const char*> values(new const char*[count + 1]);
    if (!names.get() || !values.get()) {
        ReportComponentFailure(E_OUTOFMEMORY, false);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        names.get()[i] = texts.get()[2 * i];
        values.get()[i] = texts.get()[2 * i + 1];
    }
    const char* problem = nullptr;
    if (!RowsFromDataList(computer, names.get(), values.get(), count, rows, &problem)) {
        TextBuffer message;
        message.Append("BRANLIST: the Drivers list cannot be read: ");
        message.Append(problem);
        message.Append(".\r\n");
        PrintError(message);
        return false;
    }
    *status = kDone;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files.

// Reads a whole file; on failure `problem` holds the system's reason.
bool ReadWholeFile(const char* path, TextBuffer& bytes, TextBuffer& problem) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        AppendSystemText(problem, GetLastError());
        return false;
    }
    for (;;) {
        char* to = bytes.Reserve(0x8000);
        if (!to) {
            problem.Append("not enough memory to read it");
            return false;
        }
        DWORD read = 0;
        if (!ReadFile(file.get(), to, 0x8000, &read, nullptr)) {
            AppendSystemText(problem, GetLastError());
            return false;
        }
        if (read == 0) return true;
        bytes.Commit(read);
    }
}

// The folder part of a path, with its last separator, or "" for a bare name.
void AppendFolderOf(TextBuffer& out, const char* path) {
    size_t end = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') end = i + 1;
    }
    out.Append(path, end);
}

bool EndsInSeparator(const char* path) {
    size_t length = Length(path);
    return length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/');
}

bool IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != 0xFFFFFFFF && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const char* path) {
    return GetFileAttributesA(path) != 0xFFFFFFFF;
}

// MoveFileA, tried again for a while when it fails: a reader of the share may hold the file open
// for a moment, and Windows 95/98 move no file that is open.
bool MoveWithRetries(const char* from, const char* to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileA(from, to)) return true;
        if (attempt == 20) return false;
        Sleep(250);
    }
}

// Writes `bytes` to `target` so that a reader never sees part of the file.
//
// The bytes go to a new file of a temporary name (BRLxxxx.TMP) in the target's own folder, are
// flushed and the file closed; only then is the new file put in place. Windows 95/98 have no
// MoveFileEx and no other call that replaces a file in one step (MoveFileA fails when the target
// exists), so the replacement is two moves: the old file to a second temporary name beside it,
// then the new file to the target's name; then the old file is deleted. What a reader of the
// share sees at the target's name: the whole old file, then for the moment between the two moves
// no file at all (an open then fails with "file not found"), then the whole new file; never a
// part of either. The temporary files are named *.TMP, so a /MERGE of the folder, which reads
// *.CSV, never reads them.
//
// On any failure the temporary file is deleted and the old file is where it was (moved back if it
// had been moved aside): nothing is left behind. Only when the old file, once aside, cannot be
// deleted (a reader still has it open) does it stay, under its temporary name.
bool WriteFileInPlace(const char* target, const char* bytes, size_t size, TextBuffer& problem) {
    TextBuffer folder;
    AppendFolderOf(folder, target);
    if (folder.size() == 0) folder.Append(".");
    folder.AppendChar('\0');
    if (!folder.Ok()) {
        problem.Append("not enough memory");
        return false;
    }
    char temporary[MAX_PATH];
    if (!GetTempFileNameA(folder.data(), "BRL", 0, temporary)) {
        AppendSystemText(problem, GetLastError());
        return false;
    }
    bool written = false;
    {
        FileHandle file(
            CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            written = true;
            while (written && size > 0) {
                DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
                DWORD done = 0;
                written = WriteFile(file.get(), bytes, chunk, &done, nullptr) && done == chunk;
                bytes += done;
                size -= done;
            }
            if (written) written = FlushFileBuffers(file.get()) != FALSE;
        }
        if (!written) AppendSystemText(problem, GetLastError());
    }   // closed here, before any move
    if (!written) {
        DeleteFileA(temporary);
        return false;
    }
    if (!Exists(target)) {
        if (MoveWithRetries(temporary, target)) return true;
        AppendSystemText(problem, GetLastError());
        DeleteFileA(temporary);
        return false;
    }
    char aside[MAX_PATH];
    if (!GetTempFileNameA(folder.data(), "BRL", 0, aside)) {
        AppendSystemText(problem, GetLastError());
        DeleteFileA(temporary);
        return false;
    }
    DeleteFileA(aside);   // the call made the file; the move needs the name free
    if (!MoveWithRetries(target, aside)) {
        AppendSystemText(problem, GetLastError());
        DeleteFileA(temporary);
        return false;
    }
    if (!MoveWithRetries(temporary, target)) {
        AppendSystemText(problem, GetLastError());
        MoveWithRetries(aside, target);
        DeleteFileA(temporary);
        return false;
    }
    for (int attempt = 0; !DeleteFileA(aside) && attempt < 20; ++attempt) Sleep(250);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The commands.

// The file /OUT writes and /COMPARE reads: the path itself, or, for a folder (a path ending in a
// backslash, or one that names a folder), the file COMPUTERNAME.CSV in it.
bool MachineFilePath(const char* outPath, TextBuffer& target) {
    target.Append(outPath);
    if (EndsInSeparator(outPath) || IsFolder(outPath)) {
        char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
        if (!ComputerName(computer, sizeof(computer))) {
            PrintError("BRANLIST: the computer's name could not be read.\r\n");
            return false;
        }
        if (!EndsInSeparator(outPath)) target.AppendChar('\\');
        target.Append(computer);
        target.Append(".CSV");
    }
    target.AppendChar('\0');
    return target.Ok();
}

UINT WriteOutput(const CommandOptions& options, const TextBuffer& text) {
    if (!options.outPath) {
        Print(text);
        return kDone;
    }
    TextBuffer target, problem;
    if (!MachineFilePath(options.outPath, target)) return kOutputNotWritten;
    if (WriteFileInPlace(target.data(), text.data(), text.size(), problem)) return kDone;
    TextBuffer message;
    message.Append("BRANLIST: ");
    message.Append(target.data());
    message.Append(" could not be written: ");
    message.Append(problem.data(), problem.size());
    message.Append("\r\nNothing was written.\r\n");
    PrintError(message);
    return kOutputNotWritten;
}

// "BRANLIST: FILE line N: WHAT"
void ReportBadFile(const char* path, unsigned long line, const char* what) {
    TextBuffer message;
    message.Append("BRANLIST: ");
    message.Append(path);
    if (line > 0) {
        message.Append(" line ");
        message.AppendNumber(line);
    }
    message.Append(": ");
    message.Append(what);
    message.Append("\r\n");
    PrintError(message);
}

// Reads one of this program's CSV files into `rows`; false when it is not one (said).
bool ReadCsvFile(const char* path, RowList& rows) {
    TextBuffer bytes, problem;
    if (!ReadWholeFile(path, bytes, problem)) {
        problem.AppendChar('\0');
        ReportBadFile(path, 0, problem.Ok() ? problem.data() : "cannot be read");
        return false;
    }
    CsvProblem csvProblem;
    if (!ReadInventoryCsv(bytes.data(), bytes.size(), rows, csvProblem)) {
        ReportBadFile(path, csvProblem.line, csvProblem.what);
        return false;
    }
    return true;
}

UINT ListOrCompare(const CommandOptions& options) {
    // The earlier file first: a file that is not this program's CSV is reported before the
    // inventory runs, and nothing is compared.
    RowList earlier;
    if (options.comparePath) {
        TextBuffer earlierPath;   // a folder: this computer's file in it, as /OUT FOLDER\ wrote it
        if (!MachineFilePath(options.comparePath, earlierPath)) return kBadUsageOrInput;
        if (!ReadCsvFile(earlierPath.data(), earlier)) return kBadUsageOrInput;
    }

    UINT status = kDone;
    if (FAILED(CoInitialize(nullptr))) {
        PrintError("BRANLIST: COM could not be initialised.\r\n");
        return kComponentUnavailable;
    }
    RowList rows;
    bool read = ReadInventory(rows, &status);
    CoUninitialize();
    if (!read) return status;

    if (options.comparePath) {
        TextBuffer lines;
        size_t changes = 0;
        if (!CompareInventories(earlier, rows, lines, &changes)) {
            PrintError("BRANLIST: not enough memory to compare.\r\n");
            return kBadUsageOrInput;
        }
        Print(lines);
        status = changes ? kChangesFound : kDone;
        if (!options.outPath) return status;
    }

    // With /OUT and no /FO the file is CSV: what /COMPARE and /MERGE read back.
    OutputFormat format = options.formatGiven || !options.outPath ? options.format : OutputFormat::kCsv;
    TextBuffer text;
    bool laidOut = format == OutputFormat::kList  ? AppendInventoryList(rows, text)
                   : format == OutputFormat::kCsv ? AppendInventoryCsv(rows, !options.noHeader, text)
                                                  : AppendInventoryTable(rows, !options.noHeader, text);
    if (!laidOut) {
        PrintError("BRANLIST: not enough memory for the output.\r\n");
        return kOutputNotWritten;
    }
    UINT written = WriteOutput(options, text);
    return written != kDone ? written : status;
}

UINT Merge(const CommandOptions& options) {
    // Every *.CSV of the folder, in the order of their names (the directory search gives its own).
    TextBuffer pattern;
    pattern.Append(options.mergeFolder);
    if (!EndsInSeparator(options.mergeFolder)) pattern.AppendChar('\\');
    size_t folderLength = pattern.size();
    pattern.Append("*.CSV");
    pattern.AppendChar('\0');
    TextBuffer names;   // the file names, each with its NUL
    size_t fileCount = 0;
    WIN32_FIND_DATAA found;
    {
        FindHandle search(FindFirstFileA(pattern.data(), &found));
        if (!search.valid()) {
            DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
                TextBuffer message;
                message.Append("BRANLIST: the folder ");
                message.Append(options.mergeFolder);
                message.Append(" cannot be read: ");
                AppendSystemText(message, error);
                message.Append("\r\n");
                PrintError(message);
                return kBadUsageOrInput;
            }
        } else {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                names.Append(found.cFileName);
                names.AppendChar('\0');
                ++fileCount;
            } while (FindNextFileA(search.get(), &found));
        }
    }
    OwnedArray<const char*> files(new const char*[fileCount + 1]);
    if (!names.Ok() || !files.get()) {
        PrintError("BRANLIST: not enough memory.\r\n");
        return kBadUsageOrInput;
    }
    const char* name = names.data();
    for (size_t i = 0; i < fileCount; ++i) {
        files.get()[i] = name;
        name += Length(name) + 1;
    }
    for (size_t i = 1; i < fileCount; ++i) {   // insertion sort: a folder of some hundred files
        const char* file = files.get()[i];
        size_t j = i;
        for (; j > 0 && CompareNoCase(files.get()[j - 1], file) > 0; --j) files.get()[j] = files.get()[j - 1];
        files.get()[j] = file;
    }

    RowList all;
    size_t badFiles = 0, goodFiles = 0;
    for (size_t i = 0; i < fileCount; ++i) {
        TextBuffer path;
        path.Append(pattern.data(), folderLength);
        path.Append(files.get()[i]);
        path.AppendChar('\0');
        RowList rows;
        if (!path.Ok() || !ReadCsvFile(path.data(), rows)) {
            ++badFiles;
            continue;
        }
        if (!all.AddAll(rows)) {
            PrintError("BRANLIST: not enough memory.\r\n");
            return kBadUsageOrInput;
        }
        ++goodFiles;
    }

    FleetReport report;
    TextBuffer summary;
    if (!report.Build(all) || !report.AppendSummary(summary)) {
        PrintError("BRANLIST: not enough memory for the report.\r\n");
        return kBadUsageOrInput;
    }
    TextBuffer heading;
    heading.AppendNumber(goodFiles);
    heading.Append(goodFiles == 1 ? " file merged" : " files merged");
    if (badFiles) {
        heading.Append(", ");
        heading.AppendNumber(badFiles);
        heading.Append(" left out: not this program's CSV");
    }
    heading.Append("\r\n");
    Print(heading);
    Print(summary);

    UINT status = badFiles ? kBadUsageOrInput : kDone;
    if (!options.outPath) return status;
    TextBuffer text;
    bool laidOut = options.format == OutputFormat::kHtml ? report.AppendHtmlPage(text)
                                                         : AppendInventoryCsv(all, !options.noHeader, text);
    if (!laidOut) {
        PrintError("BRANLIST: not enough memory for the output.\r\n");
        return kOutputNotWritten;
    }
    UINT written = WriteOutput(options, text);
    return written != kDone ? written : status;
}

UINT Run() {
    TextBuffer words;
    size_t count = 0;
    if (!SplitCommandLine(GetCommandLineA(), words, &count)) {
        PrintError("BRANLIST: not enough memory.\r\n");
        return kBadUsageOrInput;
    }
    CommandOptions options;
    const char* problem = nullptr;
    if (!ParseCommandOptions(words.data(), count, options, &problem)) {
        TextBuffer message;
        message.Append("BRANLIST: ");
        message.Append(problem);
        message.Append("\r\n\r\n");
        message.Append(UsageText());
        PrintError(message);
        return kBadUsageOrInput;
    }
    if (options.help) {
        TextBuffer usage;
        usage.Append(UsageText());
        Print(usage);
        return kDone;
    }
    return options.mergeFolder ? Merge(options) : ListOrCompare(options);
}

}   // namespace

// The process's entry point (the linker's --entry): no C runtime start-up runs before it.
extern "C" void mainCRTStartup() {
    ExitProcess(Run());
}

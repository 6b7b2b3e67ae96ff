// The stamp reads, as one run takes them (row_stamps.h says what they promise):
//   1. StampRows looks every row up in the cache; the misses become pending reads, in row order.
//   2. StampReads::Run then reads them together, up to kFileStampReadAttempts times:
//      ReadStamps reads every pending file's stamp, with no handle of ours open;
//      TakeTimesAfter takes the time each file has after its read, and alone chooses how;
//      Settle lists and records every row whose times agree, and keeps the others for the next
//      read, from their new time.
// Each step marks the rows it has finished with and then drops them (DropFinished), keeping the
// others in row order, the order in which their cache entries are recorded.
#include "row_stamps.h"

#include <algorithm>

#include "owner.h"
#include "version_stamp.h"

namespace {

// A row whose stamp is read from its file in this run: the time the file had before the read,
// and the time it has after it once that is known.
struct PendingRead {
    DWORD row;
    FILETIME before;
    FILETIME after;
    bool afterKnown;
    bool finished;   // the run is done with the row: it leaves at the next DropFinished
};

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Byte order: names are compared as the scan wrote them (upper case), whatever the locale.
bool NameBefore(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

bool SameName(const char* a, const char* b) {
    return !NameBefore(a, b) && !NameBefore(b, a);
}

// The length of the directory part of a row's full path ("<directory>\<file name>", as the scan
// writes it), or -1 when the path does not end in "\" and the row's file name.
int DirectoryLength(const DriverItem& item) {
    const int length = lstrlenA(item.fullPath) - lstrlenA(item.fileName) - 1;
    if (length <= 0 || item.fullPath[length] != '\\' || !SameName(item.fullPath + length + 1, item.fileName)) {
        return -1;
    }
    return length;
}

bool SameDirectory(const DriverItem& a, const DriverItem& b) {
    const int length = DirectoryLength(a);
    return length >= 0 && length == DirectoryLength(b) && std::equal(a.fullPath, a.fullPath + length, b.fullPath);
}

class StampReads {
public:
    StampReads(DriverTable& table, VersionCache& cache, PendingRead* pending, DWORD count)
        : table_(table), cache_(cache), pending_(pending), end_(pending + count) {}

    void Run() {
        for (int attempt = 0; attempt < kFileStampReadAttempts && pending_ != end_; ++attempt) {
            ReadStamps();
            TakeTimesAfter();
            Settle();
        }
        // Changed during every read: what was read may belong to any of the file's states.
        for (PendingRead* read = pending_; read != end_; ++read) Unstamp(*read);
    }

private:
    DriverItem& Item(const PendingRead& read) { return table_.Row(read.row); }

    // The row leaves the run unstamped, and is not recorded: the next run reads it again.
    void Unstamp(PendingRead& read) {
        Item(read).versionStamp[0] = '\0';
        read.finished = true;
    }

    void DropFinished() {
        end_ = std::remove_if(pending_, end_, [](const PendingRead& read) { return read.finished; });
    }

    // Reads each pending row's stamp. A file without a version is told from one that cannot be
    // opened (the version functions say "not found" for both) by a short open, which also gives
    // its time after the read.
    void ReadStamps() {
        for (PendingRead* read = pending_; read != end_; ++read) {
            DriverItem& item = Item(*read);
            read->afterKnown = false;
            switch (ReadVersionStamp(item.fullPath, item.versionStamp)) {
            case StampRead::kStamped:
                break;
            case StampRead::kNoVersion:
                read->afterKnown = LastWriteTimeNow(item.fullPath, &read->after);
                if (!read->afterKnown) Unstamp(*read);   // gone or denied
                break;
            case StampRead::kNoMemory:
                table_.MarkShortOfMemory();
                Unstamp(*read);
                break;
            case StampRead::kNotNow:
                Unstamp(*read);
                break;
            }
        }
        DropFinished();
    }

    // Gives every pending row its time after the read, directory by directory (the rows of one
    // directory are adjacent, as the scan added them): one more search of the directory where
    // more than kRowsWorthADirectorySearch rows still need a time, a short open of each file
    // elsewhere. A row whose file neither lists nor opens now is gone or denied.
    void TakeTimesAfter() {
        for (PendingRead* first = pending_; first != end_;) {
            const DriverItem& sample = Item(*first);
            PendingRead* const end = std::find_if(
                first + 1, end_, [&](const PendingRead& read) { return !SameDirectory(sample, Item(read)); });
            const DWORD unknown =
                static_cast<DWORD>(std::count_if(first, end, [](const PendingRead& read) { return !read.afterKnown; }));
            if (unknown > kRowsWorthADirectorySearch && DirectoryLength(sample) > 0) {
                SearchDirectory(first, end);
            } else {
                for (PendingRead* read = first; read != end; ++read) {
                    if (!read->afterKnown) read->afterKnown = LastWriteTimeNow(Item(*read).fullPath, &read->after);
                }
            }
            first = end;
        }
        for (PendingRead* read = pending_; read != end_; ++read) {
            if (!read->afterKnown) Unstamp(*read);
        }
        DropFinished();
    }

    // One search of the directory of [first, end), matching each file it lists to the rows by the
    // name the scan gave them: the rows sorted by name for the search, then back in row order.
    void SearchDirectory(PendingRead* first, PendingRead* end) {
        std::sort(first, end, [this](const PendingRead& a, const PendingRead& b) {
            return NameBefore(Item(a).fileName, Item(b).fileName);
        });
        const DriverItem& sample = Item(*first);
        char pattern[sizeof(DriverItem::fullPath) + 4];
        lstrcpynA(pattern, sample.fullPath, DirectoryLength(sample) + 1);
        lstrcatA(pattern, "\\*.*");
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA(pattern, &found));
        if (search) {
            do {
                char* name = found.cFileName;
                CharUpperBuffA(name, static_cast<DWORD>(lstrlenA(name)));
                PendingRead* read = std::lower_bound(
                    first, end, name,
                    [this](const PendingRead& a, const char* wanted) { return NameBefore(Item(a).fileName, wanted); });
                for (; read != end && SameName(Item(*read).fileName, name); ++read) {
                    if (read->afterKnown) continue;   // timed by its own open
                    read->after = found.ftLastWriteTime;
                    read->afterKnown = true;
                }
            } while (FindNextFileA(search.get(), &found));
        }
        std::sort(first, end, [](const PendingRead& a, const PendingRead& b) { return a.row < b.row; });
    }

    // A row whose times agree is done: listed with that time, and recorded with or without a
    // stamp (it is that of the content the time belongs to). One whose time changed is read
    // again from its new time.
    void Settle() {
        for (PendingRead* read = pending_; read != end_; ++read) {
            DriverItem& item = Item(*read);
            if (SameTime(read->before, read->after)) {
                // The file may have been replaced or given another time since the directory
                // search: the row takes the time its stamp was read at.
                item.lastWriteLow = read->after.dwLowDateTime;
                item.lastWriteHigh = read->after.dwHighDateTime;
                cache_.UpdateVersionCache(item);
                read->finished = true;
            } else {
                item.versionStamp[0] = '\0';
                read->before = read->after;
            }
        }
        DropFinished();
    }

    DriverTable& table_;
    VersionCache& cache_;
    PendingRead* const pending_;
    PendingRead* end_;   // the pending reads are [pending_, end_)
};

}   // namespace

DWORD StampRows(DriverTable& table, VersionCache& cache) {
    DWORD hits = 0;
    if (table.Count() == 0) return hits;
    HeapArray<PendingRead> pending(new PendingRead[table.Count()]);
    DWORD misses = 0;
    for (DWORD row = 0; row < table.Count(); ++row) {
        DriverItem& item = table.Row(row);
        if (cache.LookupVersionCache(item)) {
            ++hits;
            continue;
        }
        if (!pending.get()) {
            // Without room to read the misses they stay unstamped, and the table is not whole.
            table.MarkShortOfMemory();
            continue;
        }
        pending.get()[misses++] = {row, {item.lastWriteLow, item.lastWriteHigh}, {0, 0}, false, false};
    }
    if (misses > 0) StampReads(table, cache, pending.get(), misses).Run();
    return hits;
}

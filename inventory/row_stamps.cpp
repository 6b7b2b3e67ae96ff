#include "row_stamps.h"

#include <algorithm>

#include "owner.h"
#include "version_stamp.h"

namespace {

// A row whose stamp is being read from its file: the time the file had before the read, and the
// time it has after it once that is known.
struct PendingRead {
    DWORD row;
    FILETIME before;
    FILETIME after;
    bool afterKnown;
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
    if (length < 0 || length != DirectoryLength(b)) return false;
    for (int at = 0; at < length; ++at) {
        if (a.fullPath[at] != b.fullPath[at]) return false;
    }
    return true;
}

// The rows of one run's misses, read together: all their stamps first, then all their times.
class StampReads {
public:
    StampReads(DriverTable& table, VersionCache& cache, PendingRead* pending, DWORD count)
        : table_(table), cache_(cache), pending_(pending), count_(count) {}

    void Run() {
        for (int attempt = 0; attempt < kFileStampReadAttempts && count_ > 0; ++attempt) {
            ReadStamps();
            TakeTimesAfter();
            Settle();
        }
        // Changed during every read: what was read may belong to any of the file's states.
        for (DWORD at = 0; at < count_; ++at) Item(pending_[at]).versionStamp[0] = '\0';
    }

private:
    DriverItem& Item(const PendingRead& read) { return table_.Row(read.row); }

    // Reads each pending row's stamp; a row that cannot be read now leaves the run unstamped, and
    // so does one lost to memory, which marks the table. A file without a version is told from one
    // that cannot be opened by a short open, which also gives its time after the read.
    void ReadStamps() {
        DWORD kept = 0;
        for (DWORD at = 0; at < count_; ++at) {
            PendingRead read = pending_[at];
            DriverItem& item = Item(read);
            read.afterKnown = false;
            const int stamped = ReadVersionStamp(item.fullPath, item.versionStamp);
            if (stamped == kVersionStampNoMemory) table_.MarkShortOfMemory();
            if (stamped == 0) read.afterKnown = LastWriteTimeNow(item.fullPath, &read.after);
            if (stamped != 1 && !read.afterKnown) {
                item.versionStamp[0] = '\0';
                continue;
            }
            pending_[kept++] = read;
        }
        count_ = kept;
    }

    // Gives the rows whose stamp was read their time after the read: directory by directory,
    // one search of the directory for many rows, a short open each for a few. A row whose file
    // neither lists nor opens now is gone or denied, and leaves the run unstamped.
    void TakeTimesAfter() {
        DWORD first = 0;
        while (first < count_) {
            DWORD end = first + 1;
            while (end < count_ && SameDirectory(Item(pending_[first]), Item(pending_[end]))) ++end;
            DWORD unknown = 0;
            for (DWORD at = first; at < end; ++at) unknown += pending_[at].afterKnown ? 0 : 1;
            if (unknown > kRowsWorthADirectorySearch && DirectoryLength(Item(pending_[first])) > 0) {
                SearchDirectory(first, end);
            } else {
                for (DWORD at = first; at < end; ++at) {
                    PendingRead& read = pending_[at];
                    if (!read.afterKnown) read.afterKnown = LastWriteTimeNow(Item(read).fullPath, &read.after);
                }
            }
            first = end;
        }
        // Back in row order, for the cache entries recorded next.
        std::sort(pending_, pending_ + count_,
                  [](const PendingRead& a, const PendingRead& b) { return a.row < b.row; });
        DWORD kept = 0;
        for (DWORD at = 0; at < count_; ++at) {
            if (pending_[at].afterKnown) {
                pending_[kept++] = pending_[at];
            } else {
                Item(pending_[at]).versionStamp[0] = '\0';
            }
        }
        count_ = kept;
    }

    // One search of the directory of pending_[first, end) (all the same), matching each file it
    // lists to the rows by the name the scan gave them.
    void SearchDirectory(DWORD first, DWORD end) {
        auto byName = [this](const PendingRead& a, const PendingRead& b) {
            return NameBefore(Item(a).fileName, Item(b).fileName);
        };
        std::sort(pending_ + first, pending_ + end, byName);
        const DriverItem& sample = Item(pending_[first]);
        const int directoryLength = DirectoryLength(sample);
        char pattern[sizeof(DriverItem::fullPath) + 4];
        lstrcpynA(pattern, sample.fullPath, directoryLength + 1);
        lstrcatA(pattern, "\\*.*");
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA(pattern, &found));
        if (!search) return;
        do {
            char* name = found.cFileName;
            CharUpperBuffA(name, static_cast<DWORD>(lstrlenA(name)));
            PendingRead* read = std::lower_bound(
                pending_ + first, pending_ + end, name,
                [this](const PendingRead& a, const char* wanted) { return NameBefore(Item(a).fileName, wanted); });
            for (; read != pending_ + end && SameName(Item(*read).fileName, name); ++read) {
                if (read->afterKnown) continue;   // timed by its own open
                read->after = found.ftLastWriteTime;
                read->afterKnown = true;
            }
        } while (FindNextFileA(search.get(), &found));
    }

    // A row whose times agree is done: listed with that time, and recorded with or without a
    // stamp (it is that of the content the time belongs to). One whose time changed is read
    // again from its new time.
    void Settle() {
        DWORD kept = 0;
        for (DWORD at = 0; at < count_; ++at) {
            PendingRead& read = pending_[at];
            DriverItem& item = Item(read);
            if (SameTime(read.before, read.after)) {
                // The file may have been replaced or given another time since the directory
                // search: the row takes the time its stamp was read at.
                item.lastWriteLow = read.after.dwLowDateTime;
                item.lastWriteHigh = read.after.dwHighDateTime;
                cache_.UpdateVersionCache(item);
                continue;
            }
            item.versionStamp[0] = '\0';
            read.before = read.after;
            pending_[kept++] = read;
        }
        count_ = kept;
    }

    DriverTable& table_;
    VersionCache& cache_;
    PendingRead* pending_;
    DWORD count_;
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
        PendingRead& read = pending.get()[misses++];
        read.row = row;
        read.before = {item.lastWriteLow, item.lastWriteHigh};
        read.afterKnown = false;
    }
    if (misses > 0) StampReads(table, cache, pending.get(), misses).Run();
    return hits;
}

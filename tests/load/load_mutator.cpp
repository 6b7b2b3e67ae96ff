// The mutator of the concurrent load test: while the creators create objects, it changes the
// machine under them, one change at a time, and records every state it gave a file.
//
//   load_mutator.exe READY_EVENT START_EVENT STOP_EVENT SEQUENCE_MAPPING LOG_FILE SEED MAX_CHANGES PAUSE_MS
//
// It signals READY_EVENT, waits for START_EVENT, then makes changes until STOP_EVENT is set or
// MAX_CHANGES are made, pausing PAUSE_MS after each. Before change n it publishes n in the
// shared counter SEQUENCE_MAPPING, so a creator that read the counter before and after its
// creation knows which changes it may have met. At the end it writes one line per change to
// LOG_FILE (format in load_machine.h). The files start as the test placed them: every file of
// kFiles present at version 0 with the time of change 0.
//
// Changes of a driver file (never of a stable one):
//   replace   a new version with its own time, written beside it and moved over it in one step
//             (into place when the file is absent: a re-creation); the platform opens the file
//             for itself to replace it, and for that moment no one else can open it
//   touch     the same content, a new time of the same day (attributes only)
//   delete    the file goes (the platform, too, opens it for itself first)
//   rewrite   a new version written into the file itself, in two pieces, its time set before
//             the file is closed, as a copying installer does; while it is open for writing no
//             one can read it
// Changes of the version cache value "DDB": cut short, garbage, an intact image with garbage
// after it, deleted (the value or the whole key), an older intact image put back, the value
// written with another type.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "driver_machine.h"
#include "load_machine.h"

namespace {

using load::Change;
using load::FileState;
using load::kFileCount;
using load::kFiles;
using Bytes = std::vector<uint8_t>;

const DWORD kStartTimeoutMs = 120000;
const size_t kKeptImages = 8;

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed ? seed : 1) {}
    uint32_t Next() {   // xorshift32
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t Below(uint32_t bound) { return bound ? Next() % bound : 0; }

private:
    uint32_t state_;
};

FileState Present(int file, int version, const FILETIME& time) {
    FileState state;
    state.kind = FileState::kPresent;
    state.stamp = load::StampOf(file, version);
    state.date = load::DateOf(file, version);
    state.time = time;
    return state;
}

FileState Marked(FileState::Kind kind) {
    FileState state;
    state.kind = kind;
    return state;
}

bool WriteNewFile(const std::string& path, const Bytes& bytes, const FILETIME& time) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    done = SetFileTime(file, nullptr, nullptr, &time) && done;
    return CloseHandle(file) && done;
}

class Mutator {
public:
    Mutator(uint32_t seed, volatile LONG* sequence)
        : random_(seed),
          sequence_(sequence),
          directory_(driver_fixtures::GetDriverDirectories().ioSubSys),
          temporary_(directory_ + "\\~LDTEMP.TMP"),
          version_(kFileCount, 0),
          present_(kFileCount, true) {
        for (int f = 0; f < kFileCount; ++f) time_.push_back(load::TimeOf(f, 0, 0));
    }

    void Run(HANDLE stop, uint32_t maxChanges, DWORD pauseMs) {
        for (uint32_t n = 1; n <= maxChanges && n <= load::kMaxChanges; ++n) {
            if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) break;
            InterlockedExchange(const_cast<LONG*>(sequence_), static_cast<LONG>(n));
            Change change;
            change.sequence = n;
            if (random_.Below(10) < 7) {
                ChangeFile(&change);
            } else {
                ChangeCache(&change);
            }
            changes_.push_back(change);
            if (pauseMs) Sleep(pauseMs);
        }
        DeleteFileA(temporary_.c_str());
    }

    const std::vector<Change>& changes() const { return changes_; }

private:
    std::string PathOf(int file) const { return directory_ + "\\" + kFiles[file].name; }

    int OtherVersion(int file) {
        return (version_[file] + 1 + static_cast<int>(random_.Below(load::kVersions - 1))) % load::kVersions;
    }

    void ChangeFile(Change* change) {
        int file;
        do {
            file = static_cast<int>(random_.Below(kFileCount));
        } while (!kFiles[file].mutated);
        change->file = file;
        const uint32_t kind = random_.Below(10);
        if (!present_[file] || kind < 4) {
            Replace(file, change);
        } else if (kind < 6) {
            Touch(file, change);
        } else if (kind < 7) {
            Delete(file, change);
        } else {
            Rewrite(file, change);
        }
    }

    void Settle(int file, int version, Change* change) {
        change->done = true;
        const FileState& last = change->states.back();
        present_[file] = last.kind == FileState::kPresent;
        version_[file] = version;
        if (present_[file]) time_[file] = last.time;
    }

    // A change the platform refused leaves the file as it was, after any moment in which it
    // could not be opened.
    void Refused(int file, Change* change) {
        if (change->states.empty()) return;
        change->states.push_back(present_[file] ? Present(file, version_[file], time_[file])
                                                : Marked(FileState::kAbsent));
    }

    void Replace(int file, Change* change) {
        const int version = present_[file] ? OtherVersion(file) : static_cast<int>(random_.Below(load::kVersions));
        const FILETIME time = load::TimeOf(file, version, change->sequence);
        change->kind = present_[file] ? "replace" : "recreate";
        if (!WriteNewFile(temporary_, load::ImageOf(file, version), time)) {
            DeleteFileA(temporary_.c_str());
            return;
        }
        // To replace a file the platform first opens it for itself, and no one else can open it
        // for that moment; it refuses while a reader holds the file open without letting it go.
        const bool moved = MoveFileExA(temporary_.c_str(), PathOf(file).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        if (present_[file]) change->states.push_back(Marked(FileState::kUnreadable));
        if (!moved) {
            DeleteFileA(temporary_.c_str());
            Refused(file, change);
            return;
        }
        change->states.push_back(Present(file, version, time));
        Settle(file, version, change);
    }

    void Touch(int file, Change* change) {
        change->kind = "touch";
        const FILETIME time = load::TimeOf(file, version_[file], change->sequence);
        HANDLE handle = CreateFileA(PathOf(file).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return;
        const bool done = SetFileTime(handle, nullptr, nullptr, &time) != FALSE;
        CloseHandle(handle);
        if (!done) return;
        change->states.push_back(Present(file, version_[file], time));
        Settle(file, version_[file], change);
    }

    void Delete(int file, Change* change) {
        change->kind = "delete";
        // As with a replacement, the platform opens the file for itself first.
        const bool deleted = DeleteFileA(PathOf(file).c_str()) != FALSE;
        change->states.push_back(Marked(FileState::kUnreadable));
        if (!deleted) {
            Refused(file, change);
            return;
        }
        change->states.push_back(Marked(FileState::kAbsent));
        Settle(file, version_[file], change);
    }

    void Rewrite(int file, Change* change) {
        const int version = OtherVersion(file);
        const FILETIME time = load::TimeOf(file, version, change->sequence);
        const Bytes bytes = load::ImageOf(file, version);
        change->kind = "rewrite";
        HANDLE handle = CreateFileA(PathOf(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return;
        // From here the old content is gone; until the close, readers find the file open for
        // writing. Should a write fail, the file stays as it is left: its states say so.
        change->states.push_back(Marked(FileState::kUnreadable));
        const DWORD half = static_cast<DWORD>(bytes.size() / 2);
        DWORD written = 0;
        bool whole = WriteFile(handle, bytes.data(), half, &written, nullptr) && written == half;
        Sleep(1);
        whole = whole &&
                WriteFile(handle, bytes.data() + half, static_cast<DWORD>(bytes.size()) - half, &written, nullptr) &&
                written == bytes.size() - half;
        whole = whole && SetFileTime(handle, nullptr, nullptr, &time);
        Sleep(1);
        CloseHandle(handle);
        if (whole) {
            change->states.push_back(Present(file, version, time));
        } else {
            // Cannot happen on a sound disk; a partial file is one no state here describes.
            change->kind = "rewrite-failed";
        }
        Settle(file, version, change);
    }

    void ChangeCache(Change* change) {
        Bytes image;
        DWORD type = 0;
        const bool exists = driver_fixtures::ReadCacheValue("DDB", &image, &type);
        std::vector<load::CacheEntry> entries;
        if (exists && type == REG_BINARY && !image.empty() && load::ParseCacheImage(image, &entries)) {
            if (kept_.size() == kKeptImages) kept_.erase(kept_.begin() + static_cast<long>(random_.Below(kKeptImages)));
            kept_.push_back(image);
        }
        switch (random_.Below(7)) {
        case 0:
            change->kind = "cut";
            if (!image.empty()) image.resize(random_.Below(static_cast<uint32_t>(image.size())));
            change->done = driver_fixtures::WriteCacheValue("DDB", REG_BINARY, image);
            break;
        case 1:
            change->kind = "garbage";
            image = Garbage(1 + random_.Below(2048));
            change->done = driver_fixtures::WriteCacheValue("DDB", REG_BINARY, image);
            break;
        case 2: {
            change->kind = "garbage-after";
            const Bytes tail = Garbage(1 + random_.Below(64));
            image.insert(image.end(), tail.begin(), tail.end());
            change->done = driver_fixtures::WriteCacheValue("DDB", REG_BINARY, image);
            break;
        }
        case 3:
            change->kind = "delete-value";
            change->done = DeleteValue();
            break;
        case 4:
            change->kind = "delete-key";
            driver_fixtures::DeleteCacheKey();
            change->done = !driver_fixtures::CacheKeyExists();
            break;
        case 5:
            change->kind = "older-image";
            if (kept_.empty()) break;
            change->done = driver_fixtures::WriteCacheValue("DDB", REG_BINARY,
                                                            kept_[random_.Below(static_cast<uint32_t>(kept_.size()))]);
            break;
        default: {
            static const DWORD kTypes[] = {REG_SZ, REG_DWORD, REG_MULTI_SZ, REG_NONE};
            change->kind = "retype";
            const DWORD other = kTypes[random_.Below(4)];
            if (other == REG_DWORD) image.resize(4, 0);
            change->done = driver_fixtures::WriteCacheValue("DDB", other, image);
            break;
        }
        }
    }

    Bytes Garbage(uint32_t size) {
        Bytes bytes(size);
        for (uint8_t& byte : bytes) {
            // Zero bytes often, so that the garbage has the look of entries.
            byte = random_.Below(4) == 0 ? 0 : static_cast<uint8_t>(random_.Next());
        }
        return bytes;
    }

    static bool DeleteValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, driver_fixtures::kCacheKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            return false;
        }
        const bool done = RegDeleteValueA(key, "DDB") == ERROR_SUCCESS;
        RegCloseKey(key);
        return done;
    }

    Random random_;
    volatile LONG* sequence_;
    const std::string directory_, temporary_;
    std::vector<int> version_;
    std::vector<bool> present_;
    std::vector<FILETIME> time_;
    std::vector<Bytes> kept_;   // intact images seen, to put back later
    std::vector<Change> changes_;
};

}   // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        fprintf(stderr,
                "usage: load_mutator READY_EVENT START_EVENT STOP_EVENT SEQUENCE_MAPPING LOG_FILE SEED "
                "MAX_CHANGES PAUSE_MS\n");
        return 2;
    }
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, argv[4]);
    volatile LONG* sequence =
        mapping ? static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG))) : nullptr;
    if (!ready || !start || !stop || !sequence) {
        fprintf(stderr, "load_mutator: cannot set up (error %lu)\n", GetLastError());
        return 3;
    }
    const uint32_t seed = static_cast<uint32_t>(strtoul(argv[6], nullptr, 10));
    Mutator mutator(seed, sequence);
    SetEvent(ready);
    if (WaitForSingleObject(start, kStartTimeoutMs) != WAIT_OBJECT_0) return 4;
    mutator.Run(stop, static_cast<uint32_t>(strtoul(argv[7], nullptr, 10)),
                static_cast<DWORD>(strtoul(argv[8], nullptr, 10)));

    FILE* log = fopen(argv[5], "wb");
    if (!log) return 5;
    for (const Change& change : mutator.changes()) fprintf(log, "%s\n", load::FormatChange(change).c_str());
    fclose(log);
    return 0;
}

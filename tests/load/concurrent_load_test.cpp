// Many programs creating Drivers objects while the machine changes under them. Several creator
// processes (creation_client.exe) each create objects in a loop, while a mutator process
// (load_mutator.exe) replaces, touches, deletes and rewrites driver files and damages, deletes
// and puts back the version cache value.
//
// A list is judged file by file against the mutator's record. Each creator reads the mutator's
// change counter before and after each creation; the file can only have been in the state it
// had before the first of those changes or in a state one of them passed through. So:
//   - the list is made of whole rows (a name element, its "DATE-" element beside it), and the
//     machine's own rows (the files in use that this test does not touch) come first, as a list
//     of the machine without the test's files has them;
//   - then the test's files, each at most once, in scan order, each with a stamp and date that
//     the file had together in one of those states: a stamp read for another time shows up as
//     a version with a date that is not its own;
//   - a file is missing only where in one of those states it was absent or could not be opened
//     (open for writing, or opened by the platform itself to replace or delete it: a file that
//     cannot be opened cannot be read, and the inventory leaves it out of that run);
//   - every creator ends on its own, with exit code 0 (a creator that does not end in time is
//     ended and fails the test).
// When the load has stopped, one more creation gives exactly the list of the machine as the
// mutator left it, and the cache value reads as whole entries from its start to its end, each
// entry of a test file holding the stamp of the state its time belongs to.
//
// The counts are parameters (environment: BRANTOVIX_LOAD_CREATORS, BRANTOVIX_LOAD_CREATIONS,
// BRANTOVIX_LOAD_PAUSE_MS, BRANTOVIX_LOAD_SEED). Nothing is timed: limits only end what hangs.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "driver_machine.h"
#include "file_aside.h"
#include "load_machine.h"
#include "stored_cache_check.h"
#include "test_files.h"
#include "test_handles.h"
#include "windows_version.h"

namespace {

using load::Change;
using load::FileState;
using load::kFileCount;
using load::kFiles;

const DWORD kReadyTimeoutMs = 60000;
const DWORD kCreatorsTimeoutMs = 180000;   // all creators together
const DWORD kMutatorTimeoutMs = 30000;
const DWORD kSingleTimeoutMs = 60000;
const char kDriverRow[] = "ORV_DE.VXD";
const char kDriverStamp[] = "04.00.00.0950";   // the kernel stand-in's own version block

unsigned long Parameter(const char* name, unsigned long fallback) {
    const char* text = getenv(name);
    return text && *text ? strtoul(text, nullptr, 10) : fallback;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string Text(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

struct Row {
    std::string name, stamp, date;
    bool operator==(const Row& other) const { return name == other.name && stamp == other.stamp && date == other.date; }
};

std::string Describe(const Row& row) {
    return row.name + " " + row.stamp + " " + row.date;
}

// "name=value" lines in index order to rows in scan order: the first row's name is element 0
// and its date the last element; every other row is a date element and its name element, the
// last row first. Fails on anything else: a torn list.
bool ParseRows(const std::vector<std::string>& lines, std::vector<Row>* rows, std::string* problem) {
    rows->clear();
    std::vector<std::pair<std::string, std::string>> elements;
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *problem = "not an element: \"" + line + "\"";
            return false;
        }
        elements.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    if (elements.size() % 2) {
        *problem = "an odd number of elements";
        return false;
    }
    const size_t count = elements.size() / 2;
    for (size_t r = 0; r < count; ++r) {
        const size_t nameAt = r == 0 ? 0 : elements.size() - 2 * r;
        const size_t dateAt = r == 0 ? elements.size() - 1 : nameAt - 1;
        const auto& name = elements[nameAt];
        const auto& date = elements[dateAt];
        if (name.first.empty() || name.first.compare(0, 5, "DATE-") == 0 || date.first != "DATE-" + name.first) {
            *problem = "torn row at elements " + std::to_string(nameAt) + " and " + std::to_string(dateAt) + ": " +
                       name.first + ", " + date.first;
            return false;
        }
        rows->push_back({name.first, name.second, date.second});
    }
    return true;
}

// The list text a machine with these rows gives.
std::string ListText(const std::vector<Row>& rows) {
    std::string text;
    if (rows.empty()) return text;
    text += rows[0].name + "=" + rows[0].stamp + "\n";
    for (size_t r = rows.size() - 1; r >= 1; --r) {
        text += "DATE-" + rows[r].name + "=" + rows[r].date + "\n";
        text += rows[r].name + "=" + rows[r].stamp + "\n";
    }
    text += "DATE-" + rows[0].name + "=" + rows[0].date + "\n";
    return text;
}

int FileIndex(const std::string& name) {
    for (int f = 0; f < kFileCount; ++f) {
        if (name == kFiles[f].name) return f;
    }
    return -1;
}

std::string Describe(const FileState& state) {
    if (state.kind == FileState::kAbsent) return "absent";
    if (state.kind == FileState::kUnreadable) return "not to be opened";
    return state.stamp + " " + state.date;
}

// What the mutator did, file by file.
class History {
public:
    History() : states_(kFileCount) {
        for (int f = 0; f < kFileCount; ++f) {
            FileState placed;
            placed.kind = FileState::kPresent;
            placed.stamp = load::StampOf(f, 0);
            placed.date = load::DateOf(f, 0);
            placed.time = load::TimeOf(f, 0, 0);
            states_[f].push_back({0, placed});
        }
    }
    void Add(const Change& change) {
        if (change.file < 0) return;   // refused changes too: they may have held the file a moment
        for (const FileState& state : change.states) states_[change.file].push_back({change.sequence, state});
    }
    // The states file `f` can have been in while the counter went from `before` to `after`:
    // the last state of the changes before `before`, and every state of the changes from
    // `before` to `after`.
    std::vector<FileState> Possible(int f, uint32_t before, uint32_t after) const {
        std::vector<FileState> possible;
        const auto& states = states_[f];
        size_t i = 0;
        while (i + 1 < states.size() && states[i + 1].first < before) ++i;
        possible.push_back(states[i].second);
        for (++i; i < states.size() && states[i].first <= after; ++i) possible.push_back(states[i].second);
        return possible;
    }
    const FileState& Last(int f) const { return states_[f].back().second; }
    // The complete state of file `f` with that last-write time, if it ever had one.
    const FileState* WithTime(int f, const FILETIME& time) const {
        for (const auto& state : states_[f]) {
            if (state.second.kind == FileState::kPresent && SameTime(state.second.time, time)) return &state.second;
        }
        return nullptr;
    }

private:
    std::vector<std::vector<std::pair<uint32_t, FileState>>> states_;
};

class ConcurrentLoad : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InWindows98Mode());
        // The platform would take a driver file beside the client before the system directory's.
        const std::string client = CREATION_CLIENT;
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA((client.substr(0, client.find_last_of("\\/")) + "\\ORV_DE.VXD").c_str()));
        ASSERT_TRUE(driverAside_.Absent());
        ASSERT_TRUE(descriptionAside_.Absent());
        // The kernel stand-in hosts the real driver image and reports the test's files among
        // the loaded modules: every one of them is in use.
        std::string description = std::string("image ") + ORV_DE_IMAGE + "\r\n";
        for (int f = 0; f < kFileCount; ++f) description += "module " + load::ModuleName(f) + "\r\n";
        std::ofstream(description_, std::ios::binary) << description;
        driver_fixtures::DeleteCacheKey();
        // The test's files come last in scan order only while no other driver file is there:
        // what a provisioned machine keeps in IoSubSys waits outside the scanned directories.
        ioSubSysAside_.Take(directories_.ioSubSys);
        for (const auto& listed : driver_fixtures::ListDriverFiles()) {
            ASSERT_NE(0, lstrcmpiA(listed.directory.c_str(), directories_.ioSubSys.c_str()))
                << "IoSubSys still holds " << listed.name;
        }
        ASSERT_TRUE(placed_.EnsureDirectory(directories_.ioSubSys));

        tag_ = std::to_string(GetCurrentProcessId());
        char temporary[MAX_PATH];
        GetTempPathA(MAX_PATH, temporary);
        outputs_ = std::string(temporary) + "brantovix_load_" + tag_ + "_";
    }
    void TearDown() override {
        for (int f = 0; f < kFileCount; ++f) DeleteFileA(PathOf(f).c_str());
        DeleteFileA((directories_.ioSubSys + "\\~LDTEMP.TMP").c_str());
        DeleteFileA(driverFile_.c_str());
        DeleteFileA(description_.c_str());
        for (const std::string& output : written_) DeleteFileA(output.c_str());
    }

    std::string PathOf(int f) const { return directories_.ioSubSys + "\\" + kFiles[f].name; }
    std::string Output(const std::string& what) {
        written_.push_back(outputs_ + what + ".txt");
        return written_.back();
    }

    // One creator, one creation, alone: the lines of its list.
    std::vector<std::string> CreateAlone() {
        const std::string start = "BrantovixLoadAloneStart" + tag_, ready = "BrantovixLoadAloneReady" + tag_;
        HANDLE startEvent = CreateEventA(nullptr, TRUE, TRUE, start.c_str());
        HANDLE readySemaphore = CreateSemaphoreA(nullptr, 0, 1, ready.c_str());
        const std::string output = Output("alone" + std::to_string(++alone_));
        ChildProcess creator(std::string("\"") + CREATION_CLIENT + "\" " + start + " " + ready + " \"" + output + "\"");
        const bool finished = creator.Finish(kSingleTimeoutMs);
        CloseHandle(startEvent);
        CloseHandle(readySemaphore);
        EXPECT_TRUE(creator.started());
        EXPECT_TRUE(finished) << "a creator alone did not end";
        EXPECT_EQ(0u, creator.ExitCode());
        return Lines(ReadFileBytes(output));
    }

    // Lists the machine without the test's files (the first creator also writes the driver file,
    // the kernel stand-in from its own resource), places them at version 0 and checks the list
    // of the machine at rest.
    void PlaceFilesOnTheMachineAtRest() {
        std::string problem;
        ASSERT_TRUE(ParseRows(CreateAlone(), &machineRows_, &problem)) << problem;
        bool driverListed = false;
        for (const Row& row : machineRows_) {
            ASSERT_EQ(-1, FileIndex(row.name)) << "listed before it was placed: " << row.name;
            driverListed = driverListed || (row.name == kDriverRow && row.stamp == kDriverStamp);
        }
        ASSERT_TRUE(driverListed) << "the driver file is not listed: the stand-in did not load";

        // The test's files, found by the scan in the order of kFiles.
        std::vector<FileState> placed;
        for (int f = 0; f < kFileCount; ++f) {
            ASSERT_NE("",
                      placed_.Place(directories_.ioSubSys, kFiles[f].name, load::ImageOf(f, 0), load::TimeOf(f, 0, 0)));
            placed.push_back(history_.Last(f));
        }
        std::vector<std::string> scanned, inOrder;
        for (const auto& listed : driver_fixtures::ListDriverFiles()) {
            if (lstrcmpiA(listed.directory.c_str(), directories_.ioSubSys.c_str()) == 0) scanned.push_back(listed.name);
        }
        for (int f = 0; f < kFileCount; ++f) inOrder.push_back(kFiles[f].name);
        ASSERT_EQ(inOrder, scanned);
        ASSERT_EQ(ExpectedList(placed), Text(CreateAlone())) << "the machine at rest";
    }

    // The list the machine gives when the test's files are in these states.
    std::string ExpectedList(const std::vector<FileState>& states) const {
        std::vector<Row> rows = machineRows_;
        for (int f = 0; f < kFileCount; ++f) {
            if (states[f].kind == FileState::kPresent)
                rows.push_back({kFiles[f].name, states[f].stamp, states[f].date});
        }
        return ListText(rows);
    }

    // Judges one list taken while the counter went from `before` to `after`; returns what is
    // wrong with it, or "".
    std::string Judge(const std::vector<std::string>& lines, uint32_t before, uint32_t after) const {
        std::vector<Row> rows;
        std::string problem;
        if (!ParseRows(lines, &rows, &problem)) return problem;
        if (rows.size() < machineRows_.size() || !std::equal(machineRows_.begin(), machineRows_.end(), rows.begin())) {
            return "the machine's own rows are not the first rows";
        }
        std::vector<const Row*> found(kFileCount, nullptr);
        int previous = -1;
        for (size_t r = machineRows_.size(); r < rows.size(); ++r) {
            const int f = FileIndex(rows[r].name);
            if (f < 0) return "a row for a file not on the machine: " + Describe(rows[r]);
            if (f <= previous) return "out of scan order or twice: " + rows[r].name;
            previous = f;
            found[f] = &rows[r];
        }
        for (int f = 0; f < kFileCount; ++f) {
            const std::vector<FileState> possible = history_.Possible(f, before, after);
            bool allowed = false;
            std::string had;
            for (const FileState& state : possible) {
                had += " [" + Describe(state) + "]";
                if (found[f]) {
                    allowed = allowed || (state.kind == FileState::kPresent && state.stamp == found[f]->stamp &&
                                          state.date == found[f]->date);
                } else {
                    allowed = allowed || state.kind != FileState::kPresent;
                }
            }
            if (!allowed) {
                return std::string(kFiles[f].name) +
                       (found[f] ? " listed as " + found[f]->stamp + " " + found[f]->date : std::string(" missing")) +
                       "; between changes " + std::to_string(before) + " and " + std::to_string(after) +
                       " it was:" + had;
            }
        }
        return "";
    }

    const driver_fixtures::DriverDirectories directories_ = driver_fixtures::GetDriverDirectories();
    const std::string driverFile_ = directories_.system + "\\ORV_DE.VXD";
    const std::string description_ = directories_.system + "\\ORV_DE.MACHINE";
    DirectoryAside ioSubSysAside_;         // declared before the files the test places there
    FileAside driverAside_{driverFile_};   // what was there before comes back afterwards
    FileAside descriptionAside_{description_};
    driver_fixtures::CacheKeyBackup cacheBackup_;
    driver_fixtures::PlacedFiles placed_;
    std::string tag_, outputs_;
    std::vector<std::string> written_;
    int alone_ = 0;
    std::vector<Row> machineRows_;   // the machine's own files in use
    History history_;
};

TEST_F(ConcurrentLoad, EveryListIsOneTheMachineCouldHaveGivenAndTheLastIsExact) {
    const unsigned long creators = Parameter("BRANTOVIX_LOAD_CREATORS", 8);
    const unsigned long creations = Parameter("BRANTOVIX_LOAD_CREATIONS", 12);
    const unsigned long pauseMs = Parameter("BRANTOVIX_LOAD_PAUSE_MS", 2);
    const unsigned long seed = Parameter("BRANTOVIX_LOAD_SEED", GetTickCount() ^ GetCurrentProcessId());
    printf("load: %lu creators, %lu creations each, mutator seed %lu, pause %lu ms\n", creators, creations, seed,
           pauseMs);
    SCOPED_TRACE("mutator seed " + std::to_string(seed) + " (BRANTOVIX_LOAD_SEED repeats its changes)");

    ASSERT_NO_FATAL_FAILURE(PlaceFilesOnTheMachineAtRest());

    // The load: all creators start at once; the mutator changes the machine until they are done.
    const std::string start = "BrantovixLoadStart" + tag_, ready = "BrantovixLoadReady" + tag_;
    const std::string mutatorReady = "BrantovixLoadMutatorReady" + tag_, stop = "BrantovixLoadStop" + tag_;
    const std::string sequenceName = "BrantovixLoadSequence" + tag_;
    const KernelObject startEvent(CreateEventA(nullptr, TRUE, FALSE, start.c_str()));
    const KernelObject readySemaphore(CreateSemaphoreA(nullptr, 0, static_cast<LONG>(creators), ready.c_str()));
    const KernelObject mutatorReadyEvent(CreateEventA(nullptr, TRUE, FALSE, mutatorReady.c_str()));
    const KernelObject stopEvent(CreateEventA(nullptr, TRUE, FALSE, stop.c_str()));
    const KernelObject sequence(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, sequenceName.c_str()));
    ASSERT_TRUE(startEvent && readySemaphore && mutatorReadyEvent && stopEvent && sequence);
    const std::string log = Output("mutator");
    std::vector<std::string> outputs;
    std::vector<std::unique_ptr<ChildProcess>> running;
    {
        ChildProcess mutator(std::string("\"") + LOAD_MUTATOR + "\" " + mutatorReady + " " + start + " " + stop + " " +
                             sequenceName + " \"" + log + "\" " + std::to_string(seed) + " " +
                             std::to_string(load::kMaxChanges) + " " + std::to_string(pauseMs));
        ASSERT_TRUE(mutator.started());
        for (unsigned long i = 0; i < creators; ++i) {
            outputs.push_back(Output("creator" + std::to_string(i)));
            running.emplace_back(new ChildProcess(std::string("\"") + CREATION_CLIENT + "\" " + start + " " + ready +
                                                  " \"" + outputs.back() + "\" " + std::to_string(creations) + " " +
                                                  sequenceName));
            ASSERT_TRUE(running.back()->started());
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutatorReadyEvent.get(), kReadyTimeoutMs))
            << "the mutator did not start";
        for (unsigned long i = 0; i < creators; ++i) {
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readySemaphore.get(), kReadyTimeoutMs))
                << "a creator did not start";
        }
        SetEvent(startEvent.get());
        const DWORD deadline = GetTickCount() + kCreatorsTimeoutMs;
        for (unsigned long i = 0; i < creators; ++i) {
            const DWORD now = GetTickCount();
            const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
            EXPECT_TRUE(running[i]->Finish(left)) << "creator " << i << " hung and was ended";
            EXPECT_EQ(0u, running[i]->ExitCode()) << "creator " << i;
        }
        SetEvent(stopEvent.get());
        ASSERT_TRUE(mutator.Finish(kMutatorTimeoutMs)) << "the mutator hung and was ended";
        ASSERT_EQ(0u, mutator.ExitCode());
    }

    // What the mutator did.
    std::map<std::string, int> done, refused;
    for (const std::string& line : Lines(ReadFileBytes(log))) {
        Change change;
        ASSERT_TRUE(load::ParseChange(line, &change)) << line;
        ASSERT_NE("rewrite-failed", change.kind) << "the mutator could not write a file: " << line;
        (change.done ? done : refused)[change.kind]++;
        history_.Add(change);
    }
    std::string summary;
    for (const auto& kind : done) summary += " " + kind.first + " " + std::to_string(kind.second);
    summary += "; refused:";
    for (const auto& kind : refused) summary += " " + kind.first + " " + std::to_string(kind.second);
    printf("load: changes made:%s\n", summary.c_str());
    EXPECT_GT(done["replace"] + done["rewrite"], 0) << "the load changed no file's content";

    // Every list of every creator.
    size_t judged = 0;
    std::set<std::string> distinct;
    for (unsigned long i = 0; i < creators; ++i) {
        const std::vector<std::string> lines = Lines(ReadFileBytes(outputs[i]));
        size_t at = 0, blocks = 0;
        while (at < lines.size()) {
            unsigned long before = 0, after = 0;
            ASSERT_EQ(2, sscanf(lines[at].c_str(), "creation %lu %lu", &before, &after)) << lines[at];
            size_t end = at + 1;
            while (end < lines.size() && lines[end] != "end") ++end;
            ASSERT_LT(end, lines.size()) << "creator " << i << ": a list without its end";
            const std::vector<std::string> list(lines.begin() + static_cast<long>(at) + 1,
                                                lines.begin() + static_cast<long>(end));
            const std::string verdict = Judge(list, before, after);
            const std::string text = Text(list);
            EXPECT_EQ("", verdict) << "creator " << i << ", creation " << blocks << ":\n" << text;
            distinct.insert(text);
            ++judged;
            ++blocks;
            at = end + 1;
        }
        EXPECT_EQ(creations, blocks) << "creator " << i;
    }
    printf("load: %zu lists judged, %zu different\n", judged, distinct.size());

    // After the load: the exact list of the machine as the mutator left it.
    std::vector<FileState> last;
    for (int f = 0; f < kFileCount; ++f) last.push_back(history_.Last(f));
    EXPECT_EQ(ExpectedList(last), Text(CreateAlone())) << "the machine after the load";

    // And a whole cache (every entry of a file at its present time as a version read gives it),
    // each of the test's entries true to the state its file had at its time, each file present
    // with an entry for its present time.
    EXPECT_TRUE(StoredCacheIsWhole());
    std::vector<StoredCacheEntry> entries;
    ASSERT_TRUE(ReadStoredCache(&entries));
    std::vector<int> entriesOf(kFileCount, 0);
    std::vector<bool> current(kFileCount, false);
    for (const StoredCacheEntry& entry : entries) {
        int f = -1;
        for (int g = 0; g < kFileCount; ++g) {
            if (entry.path == PathOf(g)) f = g;
        }
        if (f < 0) continue;
        ++entriesOf[f];
        const FileState* state = history_.WithTime(f, entry.lastWrite);
        // A time that no complete state had belongs to a file that was being written: nothing
        // could be read from it.
        const std::string expected = state ? state->stamp.substr(0, 13) : std::string();
        EXPECT_EQ(expected, entry.stamp) << entry.path << " at " << load::DateText(entry.lastWrite);
        if (last[f].kind == FileState::kPresent && SameTime(last[f].time, entry.lastWrite)) current[f] = true;
    }
    for (int f = 0; f < kFileCount; ++f) {
        EXPECT_LE(entriesOf[f], 1) << kFiles[f].name << " has more than one entry";
        if (last[f].kind == FileState::kPresent)
            EXPECT_TRUE(current[f]) << kFiles[f].name << " has no entry for its time";
    }
}

// The load leaves the cache value as it was last written, by a creator or by the mutator. When
// the mutator's damage lies after the last whole entry, the next creation finds every file in
// the entries before it; it still leaves a value that reads as whole entries, those entries.
TEST_F(ConcurrentLoad, ValueDamagedAfterItsWholeEntriesIsWholeAgainAfterTheNextCreation) {
    ASSERT_NO_FATAL_FAILURE(PlaceFilesOnTheMachineAtRest());
    std::vector<uint8_t> whole;
    ASSERT_TRUE(driver_fixtures::ReadCacheValue("DDB", &whole));
    std::vector<load::CacheEntry> entries;
    ASSERT_TRUE(load::ParseCacheImage(whole, &entries));
    const std::string gone = directories_.ioSubSys + "\\LDGONE.VXD";
    const struct {
        const char* damage;
        std::vector<uint8_t> tail;
    } cases[] = {
        {"an entry cut short", std::vector<uint8_t>(gone.begin(), gone.end())},
        {"garbage", {0x41, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0x13}},
    };
    std::vector<FileState> placed;
    for (int f = 0; f < kFileCount; ++f) placed.push_back(history_.Last(f));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        std::vector<uint8_t> damaged = whole;
        damaged.insert(damaged.end(), c.tail.begin(), c.tail.end());
        ASSERT_TRUE(driver_fixtures::WriteCacheValue("DDB", REG_BINARY, damaged));
        EXPECT_EQ(ExpectedList(placed), Text(CreateAlone()));
        std::vector<uint8_t> after;
        ASSERT_TRUE(driver_fixtures::ReadCacheValue("DDB", &after));
        EXPECT_TRUE(after == whole) << "the value is " << after.size() << " bytes, its whole entries " << whole.size();
    }
}

}   // namespace

#include "recorded_machine.h"

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "provisioner_support.h"
#include "record.h"
#include "registry_tree.h"

namespace provisioner {

bool RemoveRecorded() {
    std::vector<RecordLine> lines;
    if (!ReadRecord(&lines)) return Fail("cannot read " + RecordPath());
    bool clean = true;
    for (size_t i = lines.size(); i-- > 0;) {
        const RecordLine& f = lines[i];
        const std::string& kind = f[0];
        if (kind == "file" && f.size() == 2) {
            if (!DeleteIfPresent(f[1])) clean = Fail("cannot delete " + f[1] + ": " + LastErrorText(GetLastError()));
        } else if (kind == "dir" && f.size() == 2) {
            // Only when empty: whatever someone else put there since stays, and so does the directory.
            if (!RemoveDirectoryA(f[1].c_str()) && Exists(f[1]))
                fprintf(stderr, "provisioner: keeping %s: it is not empty\n", f[1].c_str());
        } else if (kind == "key" && f.size() == 3 && RootByName(f[1])) {
            LONG status = RegDeleteKeyA(RootByName(f[1]), f[2].c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                clean = Fail("cannot delete key " + f[1] + "\\" + f[2] + ": " + LastErrorText(status));
        } else if (kind == "value" && (f.size() == 4 || f.size() == 5) && RootByName(f[1])) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(RootByName(f[1]), f[2].c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
                LONG status = RegDeleteValueA(key, f[3].c_str());
                RegCloseKey(key);
                if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                    clean = Fail("cannot delete value " + f[3] + " of " + f[2] + ": " + LastErrorText(status));
            }
        } else if (kind != "machine") {
            clean = Fail("unknown line in " + RecordPath() + ": " + kind);
        }
    }
    if (clean && !DeleteIfPresent(RecordPath()))
        return Fail("cannot delete " + RecordPath() + ": " + LastErrorText(GetLastError()));
    return clean;
}

bool RestoreDynamicTree() {
    std::vector<RecordLine> lines;
    if (!ReadRecord(&lines)) return Fail("cannot read " + RecordPath());
    bool clean = true;
    unsigned keys = 0, values = 0;
    std::string machine;
    for (const RecordLine& f : lines) {
        if (f[0] == "machine" && f.size() == 2) machine = f[1];
        if (f.size() < 3 || f[1] != kDynamicRootName) continue;
        if (f[0] == "key" && f.size() == 3) {
            HKEY key = nullptr;
            if (!CreateKeyPath(HKEY_DYN_DATA, kDynamicRootName, f[2], nullptr, &key)) {
                clean = false;
                continue;
            }
            RegCloseKey(key);
            ++keys;
        } else if (f[0] == "value" && f.size() == 5) {
            if (SetStringValue(HKEY_DYN_DATA, kDynamicRootName, f[2], f[3], f[4], nullptr))
                ++values;
            else
                clean = false;
        } else if (f[0] == "value" && f.size() == 4) {
            clean = Fail("the record holds no data for value " + f[3] + " of " + f[1] + "\\" + f[2] +
                         " (an older provisioner wrote it): provision the machine again");
        }
    }
    if (clean && !machine.empty())
        printf("Restored the plug-and-play tree of %s: %u keys, %u values under %s\n", machine.c_str(), keys, values,
               kDynamicRootName);
    return clean;
}

}   // namespace provisioner

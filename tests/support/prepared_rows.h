// Rows that a test chooses, found by a real inventory run: driver files placed in the driver
// directories, each with a version resource of the test's choice (or none) and a last-write
// time, and one device node whose class key lists the files in use. A run then finds exactly
// the listed, stamped files (the platform's own files are listed by no node), in scan order:
// directory by directory, and extension by extension (kDriverExtensions) within one; within
// one extension the directory search decides, so a test that needs an
// order gives each file its own pattern or directory.
//
// File names carry a tag of this process (Name()), so that no other file or earlier cache
// entry meets them. The files, the node and the version cache key go back to what they were
// when the rows go.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_machine.h"

class PreparedRows {
public:
    PreparedRows() : tag_("R" + std::to_string(GetCurrentProcessId() % 100000)) {}

    // The file name a row of `name` has on the machine (upper case, as the scan gives it).
    std::string Name(const std::string& name) const { return tag_ + name; }
    std::wstring WideName(const std::string& name) const {
        const std::string text = Name(name);
        return std::wstring(text.begin(), text.end());
    }

    // Places the file in the system directory; a listed file is in use.
    bool Add(const std::string& name, const std::vector<uint8_t>& image, const FILETIME& lastWrite, bool listed) {
        if (files_.Place(driver_fixtures::GetDriverDirectories().system, Name(name), image, lastWrite).empty()) {
            return false;
        }
        if (listed) list_ += (list_.empty() ? "" : ",") + Name(name);
        return true;
    }
    // Lists the files in use under one device node: once, after the last Add.
    void List() {
        tree_.AddChain("ROWS", "ROWS");
        tree_.SetClassValue("ROWS", "DeviceVxDs", list_);
    }

private:
    std::string tag_;
    driver_fixtures::CacheKeyBackup cache_;   // put back after the files and the node are gone
    driver_fixtures::PlacedFiles files_;
    device_tree_fixture::DeviceTree tree_;
    std::string list_;
};

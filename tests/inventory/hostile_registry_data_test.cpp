// A whole inventory on registry data that anyone may write: the plug-and-play chain's values and
// the version cache value, of every type and size the platform stores (binary data where a
// string belongs, numbers, strings without a terminator, empty values, 64 KB values, key paths
// at the length the scan's buffers hold). The inventory ignores what it cannot use and lists
// the rest; the cache it writes back afterwards holds whole entries.
#include <gtest/gtest.h>

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device_tree_fixture.h"
#include "driver_file_image.h"
#include "driver_inventory.h"
#include "driver_machine.h"
#include "cache_image_walk.h"
#include "version_cache/version_cache_image.h"

namespace {

using device_tree_fixture::DeviceTree;
using namespace driver_fixtures;

using Bytes = std::vector<uint8_t>;

const char kGoodStamp[] = "04.10.00.2222";
const char kHostileStamp[] = "05.00.01.2195";   // 5.0.2195.1, the exchange rule
// The scan's buffers: names, values and key paths of 1024 characters (the terminator included).
const size_t kPathLimit = 1023;
const size_t kPlatformPathLimit = 260;
const std::string kEnum = device_tree_fixture::kEnum;
const std::string kClassRoot = device_tree_fixture::kClassRoot;
const size_t kEnumPrefix = kEnum.size() + 1;         // "Enum\"
const size_t kClassPrefix = kClassRoot.size() + 1;   // "System\...\Class\"
// The largest value Windows 98 stores, and values beyond anything it stores.
const size_t kWindows98ValueLimit = 16300;
const size_t k64K = 65536;

std::string Sz(const std::string& text) {
    return std::string(text.c_str(), text.size() + 1);
}

// A string of 64 KB with its terminator and no other zero byte, beginning with `text`.
std::string String64K(const std::string& text) {
    return Sz((text + std::string(k64K, 'p')).substr(0, k64K - 1));
}

std::string Dword(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

// Bytes that are neither text nor cache entries, the same every run.
Bytes Noise(size_t size, uint32_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

// Noise for text: no zero byte (which would end the string) and no comma (which would cut it
// into pieces).
std::string NoiseText(size_t size, uint32_t seed) {
    Bytes bytes = Noise(size, seed);
    std::string text(bytes.begin(), bytes.end());
    for (char& c : text) {
        if (c == '\0' || c == ',') c = 'z';
    }
    return text;
}

// The cache as the inventory leaves it: every image value ("DDB", and any further pieces of it)
// is binary data of whole entries only, none cut short.
::testing::AssertionResult CacheHoldsWholeEntries() {
    const auto values = ReadCacheValues();
    int images = 0;
    for (const auto& value : values) {
        // The image's pieces are "DDB", "DDB1", "DDB2", ...; "DDB Pieces" is their count.
        if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, value.first.c_str(), 3, "DDB", 3) != CSTR_EQUAL ||
            value.first.find_first_not_of("0123456789", 3) != std::string::npos) {
            continue;
        }
        ++images;
        const Bytes& data = value.second.second;
        if (value.second.first != REG_BINARY) {
            return ::testing::AssertionFailure() << value.first << " has type " << value.second.first;
        }
        const uint32_t whole = WellFormedCacheLength(data.data(), static_cast<uint32_t>(data.size()));
        if (whole != data.size()) {
            return ::testing::AssertionFailure() << value.first << ": " << data.size() - whole << " of its "
                                                 << data.size() << " bytes are no whole entry";
        }
    }
    if (images == 0) return ::testing::AssertionFailure() << "no cache image was saved";
    return ::testing::AssertionSuccess();
}

// Stores "DDB" as it is given, also empty (the platform refuses a string value without data
// bytes to point at).
bool StoreCacheValue(DWORD type, const Bytes& data) {
    static const BYTE kNothing[1] = {0};
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegSetValueExA(key, "DDB", 0, type, data.empty() ? kNothing : data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Whether an image value of the cache holds an entry for `path`.
bool CacheHoldsPath(const std::string& path) {
    for (const auto& value : ReadCacheValues()) {
        const Bytes& data = value.second.second;
        if (FindCachedPath(data.data(), static_cast<uint32_t>(data.size()), path.c_str(),
                           static_cast<uint32_t>(path.size())) >= 0) {
            return true;
        }
    }
    return false;
}

// The rows of one whole inventory: file name -> version stamp.
std::map<std::string, std::string> InventoryRows() {
    std::map<std::string, std::string> rows;
    DriverInventory inventory(RunTiming::kNotShown);
    char name[512], stamp[128];
    for (DWORD index = 1; inventory.GetItemNameAndStamp(name, stamp, index); ++index) rows[name] = stamp;
    return rows;
}

// Two driver files of the test's own in the system directory: one that a sound device node names
// in every case, and one that only the hostile data of the case could name.
class HostileRegistryData : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tag = "H" + std::to_string(GetCurrentProcessId() % 100000);
        good_ = tag + "GOOD.VXD";
        hostile_ = tag + "HOST.VXD";
        const std::string system = GetDriverDirectories().system;
        ASSERT_NE("",
                  files_.Place(system, good_, BuildVersionedPe({4, 10, 0, 2222}), UtcFileTime(1999, 4, 23, 22, 22)));
        ASSERT_NE("",
                  files_.Place(system, hostile_, BuildVersionedPe({5, 0, 2195, 1}), UtcFileTime(2000, 2, 17, 8, 0)));
    }

    // The rows of this test's two files that an inventory lists, with their stamps.
    std::map<std::string, std::string> OwnRows() {
        std::map<std::string, std::string> own;
        for (const auto& row : InventoryRows()) {
            if (row.first == good_ || row.first == hostile_) own.insert(row);
        }
        return own;
    }
    std::map<std::string, std::string> Expected(bool hostileListed) const {
        std::map<std::string, std::string> rows = {{good_, kGoodStamp}};
        if (hostileListed) rows[hostile_] = kHostileStamp;
        return rows;
    }

    // A device node whose full path is longer than the platform takes from the root of the
    // tree (it takes the 255 characters of a key name below the opened "Config Manager\Enum"
    // key, as the scan opens it): made and removed below that key.
    class LongNode {
    public:
        ~LongNode() { Remove(); }
        bool Create(const std::string& name, const std::string& hardwareKey) {
            Remove();
            HKEY tree = nullptr, node = nullptr;
            if (RegOpenKeyExA(HKEY_DYN_DATA, device_tree_fixture::kDeviceTree, 0, KEY_ALL_ACCESS, &tree) !=
                ERROR_SUCCESS) {
                return false;
            }
            bool made = RegCreateKeyExA(tree, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &node, nullptr) ==
                        ERROR_SUCCESS;
            if (made) {
                name_ = name;
                made =
                    RegSetValueExA(node, "HardWareKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(hardwareKey.c_str()),
                                   static_cast<DWORD>(hardwareKey.size() + 1)) == ERROR_SUCCESS;
                RegCloseKey(node);
            }
            RegCloseKey(tree);
            return made;
        }
        void Remove() {
            if (name_.empty()) return;
            HKEY tree = nullptr;
            if (RegOpenKeyExA(HKEY_DYN_DATA, device_tree_fixture::kDeviceTree, 0, KEY_ALL_ACCESS, &tree) ==
                ERROR_SUCCESS) {
                RegDeleteKeyA(tree, name_.c_str());
                RegCloseKey(tree);
            }
            name_.clear();
        }

    private:
        std::string name_;
    };

    CacheKeyBackup cache_;   // declared first: put back last
    PlacedFiles files_;
    std::string good_, hostile_;
    LongNode longNode_;
};

// One device node's chain with hostile data somewhere along it.
struct DeviceCase {
    const char* what;
    // Builds the case's node(s) in the tree; `file` is the name of the hostile file (lower case
    // or not, the chain compares without regard to case).
    std::function<void(DeviceTree&, const std::string& file)> build;
    bool listed;   // whether the hostile file is listed: the data, however stored, names it
};

// Nested keys of at most 255 characters (the longest key name) below HKEY_LOCAL_MACHINE `root`,
// making the path `head` + "\..." exactly `length` characters, with a string value at the
// deepest key; returns that path. The keys are made level by level: the platform opens and
// makes keys by a path from a root only up to 260 characters (a key deeper than that can
// still be made and opened below its parent).
std::string NestedKeys(const std::string& root, const std::string& head, size_t length, const char* valueName,
                       const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (root + "\\" + head).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << root << "\\" << head;
        return "";
    }
    std::string path = head;
    while (path.size() < length) {
        const size_t room = length - path.size() - 1;   // after the backslash
        // Leave no remainder too short for a name of its own at the next level.
        const size_t part = room > 255 ? (room - 255 < 2 ? 200 : 255) : room;
        const std::string name(part, static_cast<char>('a' + path.size() % 26));
        HKEY deeper = nullptr;
        const LONG made = RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr);
        RegCloseKey(key);
        if (made != ERROR_SUCCESS) {
            ADD_FAILURE() << "a key of " << part << " characters at " << path.size();
            return "";
        }
        key = deeper;
        path += "\\" + name;
    }
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return path;
}

TEST_F(HostileRegistryData, DeviceTreeValuesTheScanCannotUseAreIgnoredAndTheRestIsListed) {
    const auto hostileChain = [](DeviceTree& tree, const std::string& file) {
        tree.AddChain("HOSTILE", "HOSTILE");
        tree.SetClassValue("HOSTILE", "DeviceVxDs", file);
    };
    const auto setNodeValue = [](DeviceTree& tree, const char* name, DWORD type, const std::string& data) {
        DeviceTree::SetValue(HKEY_DYN_DATA, tree.NodePath("HOSTILE"), name, type, data);
    };
    const auto setHardwareValue = [](DeviceTree& tree, DWORD type, const std::string& data) {
        DeviceTree::SetValue(HKEY_LOCAL_MACHINE, tree.HardwarePath("HOSTILE"), "Driver", type, data);
    };
    const auto setClassValue = [](DeviceTree& tree, const char* name, DWORD type, const std::string& data) {
        DeviceTree::SetValue(HKEY_LOCAL_MACHINE, tree.ClassPath("HOSTILE"), name, type, data);
    };
    const std::string padding64K(k64K, 'p');

    const DeviceCase cases[] = {
        // The device node's "HardWareKey".
        {"HardWareKey as binary data without a terminator",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_BINARY, t.HardwareKey("HOSTILE"));
         },
         true},
        {"HardWareKey as a number",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_DWORD, Dword(0x0D0C0B0A));
         },
         false},
        {"HardWareKey empty",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_SZ, "");
         },
         false},
        {"HardWareKey a terminator alone",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_SZ, std::string(1, '\0'));
         },
         false},
        // The platform stores a string written with the ANSI functions only up to its first zero, so
        // values that hold one beyond it are stored as binary data.
        {"HardWareKey of 64 KB whose first string is the key",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_BINARY, (Sz(t.HardwareKey("HOSTILE")) + padding64K).substr(0, k64K));
         },
         false},
        {"HardWareKey string of 64 KB",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_SZ, String64K(t.HardwareKey("HOSTILE")));
         },
         false},
        {"HardWareKey as a multi-string: its first string",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_MULTI_SZ, Sz(t.HardwareKey("HOSTILE")) + Sz("Other\\Key") + '\0');
         },
         true},
        {"HardWareKey as an expandable string",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_EXPAND_SZ, Sz(t.HardwareKey("HOSTILE")));
         },
         true},
        {"HardWareKey of no type, without a terminator",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_NONE, t.HardwareKey("HOSTILE"));
         },
         true},
        {"HardWareKey beginning with a zero byte",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_SZ, std::string(1, '\0') + Sz(t.HardwareKey("HOSTILE")));
         },
         false},
        {"HardWareKey of noise",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setNodeValue(t, "HardWareKey", REG_BINARY, NoiseText(1000, 7));
         },
         false},
        {"device node name of 255 characters, the longest key name",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string node(255, 'n');
             ASSERT_TRUE(longNode_.Create(node, t.HardwareKey("HOSTILE")));
         },
         true},
        // Key paths: the scan's buffers hold 1023 characters; the platform here opens paths of up
        // to 260 characters from a root.
        {"hardware key path of 260 characters, the longest the platform opens",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string hardware = NestedKeys(kEnum, t.HardwareKey("HOSTILE"), kPlatformPathLimit - kEnumPrefix,
                                                     "Driver", t.ClassName("HOSTILE"));
             DeviceTree::SetString(HKEY_DYN_DATA, t.NodePath("HOSTILE"), "HardWareKey", hardware);
         },
         true},
        {"hardware key path of 1023 characters, as long as the buffer holds, which the platform does not open",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string hardware = NestedKeys(kEnum, t.HardwareKey("HOSTILE"), kPathLimit - kEnumPrefix,
                                                     "Driver", t.ClassName("HOSTILE"));
             DeviceTree::SetString(HKEY_DYN_DATA, t.NodePath("HOSTILE"), "HardWareKey", hardware);
         },
         false},
        {"hardware key path of 1024 characters, one more than the buffer holds",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string hardware = NestedKeys(kEnum, t.HardwareKey("HOSTILE"), kPathLimit + 1 - kEnumPrefix,
                                                     "Driver", t.ClassName("HOSTILE"));
             DeviceTree::SetString(HKEY_DYN_DATA, t.NodePath("HOSTILE"), "HardWareKey", hardware);
         },
         false},

        // The hardware key's "Driver".
        {"Driver as binary data without a terminator",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setHardwareValue(t, REG_BINARY, t.ClassName("HOSTILE"));
         },
         true},
        {"Driver as a number",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setHardwareValue(t, REG_DWORD, Dword(1));
         },
         false},
        {"Driver empty",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setHardwareValue(t, REG_SZ, "");
         },
         false},
        {"Driver of 64 KB",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setHardwareValue(t, REG_SZ, String64K(t.ClassName("HOSTILE")));
         },
         false},
        {"Driver of 64 KB whose first string is the class",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setHardwareValue(t, REG_BINARY, (Sz(t.ClassName("HOSTILE")) + padding64K).substr(0, k64K));
         },
         false},
        {"class key path of 260 characters, the longest the platform opens",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string driverClass =
                 NestedKeys(kClassRoot, t.ClassName("HOSTILE"), kPlatformPathLimit - kClassPrefix, "Driver", f);
             setHardwareValue(t, REG_SZ, Sz(driverClass));
         },
         true},
        {"class key path of 1023 characters, which the platform does not open",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             const std::string driverClass =
                 NestedKeys(kClassRoot, t.ClassName("HOSTILE"), kPathLimit - kClassPrefix, "Driver", f);
             setHardwareValue(t, REG_SZ, Sz(driverClass));
         },
         false},

        // The class key's list values.
        {"list as binary data without a terminator",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "DeviceVxDs", REG_BINARY, "ios.vxd," + f);
         },
         true},
        {"list of 1024 bytes without a terminator counts as absent: the next value is used",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "Driver", REG_BINARY, std::string(1024, ','));
         },
         true},
        {"Driver as a number is the list, DeviceVxDs is not read",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "Driver", REG_DWORD, Dword(0x00495850));
         },
         false},
        {"Driver empty is the list, DeviceVxDs is not read",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "Driver", REG_SZ, "");
         },
         false},
        {"Driver of 64 KB counts as absent: DeviceVxDs is used",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "Driver", REG_SZ, String64K("ios.vxd," + f));
         },
         true},
        {"every list value of 64 KB",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             for (const char* name : {"Driver", "DeviceVxDs", "PortDriver", "MTD", "MouseDriver"}) {
                 setClassValue(t, name, REG_SZ, String64K(f + ","));
             }
         },
         false},
        {"list at the Windows 98 value limit: a value too long for the buffer counts as absent",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "DeviceVxDs", REG_SZ,
                           Sz(f + "," + std::string(kWindows98ValueLimit - f.size() - 2, 'x')));
         },
         false},
        {"MouseDriver as a multi-string: its first string",
         [&](DeviceTree& t, const std::string& f) {
             t.AddChain("HOSTILE", "HOSTILE");
             setClassValue(t, "MouseDriver", REG_MULTI_SZ, Sz(f) + Sz("ios.vxd") + '\0');
         },
         true},
        {"list with bytes of no character and noise pieces",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "DeviceVxDs", REG_SZ, Sz("\xFF\xFE\x81," + NoiseText(300, 3) + "," + f));
         },
         true},
        {"list of commas alone filling the buffer",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "DeviceVxDs", REG_SZ, Sz(std::string(kPathLimit, ',')));
         },
         false},
        {"list with a zero byte before the name",
         [&](DeviceTree& t, const std::string& f) {
             hostileChain(t, f);
             setClassValue(t, "DeviceVxDs", REG_BINARY, "ios.vxd," + std::string(1, '\0') + f);
         },
         false},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceTree tree;
        tree.AddChain("GOOD", "GOOD");
        tree.SetClassValue("GOOD", "DeviceVxDs", good_);
        c.build(tree, hostile_);
        if (HasFatalFailure()) return;
        EXPECT_EQ(Expected(c.listed), OwnRows());
        longNode_.Remove();
    }
}

// The stored cache: every type the platform knows, from empty to 64 KB, noise in every case. The
// rows behind what cannot be used are read from their files; the value saved afterwards is
// whole entries again and serves the next run. One test per stored value, so that they can run
// apart.
struct StoredCacheValue {
    std::string what;
    DWORD type;
    Bytes data;
    bool keepsOtherEntries;   // the entries of the 40 other files survive the save
};

std::string OtherPath(int i) {
    return "C:\\WINDOWS\\SYSTEM\\OTHER" + std::to_string(i) + ".VXD";
}

std::vector<StoredCacheValue> StoredCacheValues() {
    // Whole entries of other files, then noise: the entries are kept, the noise is not.
    Bytes entriesThenNoise;
    for (int i = 0; i < 40; ++i) {
        const std::string path = OtherPath(i);
        const Bytes entry = CacheEntryBytes({path, "01.00.00.0001", 0x2F6A5C01u + i, 0x01BEC5D1u});
        entriesThenNoise.insert(entriesThenNoise.end(), entry.begin(), entry.end());
    }
    const Bytes noise = Noise(3000, 11);
    entriesThenNoise.insert(entriesThenNoise.end(), noise.begin(), noise.end());

    const DWORD types[] = {REG_NONE,
                           REG_SZ,
                           REG_EXPAND_SZ,
                           REG_BINARY,
                           REG_DWORD,
                           REG_DWORD_BIG_ENDIAN,
                           REG_LINK,
                           REG_MULTI_SZ,
                           REG_RESOURCE_LIST,
                           REG_FULL_RESOURCE_DESCRIPTOR,
                           REG_RESOURCE_REQUIREMENTS_LIST,
                           REG_QWORD};
    const size_t sizes[] = {0, 1, 31, kWindows98ValueLimit, k64K};
    std::vector<StoredCacheValue> stored;
    for (DWORD type : types) {
        for (size_t size : sizes) {
            stored.push_back({"type " + std::to_string(type) + ", " + std::to_string(size) + " bytes of noise", type,
                              Noise(size, static_cast<uint32_t>(type * 131 + size)), false});
        }
    }
    stored.push_back({"whole entries of other files, then noise", REG_BINARY, entriesThenNoise, true});
    // The platform keeps a string written through the ANSI functions only up to its first zero
    // byte: what remains is the first path, which is no entry.
    stored.push_back({"the same as a string", REG_SZ, entriesThenNoise, false});
    return stored;
}

class CacheValueOfEveryTypeAndSize : public HostileRegistryData, public ::testing::WithParamInterface<size_t> {};

TEST_P(CacheValueOfEveryTypeAndSize, LosesNothingButItself) {
    const StoredCacheValue s = StoredCacheValues()[GetParam()];
    SCOPED_TRACE(s.what);
    DeviceTree tree;
    tree.AddChain("GOOD", "GOOD");
    tree.SetClassValue("GOOD", "DeviceVxDs", good_ + "," + hostile_);

    DeleteCacheKey();
    ASSERT_TRUE(StoreCacheValue(s.type, s.data));
    EXPECT_EQ(Expected(true), OwnRows());
    EXPECT_TRUE(CacheHoldsWholeEntries());
    if (s.keepsOtherEntries) {
        for (int i = 0; i < 40; ++i) EXPECT_TRUE(CacheHoldsPath(OtherPath(i))) << OtherPath(i);
    }

    // The saved value serves the next run, which has nothing to add and writes nothing.
    const auto saved = ReadCacheValues();
    EXPECT_EQ(Expected(true), OwnRows());
    EXPECT_EQ(saved, ReadCacheValues());
}

INSTANTIATE_TEST_SUITE_P(HostileRegistryData, CacheValueOfEveryTypeAndSize,
                         ::testing::Range<size_t>(0, StoredCacheValues().size()));

}   // namespace

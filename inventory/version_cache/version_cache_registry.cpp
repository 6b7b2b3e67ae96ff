#include "version_cache_registry.h"

#include "owner.h"

namespace {

const char kCacheKey[] = "SOFTWARE\\Orvane\\Service\\DCOM\\Cache";
const char kFirstPiece[] = "DDB";
const char kPieceCountValue[] = "DDB Pieces";
const char kDescriptionValue[] = "Description";
const char kDescription[] =
    "This key enables faster processing of data.  If deleted, it will be recreated, but the "
    "process will take 9-15 seconds longer than normal.";
const DWORD kDescriptionLength = 137;   // written without its terminating zero
static_assert(sizeof(kDescription) - 1 == kDescriptionLength, "description text");

// Three pieces of at most 16,300 bytes, their names, "DDB Pieces" and "Description" come to
// about 49 KB of names and data in the cache key, under the 60 KB or so that Windows 95
// counts (names, data and some overhead per value) and the 64 KB that Windows 98 allows; a
// fourth piece would pass 64 KB. The keys under it hold three pieces each as well.
const DWORD kPiecesPerKey = 3;
const DWORD kPieceNameSize = 16;

// "DDB" for piece 0, "DDB<n>" for piece n. The key that holds pieces 3k to 3k + 2 (k >= 1)
// is named after its first piece.
void PieceName(DWORD piece, char* name) {
    if (piece == 0) {
        lstrcpyA(name, kFirstPiece);
        return;
    }
    wsprintfA(name, "%s%lu", kFirstPiece, piece);
}

bool OpensGroup(DWORD piece) {
    return piece > 0 && piece % kPiecesPerKey == 0;
}

// The number of pieces to read: "DDB Pieces" when it is a sound count, otherwise 1 ("DDB"
// alone, as on a machine where only "DDB" was ever written).
DWORD ReadPieceCount(HKEY key) {
    DWORD count = 0, type = 0, size = sizeof(count);
    if (RegQueryValueExA(key, kPieceCountValue, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(count) || count == 0 || count > VersionCache::kMaxPieces) {
        return 1;
    }
    return count;
}

// One query into room for the largest piece this component writes; a longer value ("DDB" as
// an earlier release writes it where the registry does not limit values) is read with a
// second query into room of its size. A value that grows again between the two counts as
// missing. The value's type is not examined: its bytes are checked entry by entry.
void ReadPiece(HKEY holder, DWORD piece, VersionCache& cache) {
    char name[kPieceNameSize];
    PieceName(piece, name);
    DWORD size = VersionCache::kPieceCapacity;
    BYTE* room = cache.PieceRoom(size);
    if (!room) return cache.MissPiece();
    LONG status = RegQueryValueExA(holder, name, nullptr, nullptr, room, &size);
    if (status == ERROR_MORE_DATA) {
        const DWORD needed = size;
        room = cache.PieceRoom(needed);
        if (!room) return cache.MissPiece();
        size = needed;
        status = RegQueryValueExA(holder, name, nullptr, nullptr, room, &size);
        if (status == ERROR_SUCCESS && size > needed) status = ERROR_MORE_DATA;
    }
    if (status != ERROR_SUCCESS) return cache.MissPiece();
    cache.AdoptPiece(size);
}

// "DDB<n>" with n a multiple of 3 and n >= `pieces`: the key of a group of pieces that the
// save just made stale. Returns false for every other name.
bool IsStaleGroupName(const char* name, DWORD pieces) {
    for (int i = 0; i < 3; ++i) {
        if ((name[i] & ~0x20) != kFirstPiece[i]) return false;   // "DDB" in either case
    }
    const char* digits = name + 3;
    if (digits[0] < '1' || digits[0] > '9') return false;
    DWORD number = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9' || number > 99999999u) return false;
        number = number * 10 + static_cast<DWORD>(*c - '0');
    }
    return number % kPiecesPerKey == 0 && number >= pieces;
}

// Pieces beyond the count that an earlier, larger image or an interrupted save left: the
// unused places of the last key written, and every later key.
void RemoveStalePieces(HKEY key, DWORD pieces) {
    char name[kPieceNameSize];
    const DWORD lastGroup = (pieces - 1) / kPiecesPerKey * kPiecesPerKey;
    RegistryKey group;
    const bool inGroup = lastGroup > 0;
    if (inGroup) PieceName(lastGroup, name);
    if (!inGroup || group.Opened(RegOpenKeyExA(key, name, 0, KEY_SET_VALUE, group.receive()) == ERROR_SUCCESS)) {
        for (DWORD piece = pieces; piece < lastGroup + kPiecesPerKey; ++piece) {
            PieceName(piece, name);
            RegDeleteValueA(inGroup ? group.get() : key, name);
        }
    }
    group.reset();

    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS ||
        subkeys == 0) {
        return;
    }
    // A deleted key moves the later ones down by one place; a key that stays (not a piece
    // key, or one that cannot be deleted) is stepped over. Every pass steps or deletes.
    char subkey[256];
    for (DWORD index = 0, passes = 0; passes <= subkeys; ++passes) {
        DWORD length = sizeof(subkey);
        if (RegEnumKeyExA(key, index, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (!IsStaleGroupName(subkey, pieces) || RegDeleteKeyA(key, subkey) != ERROR_SUCCESS) ++index;
    }
}

}   // namespace

void LoadVersionCache(VersionCache& cache) {
    // Windows 95/98 ignores access masks; elsewhere reading the values is all that is needed.
    RegistryKey key;
    if (!key.Opened(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS)) {
        return;
    }
    const DWORD pieces = ReadPieceCount(key.get());
    RegistryKey group;
    HKEY holder = key.get();
    for (DWORD piece = 0; piece < pieces; ++piece) {
        if (OpensGroup(piece)) {
            char name[kPieceNameSize];
            PieceName(piece, name);
            holder = group.Opened(RegOpenKeyExA(key.get(), name, 0, KEY_QUERY_VALUE, group.receive()) == ERROR_SUCCESS)
                         ? group.get()
                         : nullptr;
        }
        if (holder) {
            ReadPiece(holder, piece, cache);
        } else {
            cache.MissPiece();
        }
    }
}

void SaveVersionCache(const VersionCache& cache) {
    RegistryKey key;
    DWORD disposition = 0;
    if (!key.Opened(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCacheKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, nullptr, key.receive(),
                                    &disposition) == ERROR_SUCCESS)) {
        MessageBoxA(nullptr, "Unable to create key", "SaveCacheToReg", MB_OK);
        return;
    }
    // Write failures after this point go unreported. A piece that is not written keeps what
    // an earlier save left there, or nothing; either way its entries miss or are right.
    uint32_t ends[VersionCache::kMaxPieces];
    const DWORD pieces = cache.SplitIntoPieces(ends);
    RegistryKey group;
    HKEY holder = key.get();
    bool groupTried = true;
    DWORD start = 0;
    for (DWORD piece = 0; piece < pieces; start = ends[piece++]) {
        if (OpensGroup(piece)) {
            group.reset();
            holder = nullptr;
            groupTried = false;
        }
        if (cache.PieceStored(piece, start, ends[piece])) continue;
        char name[kPieceNameSize];
        if (!groupTried) {
            // The key of this group is created when one of its pieces is written first.
            groupTried = true;
            PieceName(piece - piece % kPiecesPerKey, name);
            if (group.Opened(RegCreateKeyExA(key.get(), name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                             nullptr, group.receive(), &disposition) == ERROR_SUCCESS)) {
                holder = group.get();
            }
        }
        if (!holder) continue;
        PieceName(piece, name);
        RegSetValueExA(holder, name, 0, REG_BINARY, cache.Image() + start, ends[piece] - start);
    }
    group.reset();

    // The count follows the pieces: a save stopped before it leaves the earlier count, whose
    // pieces are all there, some of them from this save.
    RegSetValueExA(key.get(), kPieceCountValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pieces), sizeof(pieces));
    RegSetValueExA(key.get(), kDescriptionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kDescription),
                   kDescriptionLength);
    RemoveStalePieces(key.get(), pieces);
}

// VersionCache: per full path, the version stamp and device name of every driver file that an
// earlier run examined, with the file's last-write time at that run. It owns the cache image
// (the entries back to back, layout in version_cache_image.h) and the index of its entries,
// and answers lookups and updates in memory; version_cache_registry.h moves the image to and
// from the registry, where it is kept in pieces.
#pragma once

#include <windows.h>

#include "driver_item.h"
#include "owner.h"
#include "version_cache_index.h"

class VersionCache {
public:
    // Windows 95/98 refuse a registry value of more than 16,300 bytes: no piece is longer.
    static constexpr DWORD kPieceCapacity = 16300;
    // The most pieces a cache keeps (about 1.5 MB; 1023 entries of the longest path take 35).
    static constexpr DWORD kMaxPieces = 96;

    VersionCache();
    VersionCache(const VersionCache&) = delete;
    VersionCache& operator=(const VersionCache&) = delete;

    // Loading, piece by piece in their stored order. PieceRoom gives `size` bytes after the
    // image to read a piece into (null when memory runs out); AdoptPiece then takes the
    // `stored` bytes read there. The stored pieces are shared, unlocked data of any type and
    // content: only each piece's leading whole entries are kept, and of a path stored twice
    // only the first entry. The paths behind a damaged part miss, are read again and recorded
    // in an image that is whole again. MissPiece records a piece that could not be read.
    BYTE* PieceRoom(DWORD size);
    void AdoptPiece(DWORD stored);
    void MissPiece();

    // A hit when the row's full path is stored with the row's last-write time (both halves):
    // the row receives the stored device name and stamp (at most 13 characters). Returns true
    // for a hit, false for a miss; the image does not change.
    bool LookupVersionCache(DriverItem& row) const;

    // Records the row's device name, the first 13 characters of its stamp (an empty stamp too)
    // and its last-write time: in place when its path is stored, as a new entry at the end
    // otherwise. Marks the cache changed.
    void UpdateVersionCache(const DriverItem& row);

    // Whether an update changed the image since it was loaded: only then is it worth saving.
    bool Dirty() const { return dirty_; }
    const BYTE* Image() const { return image_.get(); }
    DWORD Length() const { return length_; }

    // Saving: the image split into pieces of at most kPieceCapacity bytes (`ends`, room for
    // kMaxPieces; returns how many, at least 1), and whether the piece at that place and
    // with those bounds is stored already exactly so: read whole, not changed since.
    DWORD SplitIntoPieces(uint32_t* ends) const;
    bool PieceStored(DWORD piece, DWORD start, DWORD end) const;

private:
    struct LoadedPiece {
        DWORD start, end;   // where its kept entries lie in the image
        bool whole;         // every stored byte kept: no damage, no entry already held
        bool changed;       // an update rewrote an entry in it
    };

    bool ReserveImage(DWORD more);
    bool ReserveIndex(DWORD more);
    void RecordPiece(DWORD start, DWORD end, bool whole);

    HeapArray<BYTE> image_;
    DWORD length_;
    DWORD capacity_;
    HeapArray<CacheIndexSlot> slots_;
    CacheIndex index_;
    LoadedPiece pieces_[kMaxPieces];
    DWORD pieceCount_;
    bool dirty_;
};

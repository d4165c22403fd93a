// Codes that choose how a data frame keeps its pixels.
#pragma once

namespace mem {

// Where and how tiles live. -1 lets the store choose.
enum EMemoryModel : int {
    eMemoryDefault = -1,
    eMemoryTiled = 0,
    eMemoryResident = 4,
    eMemoryTiledSparse = 13,
};

// Row alignment of tiles: rows start on multiples of 2^value bytes.
enum EAlign : int {
    eAlignNone = 0,
    eAlign2 = 1,
    eAlign4 = 2,
    eAlign8 = 3,
    eAlign16 = 4,
    eAlign32 = 5,
    eAlign64 = 6,
};

// Per-tile counters kept by a tile distributor.
enum ETileFlag : int {
    eTileFlagModified = 1,
    eTileFlagLocked = 2,
};

}  // namespace mem

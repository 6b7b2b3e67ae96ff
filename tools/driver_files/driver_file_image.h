// Driver files with real version resources, made in memory for the provisioner, the tests and
// the benchmark: a
// resource-only 32-bit PE image, or a 16-bit NE image, carrying a version block with the file
// version asked for. The platform's version functions read both formats, whatever the file's
// extension.
#pragma once

#include <stdint.h>

#include <vector>

namespace driver_fixtures {

struct FileVersion {
    uint16_t major, minor, third, fourth;   // dwFileVersionMS halves, then dwFileVersionLS halves
};

// A PE image whose RT_VERSION resource 1 holds VS_VERSION_INFO with a VS_FIXEDFILEINFO of
// that file version. `paddingBytes` of zeros grow the resource data (to make files differ in
// size without changing the version).
std::vector<uint8_t> BuildVersionedPe(FileVersion version, uint32_t paddingBytes = 0);

// A PE image with a version block of that file version whose resource entry claims
// `claimedSize` bytes, as a damaged or hostile file's may: the platform's version functions
// report a size from the claim.
std::vector<uint8_t> BuildPeClaimingVersionSize(FileVersion version, uint32_t claimedSize);

// A PE image whose version block carries no fixed file information (root value length 0).
std::vector<uint8_t> BuildPeWithoutFixedInfo();

// A 16-bit NE image with a 16-bit version block of that file version.
std::vector<uint8_t> BuildVersionedNe(FileVersion version);

}   // namespace driver_fixtures

#pragma once

#include "CompanionFile.h"

#include <cstdint>
#include <cstring>

namespace keyferry
{
// The first 16 bytes of every companion file.
struct CompanionHeader
{
    char magic[8];
    std::uint32_t version;
    std::uint32_t recordSize;
};

inline bool isOurs (const CompanionHeader& header, const CompanionFile::Layout& layout) noexcept
{
    return std::memcmp (header.magic, layout.magic, sizeof (header.magic)) == 0;
}

// Ours, of this version and record size, and as long as that layout makes it.
inline bool isCurrent (const CompanionHeader& header, const CompanionFile::Layout& layout, std::size_t fileSize) noexcept
{
    return isOurs (header, layout) && header.version == layout.version && header.recordSize == layout.recordSize
           && fileSize == layout.fileSize;
}

// Writes the header into a freshly zeroed file's view, the magic last.
inline void writeHeader (void* view, const CompanionFile::Layout& layout) noexcept
{
    const CompanionHeader fresh { {}, layout.version, layout.recordSize };
    std::memcpy (view, &fresh, sizeof (fresh));
    std::memcpy (view, layout.magic, sizeof (fresh.magic));
}
} // namespace keyferry

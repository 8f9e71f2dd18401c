// What the mapping does alike on every system; the system calls are in MappedTableFile_<system>.cpp.

#include "MappedTableFile.h"

#include <utility>

namespace keyferry
{

MappedTableFile::~MappedTableFile()
{
    close();
}

MappedTableFile::MappedTableFile (MappedTableFile&& other) noexcept
    : mapped (std::exchange (other.mapped, nullptr)), reason (std::move (other.reason))
{
}

MappedTableFile& MappedTableFile::operator= (MappedTableFile&& other) noexcept
{
    if (this != &other)
    {
        close();
        mapped = std::exchange (other.mapped, nullptr);
        reason = std::move (other.reason);
    }
    return *this;
}

} // namespace keyferry

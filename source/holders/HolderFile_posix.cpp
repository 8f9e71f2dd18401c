#include "HolderFile.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace keyferry
{
namespace
{
constexpr int lockAttempts = 1000; // a millisecond apart

// The file's first 16 bytes, as SharedHolderTable begins.
struct Header
{
    char magic[8];
    std::uint32_t version;
    std::uint32_t recordSize;
};

static_assert (sizeof (Header) == offsetof (SharedHolderTable, records));

bool isOurs (const Header& header) noexcept
{
    return std::memcmp (header.magic, HolderFileMagic, sizeof (HolderFileMagic)) == 0;
}

bool isCurrent (const Header& header) noexcept
{
    return isOurs (header) && header.version == HolderFileVersion && header.recordSize == sizeof (HolderRecord);
}
} // namespace

HolderFile::~HolderFile()
{
    close();
}

bool HolderFile::open (const std::string& path, bool createIfMissing)
{
    close();

    descriptor = ::open (path.c_str(), O_RDWR | O_CLOEXEC | (createIfMissing ? O_CREAT : 0), 0644);
    if (descriptor < 0)
        return false;

    // Checking and laying out the file happens under the lock, so that two receivers starting
    // at once do not both lay it out.
    if (! lock())
    {
        close();
        return false;
    }

    struct stat info {};
    Header header {};
    const auto regular = ::fstat (descriptor, &info) == 0 && S_ISREG (info.st_mode);
    const auto headerRead = regular && ::pread (descriptor, &header, sizeof (header), 0) == static_cast<ssize_t> (sizeof (header));
    const auto ours = headerRead && isOurs (header);
    const auto current = ours && isCurrent (header) && static_cast<std::size_t> (info.st_size) == HolderFileSize;

    // Another version of ours is left alone, and not used. Anything else a receiver lays out
    // anew: zero bytes of the right size, then the header.
    const auto layOut = regular && ! ours && createIfMissing;
    if (layOut && (::ftruncate (descriptor, 0) != 0 || ::ftruncate (descriptor, static_cast<off_t> (HolderFileSize)) != 0))
        return unlock(), close(), false;

    if (current || layOut)
    {
        void* view = ::mmap (nullptr, HolderFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        if (view != MAP_FAILED)
        {
            mapped = static_cast<SharedHolderTable*> (view);
            if (layOut)
            {
                mapped->version = HolderFileVersion;
                mapped->recordSize = sizeof (HolderRecord);
                std::memcpy (mapped->magic, HolderFileMagic, sizeof (HolderFileMagic));
            }
        }
    }

    unlock();

    if (mapped == nullptr)
        close();

    return mapped != nullptr;
}

void HolderFile::close() noexcept
{
    if (mapped != nullptr)
        ::munmap (mapped, HolderFileSize);
    mapped = nullptr;

    if (descriptor >= 0)
        ::close (descriptor);
    descriptor = -1;
}

bool HolderFile::lock() noexcept
{
    for (int attempt = 0; attempt < lockAttempts; ++attempt)
    {
        if (::flock (descriptor, LOCK_EX | LOCK_NB) == 0)
            return true;

        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;

        const timespec pause { 0, 1000000 };
        ::nanosleep (&pause, nullptr);
    }
    return false;
}

void HolderFile::unlock() noexcept
{
    ::flock (descriptor, LOCK_UN);
}

} // namespace keyferry

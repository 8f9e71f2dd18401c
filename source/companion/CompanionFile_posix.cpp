#include "CompanionFile.h"
#include "CompanionHeader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace keyferry
{

bool CompanionFile::open (const std::string& path, const Layout& layout, bool createIfMissing)
{
    close();

    descriptor = ::open (path.c_str(), O_RDWR | O_CLOEXEC | (createIfMissing ? O_CREAT : 0), 0644);
    if (descriptor < 0)
        return false;

    // Checking and laying out happen under the lock, so two receivers starting at once do not
    // both lay the file out.
    if (! lock())
    {
        close();
        return false;
    }

    struct stat info {};
    CompanionHeader header {};
    const auto regular = ::fstat (descriptor, &info) == 0 && S_ISREG (info.st_mode);
    const auto headerRead = regular && ::pread (descriptor, &header, sizeof (header), 0) == static_cast<ssize_t> (sizeof (header));
    const auto ours = headerRead && isOurs (header, layout);
    const auto current = headerRead && isCurrent (header, layout, static_cast<std::size_t> (info.st_size));

    // Anything that is not ours a receiver lays out anew: zero bytes of the right size, then
    // the header. Another version of ours stays as it is.
    const auto layOut = regular && ! ours && createIfMissing
                        && ::ftruncate (descriptor, 0) == 0 && ::ftruncate (descriptor, static_cast<off_t> (layout.fileSize)) == 0;

    void* view = nullptr;
    if (current || layOut)
    {
        view = ::mmap (nullptr, layout.fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        if (view == MAP_FAILED)
            view = nullptr;
    }

    return finishOpen (view, layout, layOut);
}

void CompanionFile::close() noexcept
{
    if (mapped != nullptr)
        ::munmap (mapped, mappedSize);
    mapped = nullptr;
    mappedSize = 0;

    if (descriptor >= 0)
        ::close (descriptor);
    descriptor = -1;
}

bool CompanionFile::lock() noexcept
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

void CompanionFile::unlock() noexcept
{
    ::flock (descriptor, LOCK_UN);
}

} // namespace keyferry

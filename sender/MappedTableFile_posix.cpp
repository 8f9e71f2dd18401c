#include "MappedTableFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace keyferry
{

MappedTableFile::~MappedTableFile()
{
    close();
}

MappedTableFile::MappedTableFile (MappedTableFile&& other) noexcept
    : mapped (std::exchange (other.mapped, nullptr))
{
}

MappedTableFile& MappedTableFile::operator= (MappedTableFile&& other) noexcept
{
    if (this != &other)
    {
        close();
        mapped = std::exchange (other.mapped, nullptr);
    }
    return *this;
}

MappedTableFile::Status MappedTableFile::open (const std::string& path)
{
    close();

    const int descriptor = ::open (path.c_str(), O_RDWR | O_CLOEXEC);

    if (descriptor < 0)
        return errno == ENOENT ? Status::missing : Status::failed;

    struct stat info {};
    const auto sized = ::fstat (descriptor, &info) == 0 && S_ISREG (info.st_mode)
                       && static_cast<std::size_t> (info.st_size) == TableFileSize;

    void* view = sized ? ::mmap (nullptr, TableFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0) : MAP_FAILED;
    ::close (descriptor); // the mapping keeps the file

    if (! sized)
        return Status::wrongSize;

    if (view == MAP_FAILED)
        return Status::failed;

    mapped = static_cast<SharedReceiverTable*> (view);
    return Status::mapped;
}

void MappedTableFile::close() noexcept
{
    if (mapped != nullptr)
        ::munmap (mapped, TableFileSize);

    mapped = nullptr;
}

std::string MappedTableFile::defaultPath()
{
    const char* home = std::getenv ("HOME");
    return std::string (home != nullptr ? home : "") + "/.config/" + TableFileRelativePath;
}

} // namespace keyferry

#include "MappedTableFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace keyferry
{

MappedTableFile::Status MappedTableFile::open (const std::string& path)
{
    close();
    reason.clear();

    const int descriptor = ::open (path.c_str(), O_RDWR | O_CLOEXEC);

    if (descriptor < 0)
    {
        const auto error = errno;
        reason = std::strerror (error);
        return error == ENOENT ? Status::missing : Status::failed;
    }

    struct stat info {};
    if (::fstat (descriptor, &info) != 0)
    {
        reason = std::strerror (errno);
        ::close (descriptor);
        return Status::failed;
    }

    const auto sized = S_ISREG (info.st_mode) && static_cast<std::size_t> (info.st_size) == TableFileSize;
    void* view = sized ? ::mmap (nullptr, TableFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0) : MAP_FAILED;
    const auto mapError = errno;
    ::close (descriptor); // the mapping keeps the file

    if (! sized)
    {
        reason = S_ISREG (info.st_mode) ? std::to_string (info.st_size) + " bytes long" : "not a regular file";
        return Status::wrongSize;
    }

    if (view == MAP_FAILED)
    {
        reason = std::strerror (mapError);
        return Status::failed;
    }

    mapped = static_cast<SharedReceiverTable*> (view);
    return Status::mapped;
}

void MappedTableFile::close() noexcept
{
    if (mapped != nullptr)
        ::munmap (mapped, TableFileSize);

    mapped = nullptr;
}

namespace
{
// HOME as the framework reads it, or the account's home folder from the user database, as the
// framework falls back to.
std::string homeFolder()
{
    if (const char* home = std::getenv ("HOME"))
        return home;

    std::vector<char> buffer (16384);
    passwd account {};
    passwd* found = nullptr;

    if (::getpwuid_r (::getuid(), &account, buffer.data(), buffer.size(), &found) == 0 && found != nullptr && found->pw_dir != nullptr)
        return found->pw_dir;

    return {};
}
} // namespace

std::string MappedTableFile::defaultPath()
{
    // Where the framework puts the user's application-data folder.
   #if defined(__APPLE__)
    return homeFolder() + "/Library/" + TableFileRelativePath;
   #else
    return homeFolder() + "/.config/" + TableFileRelativePath;
   #endif
}

} // namespace keyferry

#include "CompanionFile.h"
#include "CompanionHeader.h"

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include "WideText_windows.h"

#include <cstring>
#include <string>

namespace keyferry
{
namespace
{
HANDLE handleOf (int descriptor) noexcept
{
    return reinterpret_cast<HANDLE> (static_cast<std::intptr_t> (descriptor));
}
} // namespace

bool CompanionFile::open (const std::string& path, const Layout& layout, bool createIfMissing)
{
    close();

    const auto file = ::CreateFileW (wide (path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, createIfMissing ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;

    // The handle, kept in the descriptor's place: Windows handles fit in an int.
    descriptor = static_cast<int> (reinterpret_cast<std::intptr_t> (file));

    if (! lock())
    {
        close();
        return false;
    }

    LARGE_INTEGER size {};
    CompanionHeader header {};
    DWORD got = 0;
    OVERLAPPED atStart {};
    const auto sized = ::GetFileSizeEx (file, &size) != 0;
    const auto headerRead = sized && ::ReadFile (file, &header, sizeof (header), &got, &atStart) && got == sizeof (header);
    const auto ours = headerRead && isOurs (header, layout);
    const auto current = headerRead && isCurrent (header, layout, static_cast<std::size_t> (size.QuadPart));

    // Anything that is not ours a receiver lays out anew; another version of ours stays as it is.
    auto layOut = sized && ! ours && createIfMissing;
    if (layOut)
    {
        LARGE_INTEGER zero {}, full {};
        full.QuadPart = static_cast<LONGLONG> (layout.fileSize);
        layOut = ::SetFilePointerEx (file, zero, nullptr, FILE_BEGIN) && ::SetEndOfFile (file)
                 && ::SetFilePointerEx (file, full, nullptr, FILE_BEGIN) && ::SetEndOfFile (file);
    }

    void* view = nullptr;
    if (current || layOut)
    {
        const auto mapping = ::CreateFileMappingW (file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        view = mapping != nullptr ? ::MapViewOfFile (mapping, FILE_MAP_ALL_ACCESS, 0, 0, layout.fileSize) : nullptr;
        if (mapping != nullptr)
            ::CloseHandle (mapping);
    }

    return finishOpen (view, layout, layOut);
}

void CompanionFile::close() noexcept
{
    if (mapped != nullptr)
        ::UnmapViewOfFile (mapped);
    mapped = nullptr;
    mappedSize = 0;

    if (descriptor >= 0)
        ::CloseHandle (handleOf (descriptor));
    descriptor = -1;
}

bool CompanionFile::lock() noexcept
{
    for (int attempt = 0; attempt < lockAttempts; ++attempt)
    {
        OVERLAPPED whole {};
        if (::LockFileEx (handleOf (descriptor), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
            return true;

        if (::GetLastError() != ERROR_LOCK_VIOLATION)
            return false;
        ::Sleep (1);
    }
    return false;
}

void CompanionFile::unlock() noexcept
{
    OVERLAPPED whole {};
    ::UnlockFileEx (handleOf (descriptor), 0, MAXDWORD, MAXDWORD, &whole);
}

} // namespace keyferry

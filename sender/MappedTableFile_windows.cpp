#include "MappedTableFile.h"

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <companion/WideText_windows.h>
#include <shlobj.h>

#include <string>
#include <utility>

namespace keyferry
{
namespace
{
std::string narrow (const wchar_t* text)
{
    const auto length = ::WideCharToMultiByte (CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return {};
    std::string result (static_cast<std::size_t> (length - 1), '\0');
    ::WideCharToMultiByte (CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
}

std::string systemWords (DWORD error)
{
    wchar_t* words = nullptr;
    ::FormatMessageW (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                      reinterpret_cast<wchar_t*> (&words), 0, nullptr);
    auto text = words != nullptr ? narrow (words) : "error " + std::to_string (error);
    ::LocalFree (words);
    while (! text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    return text;
}
} // namespace

MappedTableFile::Status MappedTableFile::open (const std::string& path)
{
    close();
    reason.clear();

    // Receivers and other peers have the file open too: share everything.
    const auto file = ::CreateFileW (wide (path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (file == INVALID_HANDLE_VALUE)
    {
        const auto error = ::GetLastError();
        reason = systemWords (error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Status::missing : Status::failed;
    }

    LARGE_INTEGER size {};
    if (! ::GetFileSizeEx (file, &size) || static_cast<std::size_t> (size.QuadPart) != TableFileSize)
    {
        reason = std::to_string (size.QuadPart) + " bytes long";
        ::CloseHandle (file);
        return Status::wrongSize;
    }

    const auto mapping = ::CreateFileMappingW (file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    void* view = mapping != nullptr ? ::MapViewOfFile (mapping, FILE_MAP_ALL_ACCESS, 0, 0, TableFileSize) : nullptr;
    const auto error = ::GetLastError();

    // The view keeps the mapping and the file.
    if (mapping != nullptr)
        ::CloseHandle (mapping);
    ::CloseHandle (file);

    if (view == nullptr)
    {
        reason = systemWords (error);
        return Status::failed;
    }

    mapped = static_cast<SharedReceiverTable*> (view);
    return Status::mapped;
}

void MappedTableFile::close() noexcept
{
    if (mapped != nullptr)
        ::UnmapViewOfFile (mapped);
    mapped = nullptr;
}

std::string MappedTableFile::defaultPath()
{
    // The roaming application-data folder, as the framework's receivers find it.
    wchar_t folder[MAX_PATH] {};
    if (::SHGetFolderPathW (nullptr, CSIDL_APPDATA, nullptr, 0, folder) != S_OK)
        return {};

    std::string path = narrow (folder) + "\\" + TableFileRelativePath;
    for (auto& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

} // namespace keyferry

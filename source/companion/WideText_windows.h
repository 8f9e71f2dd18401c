#pragma once

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace keyferry
{
// UTF-8 to the UTF-16 that the wide Windows calls take.
inline std::wstring wide (const std::string& text)
{
    if (text.empty())
        return {};
    const auto length = ::MultiByteToWideChar (CP_UTF8, 0, text.data(), static_cast<int> (text.size()), nullptr, 0);
    std::wstring result (static_cast<std::size_t> (length), L'\0');
    ::MultiByteToWideChar (CP_UTF8, 0, text.data(), static_cast<int> (text.size()), result.data(), length);
    return result;
}
} // namespace keyferry

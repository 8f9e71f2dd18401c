#pragma once

#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace keyferry
{

// A 128-bit identifier written as 32 hexadecimal digits (a boot id, a GUID; dashes and braces
// are skipped) as two little-endian words: digit k is bits 4 * (k mod 16) of word k / 16. Zero
// words where the text does not hold exactly 32 digits.
inline std::array<std::uint64_t, 2> hexIdentifierWords (std::string_view text) noexcept
{
    std::array<std::uint64_t, 2> words {};
    int digits = 0;

    for (const auto c : text)
    {
        const auto character = static_cast<unsigned char> (c);
        if (! std::isxdigit (character))
            continue;
        if (digits == 32)
            return {};

        const auto value = static_cast<std::uint64_t> (std::isdigit (character) ? character - '0' : std::tolower (character) - 'a' + 10);
        words[static_cast<std::size_t> (digits / 16)] |= value << (4 * (digits % 16));
        ++digits;
    }

    return digits == 32 ? words : std::array<std::uint64_t, 2> {};
}

} // namespace keyferry

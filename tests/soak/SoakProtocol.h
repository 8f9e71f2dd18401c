#pragma once

// What the soak's processes agree on: a message is a seven-byte system-exclusive message
// carrying the peer's number and a 28-bit sequence number.

#include <array>
#include <cstdint>

namespace soak
{
using Message = std::array<std::uint8_t, 7>;

inline Message encode (int peer, std::uint32_t sequence)
{
    return { 0xf0,
             static_cast<std::uint8_t> (peer & 0x7f),
             static_cast<std::uint8_t> (sequence & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 7) & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 14) & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 21) & 0x7f),
             0xf7 };
}

// False for anything that is not a whole message of this form.
inline bool decode (const std::uint8_t* data, int size, int& peer, std::uint32_t& sequence)
{
    if (size != 7 || data[0] != 0xf0 || data[6] != 0xf7)
        return false;
    for (int i = 1; i < 6; ++i)
        if (data[i] >= 0x80)
            return false;
    peer = data[1];
    sequence = std::uint32_t (data[2]) | std::uint32_t (data[3]) << 7 | std::uint32_t (data[4]) << 14 | std::uint32_t (data[5]) << 21;
    return true;
}
} // namespace soak

// The framework's OSC code is compiled here rather than linked as a module, so that its packet
// reader, which is internal to it, can read datagrams this tool has checked first. It must come
// before any other header.
#include <juce_osc/juce_osc.cpp>

#include "OscPacketReader.h"

namespace
{
constexpr int maxWalkDepth = 64; // deeper bundles are refused; the router drops past 8 anyway

std::uint32_t bigEndian32 (const std::uint8_t* p)
{
    return (std::uint32_t (p[0]) << 24) | (std::uint32_t (p[1]) << 16) | (std::uint32_t (p[2]) << 8) | p[3];
}

bool walk (const std::uint8_t* data, std::size_t size, int depth)
{
    static constexpr char bundleHeader[8] = { '#', 'b', 'u', 'n', 'd', 'l', 'e', '\0' };
    if (size >= 8 && std::memcmp (data, bundleHeader, 8) == 0)
    {
        if (depth >= maxWalkDepth || size < 16)
            return false;
        for (std::size_t at = 16; at < size;)
        {
            if (size - at < 4)
                return false;
            const auto elementSize = bigEndian32 (data + at);
            at += 4;
            if (elementSize > size - at || ! walk (data + at, elementSize, depth + 1))
                return false;
            at += elementSize;
        }
        return true;
    }

    // A message: its address runs to the first NUL, which must be inside the packet.
    if (size == 0 || data[0] != '/')
        return false;
    for (std::size_t at = 0; at < size; ++at)
    {
        if (data[at] == 0)
            return true;
        if (data[at] < 0x20 || data[at] > 0x7e)
            return false;
    }
    return false;
}
} // namespace

bool oscAddressesArePrintable (const std::uint8_t* data, std::size_t size)
{
    return walk (data, size, 0);
}

std::optional<juce::OSCBundle::Element> readOscPacket (const void* data, std::size_t size)
{
    // The framework's reader takes whole datagrams of at least 4 bytes.
    if (size < 4 || ! oscAddressesArePrintable (static_cast<const std::uint8_t*> (data), size))
        return std::nullopt;

    juce::OSCInputStream stream (data, size);
    try
    {
        return stream.readElementWithKnownSize (size);
    }
    catch (const juce::OSCFormatError&)
    {
        return std::nullopt;
    }
}

// The framework's OSC code is compiled here rather than linked as a module, so that its packet
// reader, which is internal to it, can read datagrams this tool has checked first. It must come
// before any other header.
#include <juce_osc/juce_osc.cpp>

#include "OscPacketReader.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <vector>

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
using Packet = std::vector<std::uint8_t>;

void appendBigEndian32 (Packet& out, std::uint32_t value)
{
    for (const auto shift : { 24, 16, 8, 0 })
        out.push_back (static_cast<std::uint8_t> (value >> shift));
}

// The padded length of the NUL-terminated string at 'at', or 0 where it does not end in the packet.
std::size_t paddedStringLength (const std::uint8_t* data, std::size_t size, std::size_t at)
{
    for (auto end = at; end < size; ++end)
        if (data[end] == 0)
            return std::min (size - at, ((end - at) / 4 + 1) * 4);
    return 0;
}

// Copies the packet into 'out' with every MIDI-message argument ('m': port, status, data 1,
// data 2) turned into a blob of the message's own bytes, which the framework's reader knows.
// False where the packet cannot be walked; the framework's reader then judges it as it is.
bool rewriteMidiArguments (const std::uint8_t* data, std::size_t size, int depth, Packet& out)
{
    static constexpr char bundleHeader[8] = { '#', 'b', 'u', 'n', 'd', 'l', 'e', '\0' };
    if (size >= 16 && std::memcmp (data, bundleHeader, 8) == 0)
    {
        if (depth >= maxWalkDepth)
            return false;
        out.insert (out.end(), data, data + 16);
        for (std::size_t at = 16; at < size;)
        {
            if (size - at < 4)
                return false;
            const auto elementSize = bigEndian32 (data + at);
            at += 4;
            if (elementSize > size - at)
                return false;
            const auto sizeAt = out.size();
            appendBigEndian32 (out, 0);
            if (! rewriteMidiArguments (data + at, elementSize, depth + 1, out))
                return false;
            const auto written = static_cast<std::uint32_t> (out.size() - sizeAt - 4);
            for (int i = 0; i < 4; ++i)
                out[sizeAt + static_cast<std::size_t> (i)] = static_cast<std::uint8_t> (written >> (24 - 8 * i));
            at += elementSize;
        }
        return true;
    }

    const auto addressLength = paddedStringLength (data, size, 0);
    const auto tagsLength = addressLength > 0 ? paddedStringLength (data, size, addressLength) : 0;
    if (tagsLength == 0 || data[addressLength] != ',')
        return false;

    out.insert (out.end(), data, data + addressLength);
    const auto tagsAt = out.size();
    out.insert (out.end(), data + addressLength, data + addressLength + tagsLength);

    auto at = addressLength + tagsLength;
    for (auto tag = addressLength + 1; tag < size && data[tag] != 0; ++tag)
    {
        std::size_t argumentSize = 0;
        switch (data[tag])
        {
            case 'i': case 'f': case 'r': argumentSize = 4; break;
            case 's': argumentSize = paddedStringLength (data, size, at); break;
            case 'b': argumentSize = size - at >= 4 ? 4 + (bigEndian32 (data + at) + 3u) / 4u * 4u : 0; break;
            case 'm': argumentSize = 4; break;
            default: return false;
        }
        if (argumentSize == 0 || argumentSize > size - at)
            return false;

        if (data[tag] == 'm')
        {
            // Byte 0 names a port, which a receiver has no use for; the message is as long as its
            // status byte says.
            const auto length = std::min (3, juce::MidiMessage::getMessageLengthFromFirstByte (data[at + 1]));
            out[tagsAt + (tag - addressLength)] = 'b';
            appendBigEndian32 (out, static_cast<std::uint32_t> (length));
            out.insert (out.end(), data + at + 1, data + at + 1 + length);
            out.insert (out.end(), static_cast<std::size_t> (4 - length), 0);
        }
        else
        {
            out.insert (out.end(), data + at, data + at + argumentSize);
        }
        at += argumentSize;
    }
    out.insert (out.end(), data + at, data + size); // whatever follows, for the reader to judge
    return true;
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

    // Only a packet that may hold a MIDI-message argument is copied.
    Packet rewritten;
    const auto* bytes = static_cast<const std::uint8_t*> (data);
    if (std::find (bytes, bytes + size, 'm') != bytes + size && rewriteMidiArguments (bytes, size, 0, rewritten))
    {
        data = rewritten.data();
        size = rewritten.size();
    }

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

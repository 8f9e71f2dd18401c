// Which datagrams reach the framework's OSC reader: only those whose addresses, nested or not,
// are printable text inside the packet.

#include <OscPacketReader.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Packet = std::vector<std::uint8_t>;

Packet padded (std::string text)
{
    text.resize ((text.size() / 4 + 1) * 4, '\0');
    return Packet (text.begin(), text.end());
}

Packet operator+ (Packet a, const Packet& b)
{
    a.insert (a.end(), b.begin(), b.end());
    return a;
}

Packet sized (const Packet& element)
{
    const auto n = element.size();
    return Packet { std::uint8_t (n >> 24), std::uint8_t (n >> 16), std::uint8_t (n >> 8), std::uint8_t (n) } + element;
}

Packet bundleOf (const Packet& elements)
{
    return padded ("#bundle") + Packet { 0, 0, 0, 0, 0, 0, 0, 1 } + elements;
}

const Packet note = padded ("/keyferry/1/note_on") + padded (",iii") + Packet (12, 1);
const Packet badAddress = Packet { '/', 'k', 0xbf, 0 } + padded (",");
} // namespace

TEST (OscPacketReader, ReadsOnlyPacketsWhoseAddressesAreText)
{
    const struct
    {
        const char* what;
        Packet packet;
        bool read;
    } cases[] = {
        { "a message", note, true },
        { "a bundle in a bundle", bundleOf (sized (bundleOf (sized (note)))), true },
        { "an address byte above ASCII", badAddress, false },
        { "a control byte in the address", Packet { '/', 'k', '\n', 0 } + padded (","), false },
        { "one nested deep in bundles", bundleOf (sized (note) + sized (bundleOf (sized (badAddress)))), false },
        { "an address with no end", Packet { '/', 'k', 'e', 'y' }, false },
        { "an element longer than the packet", bundleOf (Packet { 0, 0, 1, 0 } + note), false },
        { "an element size cut short", bundleOf (sized (note) + Packet { 0, 0 }), false },
        { "under 4 bytes", Packet { '/', 0 }, false },
        { "not OSC", padded ("hello"), false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        EXPECT_EQ (readOscPacket (c.packet.data(), c.packet.size()).has_value(), c.read);
    }
}

TEST (OscPacketReader, RefusesBundlesNestedPastAnyUse)
{
    Packet packet = note;
    for (int depth = 0; depth < 100; ++depth)
        packet = bundleOf (sized (packet));
    EXPECT_FALSE (oscAddressesArePrintable (packet.data(), packet.size()));
}

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

// The OSC MIDI-message type: port, status, data 1, data 2; a blob of the message's own bytes
// comes out, beside arguments of other types and inside bundles.
TEST (OscPacketReader, MidiMessageArgumentsArriveAsTheirBytes)
{
    const auto withMidi = [] (const char* tags, const Packet& arguments)
    { return padded ("/keyferry/1/raw") + padded (tags) + arguments; };
    const auto blobOf = [] (const juce::OSCArgument& argument)
    {
        const auto& blob = argument.getBlob();
        const auto* data = static_cast<const std::uint8_t*> (blob.getData());
        return Packet (data, data + blob.getSize());
    };

    const auto noteOn = readOscPacket (withMidi (",m", { 0, 0x90, 60, 100 }).data(), 24);
    ASSERT_TRUE (noteOn && noteOn->isMessage());
    ASSERT_EQ (noteOn->getMessage().size(), 1);
    EXPECT_EQ (blobOf (noteOn->getMessage()[0]), (Packet { 0x90, 60, 100 }));

    const auto mixed = bundleOf (sized (withMidi (",smim", padded ("x") + Packet { 3, 0xc1, 5, 0, 0, 0, 0, 7, 0, 0xf8, 0, 0 })));
    const auto read = readOscPacket (mixed.data(), mixed.size());
    ASSERT_TRUE (read && read->isBundle());
    const auto& message = read->getBundle()[0].getMessage();
    ASSERT_EQ (message.size(), 4);
    EXPECT_EQ (message[0].getString(), "x");
    EXPECT_EQ (blobOf (message[1]), (Packet { 0xc1, 5 }));
    EXPECT_EQ (message[2].getInt32(), 7);
    EXPECT_EQ (blobOf (message[3]), (Packet { 0xf8 }));

    const auto cutShort = withMidi (",m", { 0, 0x90 });
    EXPECT_FALSE (readOscPacket (cutShort.data(), cutShort.size()));
}

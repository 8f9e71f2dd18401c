// libFuzzer target: arbitrary bytes as the block clocks a receiver published (clocks.dat is
// anyone's to write) and as OSC packets, routed into a held receiver's ring. A packet is either
// the raw bytes of a datagram, read exactly as the receiving thread of `keyferry osc` reads one,
// or a tree of bundles and messages built from the bytes, which reaches deeper into the router. Checks that nothing crashes or overflows
// (AddressSanitizer, UndefinedBehaviorSanitizer), that every message in the ring is one complete
// MIDI message, and that the router counts as sent exactly what it wrote.
//
// Input: a mode byte (bit 0: clocks.dat is open and the receiver says yes to timed delivery;
// bit 1: the rest after the clocks is one raw datagram), a count of block clocks and their
// fields, then the packets; whatever runs out reads as 0.

#include <OscPacketReader.h>
#include <OscRouter.h>

#include <sender/RingWriter.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace
{
constexpr const char* claimId = "0123456789abcdef4123456789abcdef";

// The fuzzer's bytes, read front to back; past the end, zeros.
class Bytes
{
public:
    Bytes (const std::uint8_t* dataToRead, std::size_t sizeToRead) : data (dataToRead), size (sizeToRead) {}

    template <typename Value>
    Value next()
    {
        Value value {};
        const auto count = std::min (sizeof (Value), size - at);
        std::memcpy (&value, data + at, count);
        at += count;
        return value;
    }

    bool empty() const { return at >= size; }

    // All that is left, consumed.
    std::pair<const std::uint8_t*, std::size_t> rest()
    {
        const auto left = std::make_pair (data + at, size - at);
        at = size;
        return left;
    }

private:
    const std::uint8_t* data;
    std::size_t size, at = 0;
};

double sampleRateFrom (std::uint8_t choice, Bytes& bytes)
{
    switch (choice % 6)
    {
        case 0: return 48000.0;
        case 1: return 44100.0;
        case 2: return 0.0;
        case 3: return std::numeric_limits<double>::quiet_NaN();
        case 4: return std::numeric_limits<double>::infinity();
        default: return bytes.next<double>();
    }
}

juce::OSCAddressPattern addressFrom (Bytes& bytes)
{
    static const char* const known[] = { "/keyferry/1/note_on", "/keyferry/note_off", "/keyferry/1/cc", "/keyferry/1/program",
                                         "/keyferry/1/pitch_bend", "/keyferry/raw", "/keyferry/1/panic", "/keyferry/2/note_on",
                                         "/keyferry/x/cc", "/keyferry//note_on", "/keyferry/1/2/cc", "/other" };
    const auto choice = bytes.next<std::uint8_t>();
    if (choice < 240)
        return juce::OSCAddressPattern (known[choice % std::size (known)]);

    // Any address the pattern type accepts.
    juce::String text ("/");
    for (auto length = bytes.next<std::uint8_t>() % 16; length > 0; --length)
        text += juce::String::charToString (static_cast<juce::juce_wchar> (bytes.next<std::uint8_t>() % 95 + 32));
    try
    {
        return juce::OSCAddressPattern (text);
    }
    catch (const juce::OSCFormatError&)
    {
        return juce::OSCAddressPattern ("/keyferry/1/note_on");
    }
}

juce::OSCMessage messageFrom (Bytes& bytes)
{
    juce::OSCMessage message (addressFrom (bytes));
    for (auto count = bytes.next<std::uint8_t>() % 5; count > 0; --count)
    {
        switch (bytes.next<std::uint8_t>() % 5)
        {
            case 0: message.addInt32 (bytes.next<std::int8_t>() % 2 == 0 ? bytes.next<std::int32_t>() : bytes.next<std::uint8_t>()); break;
            case 1: message.addFloat32 (bytes.next<float>()); break;
            case 2: message.addString ("x"); break;
            case 3:
            {
                juce::MemoryBlock blob;
                for (auto length = bytes.next<std::uint8_t>() % 12; length > 0; --length)
                {
                    const auto byte = bytes.next<std::uint8_t>();
                    blob.append (&byte, 1);
                }
                message.addBlob (blob);
                break;
            }
            default: message.addArgument (juce::OSCArgument (juce::OSCColour::fromInt32 (bytes.next<std::uint32_t>()))); break;
        }
    }
    return message;
}

// A time tag: immediately, past, a few milliseconds ahead, far ahead, or any 64 bits.
juce::OSCTimeTag timeTagFrom (Bytes& bytes)
{
    const auto now = juce::Time::getCurrentTime();
    switch (bytes.next<std::uint8_t>() % 5)
    {
        case 0: return juce::OSCTimeTag::immediately;
        case 1: return juce::OSCTimeTag (now - juce::RelativeTime::milliseconds (bytes.next<std::uint8_t>()));
        case 2: return juce::OSCTimeTag (now + juce::RelativeTime::milliseconds (bytes.next<std::uint8_t>() % 20));
        case 3: return juce::OSCTimeTag (now + juce::RelativeTime::hours (1));
        default: return juce::OSCTimeTag (bytes.next<juce::uint64>());
    }
}

juce::OSCBundle bundleFrom (Bytes& bytes, int depth)
{
    juce::OSCBundle bundle (timeTagFrom (bytes));
    for (auto count = bytes.next<std::uint8_t>() % 6; count > 0 && ! bytes.empty(); --count)
    {
        if (bytes.next<std::uint8_t>() % 4 == 0 && depth < OscRouter::maxNesting + 1)
            bundle.addElement (bundleFrom (bytes, depth + 1));
        else
            bundle.addElement (messageFrom (bytes));
    }
    return bundle;
}

struct Harness
{
    Harness()
    {
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

        // A table in which receiver 1 is held, as a running plug-in leaves it.
        juce::MemoryBlock image (keyferry::TableFileSize, true);
        auto& slot = static_cast<keyferry::SharedReceiverTable*> (image.getData())->slots[0];
        slot.active = 1;
        std::strcpy (slot.id, claimId);
        const juce::File file (keyferry::MappedTableFile::defaultPath());
        if (! file.getParentDirectory().createDirectory().wasOk() || ! file.replaceWithData (image.getData(), image.getSize())
            || table.open (file.getFullPathName().toStdString()) != keyferry::SendResult::ok
            || ! clocks.open (keyferry::BlockClockFile::pathNextTo (file.getFullPathName().toStdString()), true))
            std::abort();
        closed.close();

        char id[keyferry::IdFieldSize] {};
        std::strcpy (id, claimId);
        keyferry::claimIdWords (id, claimWords);
    }

    juce::File home = juce::File::createTempFile ("keyferry-fuzz-home");
    keyferry::SenderTable table;
    keyferry::BlockClockFile clocks, closed;
    std::uint64_t claimWords[keyferry::ClaimIdWords] {};
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static Harness harness;
    auto& slot = harness.table.image()->slots[0];
    slot.readPos.store (0);
    slot.writePos.store (0);

    Bytes bytes (data, size);
    const auto mode = bytes.next<std::uint8_t>();
    const auto timed = (mode & 1) != 0;
    const auto raw = (mode & 2) != 0;
    auto& record = harness.clocks.shared()->clocks[0];

    keyferry::BlockClock clock;
    clock.flags = keyferry::clockTimedDelivery;
    std::copy (std::begin (harness.claimWords), std::end (harness.claimWords), std::begin (clock.claimId));
    clock.blockStartNanos = keyferry::monotonicNanos();
    clock.sampleRate = 48000.0;
    keyferry::publish (record, clock);

    OscRouter router (harness.table, timed ? harness.clocks : harness.closed, 1);

    // The first message makes the router ask for timed delivery and find the receiver's yes.
    router.handle (juce::OSCMessage ("/keyferry/1/cc", 1, 1, 1));
    router.pump();

    // Block clocks as the receiver, or anyone else, wrote them.
    for (auto count = bytes.next<std::uint8_t>() % 40; count > 0; --count)
    {
        clock.sampleCount += bytes.next<std::uint16_t>();
        clock.blockStartNanos += static_cast<std::uint64_t> (bytes.next<std::int32_t>());
        clock.sampleRate = sampleRateFrom (bytes.next<std::uint8_t>(), bytes);
        if (bytes.next<std::uint8_t>() % 8 == 0)
            clock.claimId[0] ^= 1; // a claim the router did not ask about
        keyferry::publish (record, clock);
        router.pump();
    }

    // One datagram, as the receiving thread hands it over: content, or counted as not OSC.
    if (raw)
    {
        const auto [packet, packetSize] = bytes.rest();
        if (const auto element = readOscPacket (packet, packetSize); ! element)
            router.countMalformed();
        else if (element->isMessage())
            router.handle (element->getMessage());
        else if (element->isBundle())
            router.handle (element->getBundle());
        router.pump();
    }

    while (! bytes.empty())
    {
        if (bytes.next<std::uint8_t>() % 2 == 0)
            router.handle (messageFrom (bytes));
        else
            router.handle (bundleFrom (bytes, 0));
        router.pump();
    }

    // Every message in the ring is one complete MIDI message, and the router sent those.
    long messages = 0;
    for (auto at = slot.readPos.load(); at != slot.writePos.load(); ++messages)
    {
        std::uint16_t length;
        std::memcpy (&length, slot.ring + at + 4, 2);
        if (at + 6u + length > keyferry::RingSize
            || keyferry::RingWriter::validate ({ 0, slot.ring + at + 6, length }) != keyferry::SendResult::ok)
            std::abort();
        at += 6u + length;
    }
    if (messages != router.sent())
        std::abort();
    return 0;
}

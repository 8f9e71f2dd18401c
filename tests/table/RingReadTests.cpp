// Draining a slot's ring: the walk rules, damaged content and the bound on the walk.

#include "../support/CollectingLogger.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
using keyferry::RingSize;

using Bytes = std::vector<std::uint8_t>;

struct Event
{
    int samplePosition;
    Bytes bytes;

    bool operator== (const Event& other) const { return samplePosition == other.samplePosition && bytes == other.bytes; }
};

std::ostream& operator<< (std::ostream& stream, const Event& event)
{
    stream << "{" << event.samplePosition << ":";
    for (auto b : event.bytes)
        stream << " " << std::hex << int (b) << std::dec;
    return stream << "}";
}

std::vector<Event> eventsOf (const juce::MidiBuffer& buffer)
{
    std::vector<Event> events;
    for (const auto metadata : buffer)
        events.push_back ({ metadata.samplePosition, Bytes (metadata.data, metadata.data + metadata.numBytes) });
    return events;
}

// A header as a peer writes it, with any size field, at any ring offset.
void putHeader (keyferry::ReceiverSlot& slot, std::uint32_t offset, std::int32_t samplePosition, std::uint16_t msgSize)
{
    std::memcpy (slot.ring + offset, &samplePosition, 4);
    std::memcpy (slot.ring + offset + 4, &msgSize, 2);
}

// A whole message; returns the offset just past it.
std::uint32_t putMessage (keyferry::ReceiverSlot& slot, std::uint32_t offset, std::int32_t samplePosition, const Bytes& bytes)
{
    putHeader (slot, offset, samplePosition, static_cast<std::uint16_t> (bytes.size()));
    std::memcpy (slot.ring + offset + 6, bytes.data(), bytes.size());
    return offset + 6 + static_cast<std::uint32_t> (bytes.size());
}

Bytes sysex (std::size_t size)
{
    Bytes bytes (size, 0x11);
    bytes.front() = 0xf0;
    bytes.back() = 0xf7;
    return bytes;
}

const Bytes noteOn { 0x90, 0x3c, 0x64 };
const Bytes noteOff { 0x80, 0x3c, 0x00 };
const Bytes controller { 0xb0, 0x07, 0x40 };

class RingRead : public ::testing::Test
{
protected:
    RingRead()
    {
        // Garbage everywhere the receiver must not look.
        std::memset (slot.ring, 0xee, sizeof (slot.ring));
    }

    // Reads once; returns what was added and whether readPos moved.
    bool read() { return table.ReadMidi (index, buffer); }

    void setPositions (std::uint32_t readPos, std::uint32_t writePos)
    {
        slot.readPos = readPos;
        slot.writePos = writePos;
    }

    TemporaryHome home;
    ReceiverTable table;
    int index = table.RegisterReceiver ("Receiver");
    TableFileView view { home.getTableFile() };
    keyferry::ReceiverSlot& slot = view.slot (index);
    juce::MidiBuffer buffer;
    CollectingLogger log;
};
} // namespace

TEST_F (RingRead, EqualPositionsReadNothingWhateverTheRingHolds)
{
    putMessage (slot, 0, 0, noteOn);
    buffer.addEvent (controller.data(), 3, 5);
    setPositions (0, 0);

    EXPECT_FALSE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 5, controller } }));
    EXPECT_EQ (slot.readPos.load(), 0u);

    setPositions (700, 700);
    EXPECT_FALSE (read());
    EXPECT_EQ (slot.readPos.load(), 700u);
}

TEST_F (RingRead, RightAfterAClaimThePreviousHoldersBytesAreNotRead)
{
    putMessage (slot, 0, 0, noteOn);
    EXPECT_FALSE (read());
    EXPECT_TRUE (buffer.isEmpty());
}

TEST_F (RingRead, AllMessagesUpToWritePosArriveInOneCall)
{
    auto end = putMessage (slot, 100, 10, noteOn);
    end = putMessage (slot, end, 3, noteOff);
    end = putMessage (slot, end, 10, controller);
    setPositions (100, end);

    EXPECT_TRUE (read());
    // Ordered by position; equal positions in ring order.
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 3, noteOff }, { 10, noteOn }, { 10, controller } }));
    EXPECT_EQ (slot.readPos.load(), end);
    EXPECT_TRUE (log.lines.isEmpty());
}

TEST_F (RingRead, SamplePositionsPassUnchangedEvenOutsideAnyBlock)
{
    auto end = putMessage (slot, 0, -1, noteOn);
    end = putMessage (slot, end, 1'000'000, noteOff);
    setPositions (0, end);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { -1, noteOn }, { 1'000'000, noteOff } }));
}

TEST_F (RingRead, EventKeepsOnlyTheBytesItsStatusCallsFor)
{
    // A note-on followed by junk in a 5-byte message, a lone data byte, and a clock tick.
    auto end = putMessage (slot, 0, 0, { 0x90, 0x3c, 0x64, 0x01, 0x02 });
    end = putMessage (slot, end, 1, { 0x3c });
    end = putMessage (slot, end, 2, { 0xf8 });
    setPositions (0, end);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 0, noteOn }, { 2, { 0xf8 } } }));
    EXPECT_EQ (slot.readPos.load(), end);
}

TEST_F (RingRead, LargestMessageEndingAtTheRingsEndIsReadAndTheWalkGoesOnAtZero)
{
    const auto start = RingSize - 6 - 256;
    ASSERT_EQ (putMessage (slot, start, 0, sysex (256)), RingSize);
    const auto end = putMessage (slot, 0, 1, noteOn);
    setPositions (start, end);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 0, sysex (256) }, { 1, noteOn } }));
    EXPECT_EQ (slot.readPos.load(), end);
}

// Where fewer than six bytes remain the walk goes on at 0 without reading a header.
class RingReadWrap : public RingRead, public ::testing::WithParamInterface<std::uint32_t>
{
};

TEST_P (RingReadWrap, SkipsToZeroWithoutReadingAHeader)
{
    const auto readPos = GetParam();
    if (readPos < RingSize)
        std::memset (slot.ring + readPos, 0, RingSize - readPos); // a zero size would be corrupt
    const auto end = putMessage (slot, 0, 4, noteOn);

    setPositions (readPos, 0);
    EXPECT_TRUE (read()) << "a wrap alone moves readPos";
    EXPECT_TRUE (buffer.isEmpty());
    EXPECT_EQ (slot.readPos.load(), 0u);

    setPositions (readPos, end);
    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 4, noteOn } }));
    EXPECT_EQ (slot.readPos.load(), end);
    EXPECT_TRUE (log.lines.isEmpty());
}

INSTANTIATE_TEST_SUITE_P (Offsets, RingReadWrap, ::testing::Values (4091u, 4093u, 4095u, 4096u, 5000u, 0xffffffffu));

struct CorruptCase
{
    const char* name;
    std::uint32_t headerAt;
    std::uint16_t msgSize;
};

void PrintTo (const CorruptCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class RingReadCorrupt : public RingRead, public ::testing::WithParamInterface<CorruptCase>
{
};

TEST_P (RingReadCorrupt, DeliversWhatCameBeforeLogsAndSkipsPastTheHeader)
{
    const auto& param = GetParam();
    const auto before = param.headerAt - 9;
    ASSERT_EQ (putMessage (slot, before, 7, noteOn), param.headerAt);
    putHeader (slot, param.headerAt, 0, param.msgSize);
    // Something readable after the bad header, which this call must not reach.
    const auto afterAt = param.headerAt + 6 + 9 <= RingSize ? param.headerAt + 6 : 0;
    const auto after = putMessage (slot, afterAt, 8, noteOff);
    setPositions (before, after);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 7, noteOn } }));
    EXPECT_EQ (slot.readPos.load(), param.headerAt + 6);
    EXPECT_EQ (log.lines, juce::StringArray ("[ReadMidi] CORRUPTED at readPos=" + juce::String (param.headerAt + 6)
                                             + " msgSize=" + juce::String (param.msgSize)));
}

INSTANTIATE_TEST_SUITE_P (Headers,
                          RingReadCorrupt,
                          ::testing::Values (CorruptCase { "SizeZero", 109, 0 },
                                             CorruptCase { "Size257", 109, 257 },
                                             CorruptCase { "SizeMax", 109, 0xffff },
                                             CorruptCase { "DataPastTheEnd", 4000, 91 },
                                             CorruptCase { "HeaderAt4090", 4090, 1 }),
                          [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (RingRead, NextCallReadsOnFromJustPastTheBadHeader)
{
    putHeader (slot, 0, 0, 0);
    const auto end = putMessage (slot, 6, 2, noteOn);
    setPositions (0, end);

    EXPECT_TRUE (read());
    EXPECT_TRUE (buffer.isEmpty());
    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 2, noteOn } }));
    EXPECT_EQ (slot.readPos.load(), end);
}

TEST_F (RingRead, SizesOneAndTwoHundredFiftySixAreValid)
{
    auto end = putMessage (slot, 0, 0, { 0xfe });
    end = putMessage (slot, end, 0, sysex (256));
    setPositions (0, end);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 0, { 0xfe } }, { 0, sysex (256) } }));
}

// A peer that stood in the last five bytes goes on at 0 and may fill the ring up to the end, over
// the dead bytes its reader is standing on: writePos then lies above readPos, and the walk must
// wrap and land on it.
class RingReadLapFromTheTail : public RingRead, public ::testing::WithParamInterface<std::uint32_t>
{
};

TEST_P (RingReadLapFromTheTail, DeliversTheWholeLap)
{
    std::vector<Event> expected;
    std::uint32_t end = 0;
    for (int i = 0; i < 15; ++i)
    {
        expected.push_back ({ i, sysex (250) });
        end = putMessage (slot, end, i, sysex (250));
    }
    ASSERT_EQ (end, 3840u);
    expected.push_back ({ 15, sysex (249) });
    end = putMessage (slot, end, 15, sysex (249));
    ASSERT_EQ (end, 4095u);
    setPositions (GetParam(), end);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), expected);
    EXPECT_EQ (slot.readPos.load(), end);
    EXPECT_TRUE (log.lines.isEmpty()) << log.lines.joinIntoString ("\n");
}

INSTANTIATE_TEST_SUITE_P (ReadPositions, RingReadLapFromTheTail, ::testing::Values (4091u, 4093u, 4094u, 4096u));

// A writePos the walk never lands on must not keep it walking: with well-formed messages all
// around the ring, the walk would go round forever. It stops where it can no longer land, having
// delivered every message at most once, puts readPos at writePos and logs the size of the
// message it overran.
struct UnreachableCase
{
    const char* name;
    std::uint32_t walkStart;  // where the 9-byte notes start (the ring holds them up to 4095)
    int wrappedMessageSize;   // the messages from 0 up to the walk's start, 0 for none
    std::uint32_t readPos;
    std::uint32_t writePos;
    int eventsDelivered;
    int overrunSize;
};

void PrintTo (const UnreachableCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class RingReadUnreachableWritePos : public RingRead, public ::testing::WithParamInterface<UnreachableCase>
{
protected:
    // The ring as laps of a peer leave it: from 0 up to the walk's start, padded note-ons (a
    // note-on and zero bytes, delivering 3 bytes each) of the given size, the last one ending on
    // or straddling the start; from the start 9-byte notes up to 4095, where the walk wraps.
    void layOutRing (std::uint32_t walkStart, int wrappedMessageSize)
    {
        if (wrappedMessageSize > 0)
        {
            Bytes paddedNoteOn (static_cast<std::size_t> (wrappedMessageSize - 6), 0);
            std::copy (noteOn.begin(), noteOn.end(), paddedNoteOn.begin());
            for (std::uint32_t offset = 0; offset < walkStart;)
                offset = putMessage (slot, offset, 0, paddedNoteOn);
        }

        auto offset = walkStart;
        while (offset + 9 <= RingSize)
            offset = putMessage (slot, offset, 0, noteOn);
        std::memset (slot.ring + offset, 0, RingSize - offset);
    }
};

TEST_P (RingReadUnreachableWritePos, StopsOnceDeliveringEachMessageAtMostOnce)
{
    const auto& param = GetParam();
    layOutRing (param.walkStart, param.wrappedMessageSize);
    setPositions (param.readPos, param.writePos);

    EXPECT_TRUE (read());
    EXPECT_EQ (buffer.getNumEvents(), param.eventsDelivered);
    EXPECT_EQ (slot.readPos.load(), param.writePos);
    EXPECT_EQ (log.lines, juce::StringArray ("[ReadMidi] CORRUPTED at readPos=" + juce::String (param.writePos)
                                             + " msgSize=" + juce::String (param.overrunSize)));

    // Reader and peer agree again: the next call reads nothing.
    buffer.clear();
    EXPECT_FALSE (read());
}

INSTANTIATE_TEST_SUITE_P (
    Walks,
    RingReadUnreachableWritePos,
    ::testing::Values (
        // 455 notes from 0 to 4095: the walk wraps and is back at its start.
        UnreachableCase { "BeyondTheRingComesFullCircleAtTheWrap", 0, 0, 0, 5000, 455, 3 },
        UnreachableCase { "InTheTailAfterAMessageOfTheSameLap", 0, 0, 0, 4096, 455, 3 },
        UnreachableCase { "InsideAMessage", 0, 0, 0, 9 + 4, 1, 3 },
        UnreachableCase { "InsideAMessageAfterTheWrap", 0, 0, 90, 27 + 2, 455 - 10 + 3, 3 },
        // From 90, 445 notes; after the wrap 10-byte messages at 0, 10, ... 80, the last of
        // which ends on the start: it is not delivered again.
        UnreachableCase { "ReachesItsStartAfterTheWrap", 90, 10, 90, 4100, 445 + 8, 4 },
        // 12-byte messages at 0, 12, ... 84: the last one passes the start.
        UnreachableCase { "PassesItsStartAfterTheWrap", 90, 12, 90, 4100, 445 + 7, 6 },
        // From beyond the ring the walk wraps at once, reads the whole ring and would wrap again.
        UnreachableCase { "ReadPosBeyondTheRingStopsAtTheSecondWrap", 0, 0, 5000, 4100, 455, 3 },
        UnreachableCase { "BothBeyondTheRing", 0, 0, 0xfffffff0u, 0xffffffffu, 455, 3 }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

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

// A writePos the walk never lands on must not keep it walking: with well-formed messages all
// around the ring, a literal walk would go round forever.
class RingReadUnreachableWritePos : public RingRead
{
protected:
    // Fills the ring with 9-byte note messages from 0 (455 of them, the last ending at 4095, where
    // the walk wraps); returns how many.
    int fillRingWithNotes()
    {
        std::uint32_t offset = 0;
        int count = 0;
        while (offset + 9 <= RingSize)
        {
            offset = putMessage (slot, offset, count, noteOn);
            ++count;
        }
        std::memset (slot.ring + offset, 0, RingSize - offset);
        return count;
    }
};

TEST_F (RingReadUnreachableWritePos, BeyondTheRingStopsAtTheWrapAndResynchronises)
{
    const auto count = fillRingWithNotes();
    setPositions (0, 5000);

    EXPECT_TRUE (read());
    EXPECT_EQ (buffer.getNumEvents(), count);
    EXPECT_EQ (slot.readPos.load(), 5000u);
    EXPECT_EQ (log.lines, juce::StringArray ("[ReadMidi] CORRUPTED at readPos=5000 msgSize=0"));

    // Now reader and peer agree: the next call reads nothing.
    buffer.clear();
    EXPECT_FALSE (read());
}

TEST_F (RingReadUnreachableWritePos, InsideAMessageDeliversOnlyCompleteMessagesBeforeIt)
{
    fillRingWithNotes();
    setPositions (0, 9 + 4);

    EXPECT_TRUE (read());
    EXPECT_EQ (eventsOf (buffer), (std::vector<Event> { { 0, noteOn } }));
    EXPECT_EQ (slot.readPos.load(), 13u);
    EXPECT_EQ (log.lines, juce::StringArray ("[ReadMidi] CORRUPTED at readPos=13 msgSize=3"));
}

TEST_F (RingReadUnreachableWritePos, BehindTheReadPositionIsFoundAfterTheWrap)
{
    const auto count = fillRingWithNotes();
    // Start at message 10 and aim inside message 3: the walk wraps, then overruns.
    setPositions (90, 27 + 2);

    EXPECT_TRUE (read());
    EXPECT_EQ (buffer.getNumEvents(), count - 10 + 3);
    EXPECT_EQ (slot.readPos.load(), 29u);
    EXPECT_EQ (log.lines.size(), 1);
}

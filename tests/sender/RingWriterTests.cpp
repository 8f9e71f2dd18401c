// The peer's ring writer against the receiver's ring reader: placement at the ring's end,
// back-pressure, and a seeded random run against a model.

#include "../support/CollectingLogger.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <sender/RingWriter.h>
#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace
{
using keyferry::OutgoingMessage;
using keyferry::RingSize;
using keyferry::SendResult;
using Bytes = std::vector<std::uint8_t>;

// A system-exclusive message of the given size whose body carries a sequence number, so that
// every byte the receiver keeps can be checked.
Bytes numberedSysex (std::size_t size, std::uint32_t sequence)
{
    Bytes bytes (size, 0);
    bytes.front() = 0xf0;
    for (std::size_t i = 1; i + 1 < size; ++i)
        bytes[i] = static_cast<std::uint8_t> ((sequence >> (7 * ((i - 1) % 4))) & 0x7f);
    bytes.back() = 0xf7;
    return bytes;
}

Bytes numberedMessage (std::size_t size, std::uint32_t sequence)
{
    if (size == 1)
        return { 0xf8 };
    if (size == 2)
        return { 0xc0, static_cast<std::uint8_t> (sequence & 0x7f) };
    return numberedSysex (size, sequence);
}

class RingWriterRoundTrip : public ::testing::Test
{
protected:
    bool send (const Bytes& bytes, std::int32_t position = 0)
    {
        const auto result = writer.append (OutgoingMessage { position, bytes.data(), bytes.size() });
        EXPECT_TRUE (result == SendResult::ok || result == SendResult::ringFull) << keyferry::describe (result);
        return result == SendResult::ok;
    }

    std::vector<Bytes> drain()
    {
        juce::MidiBuffer buffer;
        table.ReadMidi (index, buffer);
        std::vector<Bytes> events;
        for (const auto metadata : buffer)
            events.emplace_back (metadata.data, metadata.data + metadata.numBytes);
        return events;
    }

    TemporaryHome home;
    ReceiverTable table;
    int index = table.RegisterReceiver ("Receiver");
    TableFileView view { home.getTableFile() };
    keyferry::ReceiverSlot& slot = view.slot (index);
    keyferry::RingWriter writer { slot };
    CollectingLogger log;
};
} // namespace

TEST_F (RingWriterRoundTrip, FirstMessageLandsAtZeroAsPositionSizeAndBytes)
{
    ASSERT_TRUE (send ({ 0x90, 0x3c, 0x64 }, 10));

    const Bytes expected { 0x0a, 0, 0, 0, 0x03, 0, 0x90, 0x3c, 0x64 };
    EXPECT_EQ (Bytes (slot.ring, slot.ring + 9), expected);
    EXPECT_EQ (slot.writePos.load(), 9u);
}

TEST_F (RingWriterRoundTrip, InputIsValidatedBeforeAnythingIsWritten)
{
    const Bytes tooLong (257, 0xf0);
    const Bytes longest = numberedSysex (256, 1);

    EXPECT_EQ (writer.append (OutgoingMessage { 0, tooLong.data(), 0 }), SendResult::emptyMessage);
    EXPECT_EQ (writer.append (OutgoingMessage { 0, nullptr, 3 }), SendResult::emptyMessage);
    EXPECT_EQ (writer.append (OutgoingMessage { 0, tooLong.data(), tooLong.size() }), SendResult::messageTooLarge);
    EXPECT_EQ (slot.writePos.load(), 0u);
    EXPECT_EQ (writer.append (OutgoingMessage { 0, longest.data(), longest.size() }), SendResult::ok);
}

// Every way a message can meet the end of the ring: the reader must land on every writePos
// the writer publishes and see exactly the message, never a corrupt header.
struct EndCase
{
    const char* name;
    std::uint32_t startAt;  // where the previous message leaves the writer
    std::size_t size;       // MIDI bytes of the message that meets the end
    std::uint32_t expectedWritePos;
};

void PrintTo (const EndCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class RingWriterAtTheEnd : public RingWriterRoundTrip, public ::testing::WithParamInterface<EndCase>
{
};

TEST_P (RingWriterAtTheEnd, ReaderLandsOnEveryPublishedPosition)
{
    const auto& param = GetParam();
    std::memset (slot.ring, 0xee, sizeof (slot.ring)); // stale bytes of an earlier holder
    slot.writePos = param.startAt;
    slot.readPos = param.startAt;

    const auto message = numberedMessage (param.size, 42);
    ASSERT_TRUE (send (message));
    EXPECT_EQ (slot.writePos.load(), param.expectedWritePos);

    EXPECT_EQ (drain(), std::vector<Bytes> { message });
    EXPECT_EQ (slot.readPos.load(), slot.writePos.load());
    EXPECT_TRUE (log.lines.isEmpty()) << log.lines.joinIntoString ("\n");

    // And the ring goes on normally from there.
    const auto next = numberedMessage (3, 43);
    ASSERT_TRUE (send (next));
    EXPECT_EQ (drain(), std::vector<Bytes> { next });
}

INSTANTIATE_TEST_SUITE_P (
    Placements,
    RingWriterAtTheEnd,
    ::testing::Values (EndCase { "EndsExactlyAtTheEnd", RingSize - 262, 256, 0 },
                       EndCase { "EndsWithFiveBytesLeft", RingSize - 14, 3, 0 },
                       EndCase { "WouldEndSixBytesBeforeTheEnd", RingSize - 15, 3, 9 },
                       EndCase { "EndsSevenBytesBeforeTheEnd", RingSize - 16, 3, RingSize - 7 },
                       EndCase { "DoesNotFit", RingSize - 100, 256, 262 },
                       EndCase { "StartsInTheLastFiveBytes", RingSize - 3, 3, 9 },
                       EndCase { "StartsWithSevenLeft", RingSize - 7, 3, 9 },
                       EndCase { "LongFillerAvoidsLeavingAHeader", RingSize - 268, 256, 262 }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (RingWriterRoundTrip, NeverOverwritesUnreadBytesAndFullNeverLooksEmpty)
{
    const auto message = numberedMessage (3, 0);
    int accepted = 0;
    while (send (message))
        ++accepted;

    // 4096 bytes hold 455 nine-byte messages, but the last step would reach readPos.
    EXPECT_EQ (accepted, 454);
    EXPECT_NE (slot.writePos.load(), slot.readPos.load());
    EXPECT_EQ (writer.freeBytes(), 9u);

    EXPECT_EQ (drain().size(), 454u);
    EXPECT_TRUE (send (message));
}

TEST_F (RingWriterRoundTrip, BatchIsPublishedOnceAndStopsAtTheFirstRefusal)
{
    const auto a = numberedMessage (3, 1), b = numberedMessage (2, 2);
    const Bytes empty;
    const OutgoingMessage batch[] = { { 0, a.data(), a.size() }, { 1, b.data(), b.size() }, { 2, empty.data(), 0 }, { 3, a.data(), a.size() } };

    std::size_t accepted = 0;
    EXPECT_EQ (writer.append (batch, 4, accepted), SendResult::emptyMessage);
    EXPECT_EQ (accepted, 2u);
    EXPECT_EQ (slot.writePos.load(), 9u + 8u);
    EXPECT_EQ (drain(), (std::vector<Bytes> { a, b }));
}

// A seeded random run of appends and drains against a queue of what was accepted.
TEST_F (RingWriterRoundTrip, RandomAppendsAndDrainsMatchAModel)
{
    std::mt19937 random (20261210);
    std::uniform_int_distribution<std::size_t> sizeOf (1, 256);
    std::uniform_int_distribution<int> action (0, 99); // drains are rare enough to fill the ring
    std::deque<Bytes> expected;
    std::uint32_t sequence = 0;
    std::size_t refused = 0;

    for (int step = 0; step < 50000; ++step)
    {
        if (action (random) != 0)
        {
            const auto free = writer.freeBytes();
            auto message = numberedMessage (random() % 4 == 0 ? sizeOf (random) : 1 + random() % 3, sequence);

            if (send (message))
            {
                expected.push_back (std::move (message));
                ++sequence;
            }
            else
            {
                // Refused only when it truly would not fit (with a wrap at most 268 bytes more).
                EXPECT_LT (free, message.size() + 6 + 268);
                ++refused;
            }
        }
        else
        {
            for (auto& event : drain())
            {
                ASSERT_FALSE (expected.empty());
                ASSERT_EQ (event, expected.front()) << "step " << step;
                expected.pop_front();
            }
            ASSERT_TRUE (expected.empty()) << "one drain takes everything published";
        }
    }

    EXPECT_TRUE (log.lines.isEmpty()) << log.lines.joinIntoString ("\n");
    EXPECT_GT (refused, 0u) << "the run should have filled the ring at times";
    EXPECT_GT (sequence, 5000u);
}

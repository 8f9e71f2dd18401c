// The OSC address space into a receiver's ring: each kind of message, what is dropped and why,
// and time-tagged bundles placed on the receiver's samples in time order.

#include "../support/TemporaryHome.h"

#include <OscRouter.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Written
{
    std::int32_t position;
    Bytes bytes;
    bool operator== (const Written& other) const { return position == other.position && bytes == other.bytes; }
};

std::ostream& operator<< (std::ostream& stream, const Written& written)
{
    stream << "{" << written.position << ":";
    for (const auto b : written.bytes)
        stream << " " << std::hex << int (b) << std::dec;
    return stream << "}";
}

class OscRouting : public ::testing::Test
{
protected:
    // A table in which receiver 1 is held, as a running plug-in would leave it.
    OscRouting()
    {
        juce::MemoryBlock image (keyferry::TableFileSize, true);
        auto& slot = static_cast<keyferry::SharedReceiverTable*> (image.getData())->slots[0];
        slot.active = 1;
        std::strcpy (slot.id, claimId);
        const juce::File file (keyferry::MappedTableFile::defaultPath());
        EXPECT_TRUE (file.getParentDirectory().createDirectory().wasOk());
        EXPECT_TRUE (file.replaceWithData (image.getData(), image.getSize()));
        EXPECT_EQ (table.open (file.getFullPathName().toStdString()), keyferry::SendResult::ok);
    }

    // What the router wrote into receiver 1's ring, message by message.
    std::vector<Written> ring() const
    {
        const auto& slot = table.image()->slots[0];
        std::vector<Written> written;
        for (std::uint32_t at = slot.readPos.load(); at != slot.writePos.load();)
        {
            std::int32_t position;
            std::uint16_t size;
            std::memcpy (&position, slot.ring + at, 4);
            std::memcpy (&size, slot.ring + at + 4, 2);
            written.push_back ({ position, Bytes (slot.ring + at + 6, slot.ring + at + 6 + size) });
            at += 6u + size;
        }
        return written;
    }

    void handleAndPump (const juce::OSCMessage& message)
    {
        router.handle (message);
        router.pump();
    }

    // Receiver 1's clock as its block would publish it, saying yes to timed delivery, at sample
    // 1'000'000; and the router's clocks.dat open.
    void publishReceiverClock (double sampleRate)
    {
        const auto path = keyferry::BlockClockFile::pathNextTo (keyferry::MappedTableFile::defaultPath());
        ASSERT_TRUE (receiverClocks.open (path, true));
        ASSERT_TRUE (clocks.open (path, false));

        char id[keyferry::IdFieldSize] {};
        std::strcpy (id, claimId);
        keyferry::BlockClock clock;
        keyferry::claimIdWords (id, clock.claimId);
        clock.flags = keyferry::clockTimedDelivery;
        clock.sampleRate = sampleRate;
        clock.blockLength = 48;
        clock.blockStartNanos = keyferry::monotonicNanos();
        clock.sampleCount = 1'000'000;
        keyferry::publish (receiverClocks.shared()->clocks[0], clock);
    }

    static constexpr const char* claimId = "0123456789abcdef4123456789abcdef";
    TemporaryHome home;
    keyferry::SenderTable table;
    keyferry::BlockClockFile receiverClocks;
    keyferry::BlockClockFile clocks; // none: as due
    OscRouter router { table, clocks, 1 };
};

juce::OSCMessage message (const char* address, std::initializer_list<juce::OSCArgument> arguments)
{
    juce::OSCMessage built { juce::OSCAddressPattern (address) };
    for (const auto& argument : arguments)
        built.addArgument (argument);
    return built;
}
} // namespace

TEST_F (OscRouting, EachKindBecomesItsMidiMessage)
{
    const std::uint8_t rawBytes[] = { 0xf0, 0x7e, 0x7f, 0xf7 };
    handleAndPump (message ("/keyferry/1/note_on", { 1, 60, 100 }));
    handleAndPump (message ("/keyferry/1/note_off", { 2, 60 }));
    handleAndPump (message ("/keyferry/note_off", { 2.0f, 61.4f, 5 }));
    handleAndPump (message ("/keyferry/1/cc", { 16, 7, 90 }));
    handleAndPump (message ("/keyferry/1/program", { 1, 5 }));
    handleAndPump (message ("/keyferry/1/pitch_bend", { 1, -8192 }));
    handleAndPump (message ("/keyferry/1/pitch_bend", { 1, 8191 }));
    handleAndPump (message ("/keyferry/1/raw", { juce::MemoryBlock (rawBytes, sizeof (rawBytes)) }));

    EXPECT_EQ (ring(), (std::vector<Written> { { 0, { 0x90, 60, 100 } },
                                               { 0, { 0x81, 60, 0 } },
                                               { 0, { 0x81, 61, 5 } },
                                               { 0, { 0xbf, 7, 90 } },
                                               { 0, { 0xc0, 5 } },
                                               { 0, { 0xe0, 0, 0 } },
                                               { 0, { 0xe0, 0x7f, 0x7f } },
                                               { 0, { 0xf0, 0x7e, 0x7f, 0xf7 } } }));
    EXPECT_EQ (router.sent(), 8);

    handleAndPump (message ("/keyferry/1/panic", {}));
    EXPECT_EQ (table.image()->slots[0].resetRequested.load(), 1);
}

TEST_F (OscRouting, WhatCannotBePlayedIsCountedByReasonAndChangesNothing)
{
    const std::uint8_t twoEvents[] = { 0x90, 60, 100, 0x80, 60, 0 };
    handleAndPump (message ("/keyferry/1/note_on", { 17, 60, 100 }));             // channel
    handleAndPump (message ("/keyferry/1/note_on", { 1, 60 }));                   // too few
    handleAndPump (message ("/keyferry/1/note_on", { 1, juce::String ("C"), 100 })); // a string
    handleAndPump (message ("/keyferry/1/raw", { juce::MemoryBlock (twoEvents, sizeof (twoEvents)) }));
    handleAndPump (message ("/keyferry/1/panic", { 1 }));
    handleAndPump (message ("/keyferry/1/sing", { 1 }));
    handleAndPump (message ("/keyferry/0/note_on", { 1, 60, 100 }));
    handleAndPump (message ("/other/1/note_on", { 1, 60, 100 }));
    handleAndPump (message ("/keyferry/2/note_on", { 1, 60, 100 }));               // nobody holds 2
    router.countMalformed();

    // Bundles nested past the limit.
    juce::OSCBundle nested;
    nested.addElement (message ("/keyferry/1/note_on", { 1, 60, 100 }));
    for (int depth = 0; depth < OscRouter::maxNesting + 1; ++depth)
    {
        juce::OSCBundle outer;
        outer.addElement (nested);
        nested = outer;
    }
    router.handle (nested);
    router.pump();

    EXPECT_TRUE (ring().empty());
    EXPECT_EQ (table.image()->slots[0].resetRequested.load(), 0);
    EXPECT_EQ (router.dropped (OscRouter::badArguments), 6);
    EXPECT_EQ (router.dropped (OscRouter::unknownAddress), 3);
    EXPECT_EQ (router.dropped (OscRouter::notHeld), 1);
    EXPECT_EQ (router.dropped (OscRouter::malformed), 1);
    EXPECT_EQ (router.status(), "sent 0, 0 late, dropped 11 (3 unknown address, 6 bad arguments, 1 receiver not held, 1 not OSC)");
}

TEST_F (OscRouting, AFloodIsDroppedPastTheQueueNotHoarded)
{
    // Nothing is written while the flood comes in: every message waits in the queue.
    for (std::size_t i = 0; i < OscRouter::maxQueued + 10; ++i)
        router.handle (message ("/keyferry/1/note_on", { 1, 60, 100 }));

    EXPECT_EQ (router.dropped (OscRouter::flooded), 10);
    router.pump();
    EXPECT_LT (router.sent(), 455) << "a ring's worth";
    EXPECT_EQ (router.waits(), 1);
}

// A full ring holds the queue back; once the receiver has read, the rest goes in, in order.
TEST_F (OscRouting, FullRingIsBackPressureAndNothingIsLost)
{
    for (int i = 0; i < 500; ++i)
        router.handle (message ("/keyferry/1/note_on", { 1, i % 128, 100 }));
    router.pump();

    const auto first = router.sent();
    EXPECT_GT (first, 400);
    EXPECT_LT (first, 500);
    EXPECT_EQ (router.waits(), 1);
    EXPECT_EQ (static_cast<long> (ring().size()), first);

    // As if the receiver had drained: the rest goes in, the first of it at the old end.
    auto& slot = table.image()->slots[0];
    const auto end = slot.writePos.load();
    slot.readPos.store (end);
    router.pump();
    EXPECT_EQ (router.sent(), 500);
    EXPECT_EQ (Bytes (slot.ring + end + 6, slot.ring + end + 9), (Bytes { 0x90, static_cast<std::uint8_t> (first % 128), 100 }))
        << "in order";
    EXPECT_EQ (router.dropped (OscRouter::ringFull), 0);
}

// With the receiver's clock: a bundle tagged ahead goes into the ring only shortly before its
// moment, on the sample for it, and a message that arrives later but plays now goes in first.
TEST_F (OscRouting, TaggedBundlesArePlacedOnTheirSampleInTimeOrder)
{
    publishReceiverClock (48000.0);

    const auto nowSeconds = std::chrono::duration<double> (std::chrono::system_clock::now().time_since_epoch()).count();
    const auto tagFor = [] (double unixSeconds)
    {
        const auto t = unixSeconds + 2208988800.0;
        return juce::OSCTimeTag ((static_cast<juce::uint64> (t) << 32) | static_cast<juce::uint64> ((t - std::floor (t)) * 4294967296.0));
    };

    juce::OSCBundle ahead (tagFor (nowSeconds + 0.2));
    ahead.addElement (message ("/keyferry/1/note_on", { 1, 64, 90 }));
    router.handle (ahead);
    router.handle (message ("/keyferry/1/note_on", { 1, 60, 90 }));
    router.pump();

    auto written = ring();
    ASSERT_EQ (written.size(), 1u) << "the bundle waits for its moment";
    EXPECT_EQ (written[0].bytes, (Bytes { 0x90, 60, 90 }));
    EXPECT_NEAR (written[0].position, 1'000'000, 48 * 20) << "now, on the receiver's count";

    // Pumped as the command does, every millisecond.
    for (int i = 0; i < 250; ++i)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
        router.pump();
    }
    written = ring();
    ASSERT_EQ (written.size(), 2u);
    EXPECT_EQ (written[1].bytes, (Bytes { 0x90, 64, 90 }));
    EXPECT_NEAR (written[1].position - written[0].position, 0.2 * 48000, 48 * 20) << "0.2 s later on the receiver's count";
    EXPECT_EQ (router.late(), 0);
}

// clocks.dat is anyone's to write: a clock whose rate puts the sample nowhere a receiver could
// be plays the message as due rather than on a position made of an undefined conversion.
TEST_F (OscRouting, DamagedClockPlaysAsDue)
{
    for (const auto rate : { std::nan (""), HUGE_VAL, -48000.0, 1.0e300 })
    {
        SCOPED_TRACE (rate);
        publishReceiverClock (rate);
        OscRouter fresh { table, clocks, 1 };
        juce::OSCBundle ahead (juce::Time::getCurrentTime() + juce::RelativeTime::milliseconds (5));
        ahead.addElement (message ("/keyferry/1/note_on", { 1, 64, 90 }));
        fresh.handle (ahead);
        for (int i = 0; i < 50 && fresh.sent() == 0; ++i)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
            fresh.pump();
        }

        ASSERT_EQ (fresh.sent(), 1);
        EXPECT_EQ (ring().back(), (Written { 0, { 0x90, 64, 90 } }));
    }
}

// The receiver let go of its slot and another claimed it between two messages: the router links
// to the new claim and plays there, never into the old claim's ring position.
TEST_F (OscRouting, ANewClaimOfTheReceiverIsFollowed)
{
    handleAndPump (message ("/keyferry/1/note_on", { 1, 60, 100 }));
    ASSERT_EQ (ring().size(), 1u);

    auto& slot = table.image()->slots[0];
    std::memcpy (slot.id, "fedcba9876543210fedcba9876543210", 32);
    slot.readPos = 0; // a claim starts its ring afresh
    slot.writePos = 0;
    handleAndPump (message ("/keyferry/1/note_on", { 1, 61, 100 }));

    EXPECT_EQ (ring(), (std::vector<Written> { { 0, { 0x90, 61, 100 } } }));
    EXPECT_EQ (router.sent(), 2);
}

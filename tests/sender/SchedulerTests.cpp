// The scheduler against a simulated host: the receiver's table and clock file, driven block by
// block on a simulated wall clock that runs off the host's sample clock by the drift each case
// gives, with block lengths that vary as each case says. Deterministic: one thread, no sleeps.

#include "../support/TemporaryHome.h"

#include <clock/BlockClockFile.h>
#include <sender/Scheduler.h>
#include <table/ReceiverTable.h>

#include <gtest/gtest.h>

#include <random>

namespace
{
using keyferry::Scheduler;
using keyferry::SendResult;

constexpr double sampleRate = 48000.0;

// What the processor does each block, on a wall clock of the test's own.
struct SimulatedHost
{
    explicit SimulatedHost (double clockDrift) : drift (clockDrift)
    {
        slot = table.RegisterReceiver ("Receiver");
        clocks.open (keyferry::BlockClockFile::pathNextTo (ReceiverTable::getTableFile().getFullPathName().toStdString()), true);
        char id[keyferry::IdFieldSize];
        table.CopyClaimId (slot, id);
        keyferry::claimIdWords (id, claimId);
    }

    // One block of 'length' samples; note-ons that came out go to 'played' on the sample count.
    void block (int length)
    {
        keyferry::BlockClock clock;
        clock.flags = keyferry::requestsTimedDelivery (clocks.shared()->timed[slot], claimId) ? keyferry::clockTimedDelivery : 0u;
        std::copy (std::begin (claimId), std::end (claimId), std::begin (clock.claimId));
        clock.blockStartNanos = static_cast<std::uint64_t> (wallNanos);
        clock.sampleCount = samples;
        clock.blockLength = static_cast<std::uint32_t> (length);
        clock.sampleRate = sampleRate;

        if (tempo > 0.0)
        {
            // A host that rounds its position a little differently in every block.
            const auto jitter = (samples % 3 == 0 ? 1.0e-7 : -1.0e-7);
            clock.flags |= keyferry::clockHasPlayHead | keyferry::clockTempoKnown | keyferry::clockPpqKnown
                           | keyferry::clockTimeSignatureKnown | (samples < stopTransportAt ? keyferry::clockPlaying : 0u);
            clock.tempo = tempo;
            clock.ppqPosition = static_cast<double> (samples) / sampleRate * tempo / 60.0 + jitter;
            clock.timeSignature = 4u | 4u << 16;
        }

        juce::MidiBuffer midi;
        if (clock.has (keyferry::clockTimedDelivery))
            table.ReadTimedMidi (slot, midi, { static_cast<std::uint32_t> (samples), length }, late);
        else
            table.ReadMidi (slot, midi);
        clock.lateMessages = late;
        keyferry::publish (clocks.shared()->clocks[slot], clock);

        for (const auto metadata : midi)
            if (metadata.samplePosition >= 0 && metadata.samplePosition < length)
                played.push_back ({ samples + static_cast<std::uint64_t> (metadata.samplePosition), metadata.data[1] });

        samples += static_cast<std::uint64_t> (length);
        wallNanos += length / sampleRate * 1.0e9 * (1.0 + drift);
    }

    struct Played
    {
        std::uint64_t sample;
        int note;
    };

    double drift;
    double tempo = 0.0;
    std::uint64_t stopTransportAt = ~std::uint64_t (0);
    ReceiverTable table;
    int slot = -1;
    keyferry::BlockClockFile clocks;
    std::uint64_t claimId[keyferry::ClaimIdWords] {};
    std::uint64_t samples = 0, late = 0;
    double wallNanos = 1.0e12;
    std::vector<Played> played;
};

SimulatedHost* currentHost = nullptr;

// The peer's wall clock: the host's, a little into its current block.
std::uint64_t simulatedNow()
{
    return static_cast<std::uint64_t> (currentHost->wallNanos) + 100'000;
}

class SchedulerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = std::make_unique<SimulatedHost> (drift);
        currentHost = host.get();
        ASSERT_EQ (peer.open(), SendResult::ok);
        link = peer.link (host->slot, result);
        ASSERT_TRUE (link.has_value());
        clocks.open (keyferry::BlockClockFile::pathNextTo (keyferry::MappedTableFile::defaultPath()), false);
        scheduler = std::make_unique<Scheduler> (*link, clocks, 0.05, simulatedNow);
    }

    // Starts timed: asks, lets the host run a block to say yes, then starts.
    void startTimed()
    {
        scheduler->askForTimedDelivery();
        host->block (64);
        ASSERT_EQ (scheduler->start (0.0), SendResult::ok);
        ASSERT_EQ (scheduler->mode(), Scheduler::Mode::timed);
    }

    void addNotes (int count, double spacingSeconds)
    {
        for (int note = 0; note < count; ++note)
        {
            const std::uint8_t bytes[] = { 0x90, static_cast<std::uint8_t> (note), 100 };
            ASSERT_EQ (scheduler->add (note * spacingSeconds, bytes, sizeof (bytes)), SendResult::ok);
        }
    }

    double drift = 0.0;
    TemporaryHome home;
    std::unique_ptr<SimulatedHost> host;
    keyferry::SenderTable peer;
    keyferry::SendResult result {};
    std::optional<keyferry::ReceiverLink> link;
    keyferry::BlockClockFile clocks;
    std::unique_ptr<Scheduler> scheduler;
};

struct TimingCase
{
    const char* name;
    std::vector<int> blockLengths; // cycled; one entry: constant
    double drift;
};

void PrintTo (const TimingCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class SchedulerTiming : public SchedulerTest, public ::testing::WithParamInterface<TimingCase>
{
protected:
    void SetUp() override
    {
        drift = GetParam().drift;
        SchedulerTest::SetUp();
    }
};
} // namespace

// A peer that keeps up (it pumps before every block): every event on its exact sample, the
// spacing exact in the host's samples however far its clock is from the wall clock.
TEST_P (SchedulerTiming, KeepingUpEveryEventLandsOnItsExactSample)
{
    startTimed();
    constexpr int numNotes = 120;
    addNotes (numNotes, 0.25); // 30 s

    const auto& lengths = GetParam().blockLengths;
    for (std::size_t i = 0; ! scheduler->finished() || host->samples < static_cast<std::uint64_t> (scheduler->sampleAt (30.0)); ++i)
    {
        ASSERT_EQ (scheduler->pump(), SendResult::ok);
        host->block (lengths[i % lengths.size()]);
        ASSERT_LT (i, 2'000'000u);
    }

    ASSERT_EQ (host->played.size(), static_cast<std::size_t> (numNotes));
    for (int note = 0; note < numNotes; ++note)
    {
        EXPECT_EQ (host->played[(std::size_t) note].note, note);
        EXPECT_EQ (static_cast<std::int64_t> (host->played[(std::size_t) note].sample), scheduler->sampleAt (note * 0.25)) << note;
        EXPECT_EQ (scheduler->sampleAt (note * 0.25) - scheduler->sampleAt (0.0), static_cast<std::int64_t> (note * 12000));
    }
    EXPECT_EQ (scheduler->lateEvents(), 0u);
}

INSTANTIATE_TEST_SUITE_P (
    Hosts,
    SchedulerTiming,
    ::testing::Values (TimingCase { "Blocks64", { 64 }, 0.0 },
                       TimingCase { "Blocks512ClockFast", { 512 }, 0.005 },
                       TimingCase { "Blocks2048ClockSlow", { 2048 }, -0.005 },
                       TimingCase { "VaryingBlocks", { 1, 64, 100, 7, 512, 33, 0, 256, 2048, 3 }, 0.003 }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

// A peer descheduled past some events' times: they come out at the start of the block after it
// writes them, counted late, and none is lost or reordered.
TEST_F (SchedulerTest, DescheduledPeerIsLateByAtMostOneBlockAndLosesNothing)
{
    startTimed();
    addNotes (40, 0.01);

    // The peer sleeps through the first 0.2 s of the piece.
    const auto sleptUntil = static_cast<std::uint64_t> (scheduler->sampleAt (0.2));
    while (host->samples < sleptUntil)
        host->block (128);
    const auto woke = host->samples;

    while (! scheduler->finished() || host->samples < static_cast<std::uint64_t> (scheduler->sampleAt (0.5)))
    {
        ASSERT_EQ (scheduler->pump(), SendResult::ok);
        host->block (128);
    }

    ASSERT_EQ (host->played.size(), 40u);
    std::uint64_t late = 0;
    for (int note = 0; note < 40; ++note)
    {
        const auto& played = host->played[(std::size_t) note];
        const auto due = static_cast<std::uint64_t> (scheduler->sampleAt (note * 0.01));
        EXPECT_EQ (played.note, note);
        EXPECT_GE (played.sample, due) << "never early";
        if (played.sample != due)
        {
            ++late;
            EXPECT_EQ (played.sample, woke) << "at the start of the first block after the peer woke";
        }
    }
    EXPECT_GT (late, 0u);
    EXPECT_EQ (scheduler->lateEvents(), late);
}

TEST_F (SchedulerTest, WithoutAClockItSaysSoAndSendsAsEventsFallDue)
{
    keyferry::BlockClockFile none;
    Scheduler asDue (*link, none, 0.0, simulatedNow);
    ASSERT_EQ (asDue.start (0.0), SendResult::ok);
    EXPECT_EQ (asDue.mode(), Scheduler::Mode::asDue);

    const std::uint8_t bytes[] = { 0x90, 1, 100 };
    ASSERT_EQ (asDue.add (0.01, bytes, 3), SendResult::ok);
    ASSERT_EQ (asDue.pump(), SendResult::ok);
    host->block (256);
    EXPECT_TRUE (host->played.empty()) << "not due yet";

    while (! asDue.finished())
    {
        ASSERT_EQ (asDue.pump(), SendResult::ok);
        host->block (256);
    }
    ASSERT_EQ (host->played.size(), 1u);
    EXPECT_EQ (host->played[0].sample % 256, 0u) << "at the start of a block";
}

TEST_F (SchedulerTest, RefusesWhatIsNotOneMessage)
{
    const std::uint8_t twoEvents[] = { 0x90, 1, 100, 0x80, 1, 0 };
    EXPECT_EQ (scheduler->add (0.0, twoEvents, sizeof (twoEvents)), SendResult::notOneMessage);
    EXPECT_TRUE (scheduler->finished());
}

// Following the host's transport: beat 0 on the first bar line a latency ahead, every beat on its
// exact sample at the host's tempo, and silence when the transport stops.
TEST_F (SchedulerTest, FollowingPutsBeatsOnTheHostsTimelineAndStopsWithItsTransport)
{
    host->tempo = 90.0;                                 // a quarter note is 32000 samples
    host->stopTransportAt = static_cast<std::uint64_t> (sampleRate * 9.0);
    addNotes (16, 1.0);                                 // one a quarter note

    scheduler->askForTimedDelivery();
    host->block (256);
    ASSERT_EQ (scheduler->startFollowing (0.0), SendResult::ok);
    ASSERT_EQ (scheduler->mode(), Scheduler::Mode::following);

    auto pumped = SendResult::ok;
    while (pumped == SendResult::ok && host->samples < static_cast<std::uint64_t> (sampleRate * 12.0))
    {
        pumped = scheduler->pump();
        host->block (256);
    }

    EXPECT_EQ (pumped, SendResult::transportStopped);
    EXPECT_TRUE (scheduler->finished()) << "what had not been written is dropped";
    ASSERT_GE (host->played.size(), 3u);
    EXPECT_EQ (host->played.front().sample % 128000, 0u) << "on a bar line (four quarter notes of 32000)";
    for (std::size_t i = 1; i < host->played.size(); ++i)
        EXPECT_EQ (host->played[i].sample - host->played[i - 1].sample, 32000u) << i;
    EXPECT_LE (host->played.back().sample, host->stopTransportAt + 256);
}

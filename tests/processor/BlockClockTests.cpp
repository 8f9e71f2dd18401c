// The block clock the receiver publishes into clocks.dat, and timed delivery for a peer that asks.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <clock/BlockClockFile.h>
#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <vector>

namespace
{
using keyferry::BlockClock;

struct Played
{
    std::uint64_t sample; // on the receiver's running count
    int note;

    bool operator== (const Played& other) const { return sample == other.sample && note == other.note; }
};

std::ostream& operator<< (std::ostream& stream, const Played& played)
{
    return stream << "{" << played.sample << ": " << played.note << "}";
}

// A play head that says what the test wants.
struct FixedPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override { return info; }
    PositionInfo info;
};

class BlockClockTest : public ::testing::Test
{
protected:
    BlockClockTest()
    {
        processor.prepareToPlay (48000.0, 512);
        clocks.open (keyferry::BlockClockFile::pathNextTo (home.getTableFile().getFullPathName().toStdString()), false);
    }

    // One block; what came out, placed on the receiver's running count.
    std::vector<Played> process (int numSamples)
    {
        juce::AudioBuffer<float> audio (2, numSamples);
        juce::MidiBuffer midi;
        processor.processBlock (audio, midi);
        std::vector<Played> played;
        for (const auto metadata : midi)
            if (metadata.getMessage().isNoteOn())
                played.push_back ({ processed + static_cast<std::uint64_t> (metadata.samplePosition), metadata.data[1] });
        processed += static_cast<std::uint64_t> (numSamples);
        return played;
    }

    BlockClock clock() const
    {
        BlockClock value;
        EXPECT_TRUE (keyferry::read (clocks.shared()->clocks[0], value));
        return value;
    }

    void askForTimedDelivery()
    {
        std::uint64_t claim[keyferry::ClaimIdWords];
        keyferry::claimIdWords (view.slot (0).id, claim);
        keyferry::requestTimedDelivery (clocks.shared()->timed[0], claim);
    }

    // A note-on to play at the given sample of the receiver's running count.
    void sendAt (std::uint64_t sample, int note)
    {
        const std::uint8_t bytes[] = { 0x90, static_cast<std::uint8_t> (note), 100 };
        ASSERT_EQ (writer.append ({ static_cast<std::int32_t> (static_cast<std::uint32_t> (sample)), bytes, sizeof (bytes) }),
                   keyferry::SendResult::ok);
    }

    TemporaryHome home;
    KeyferryReceiverProcessor processor;
    TableFileView view { home.getTableFile() };
    keyferry::RingWriter writer { view.slot (0) };
    keyferry::BlockClockFile clocks;
    std::uint64_t processed = 0;
};
} // namespace

TEST_F (BlockClockTest, EachBlockIsPublishedWithItsPlaceInTheClaimsSampleCount)
{
    ASSERT_TRUE (clocks.isOpen());
    std::uint64_t claim[keyferry::ClaimIdWords];
    keyferry::claimIdWords (view.slot (0).id, claim);

    for (const int length : { 64, 100, 1, 0, 2048 })
    {
        const auto before = keyferry::monotonicNanos();
        const auto countBefore = processed;
        process (length);
        const auto published = clock();

        EXPECT_EQ (published.sampleCount, countBefore);
        EXPECT_EQ (published.blockLength, static_cast<std::uint32_t> (length));
        EXPECT_EQ (published.sampleRate, 48000.0);
        EXPECT_GE (published.blockStartNanos, before);
        EXPECT_LE (published.blockStartNanos, keyferry::monotonicNanos());
        EXPECT_FALSE (published.has (keyferry::clockHasPlayHead));
        EXPECT_TRUE (std::equal (std::begin (claim), std::end (claim), std::begin (published.claimId)));
    }
}

TEST_F (BlockClockTest, NewClaimStartsItsOwnCountUnderItsOwnIdentifier)
{
    process (512);
    const auto first = clock();
    processor.releaseResources();
    processor.prepareToPlay (48000.0, 512);

    // Claimed, no block yet: nothing of the previous claim's time is left to go by.
    const auto claimed = clock();
    EXPECT_FALSE (std::equal (std::begin (first.claimId), std::end (first.claimId), std::begin (claimed.claimId)));
    EXPECT_FALSE (claimed.hasBlock());
    EXPECT_EQ (claimed.blockStartNanos, 0u);
    EXPECT_EQ (claimed.blockLength, 0u);

    process (64);
    const auto second = clock();

    EXPECT_EQ (second.sampleCount, 0u);
    EXPECT_TRUE (second.hasBlock());
    EXPECT_TRUE (std::equal (std::begin (claimed.claimId), std::end (claimed.claimId), std::begin (second.claimId)));
}

TEST_F (BlockClockTest, PlayHeadIsPublishedAsTheHostGivesIt)
{
    FixedPlayHead playHead;
    playHead.info.setIsPlaying (true);
    playHead.info.setBpm (96.0);
    playHead.info.setPpqPosition (8.5);
    playHead.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 3, 4 });
    playHead.info.setTimeInSamples (96000);
    processor.setPlayHead (&playHead);

    process (64);
    const auto published = clock();

    EXPECT_TRUE (published.has (keyferry::clockHasPlayHead));
    EXPECT_TRUE (published.has (keyferry::clockPlaying));
    EXPECT_EQ (published.tempo, 96.0);
    EXPECT_EQ (published.ppqPosition, 8.5);
    EXPECT_EQ (published.timeSignature, 3u | 4u << 16);
    EXPECT_EQ (published.hostSamplePosition, 96000);

    playHead.info = {};
    process (64);
    EXPECT_TRUE (clock().has (keyferry::clockHasPlayHead));
    EXPECT_FALSE (clock().has (keyferry::clockTempoKnown));
    processor.setPlayHead (nullptr);
}

// Blocks of every length, messages queued far ahead: each comes out on its sample, none lost.
TEST_F (BlockClockTest, TimedMessagesComeOutOnTheirSamplesWhateverTheBlockLengths)
{
    askForTimedDelivery();
    process (16);
    ASSERT_TRUE (clock().has (keyferry::clockTimedDelivery));

    std::vector<Played> expected;
    for (int note = 0; note < 60; ++note)
    {
        const auto sample = 100 + static_cast<std::uint64_t> (note) * 37;
        expected.push_back ({ sample, note });
        sendAt (sample, note);
    }

    std::vector<Played> played;
    const int lengths[] = { 1, 64, 100, 7, 512, 33, 0, 256 };
    for (int i = 0; processed < 2500; ++i)
    {
        const auto block = process (lengths[i % 8]);
        played.insert (played.end(), block.begin(), block.end());
    }

    EXPECT_EQ (played, expected);
    EXPECT_EQ (clock().lateMessages, 0u);
}

TEST_F (BlockClockTest, LateMessagesComeOutAtTheNextBlocksStartAndAreCounted)
{
    askForTimedDelivery();
    process (100);
    sendAt (50, 1);  // passed already
    sendAt (130, 2); // in the next block

    EXPECT_EQ (process (64), (std::vector<Played> { { 100, 1 }, { 130, 2 } }));
    EXPECT_EQ (clock().lateMessages, 1u);
}

TEST_F (BlockClockTest, ResetRequestCancelsWhatWaitsForItsTime)
{
    askForTimedDelivery();
    process (64);
    sendAt (1000, 1);
    view.slot (0).resetRequested = 1;

    process (64);
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE (process (64).empty());
    EXPECT_EQ (view.slot (0).readPos.load(), view.slot (0).writePos.load());
}

TEST_F (BlockClockTest, RequestForAnotherClaimLeavesDeliveryPlain)
{
    askForTimedDelivery();
    processor.releaseResources();
    processor.prepareToPlay (48000.0, 512); // a new claim: the request names the old one
    processed = 0;
    writer.append ({ 10, std::array<std::uint8_t, 3> { 0x90, 5, 100 }.data(), 3 });

    EXPECT_EQ (process (64), (std::vector<Played> { { 10, 5 } })) << "position 10 of this block, as always";
    EXPECT_FALSE (clock().has (keyferry::clockTimedDelivery));
}

// One block in process: which blocks stamp the activity time, and a block of no samples.

#include "../support/CollectingLogger.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <processor/KeyferryReceiverProcessor.h>

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using keyferry::RingSize;

class BlockProcessing : public ::testing::Test
{
protected:
    BlockProcessing() { processor.prepareToPlay (48000.0, 64); }

    juce::MidiBuffer process (int numSamples)
    {
        juce::AudioBuffer<float> audio (2, numSamples);
        juce::MidiBuffer midi;
        processor.processBlock (audio, midi);
        return midi;
    }

    std::uint32_t putNoteOn (std::uint32_t offset)
    {
        const std::uint8_t message[] = { 0, 0, 0, 0, 3, 0, 0x90, 0x3c, 0x64 };
        std::memcpy (slot.ring + offset, message, sizeof (message));
        return offset + sizeof (message);
    }

    TemporaryHome home;
    KeyferryReceiverProcessor processor;
    TableFileView view { home.getTableFile() };
    keyferry::ReceiverSlot& slot = view.slot (0);
    CollectingLogger log;
};

enum class RingContent
{
    resetRequestOnly,
    emptyRing,
    positionsEqualAfterALap,
    wrapOnly,
    corruptHeaderOnly,
    oneMessage
};

struct StampCase
{
    const char* name;
    RingContent content;
    bool stamps; // exactly when the drain moved readPos
};

void PrintTo (const StampCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class ActivityStamp : public BlockProcessing, public ::testing::WithParamInterface<StampCase>
{
};
} // namespace

TEST_P (ActivityStamp, FollowsEveryBlockThatMovedTheReadPosition)
{
    switch (GetParam().content)
    {
        case RingContent::resetRequestOnly: slot.resetRequested = 1; break;
        case RingContent::emptyRing: break;
        case RingContent::positionsEqualAfterALap: slot.readPos = 700; slot.writePos = 700; break;
        case RingContent::wrapOnly: slot.readPos = 4093; slot.writePos = 0; break;
        case RingContent::corruptHeaderOnly: slot.writePos = 100; break; // the zero ring reads size 0
        case RingContent::oneMessage: slot.writePos = putNoteOn (0); break;
    }

    ASSERT_EQ (processor.getLastActivityMs(), 0);
    process (64);

    if (GetParam().stamps)
        EXPECT_GT (processor.getLastActivityMs(), 0);
    else
        EXPECT_EQ (processor.getLastActivityMs(), 0);
}

INSTANTIATE_TEST_SUITE_P (Blocks,
                          ActivityStamp,
                          ::testing::Values (StampCase { "ResetRequestOnly", RingContent::resetRequestOnly, false },
                                             StampCase { "EmptyRing", RingContent::emptyRing, false },
                                             StampCase { "PositionsEqualAfterALap", RingContent::positionsEqualAfterALap, false },
                                             StampCase { "WrapOnly", RingContent::wrapOnly, true },
                                             StampCase { "CorruptHeaderOnly", RingContent::corruptHeaderOnly, true },
                                             StampCase { "OneMessage", RingContent::oneMessage, true }),
                          [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (BlockProcessing, BlockOfNoSamplesAnswersTheResetAndDrainsWithoutForwarding)
{
    slot.resetRequested = 1;
    const auto end = putNoteOn (0);
    slot.writePos = end;

    const auto midi = process (0);

    EXPECT_EQ (midi.getNumEvents(), 32);
    for (const auto metadata : midi)
    {
        const auto message = metadata.getMessage();
        EXPECT_EQ (metadata.samplePosition, 0);
        EXPECT_TRUE (message.isAllNotesOff() || message.isAllSoundOff()) << message.getDescription();
    }
    EXPECT_EQ (slot.resetRequested.load(), 0);
    EXPECT_EQ (slot.readPos.load(), end) << "the ring is drained, its event dropped";
    EXPECT_GT (processor.getLastActivityMs(), 0);
}

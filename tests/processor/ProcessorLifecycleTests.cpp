// Claiming, releasing and naming across the processor's lifecycle.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <processor/KeyferryReceiverProcessor.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{
class ProcessorLifecycle : public ::testing::Test
{
protected:
    TemporaryHome home;

    std::unique_ptr<KeyferryReceiverProcessor> make() { return std::make_unique<KeyferryReceiverProcessor>(); }
    TableFileView view() const { return TableFileView (home.getTableFile()); }
};
} // namespace

TEST_F (ProcessorLifecycle, InstancesAreNumberedInOrderAndTheTenthIsDisconnected)
{
    std::vector<std::unique_ptr<KeyferryReceiverProcessor>> instances;
    for (int i = 0; i < 10; ++i)
        instances.push_back (make());

    for (int i = 0; i < 9; ++i)
    {
        EXPECT_EQ (instances[(size_t) i]->getSlotIndex(), i);
        EXPECT_EQ (instances[(size_t) i]->getDisplayName(), "Receiver " + juce::String (i + 1));
        EXPECT_STREQ (view().slot (i).name, "Receiver");
    }

    EXPECT_EQ (instances[9]->getSlotIndex(), -1);
    EXPECT_EQ (instances[9]->getDisplayName(), "Disconnected");

    // A slot freed later is taken by the next prepare of the instance that had none.
    instances[4].reset();
    instances[9]->prepareToPlay (48000.0, 512);
    EXPECT_EQ (instances[9]->getSlotIndex(), 4);
    EXPECT_EQ (instances[9]->getDisplayName(), "Receiver 5");
}

TEST_F (ProcessorLifecycle, PrepareOnAHoldingInstanceChangesNothing)
{
    auto processor = make();
    const auto counter = view().table().changeCounter.load();

    processor->prepareToPlay (96000.0, 32);
    processor->prepareToPlay (44100.0, 4096);

    EXPECT_EQ (processor->getSlotIndex(), 0);
    EXPECT_EQ (processor->getDisplayName(), "Receiver 1");
    EXPECT_EQ (view().table().changeCounter.load(), counter);
}

TEST_F (ProcessorLifecycle, ReleaseKeepsTheNameAndReactivationTakesTheLowestFreeSlot)
{
    auto first = make();
    auto second = make();
    ASSERT_EQ (second->getSlotIndex(), 1);

    second->releaseResources();
    EXPECT_EQ (second->getSlotIndex(), -1);
    EXPECT_EQ (second->getDisplayName(), "Receiver 2");
    EXPECT_EQ (view().slot (1).active.load(), 0);

    const auto counter = view().table().changeCounter.load();
    second->releaseResources();
    EXPECT_EQ (view().table().changeCounter.load(), counter) << "a second release does nothing";

    first.reset();
    second->prepareToPlay (48000.0, 512);
    EXPECT_EQ (second->getSlotIndex(), 0);
    EXPECT_EQ (second->getDisplayName(), "Receiver 1");
}

TEST_F (ProcessorLifecycle, DestroyingAHolderGivesTheSlotBack)
{
    auto processor = make();
    auto slot = processor->getSlotIndex();
    const auto counter = view().table().changeCounter.load();

    processor.reset();

    EXPECT_EQ (view().slot (slot).active.load(), 0);
    EXPECT_EQ (view().table().activeCount.load(), 0u);
    EXPECT_EQ (view().table().changeCounter.load(), counter + 1);
}

TEST_F (ProcessorLifecycle, ReleaseOfASlotSomebodyElseClearedLeavesTheCountersAlone)
{
    auto processor = make();
    view().slot (0).active = 0;
    const auto counter = view().table().changeCounter.load();

    processor->releaseResources();

    EXPECT_EQ (processor->getSlotIndex(), -1);
    EXPECT_EQ (view().table().changeCounter.load(), counter);
    EXPECT_EQ (view().table().activeCount.load(), 1u);
}

TEST_F (ProcessorLifecycle, WithoutATableTheInstanceStaysDisconnected)
{
    ASSERT_TRUE (home.getFolder().getChildFile (".config").replaceWithText ("in the way"));
    auto processor = make();

    processor->prepareToPlay (48000.0, 512);

    EXPECT_EQ (processor->getSlotIndex(), -1);
    EXPECT_EQ (processor->getDisplayName(), "Disconnected");
}

namespace
{
class ProcessorState : public ProcessorLifecycle
{
protected:
    std::unique_ptr<KeyferryReceiverProcessor> processor = make();
};
} // namespace

TEST_F (ProcessorState, SavedStateIsTheNameAndOneZeroByte)
{
    std::vector<std::unique_ptr<KeyferryReceiverProcessor>> others;
    others.push_back (make());
    others.push_back (make());

    juce::MemoryBlock block;
    others.back()->getStateInformation (block);

    EXPECT_EQ (block, juce::MemoryBlock ("Receiver 3", 11));
}

TEST_F (ProcessorState, SavingAppendsBehindWhatTheBlockHeld)
{
    juce::MemoryBlock block ("abcde", 5);
    processor->getStateInformation (block);

    EXPECT_EQ (block, juce::MemoryBlock ("abcdeReceiver 1", 16));
}

struct RestoreCase
{
    const char* name;
    std::string bytes;
    juce::String expectedName;
};

void PrintTo (const RestoreCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class ProcessorRestore : public ProcessorState, public ::testing::WithParamInterface<RestoreCase>
{
};

TEST_P (ProcessorRestore, ReplacesOnlyTheDisplayName)
{
    const auto& param = GetParam();

    processor->setStateInformation (param.bytes.data(), static_cast<int> (param.bytes.size()));

    EXPECT_EQ (processor->getDisplayName(), param.expectedName);
    EXPECT_EQ (processor->getSlotIndex(), 0);
    EXPECT_NE (view().slot (0).active.load(), 0);
}

INSTANTIATE_TEST_SUITE_P (
    States,
    ProcessorRestore,
    ::testing::Values (RestoreCase { "SavedName", std::string ("Receiver 7\0", 11), "Receiver 7" },
                       RestoreCase { "NoZeroByte", "Studio B", "Studio B" },
                       RestoreCase { "ZeroInTheMiddle", std::string ("Left\0Right", 10), "Left" },
                       RestoreCase { "Empty", "", "" },
                       RestoreCase { "LeadingZero", std::string ("\0Name", 5), "" },
                       RestoreCase { "Utf8", "Kl\xc3\xa4nge", juce::String (juce::CharPointer_UTF8 ("Kl\xc3\xa4nge")) }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (ProcessorState, RestoredNameStaysUntilTheNextClaim)
{
    processor->setStateInformation ("Receiver 7", 10);
    processor->prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor->getDisplayName(), "Receiver 7");

    processor->releaseResources();
    processor->prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor->getDisplayName(), "Receiver 1");
}

namespace
{
using juce::AudioChannelSet;

struct LayoutCase
{
    const char* name;
    std::vector<AudioChannelSet> inputs;
    std::vector<AudioChannelSet> outputs;
    bool supported;
};

void PrintTo (const LayoutCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class ProcessorLayouts : public ProcessorState, public ::testing::WithParamInterface<LayoutCase>
{
};
} // namespace

TEST_P (ProcessorLayouts, StereoOutWithStereoOrNoInput)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.addArray (GetParam().inputs.data(), (int) GetParam().inputs.size());
    layout.outputBuses.addArray (GetParam().outputs.data(), (int) GetParam().outputs.size());

    EXPECT_EQ (processor->isBusesLayoutSupported (layout), GetParam().supported);
}

INSTANTIATE_TEST_SUITE_P (
    Layouts,
    ProcessorLayouts,
    ::testing::Values (LayoutCase { "StereoToStereo", { AudioChannelSet::stereo() }, { AudioChannelSet::stereo() }, true },
                       LayoutCase { "NoInputBus", {}, { AudioChannelSet::stereo() }, true },
                       LayoutCase { "DisabledInput", { AudioChannelSet::disabled() }, { AudioChannelSet::stereo() }, true },
                       LayoutCase { "MonoOut", { AudioChannelSet::stereo() }, { AudioChannelSet::mono() }, false },
                       LayoutCase { "MonoIn", { AudioChannelSet::mono() }, { AudioChannelSet::stereo() }, false },
                       LayoutCase { "EmptyOut", { AudioChannelSet::stereo() }, { AudioChannelSet::disabled() }, false },
                       LayoutCase { "NoOutputBus", { AudioChannelSet::stereo() }, {}, false },
                       LayoutCase { "SurroundOut", { AudioChannelSet::stereo() }, { AudioChannelSet::create5point1() }, false },
                       LayoutCase { "OtherStereoPair", { AudioChannelSet::stereo() },
                                    { AudioChannelSet::channelSetWithChannels ({ juce::AudioChannelSet::left, juce::AudioChannelSet::centre }) }, false }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

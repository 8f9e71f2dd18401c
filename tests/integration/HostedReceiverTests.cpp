// The built bundle loaded through the framework's VST3 hosting, with a sending peer writing into
// the slot the instance claimed: the road of a message from the ring to the host's MIDI output.

#include "HostedReceiver.h"

#include "../support/StderrCapture.h"
#include "../support/TableFileView.h"

#include <cstring>


TEST_F (HostedReceiver, MessagesComeOutAtTheirSampleOffsetsAndOutsideTheBlockAreDropped)
{
    send (17, note (60));
    send (blockSize, note (61)); // one past the block
    send (0, note (62));
    send (-1, note (63));
    send (blockSize - 1, note (64));
    send (17, note (65)); // same position: ring order

    EXPECT_EQ (process(), (std::vector<Event> { { 0, note (62) }, { 17, note (60) }, { 17, note (65) }, { blockSize - 1, note (64) } }));
    EXPECT_EQ (lastPeak, 0.0f);

    // Dropped messages do not carry over.
    EXPECT_TRUE (process().empty());
}

TEST_F (HostedReceiver, AtPositionZeroHostEventsComeFirstThenTheResetThenTheRing)
{
    const juce::MidiMessage hostNote = juce::MidiMessage::noteOn (2, 50, (juce::uint8) 90);
    juce::MidiBuffer hostMidi;
    hostMidi.addEvent (hostNote, 0);

    send (0, note (70));
    ASSERT_EQ (link->requestReset(), keyferry::SendResult::ok);

    std::vector<Event> expected { { 0, Bytes (hostNote.getRawData(), hostNote.getRawData() + 3) } };
    for (auto& event : resetEvents())
        expected.push_back (event);
    expected.push_back ({ 0, note (70) });

    EXPECT_EQ (process (blockSize, hostMidi), expected);
    EXPECT_TRUE (process().empty()) << "a reset is answered once";
}

TEST_F (HostedReceiver, ResetWithAnEmptyRingStillSendsTheThirtyTwoEvents)
{
    ASSERT_EQ (link->requestReset(), keyferry::SendResult::ok);
    EXPECT_EQ (process(), resetEvents());
}

TEST_F (HostedReceiver, EmptyBlockDrainsWithoutForwarding)
{
    send (0, note (60));

    EXPECT_TRUE (process (0).empty());
    EXPECT_EQ (peer.slot (0).unreadBytes, 0u);
    EXPECT_TRUE (process().empty());
}

TEST_F (HostedReceiver, CorruptHeaderDeliversWhatCameBeforeLogsAndTheNextBlockGoesOn)
{
    send (5, note (60));

    // A faulty peer leaves a header of size 0 behind the note and publishes past it.
    const TableFileView view (home.getTableFile());
    auto& slot = view.slot (0);
    const auto badHeaderAt = slot.writePos.load();
    std::memset (slot.ring + badHeaderAt, 0, 6);
    slot.writePos = badHeaderAt + 6;
    send (7, note (61));

    StderrCapture stderrCapture;
    const auto first = process();
    const auto logged = stderrCapture.finish();

    EXPECT_EQ (first, (std::vector<Event> { { 5, note (60) } }));
    EXPECT_NE (logged.find ("[ReadMidi] CORRUPTED at readPos=" + std::to_string (badHeaderAt + 6) + " msgSize=0"), std::string::npos)
        << logged;
    EXPECT_EQ (process(), (std::vector<Event> { { 7, note (61) } }));
}

TEST_F (HostedReceiver, MessagesFromAPeerInAnotherProcessArrive)
{
    juce::ChildProcess peerProcess;
    ASSERT_TRUE (peerProcess.start (juce::StringArray { KEYFERRY_PEER_PROCESS, "0", "40", "100" }));
    ASSERT_TRUE (peerProcess.waitForProcessToFinish (30000));
    ASSERT_EQ (peerProcess.getExitCode(), 0u) << peerProcess.readAllProcessOutput();

    std::vector<Event> expected;
    for (std::uint8_t i = 0; i < 40; ++i)
        expected.push_back ({ 100 + i, note (i) });

    EXPECT_EQ (process(), expected);
}

TEST_F (HostedReceiver, DeactivationGivesTheSlotBackAndReactivationTakesTheLowestFree)
{
    auto second = loadInstance();
    ASSERT_NE (second, nullptr);
    ASSERT_TRUE (peer.slot (1).held);

    second->releaseResources();
    plugin->releaseResources();
    EXPECT_FALSE (peer.slot (0).held);
    EXPECT_FALSE (peer.slot (1).held);
    EXPECT_FALSE (link->isCurrent());
    EXPECT_EQ (link->send ({ 0, note (1).data(), 3 }), keyferry::SendResult::slotNotHeld);

    second->prepareToPlay (48000.0, blockSize);
    EXPECT_TRUE (peer.slot (0).held);
    EXPECT_FALSE (peer.slot (1).held);
    EXPECT_EQ (link->send ({ 0, note (1).data(), 3 }), keyferry::SendResult::receiverChanged);

    link = linkTo (0);
    send (3, note (90));
    EXPECT_EQ (process (*second, blockSize), (std::vector<Event> { { 3, note (90) } }));

    plugin->prepareToPlay (48000.0, blockSize);
    EXPECT_TRUE (peer.slot (1).held);
    second->releaseResources();
}

namespace
{
// An instance that finds every slot held: it runs without one.
class HostedReceiverWithoutSlot : public HostedReceiver
{
protected:
    void SetUp() override
    {
        juce::MemoryBlock image (keyferry::TableFileSize, true);
        auto* table = static_cast<keyferry::SharedReceiverTable*> (image.getData());
        for (auto& slot : table->slots)
            slot.active = 1;
        ASSERT_TRUE (home.getTableFile().getParentDirectory().createDirectory().wasOk());
        ASSERT_TRUE (home.getTableFile().replaceWithData (image.getData(), image.getSize()));

        plugin = loadInstance();
        ASSERT_NE (plugin, nullptr);
    }
};
} // namespace

TEST_F (HostedReceiverWithoutSlot, HostMidiPassesThroughUnchangedAndAudioIsSilent)
{
    juce::MidiBuffer hostMidi;
    hostMidi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 3);
    hostMidi.addEvent (juce::MidiMessage::controllerEvent (4, 7, 99), 200);
    const auto expected = eventsOf (hostMidi);

    EXPECT_EQ (process (blockSize, hostMidi), expected);
    EXPECT_EQ (lastPeak, 0.0f);
}

TEST_F (HostedReceiver, BypassLeavesTheRingUndrainedAndHostMidiAsItCame)
{
    auto* bypass = plugin->getBypassParameter();
    ASSERT_NE (bypass, nullptr);

    send (4, note (60));
    bypass->setValueNotifyingHost (1.0f);

    juce::MidiBuffer hostMidi;
    hostMidi.addEvent (juce::MidiMessage::noteOn (3, 40, (juce::uint8) 70), 9);
    const auto hostEvents = eventsOf (hostMidi);

    EXPECT_EQ (process (blockSize, hostMidi), hostEvents);
    EXPECT_EQ (process (blockSize, hostMidi), hostEvents);
    EXPECT_GT (peer.slot (0).unreadBytes, 0u) << "the ring waits while bypassed";

    bypass->setValueNotifyingHost (0.4f); // below one half: processing again
    auto expected = hostEvents;
    expected.insert (expected.begin(), { 4, note (60) });
    EXPECT_EQ (process (blockSize, hostMidi), expected);
}

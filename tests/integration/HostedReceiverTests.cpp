// The built bundle loaded through the framework's VST3 hosting, with a sending peer writing into
// the slot the instance claimed: the road of a message from the ring to the host's MIDI output.

#include "../support/StderrCapture.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <PluginLoader.h>
#include <sender/SenderTable.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Event
{
    int position;
    Bytes bytes;

    bool operator== (const Event& other) const { return position == other.position && bytes == other.bytes; }
};

std::ostream& operator<< (std::ostream& stream, const Event& event)
{
    stream << "{" << event.position << ":";
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

std::vector<Event> resetEvents()
{
    std::vector<Event> events;
    for (std::uint8_t channel = 0; channel < 16; ++channel)
    {
        events.push_back ({ 0, { static_cast<std::uint8_t> (0xb0 | channel), 123, 0 } });
        events.push_back ({ 0, { static_cast<std::uint8_t> (0xb0 | channel), 120, 0 } });
    }
    return events;
}

Bytes note (std::uint8_t key) { return { 0x90, key, 100 }; }

juce::File bundle() { return juce::File (KEYFERRY_PLUGIN_BUNDLE); }

constexpr int blockSize = 512;

class HostedReceiver : public ::testing::Test
{
protected:
    std::unique_ptr<juce::AudioPluginInstance> loadInstance()
    {
        juce::String error;
        auto instance = loader.load (bundle(), 48000.0, blockSize, error);
        EXPECT_NE (instance, nullptr) << error;
        if (instance != nullptr)
            instance->prepareToPlay (48000.0, blockSize);
        return instance;
    }

    void SetUp() override
    {
        plugin = loadInstance();
        ASSERT_NE (plugin, nullptr);
        ASSERT_EQ (peer.open(), keyferry::SendResult::ok);
        link = linkTo (0);
        ASSERT_TRUE (link.has_value());
    }

    void TearDown() override
    {
        if (plugin != nullptr)
            plugin->releaseResources();
    }

    std::optional<keyferry::ReceiverLink> linkTo (int slot)
    {
        keyferry::SendResult result {};
        auto newLink = peer.link (slot, result);
        EXPECT_EQ (result, keyferry::SendResult::ok) << keyferry::describe (result);
        return newLink;
    }

    void send (std::int32_t position, const Bytes& bytes)
    {
        ASSERT_EQ (link->send ({ position, bytes.data(), bytes.size() }), keyferry::SendResult::ok);
    }

    // One block through the plug-in; input audio is a non-silent constant.
    std::vector<Event> process (juce::AudioPluginInstance& instance, int numSamples, juce::MidiBuffer midi = {})
    {
        juce::AudioBuffer<float> audio (2, numSamples);
        for (int channel = 0; channel < 2; ++channel)
            juce::FloatVectorOperations::fill (audio.getWritePointer (channel), 0.5f, numSamples);

        instance.processBlock (audio, midi);
        lastPeak = numSamples > 0 ? audio.getMagnitude (0, numSamples) : 0.0f;
        return eventsOf (midi);
    }

    std::vector<Event> process (int numSamples = blockSize, juce::MidiBuffer midi = {})
    {
        return process (*plugin, numSamples, std::move (midi));
    }

    TemporaryHome home;
    PluginLoader loader;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
    keyferry::SenderTable peer;
    std::optional<keyferry::ReceiverLink> link;
    float lastPeak = -1.0f;
};
} // namespace

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

// The keyferry tool in a process of its own, sending into the plug-in loaded in our host.

#include "HostedReceiver.h"

namespace
{
class KeyferryTool : public HostedReceiver
{
protected:
    // Runs keyferry to completion; returns its exit code.
    juce::uint32 keyferryTool (const juce::StringArray& arguments)
    {
        juce::ChildProcess child;
        juce::StringArray command { KEYFERRY_TOOL };
        command.addArray (arguments);
        EXPECT_TRUE (child.start (command));
        output = child.readAllProcessOutput();
        EXPECT_TRUE (child.waitForProcessToFinish (30000));
        return child.getExitCode();
    }

    juce::String output;
};
} // namespace

TEST_F (KeyferryTool, SendArrivesAtItsPositions)
{
    ASSERT_EQ (keyferryTool ({ "send", "1", "note-on", "1", "60", "100", "--at", "300", "cc", "2", "7", "90" }), 0u) << output;

    EXPECT_EQ (process(), (std::vector<Event> { { 0, note (60) }, { 300, { 0xb1, 7, 90 } } }));
}

TEST_F (KeyferryTool, PlayDeliversTheFileInOrderAndPanicFollows)
{
    juce::MidiMessageSequence notes;
    for (int i = 0; i < 8; ++i)
    {
        notes.addEvent (juce::MidiMessage::noteOn (1, 60 + i, (juce::uint8) 100), i * 24.0);
        notes.addEvent (juce::MidiMessage::noteOff (1, 60 + i), i * 24.0 + 12.0);
    }
    juce::MidiFile file;
    file.setTicksPerQuarterNote (96); // at 120 bpm: a note every 0.125 s
    file.addTrack (notes);
    const auto path = home.getFolder().getChildFile ("phrase.mid");
    {
        juce::FileOutputStream stream (path);
        ASSERT_TRUE (stream.openedOk() && file.writeTo (stream));
    }

    juce::ChildProcess player;
    ASSERT_TRUE (player.start (juce::StringArray { KEYFERRY_TOOL, "play", path.getFullPathName(), "1", "--quiet" }));

    // Blocks in real time-ish while the player runs, as a host would; each event placed on the
    // running sample count.
    std::vector<Event> received;
    int processed = 0;
    const auto processOne = [&]
    {
        for (auto& event : process())
            received.push_back ({ processed + event.position, event.bytes });
        processed += blockSize;
    };
    while (player.isRunning())
    {
        processOne();
        juce::Thread::sleep (5);
    }
    processOne();
    ASSERT_EQ (player.getExitCode(), 0u) << player.readAllProcessOutput();
    ASSERT_FALSE (received.empty());

    // On their exact samples: a note every 0.125 s, each 0.0625 s long, at 48 kHz.
    const auto first = received.front().position;
    std::vector<Event> expected;
    for (std::uint8_t i = 0; i < 8; ++i)
    {
        expected.push_back ({ first + i * 6000, note (static_cast<std::uint8_t> (60 + i)) });
        expected.push_back ({ first + i * 6000 + 3000, { 0x80, static_cast<std::uint8_t> (60 + i), 0 } });
    }
    EXPECT_EQ (received, expected);

    ASSERT_EQ (keyferryTool ({ "panic", "1" }), 0u) << output;
    EXPECT_EQ (process(), resetEvents());
}

TEST_F (KeyferryTool, ListShowsTheClaimedSlot)
{
    ASSERT_EQ (keyferryTool ({ "list", "--json" }), 0u) << output;
    const auto rows = juce::JSON::parse (output);
    ASSERT_TRUE (rows.isArray());
    EXPECT_TRUE ((bool) rows[0]["held"]);
    EXPECT_EQ (rows[0]["name"].toString(), "Receiver");
    EXPECT_EQ (rows[0]["id"].toString(), juce::String (peer.slot (0).id));
    EXPECT_FALSE ((bool) rows[1]["held"]);
}

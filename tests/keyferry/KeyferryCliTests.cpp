// The keyferry command line, run in-process against a table file in a temporary HOME: what each
// command line prints, what it returns, and what it writes into the ring.

#include "../support/TemporaryHome.h"

#include <CliSupport.h>
#include <KeyferryCli.h>
#include <holders/HolderFile.h>
#include <MidiForwarder.h>
#include <MidiMessageParser.h>
#include <PlaybackSchedule.h>

#include <gtest/gtest.h>

#include <cstring>
#include <pwd.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Run
{
    int status;
    std::string out, err;
};

Run runCommand (const juce::StringArray& arguments)
{
    std::ostringstream out, err;
    const auto status = runKeyferry (arguments, out, err);
    return { status, out.str(), err.str() };
}

// A table file in which receiver 1 (slot 0) is held, as a running plug-in would leave it.
class KeyferryCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        juce::MemoryBlock image (keyferry::TableFileSize, true);
        auto& slot = static_cast<keyferry::SharedReceiverTable*> (image.getData())->slots[0];
        slot.active = 1;
        std::strcpy (slot.id, "0123456789abcdef4123456789abcdef");
        std::strcpy (slot.name, "Receiver");
        ASSERT_TRUE (home.getTableFile().getParentDirectory().createDirectory().wasOk());
        ASSERT_TRUE (home.getTableFile().replaceWithData (image.getData(), image.getSize()));
        mapping = std::make_unique<juce::MemoryMappedFile> (home.getTableFile(), juce::MemoryMappedFile::readWrite, false);
    }

    keyferry::ReceiverSlot& slot (int index) const
    {
        return static_cast<keyferry::SharedReceiverTable*> (mapping->getData())->slots[index];
    }

    Bytes ring (std::uint32_t from, std::uint32_t to) const { return Bytes (slot (0).ring + from, slot (0).ring + to); }

    TemporaryHome home;
    std::unique_ptr<juce::MemoryMappedFile> mapping;
};

struct CommandCase
{
    const char* name;
    juce::StringArray arguments;
    int status;
    const char* expectedText; // in stdout for status 0, in stderr otherwise
};

void PrintTo (const CommandCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class KeyferryCommandLines : public KeyferryCli, public ::testing::WithParamInterface<CommandCase>
{
};
} // namespace

TEST_P (KeyferryCommandLines, ReturnAndSayWhatTheyShould)
{
    const auto& param = GetParam();
    const auto run = runCommand (param.arguments);

    EXPECT_EQ (run.status, param.status) << run.out << run.err;
    const auto& text = param.status == 0 ? run.out : run.err;
    EXPECT_NE (text.find (param.expectedText), std::string::npos) << "stdout: " << run.out << "\nstderr: " << run.err;
}

INSTANTIATE_TEST_SUITE_P (
    Table,
    KeyferryCommandLines,
    ::testing::Values (
        CommandCase { "NoArguments", {}, 2, "usage: keyferry" },
        CommandCase { "Help", { "--help" }, 0, "usage: keyferry [--table PATH] COMMAND" },
        CommandCase { "UnknownCommand", { "frobnicate" }, 2, "unknown command 'frobnicate'" },
        CommandCase { "SubcommandHelp", { "send", "--help" }, 0, "usage: keyferry send RECEIVER" },
        CommandCase { "List", { "list" }, 0, "1         held   Receiver          0123456789abcdef4123456789abcdef  0" },
        CommandCase { "ListFree", { "list" }, 0, "9         free   -" },
        CommandCase { "ListJson", { "list", "--json" }, 0, "\"held\": true" },
        CommandCase { "ListExtra", { "list", "everything" }, 2, "list takes no arguments" },
        CommandCase { "SendNotHeld", { "send", "4", "note-on", "1", "60", "100" }, 1, "receiver 4 is not held by any plug-in; held: 1" },
        CommandCase { "ReceiverZero", { "send", "0", "note-on", "1", "60", "100" }, 2, "a receiver is a number from 1 to 9" },
        CommandCase { "ReceiverTen", { "send", "10", "note-on", "1", "60", "100" }, 2, "got '10'" },
        CommandCase { "ChannelTooHigh", { "send", "1", "note-on", "17", "60", "100" }, 2, "channel must be 1-16, got 17" },
        CommandCase { "KeyTooHigh", { "send", "1", "note-on", "1", "128", "100" }, 2, "key must be 0-127, got 128" },
        CommandCase { "MissingVelocity", { "send", "1", "note-on", "1", "60" }, 2, "missing velocity" },
        CommandCase { "NotANumber", { "send", "1", "cc", "1", "7", "loud" }, 2, "value must be a whole number, got 'loud'" },
        CommandCase { "BendTooFar", { "send", "1", "pitch-bend", "1", "8192" }, 2, "pitch-bend value must be -8192-8191, got 8192" },
        CommandCase { "RawWithoutStatus", { "send", "1", "raw", "7F" }, 2, "must start with a status byte" },
        CommandCase { "RawOddDigits", { "send", "1", "raw", "F0", "1" }, 2, "pairs of hexadecimal digits" },
        CommandCase { "RawTooLong", { "send", "1", "raw", "F0" + juce::String::repeatedString ("00", 256) }, 2, "at most 256" },
        CommandCase { "RawTwoEvents", { "send", "1", "raw", "90", "3C", "64", "80", "3C", "00" }, 2,
                      "raw note-on (90) is 3 bytes, got 6: one raw is one message" },
        CommandCase { "RawShortNoteOn", { "send", "1", "raw", "90", "3C" }, 2, "raw note-on (90) needs 3 bytes, got 2" },
        CommandCase { "RawStatusInsideSysex", { "send", "1", "raw", "F0", "01", "90", "F7" }, 2, "status byte (90) at byte 3" },
        CommandCase { "RawSysexWithoutEnd", { "send", "1", "raw", "F0", "01", "02" }, 2, "must end with F7" },
        CommandCase { "RawEndOfExclusive", { "send", "1", "raw", "F7" }, 2, "cannot start with F7" },
        CommandCase { "RawSysex", { "send", "1", "raw", "F0", "7E", "7F", "06", "01", "F7" }, 0, "sent 1 message" },
        CommandCase { "UnknownMessage", { "send", "1", "bogus" }, 2, "unknown message 'bogus'" },
        CommandCase { "NoMessage", { "send", "1" }, 2, "no message given" },
        CommandCase { "Send", { "send", "1", "note-on", "1", "60", "100" }, 0, "sent 1 message to receiver 1" },
        CommandCase { "PanicOne", { "panic", "1" }, 0, "asked receiver 1 to silence all notes" },
        CommandCase { "PanicAll", { "panic", "--all" }, 0, "asked receiver 1" },
        CommandCase { "PanicNothing", { "panic" }, 2, "panic needs one receiver" },
        CommandCase { "PanicNotHeld", { "panic", "2" }, 1, "receiver 2 is not held" },
        CommandCase { "PlayMissingFile", { "play", "missing.mid", "1" }, 2, "no such file" },
        CommandCase { "PlayNoReceiver", { "play", "missing.mid" }, 2, "play needs a MIDI file and a receiver" },
        CommandCase { "BridgePortWithoutName", { "bridge", "1", "--port" }, 2, "--port needs a port name" },
        CommandCase { "SendHelpPointsAtList", { "send", "--help" }, 0, "a receiver that keyferry list shows as held" },
        CommandCase { "OtherTable", { "--table", "/nonexistent/receivers.dat", "list" }, 1,
                      "no receivers: no table at /nonexistent/receivers.dat; load Keyferry Receiver in a host first" },
        CommandCase { "TableIsAFolder", { "--table", "/tmp", "list" }, 1, "cannot open or map the table at /tmp: Is a directory" }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST_F (KeyferryCli, WithoutATableFileThereAreNoReceivers)
{
    home.getTableFile().deleteFile();
    const auto run = runCommand ({ "send", "1", "note-on", "1", "60", "100" });
    EXPECT_EQ (run.status, 1);
    EXPECT_NE (run.err.find ("load Keyferry Receiver in a host first"), std::string::npos) << run.err;
    EXPECT_FALSE (home.getTableFile().exists()) << "a peer never creates the file";
}

TEST_F (KeyferryCli, TableOfTheWrongSizeIsNamedAsSuch)
{
    mapping.reset();
    ASSERT_TRUE (home.getTableFile().replaceWithText ("ten bytes!"));
    const auto run = runCommand ({ "list" });
    EXPECT_EQ (run.status, 1);
    EXPECT_NE (run.err.find ("is not a receiver table (10 bytes long, not 37628 bytes)"), std::string::npos) << run.err;
}

TEST_F (KeyferryCli, FailedResetRequestIsReported)
{
    keyferry::SenderTable table;
    ASSERT_EQ (table.open (home.getTableFile().getFullPathName().toStdString()), keyferry::SendResult::ok);
    keyferry::SendResult result {};
    auto link = table.link (0, result);
    ASSERT_TRUE (link);
    slot (0).id[0] = 'f'; // claimed again since the link was made

    std::ostringstream out, err;
    const cli::Context context { {}, out, err, {} };
    EXPECT_EQ (cli::requestSilence (context, *link, "1"), cli::refused);
    EXPECT_NE (err.str().find ("could not ask receiver 1 to silence all notes: the slot was claimed again"), std::string::npos)
        << err.str();
    EXPECT_EQ (slot (0).resetRequested.load(), 0);
}

TEST_F (KeyferryCli, PlaySkipsWhatNoRingMessageCarriesAndSaysSo)
{
    juce::MidiMessageSequence track;
    std::vector<std::uint8_t> longSysex (300, 0x11);
    track.addEvent (juce::MidiMessage::createSysExMessage (longSysex.data(), (int) longSysex.size()), 0.0);
    track.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0.0);
    juce::MidiFile file;
    file.setTicksPerQuarterNote (96);
    file.addTrack (track);
    const auto path = home.getFolder().getChildFile ("long-sysex.mid");
    {
        juce::FileOutputStream stream (path);
        ASSERT_TRUE (file.writeTo (stream));
    }

    const auto run = runCommand ({ "play", path.getFullPathName(), "1", "--quiet" });

    EXPECT_EQ (run.status, 0) << run.err;
    EXPECT_NE (run.out.find ("sent 1 of 2 events"), std::string::npos) << run.out;
    EXPECT_NE (run.out.find ("skipped 1 system-exclusive message longer than 256 bytes"), std::string::npos) << run.out;
    EXPECT_EQ (ring (0, 9), (Bytes { 0, 0, 0, 0, 3, 0, 0x90, 60, 100 }));
}

TEST_F (KeyferryCli, FreeReleasesOnlyTheSlotOfAHolderThatHasEnded)
{
    const auto run = [] (const char* receiver) { return runCommand ({ "free", receiver }); };
    EXPECT_NE (run ("1").err.find ("no holder records next to the table"), std::string::npos);

    keyferry::HolderFile holders;
    ASSERT_TRUE (holders.open (home.getTableFile().getSiblingFile ("holders.dat").getFullPathName().toStdString(), true));

    // Held by this very process: running.
    holders.recordClaim (0, slot (0).id);
    EXPECT_NE (runCommand ({ "list" }).out.find ("process " + std::to_string (::getpid()) + " alive"), std::string::npos);
    auto freed = run ("1");
    EXPECT_EQ (freed.status, 1);
    EXPECT_NE (freed.err.find ("is left alone: its holder, process " + std::to_string (::getpid()) + ", is running"), std::string::npos)
        << freed.err;

    // Held by a process that has ended.
    const auto holdersPath = home.getTableFile().getSiblingFile ("holders.dat").getFullPathName().toStdString();
    const auto child = ::fork();
    if (child == 0)
    {
        keyferry::HolderFile own; // names this process, not the one that opened 'holders'
        own.open (holdersPath, false);
        own.recordClaim (0, slot (0).id);
        ::_exit (0);
    }
    ASSERT_GT (child, 0);
    ::waitpid (child, nullptr, 0);

    EXPECT_NE (runCommand ({ "list" }).out.find ("process " + std::to_string (child) + " gone"), std::string::npos);
    freed = run ("1");
    EXPECT_EQ (freed.status, 0) << freed.err;
    EXPECT_NE (freed.out.find ("freed receiver 1: its holder, process " + std::to_string (child) + ", has ended"), std::string::npos);
    EXPECT_EQ (slot (0).active.load(), 0);
    EXPECT_EQ (static_cast<keyferry::SharedReceiverTable*> (mapping->getData())->changeCounter.load(), 1u);
    EXPECT_NE (run ("1").err.find ("receiver 1 is not held"), std::string::npos);
}

TEST (DefaultTablePath, WithoutHomeIsInTheAccountsHomeFolder)
{
    const TemporaryHome home;
    ::unsetenv ("HOME");
    const auto* account = ::getpwuid (::getuid());
    ASSERT_NE (account, nullptr);
    EXPECT_EQ (keyferry::MappedTableFile::defaultPath(), std::string (account->pw_dir) + "/.config/Keyferry/receivers.dat");
}

TEST_F (KeyferryCli, SendWritesTheMessagesAtTheirPositionsInOneGo)
{
    const auto run = runCommand ({ "send", "1", "note-on", "1", "60", "100", "--at", "32", "note-off", "1", "60" });

    ASSERT_EQ (run.status, 0) << run.err;
    EXPECT_EQ (ring (0, 18), (Bytes { 0, 0, 0, 0, 3, 0, 0x90, 60, 100, 32, 0, 0, 0, 3, 0, 0x80, 60, 0 }));
    EXPECT_EQ (slot (0).writePos.load(), 18u);
}

TEST_F (KeyferryCli, AnInvalidMessageAnywhereSendsNothing)
{
    EXPECT_EQ (runCommand ({ "send", "1", "note-on", "1", "60", "100", "cc", "1", "200", "0" }).status, 2);
    EXPECT_EQ (slot (0).writePos.load(), 0u);
}

TEST_F (KeyferryCli, PanicSetsTheResetRequest)
{
    ASSERT_EQ (runCommand ({ "panic", "1" }).status, 0);
    EXPECT_EQ (slot (0).resetRequested.load(), 1);
}

TEST_F (KeyferryCli, FullRingIsReportedWithWhatWasSent)
{
    slot (0).writePos = 100;
    slot (0).readPos = 105; // five bytes of room
    const auto run = runCommand ({ "send", "1", "note-on", "1", "60", "100" });
    EXPECT_EQ (run.status, 1);
    EXPECT_NE (run.err.find ("sent 0 of 1 messages: ring full"), std::string::npos) << run.err;
}

TEST (MidiMessageParser, EachKindMakesItsBytes)
{
    const struct
    {
        juce::StringArray tokens;
        Bytes bytes;
    } cases[] = {
        { { "note-on", "2", "61", "7" }, { 0x91, 61, 7 } },
        { { "note-off", "16", "0" }, { 0x8f, 0, 0 } },
        { { "cc", "1", "123", "0" }, { 0xb0, 123, 0 } },
        { { "program", "10", "127" }, { 0xc9, 127 } },
        { { "pitch-bend", "1", "0" }, { 0xe0, 0x00, 0x40 } },
        { { "pitch-bend", "1", "-8192" }, { 0xe0, 0x00, 0x00 } },
        { { "pitch-bend", "1", "8191" }, { 0xe0, 0x7f, 0x7f } },
        { { "raw", "f07e7f0601f7" }, { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 } },
        { { "raw", "F8" }, { 0xf8 } },
    };

    for (const auto& testCase : cases)
    {
        const auto outcome = parseMessages (testCase.tokens);
        ASSERT_TRUE (outcome.error.isEmpty()) << testCase.tokens.joinIntoString (" ") << ": " << outcome.error;
        ASSERT_EQ (outcome.messages.size(), 1u);
        EXPECT_EQ (outcome.messages[0].bytes, testCase.bytes) << testCase.tokens.joinIntoString (" ");
    }
}

TEST (PlaybackSchedule, MergesTracksAndHonoursTheTempoMap)
{
    juce::MidiFile file;
    file.setTicksPerQuarterNote (480);

    juce::MidiMessageSequence tempo;
    tempo.addEvent (juce::MidiMessage::tempoMetaEvent (500000), 0);   // 120 bpm
    tempo.addEvent (juce::MidiMessage::tempoMetaEvent (1000000), 960); // 60 bpm from beat 2
    file.addTrack (tempo);

    juce::MidiMessageSequence notes;
    notes.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    notes.addEvent (juce::MidiMessage::noteOn (1, 62, (juce::uint8) 100), 960);
    notes.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 100), 1440);
    file.addTrack (notes);

    juce::MidiMessageSequence other;
    other.addEvent (juce::MidiMessage::controllerEvent (2, 7, 100), 480);
    file.addTrack (other);

    const auto events = scheduleFromMidiFile (file);

    ASSERT_EQ (events.size(), 4u) << "tempo events are not sent";
    const double expectedSeconds[] = { 0.0, 0.5, 1.0, 2.0 };
    const Bytes expectedBytes[] = { { 0x90, 60, 100 }, { 0xb1, 7, 100 }, { 0x90, 62, 100 }, { 0x90, 64, 100 } };
    for (std::size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_NEAR (events[i].time, expectedSeconds[i], 1e-9) << i;
        EXPECT_EQ (events[i].bytes, expectedBytes[i]) << i;
    }
}

TEST_F (KeyferryCli, BridgeForwardsWhatAnInputDelivers)
{
    keyferry::SenderTable table;
    ASSERT_EQ (table.open (home.getTableFile().getFullPathName().toStdString()), keyferry::SendResult::ok);
    keyferry::SendResult result {};
    auto link = table.link (0, result);
    ASSERT_TRUE (link);

    MidiForwarder forwarder (std::move (*link));
    forwarder.handleIncomingMidiMessage (nullptr, juce::MidiMessage::noteOn (3, 64, (juce::uint8) 80));
    forwarder.handleIncomingMidiMessage (nullptr, juce::MidiMessage (0xfe)); // active sensing is not forwarded
    forwarder.handleIncomingMidiMessage (nullptr, juce::MidiMessage::pitchWheel (3, 0x2000));

    EXPECT_EQ (forwarder.getForwarded(), 2);
    EXPECT_EQ (ring (0, 18), (Bytes { 0, 0, 0, 0, 3, 0, 0x92, 64, 80, 0, 0, 0, 0, 3, 0, 0xe2, 0x00, 0x40 }));

    // What no ring message carries is dropped, and the count says why.
    std::vector<std::uint8_t> longSysex (300, 0x11);
    forwarder.handleIncomingMidiMessage (nullptr, juce::MidiMessage::createSysExMessage (longSysex.data(), (int) longSysex.size()));
    EXPECT_EQ (forwarder.getDropped (MidiForwarder::tooLarge), 1);
    EXPECT_EQ (slot (0).writePos.load(), 18u);

    // Once the receiver is gone the forwarder says so instead of writing.
    slot (0).active = 0;
    forwarder.handleIncomingMidiMessage (nullptr, juce::MidiMessage::noteOff (3, 64));
    EXPECT_TRUE (forwarder.receiverChanged());
    EXPECT_EQ (forwarder.getDropped(), 2);
    EXPECT_EQ (forwarder.describeDrops(), "dropped 2 (1 longer than 256 bytes, 1 receiver released or claimed again)");
}

TEST (KeyferryReadme, CommandTableIsTheHelpText)
{
    const auto readme = juce::File (KEYFERRY_README).loadFileAsString();
    EXPECT_TRUE (readme.contains (keyferryHelp())) << "README.md must show `keyferry --help` as it is:\n" << keyferryHelp();
}

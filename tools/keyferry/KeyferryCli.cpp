#include "KeyferryCli.h"

#include "CliSupport.h"
#include "MidiMessageParser.h"

#include <sender/MappedTableFile.h>

#include <ostream>

namespace
{
struct Subcommand
{
    const char* name;
    cli::Command run;
    const char* summary;
    const char* usage;
};

const Subcommand subcommands[] = {
    { "list", cli::list, "show the nine receiver slots", "keyferry list [--json]" },
    { "send", cli::send, "send MIDI messages to a receiver", "keyferry send RECEIVER [--at SAMPLE] MESSAGE... " },
    { "panic", cli::panic, "ask receivers to silence all notes", "keyferry panic RECEIVER | --all" },
    { "play", cli::play, "play a Standard MIDI File into a receiver in real time", "keyferry play FILE.mid RECEIVER [--latency MS] [--follow | --as-due] [--quiet]" },
    { "bridge", cli::bridge, "forward a live MIDI input port into a receiver", "keyferry bridge RECEIVER [--port NAME]" },
    { "osc", cli::osc, "play OSC messages and time-tagged bundles into receivers", "keyferry osc [RECEIVER] [--port N] [--listen ADDRESS]" },
    { "free", cli::freeSlot, "free a receiver whose host ended without letting go", "keyferry free RECEIVER" },
};

juce::String subcommandHelp (const Subcommand& command)
{
    juce::String text;
    text << "usage: " << command.usage << "\n" << command.summary << ".\n";

    if (juce::String (command.name) == "send")
        text << "\nRECEIVER is 1-9, a receiver that keyferry list shows as held (the plug-in's window shows its\n"
             << "number too, but a restored project can show a saved name that is not its receiver).\n"
             << "MESSAGE is one of:\n"
             << describeMessageKinds() << "Channels are 1-16. --at SAMPLE sets the sample offset, within the receiver's next\n"
             << "audio block, of the messages after it (default 0). Example:\n"
             << "    keyferry send 1 note-on 1 60 100 --at 256 note-off 1 60\n";
    else if (juce::String (command.name) == "play")
        text << "\nPlaces every event on its exact sample in the receiver's track, --latency MS (default 100)\n"
             << "after it starts, following the host's audio clock; honours the file's tempo map. A\n"
             << "receiver that publishes no clock gets each event as it falls due instead. --follow waits\n"
             << "for the host's transport to play, starts at the next bar and plays the file's beats at\n"
             << "the host's tempo (the file's own tempo map is ignored); when the transport stops it\n"
             << "silences the receiver. --as-due sends each event as it falls due on this machine's clock,\n"
             << "at the start of the receiver's next block, as for a receiver without a clock. Reports\n"
             << "events that came out late. On Ctrl-C it stops and asks the receiver to silence all notes.\n";
    else if (juce::String (command.name) == "bridge")
        text << "\nCreates a MIDI input port (default name 'Keyferry Bridge') that other programs connect\n"
             << "to, and forwards what arrives until Ctrl-C.\n";
    else if (juce::String (command.name) == "list")
        text << "\nShows each slot's receiver number, whether a plug-in holds it, its name, identifier, the\n"
             << "bytes it has not read yet, and the holding process: alive, gone (it ended without letting\n"
             << "go), or unknown (it cannot be told from here). --json prints the same as a JSON array.\n";
    else if (juce::String (command.name) == "osc")
        text << "\nListens for OSC over UDP (127.0.0.1:9000 unless --listen and --port say otherwise) until\n"
             << "Ctrl-C. /keyferry/N/KIND plays into receiver N (1-9), /keyferry/KIND into RECEIVER. KIND:\n"
             << "    note_on CHANNEL KEY VELOCITY    note_off CHANNEL KEY [VELOCITY]    cc CHANNEL CONTROLLER VALUE\n"
             << "    program CHANNEL PROGRAM         pitch_bend CHANNEL VALUE (-8192 to 8191)\n"
             << "    raw BLOB (one MIDI message)     panic\n"
             << "Numbers are int32 or float32, channels 1-16. A bundle tagged with a moment ahead plays on\n"
             << "the receiver's sample for that moment; untagged, immediate and past ones as soon as they\n"
             << "can (past ones count as late). A status line says what was sent and what dropped, and why.\n";
    else if (juce::String (command.name) == "free")
        text << "\nFrees the slot only if its holding process has provably ended, as a receiver's next claim\n"
             << "would; a running holder, or one that cannot be judged, is left alone.\n";

    return text;
}
} // namespace

juce::String keyferryHelp()
{
    juce::String text;
    text << "usage: keyferry [--table PATH] COMMAND [ARGUMENTS]\n"
         << "Sends MIDI to Keyferry Receiver plug-ins through their shared table file.\n\n";

    for (const auto& command : subcommands)
        text << "    " << juce::String (command.name).paddedRight (' ', 8) << command.summary << "\n";

    text << "\n--table PATH uses another table file than ~/.config/Keyferry/receivers.dat.\n"
         << "keyferry COMMAND --help tells more. Exit status: 0 done, 1 refused (no table, receiver not\n"
         << "held, ring full), 2 wrong command line, 130 interrupted.\n";
    return text;
}

int runKeyferry (const juce::StringArray& argumentsIn, std::ostream& out, std::ostream& err)
{
    auto arguments = argumentsIn;
    std::string tablePath = keyferry::MappedTableFile::defaultPath();

    if (const auto index = arguments.indexOf ("--table"); index >= 0)
    {
        if (index + 1 >= arguments.size())
        {
            err << "keyferry: --table needs a path\n";
            return cli::usage;
        }
        tablePath = arguments[index + 1].toStdString();
        arguments.removeRange (index, 2);
    }

    if (arguments.isEmpty() || arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help")
    {
        (arguments.isEmpty() ? err : out) << keyferryHelp();
        return arguments.isEmpty() ? cli::usage : cli::done;
    }

    for (const auto& command : subcommands)
    {
        if (arguments[0] != command.name)
            continue;

        arguments.remove (0);

        if (arguments.contains ("--help") || arguments.contains ("-h"))
        {
            out << subcommandHelp (command);
            return cli::done;
        }

        const cli::Context context { arguments, out, err, tablePath };
        return command.run (context);
    }

    err << "keyferry: unknown command '" << arguments[0] << "'; try keyferry --help\n";
    return cli::usage;
}

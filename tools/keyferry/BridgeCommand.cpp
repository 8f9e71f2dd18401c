#include "CliSupport.h"
#include "MidiForwarder.h"

#include <chrono>
#include <thread>

namespace cli
{
int bridge (const Context& context)
{
    auto arguments = context.arguments;
    juce::String portName ("Keyferry Bridge");

    if (const auto index = arguments.indexOf ("--port"); index >= 0)
    {
        if (index + 1 >= arguments.size() || arguments[index + 1].startsWith ("--"))
            return context.fail (usage, "--port needs a port name, e.g. keyferry bridge 1 --port \"My Keyboard\"");

        portName = arguments[index + 1];
        arguments.removeRange (index, 2);
    }

    if (arguments.size() != 1)
        return context.fail (usage, "bridge needs a receiver, e.g. keyferry bridge 1");

    keyferry::SenderTable table;
    int code = done;
    auto link = openReceiver (context, table, arguments[0], code);
    if (! link)
        return code;

    MidiForwarder forwarder (std::move (*link));
    auto input = juce::MidiInput::createNewDevice (portName, &forwarder);

    if (input == nullptr)
        return context.fail (refused, "no MIDI service: could not create the MIDI input port '" + portName
                                          + "' (on Linux this needs the ALSA sequencer, /dev/snd/seq)");

    watchForInterrupt();
    input->start();
    context.out << "forwarding MIDI from port '" << portName << "' to receiver " << arguments[0] << "; Ctrl-C stops\n"
                << std::flush;

    while (! interruptRequested() && ! forwarder.receiverChanged())
        std::this_thread::sleep_for (std::chrono::milliseconds (50));

    input->stop();
    context.out << "forwarded " << forwarder.getForwarded() << " messages, " << forwarder.describeDrops() << "\n";

    if (forwarder.receiverChanged())
        return context.fail (refused, "receiver " + arguments[0] + " was released or claimed again");

    return interrupted;
}
} // namespace cli

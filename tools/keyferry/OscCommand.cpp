#include "CliSupport.h"
#include "OscPacketReader.h"
#include "OscRouter.h"

#include <chrono>
#include <thread>
#include <vector>

namespace cli
{
namespace
{
constexpr int defaultPort = 9000;
constexpr auto statusEvery = std::chrono::seconds (2);

// Reads datagrams off the socket on a thread of its own and hands each, read as OSC, to the
// router; what is not OSC is counted.
class DatagramReader final : public juce::Thread
{
public:
    DatagramReader (juce::DatagramSocket& socketToRead, OscRouter& routerToUse)
        : juce::Thread ("keyferry OSC reader"), socket (socketToRead), router (routerToUse)
    {
    }

    ~DatagramReader() override { stopThread (1000); }

private:
    void run() override
    {
        std::vector<char> datagram (65535);
        while (! threadShouldExit())
        {
            const auto ready = socket.waitUntilReady (true, 100);
            if (ready < 0)
                return;
            if (ready == 0)
                continue;

            const auto size = socket.read (datagram.data(), static_cast<int> (datagram.size()), false);
            if (size <= 0)
                continue;

            if (const auto element = readOscPacket (datagram.data(), static_cast<std::size_t> (size)); ! element)
                router.countMalformed();
            else if (element->isMessage())
                router.handle (element->getMessage());
            else if (element->isBundle())
                router.handle (element->getBundle());
        }
    }

    juce::DatagramSocket& socket;
    OscRouter& router;
};
} // namespace

int osc (const Context& context)
{
    auto arguments = context.arguments;
    juce::String listen ("127.0.0.1");
    int port = defaultPort;

    for (const auto* option : { "--port", "--listen" })
    {
        const auto index = arguments.indexOf (option);
        if (index < 0)
            continue;
        const auto value = arguments[index + 1];
        if (index + 1 >= arguments.size() || value.startsWith ("--"))
            return context.fail (usage, juce::String (option) + " needs a value, e.g. keyferry osc 1 --port 9000 --listen 127.0.0.1");
        if (juce::String (option) == "--port")
        {
            if (! value.containsOnly ("0123456789") || value.getIntValue() < 1 || value.getIntValue() > 65535)
                return context.fail (usage, "--port must be 1-65535, got '" + value + "'");
            port = value.getIntValue();
        }
        else
        {
            listen = value;
        }
        arguments.removeRange (index, 2);
    }

    if (arguments.size() > 1)
        return context.fail (usage, "osc takes at most one receiver, e.g. keyferry osc 1");

    auto defaultReceiver = -1;
    if (arguments.size() == 1)
    {
        const auto slot = slotFromReceiverNumber (arguments[0]);
        if (slot < 0)
            return context.fail (usage, "a receiver is a number from 1 to 9, as keyferry list shows, got '" + arguments[0] + "'");
        defaultReceiver = slot + 1;
    }

    keyferry::SenderTable table;
    int code = done;
    if (! openTable (context, table, code))
        return code;

    keyferry::BlockClockFile clocks;
    clocks.open (keyferry::BlockClockFile::pathNextTo (context.tablePath), false);

    OscRouter router (table, clocks, defaultReceiver);
    juce::DatagramSocket socket;

    if (! socket.bindToPort (port, listen))
        return context.fail (refused, "cannot listen for OSC on " + listen + ":" + juce::String (port) + " (taken, or not an address of this machine)");

    DatagramReader reader (socket, router);
    reader.startThread();

    context.out << "listening for OSC on " << listen << ":" << port << " (UDP)"
                << (defaultReceiver > 0 ? ", /keyferry/KIND goes to receiver " + juce::String (defaultReceiver) : juce::String())
                << "; Ctrl-C stops\n"
                << std::flush;

    watchForInterrupt();
    auto lastStatus = router.status();
    auto nextStatus = std::chrono::steady_clock::now() + statusEvery;

    while (! interruptRequested())
    {
        router.pump();
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
        if (std::chrono::steady_clock::now() >= nextStatus)
        {
            nextStatus += statusEvery;
            if (const auto status = router.status(); status != lastStatus)
                context.out << status << "\n" << std::flush;
            lastStatus = router.status();
        }
    }

    reader.stopThread (1000);
    router.pump();

    // Whatever it played may still sound, and timed messages may wait in the ring.
    keyferry::SendResult result {};
    for (const auto number : router.receiversPlayed())
        if (auto link = table.link (number - 1, result))
            link->requestReset();

    context.out << router.status() << ", then asked for silence\n";
    return interrupted;
}
} // namespace cli

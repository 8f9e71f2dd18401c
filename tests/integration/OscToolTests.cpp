// `keyferry osc` in a process of its own, fed real UDP packets on the loopback interface, written
// here byte by byte from the OSC format alone, in front of the plug-in loaded in our host.

#include "HostedReceiver.h"

#include "../support/ContenderProcess.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace
{
using Packet = std::vector<std::uint8_t>;

void putString (Packet& packet, const std::string& text)
{
    packet.insert (packet.end(), text.begin(), text.end());
    packet.resize (packet.size() + 4 - text.size() % 4, 0); // terminated, padded to four
}

void putBig (Packet& packet, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        packet.push_back (static_cast<std::uint8_t> (value >> (8 * i)));
}

Packet oscMessage (const std::string& address, std::initializer_list<std::int32_t> ints)
{
    Packet packet;
    putString (packet, address);
    putString (packet, "," + std::string (ints.size(), 'i'));
    for (const auto value : ints)
        putBig (packet, static_cast<std::uint32_t> (value), 4);
    return packet;
}

Packet oscBundle (double secondsAhead, const Packet& element)
{
    const auto unix = std::chrono::duration<double> (std::chrono::system_clock::now().time_since_epoch()).count() + secondsAhead;
    const auto ntp = unix + 2208988800.0;
    Packet packet;
    putString (packet, "#bundle");
    putBig (packet, (static_cast<std::uint64_t> (ntp) << 32) | static_cast<std::uint64_t> ((ntp - std::floor (ntp)) * 4294967296.0), 8);
    putBig (packet, element.size(), 4);
    packet.insert (packet.end(), element.begin(), element.end());
    return packet;
}

class OscTool : public HostedReceiver
{
protected:
    void sendUdp (const Packet& packet)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons (static_cast<std::uint16_t> (port));
        address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        ::sendto (udp, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*> (&address), sizeof (address));
    }

    // Blocks at the real rate for a while, each when its first sample is due since the first
    // block; events placed on the running sample count.
    void run (double seconds)
    {
        const auto blocks = static_cast<int> (seconds * 48000.0 / blockSize);
        for (int block = 0; block < blocks; ++block)
        {
            std::this_thread::sleep_until (hostStart + std::chrono::microseconds (static_cast<long> (processed * 1.0e6 / 48000.0)));
            for (auto& event : process())
                received.push_back ({ processed + event.position, event.bytes });
            processed += blockSize;
        }
    }

    void TearDown() override
    {
        ::close (udp);
        HostedReceiver::TearDown();
    }

    // The sample the host plays at a moment.
    double sampleAt (std::chrono::steady_clock::time_point moment) const
    {
        return std::chrono::duration<double> (moment - hostStart).count() * 48000.0;
    }

    std::chrono::steady_clock::time_point hostStart = std::chrono::steady_clock::now();
    int udp = ::socket (AF_INET, SOCK_DGRAM, 0);
    int port = 20000 + ::getpid() % 20000;
    std::vector<Event> received;
    int processed = 0;
};
} // namespace

TEST_F (OscTool, PacketsWrittenByHandPlayAndABundleAheadLandsOnItsSample)
{
    const auto portText = std::to_string (port);
    Contender tool = spawnContender (std::vector<const char*> { KEYFERRY_TOOL, "osc", "1", "--port", portText.c_str() });
    ASSERT_GT (tool.pid, 0);
    char line[256] {};
    ASSERT_NE (std::fgets (line, sizeof (line), tool.fromChild), nullptr);
    ASSERT_NE (std::string (line).find ("listening for OSC on 127.0.0.1:" + portText), std::string::npos) << line;

    hostStart = std::chrono::steady_clock::now();
    run (0.2); // the receiver publishes its clock
    sendUdp (oscMessage ("/keyferry/1/note_on", { 1, 60, 100 }));
    const auto bundleMoment = std::chrono::steady_clock::now() + std::chrono::milliseconds (100);
    sendUdp (oscBundle (0.1, oscMessage ("/keyferry/note_on", { 1, 64, 90 })));
    sendUdp (Packet { 'n', 'o', 't', ' ', 'o', 's', 'c' });
    sendUdp (oscMessage ("/keyferry/1/note_on", { 1, 60 }));
    // An address that is not text, which the framework's reader runs off the end of.
    sendUdp (Packet { '/', 'k', 'e', 0xbf, 'v', 'r', 0xaf, 'q', 0x83, 'O', 'V', 0, 0, 'o', 'n', 0, 3, ',', 'i', 'a', 'b',
                      'u', 'n', 'd', 'l', 'e', 0 });
    sendUdp (oscMessage ("/keyferry/1/note_on", { 1, 62, 100 }));
    // The OSC MIDI-message type: port, status, data 1, data 2.
    sendUdp (Packet { '/', 'k', 'e', 'y', 'f', 'e', 'r', 'r', 'y', '/', '1', '/', 'r', 'a', 'w', 0, ',', 'm', 0, 0, 0, 0x90, 63, 100 });
    run (0.5);

    ASSERT_EQ (received.size(), 4u);
    EXPECT_EQ (received[0].bytes, note (60));
    EXPECT_EQ (received[1].bytes, note (62));
    EXPECT_EQ (received[2].bytes, note (63));
    EXPECT_EQ (received[3].bytes, (std::vector<std::uint8_t> { 0x90, 64, 90 }));
    // On the host's sample for the tag's moment (as due, it would have come 100 ms early), within
    // what this host's slept-for blocks can be late by on a busy machine: 5 ms.
    EXPECT_NEAR (received[3].position, sampleAt (bundleMoment), 240.0);

    ::kill (tool.pid, SIGINT);
    std::string output;
    while (std::fgets (line, sizeof (line), tool.fromChild) != nullptr)
        output += line;
    int status = 0;
    ::waitpid (tool.pid, &status, 0);
    std::fclose (tool.fromChild);
    ::close (tool.toChild);

    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 130) << output;
    EXPECT_NE (output.find ("sent 4, 0 late, dropped 3 (1 bad arguments, 2 not OSC), then asked for silence"), std::string::npos)
        << output;
    EXPECT_EQ (process(), resetEvents());
}

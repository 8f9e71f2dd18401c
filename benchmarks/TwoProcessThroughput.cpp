// End to end across two processes: a peer process appending at full speed (waiting on
// back-pressure) into a receiver driven at real block rate. Prints one JSON object: messages per
// second delivered, ring use per block, and faults (messages lost, repeated, out of order or
// damaged).
//   keyferry_throughput [--seconds S] [--block N] [--rate HZ]
//   keyferry_throughput peer TABLE COUNT          (the peer side, started by the first form)

#include <processor/KeyferryReceiverProcessor.h>
#include <sender/SenderTable.h>

#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

std::array<std::uint8_t, 6> payload (std::uint32_t sequence)
{
    return { 0xf0, static_cast<std::uint8_t> (sequence & 0x7f), static_cast<std::uint8_t> ((sequence >> 7) & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 14) & 0x7f), static_cast<std::uint8_t> ((sequence >> 21) & 0x7f), 0xf7 };
}

int runPeer (const std::string& table, std::uint32_t count)
{
    keyferry::SenderTable sender;
    keyferry::SendResult result {};
    if (sender.open (table) != keyferry::SendResult::ok)
        return 3;
    auto link = sender.link (0, result);
    if (! link)
        return 4;

    for (std::uint32_t sequence = 0; sequence < count;)
    {
        const auto bytes = payload (sequence);
        result = link->send ({ 0, bytes.data(), bytes.size() });
        if (result == keyferry::SendResult::ok)
            ++sequence;
        else if (result == keyferry::SendResult::ringFull)
            std::this_thread::yield(); // back-pressure: wait for the next block's drain
        else
            return 5;
    }
    return 0;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc == 4 && juce::String (argv[1]) == "peer")
        return runPeer (argv[2], static_cast<std::uint32_t> (std::strtoul (argv[3], nullptr, 10)));

    const juce::ArgumentList arguments (argv[0], juce::StringArray (argv + 1, argc - 1));
    const auto option = [&] (const char* name, double fallback)
    { return arguments.containsOption (name) ? arguments.getValueForOption (name).getDoubleValue() : fallback; };
    const auto seconds = option ("--seconds", 5.0);
    const auto blockSize = static_cast<int> (option ("--block", 64));
    const auto sampleRate = option ("--rate", 48000.0);

    const auto home = juce::File::createTempFile ("keyferry-throughput-home");
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    KeyferryReceiverProcessor receiver;
    receiver.prepareToPlay (sampleRate, blockSize);

    const auto numBlocks = static_cast<long> (seconds * sampleRate / blockSize);
    juce::ChildProcess peer;
    const auto count = static_cast<std::uint32_t> (1u << 27); // more than the run can take
    if (! peer.start (juce::StringArray { juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName(), "peer",
                                          ReceiverTable::getTableFile().getFullPathName(), juce::String (count) },
                      0))
        return 1;

    juce::AudioBuffer<float> audio (2, blockSize);
    juce::MidiBuffer midi;
    midi.ensureSize (4 * keyferry::RingSize);
    const auto blockDuration = std::chrono::duration<double> (blockSize / sampleRate);

    std::uint32_t expected = 0;
    long delivered = 0, faults = 0, countedBlocks = 0;
    double usedBytes = 0.0;
    const auto start = Clock::now();

    for (long block = 0; block < numBlocks; ++block)
    {
        std::this_thread::sleep_until (start + std::chrono::duration_cast<Clock::duration> (blockDuration * block));
        midi.clear();
        receiver.processBlock (audio, midi);

        long events = 0;
        for (const auto event : midi)
        {
            const auto* d = event.data;
            const auto sequence = std::uint32_t (d[1]) | std::uint32_t (d[2]) << 7 | std::uint32_t (d[3]) << 14 | std::uint32_t (d[4]) << 21;
            faults += (event.numBytes != 6 || sequence != expected) ? 1 : 0;
            ++expected;
            ++events;
        }
        delivered += events;

        // Once the peer is running, every block should find the ring as full as the peer could
        // make it (twelve ring bytes a message).
        if (block >= 100)
        {
            usedBytes += static_cast<double> (events) * 12.0;
            ++countedBlocks;
        }
    }

    const std::chrono::duration<double> elapsed = Clock::now() - start;
    peer.kill();
    receiver.releaseResources();
    home.deleteRecursively();

    std::printf ("{\"seconds\": %.2f, \"block\": %d, \"rate\": %.0f, \"messagesPerSecond\": %.0f, \"ringUse\": %.4f, "
                 "\"faults\": %ld}\n",
                 elapsed.count(), blockSize, sampleRate, static_cast<double> (delivered) / elapsed.count(),
                 countedBlocks > 0 ? usedBytes / (double (countedBlocks) * double (keyferry::RingSize)) : 0.0, faults);
    return faults == 0 ? 0 : 1;
}

// keyferry-host: a small headless VST3 host for the receiver plug-in.
//
//   keyferry-host check BUNDLE   load the bundle, show what it declares and the slot the
//                                instance claims, then destroy it and show the slot released
//   keyferry-host run BUNDLE [--block=N] [--rate=HZ] [--seconds=S]
//                                run audio blocks in real time and print every MIDI event
//                                that comes out, with its block and sample offset

#include "PluginLoader.h"
#include "TableSnapshot.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <iostream>
#include <thread>

namespace
{
juce::File tableFile()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile (keyferry::TableFileRelativePath);
}

// The slot that is held in 'after' under a claim that 'before' did not show, or -1. A slot held
// in both counts too when its identifier changed: the claim freed a dead holder's slot first.
int newlyHeldSlot (const TableSnapshot& before, const TableSnapshot& after)
{
    for (int i = 0; i < keyferry::NumSlots; ++i)
    {
        const auto& was = before.slots[(size_t) i];
        const auto& is = after.slots[(size_t) i];
        if (is.active && ! (before.valid && was.active && was.id == is.id))
            return i;
    }
    return -1;
}

int check (const juce::File& bundle)
{
    PluginLoader loader;
    juce::String error;
    const auto before = TableSnapshot::read (tableFile());
    auto instance = loader.load (bundle, 48000.0, 512, error);

    if (instance == nullptr)
    {
        std::cerr << "keyferry-host: cannot load " << bundle.getFullPathName() << ": " << error << "\n";
        return 1;
    }

    const auto description = instance->getPluginDescription();
    std::cout << "loaded   " << description.name << " " << description.version << " by "
              << description.manufacturerName << " (" << description.pluginFormatName << ", "
              << description.category << ")\n";

    const auto held = TableSnapshot::read (tableFile());
    const auto slot = newlyHeldSlot (before, held);

    if (slot < 0)
    {
        std::cerr << "keyferry-host: the instance claimed no slot in " << tableFile().getFullPathName() << "\n";
        return 1;
    }

    const auto& claimed = held.slots[(size_t) slot];
    std::cout << "claimed  slot " << slot << " (Receiver " << slot + 1 << "), id " << claimed.id
              << ", name \"" << claimed.name << "\"\n";

    instance.reset();

    const auto released = TableSnapshot::read (tableFile());
    if (released.slots[(size_t) slot].active)
    {
        std::cerr << "keyferry-host: slot " << slot << " is still held after the instance was destroyed\n";
        return 1;
    }

    std::cout << "released slot " << slot << "; table " << tableFile().getFullPathName() << "\n";
    return 0;
}

std::atomic<bool> stopRequested { false };

extern "C" void onStop (int)
{
    stopRequested.store (true);
}

// A host that is not ideal, on request.
struct RunOptions
{
    int blockSize = 512;
    double sampleRate = 48000.0;
    double seconds = 0.0;          // 0: until stopped
    double clockDrift = 0.0;       // the sample clock runs this fraction faster than the wall clock
    bool varyBlocks = false;       // each block from 1 to blockSize samples
    double tempo = 0.0;            // > 0: a transport that plays at this tempo, in 4/4, from 0
    double stopTransportAfter = 0.0; // > 0: the transport stops after this many seconds
};

// The transport the options ask for, at the position of the block being processed.
class Transport final : public juce::AudioPlayHead
{
public:
    Transport (const RunOptions& runOptions) : options (runOptions) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        if (options.tempo <= 0.0)
            return {};

        const auto seconds = static_cast<double> (samplePosition) / options.sampleRate;
        PositionInfo info;
        info.setIsPlaying (options.stopTransportAfter <= 0.0 || seconds < options.stopTransportAfter);
        info.setBpm (options.tempo);
        info.setTimeSignature (TimeSignature { 4, 4 });
        info.setTimeInSamples (samplePosition);
        info.setTimeInSeconds (seconds);
        info.setPpqPosition (seconds * options.tempo / 60.0);
        return info;
    }

    juce::int64 samplePosition = 0;

private:
    const RunOptions& options;
};

int run (const juce::File& bundle, const RunOptions& options)
{
    const auto blockSize = options.blockSize;
    const auto sampleRate = options.sampleRate;

    PluginLoader loader;
    juce::String error;
    const auto before = TableSnapshot::read (tableFile());
    auto instance = loader.load (bundle, sampleRate, blockSize, error);

    if (instance == nullptr)
    {
        std::cerr << "keyferry-host: cannot load " << bundle.getFullPathName() << ": " << error << "\n";
        return 1;
    }

    Transport transport (options);
    instance->setPlayHead (&transport);
    instance->prepareToPlay (sampleRate, blockSize);
    const auto slot = newlyHeldSlot (before, TableSnapshot::read (tableFile()));

    if (slot < 0)
    {
        std::cerr << "keyferry-host: the instance holds no slot (all nine taken?)\n";
        return 1;
    }

    std::signal (SIGINT, onStop);
    std::signal (SIGTERM, onStop);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();

    // The moment sample 0 is due, on the monotonic clock, for measuring where events land.
    std::cout << "ready: receiver " << slot + 1 << ", " << blockSize << (options.varyBlocks ? " samples per block at most" : " samples per block")
              << " at " << sampleRate << " Hz, sample 0 at "
              << std::chrono::duration_cast<std::chrono::nanoseconds> (start.time_since_epoch()).count() << " ns\n"
              << "    block  sample   time (s)  since first  event\n"
              << std::flush;

    const auto totalSamples = options.seconds > 0.0 ? static_cast<juce::int64> (options.seconds * sampleRate) : -1;
    juce::Random random (1);
    juce::MidiBuffer midi;
    long events = 0, block = 0;
    juce::int64 position = 0; // samples processed
    double firstEventTime = -1.0;
    Clock::duration wokeLate {};

    for (; ! stopRequested.load() && (totalSamples < 0 || position < totalSamples); ++block)
    {
        // Block k starts when its first sample is due on the host's own clock, which runs
        // 'clockDrift' faster than the wall clock.
        const auto due = std::chrono::duration<double> (static_cast<double> (position) / sampleRate / (1.0 + options.clockDrift));
        const auto dueAt = start + std::chrono::duration_cast<Clock::duration> (due);
        std::this_thread::sleep_until (dueAt);
        wokeLate += Clock::now() - dueAt; // the block's clock is stamped now, not when it was due

        const auto length = options.varyBlocks ? 1 + random.nextInt (blockSize) : blockSize;
        juce::AudioBuffer<float> audio (2, length);
        audio.clear();
        midi.clear();
        transport.samplePosition = position;
        instance->processBlock (audio, midi);

        for (const auto metadata : midi)
        {
            // The time since the first event lines up with the times in the sender's file.
            const auto time = static_cast<double> (position + metadata.samplePosition) / sampleRate;
            if (firstEventTime < 0.0)
                firstEventTime = time;

            std::cout << juce::String (block).paddedLeft (' ', 9) << juce::String (metadata.samplePosition).paddedLeft (' ', 8)
                      << juce::String (time, 6).paddedLeft (' ', 11) << juce::String (time - firstEventTime, 6).paddedLeft (' ', 13)
                      << "  " << metadata.getMessage().getDescription() << "\n";
            ++events;
        }

        if (! midi.isEmpty())
            std::cout << std::flush;

        position += length;
    }

    instance->releaseResources();
    instance->setPlayHead (nullptr);
    const auto meanWokeLate = std::chrono::duration<double, std::micro> (wokeLate).count() / static_cast<double> (std::max (block, 1L));
    std::cout << "stopped after " << block << " blocks, " << events << " events out; woke " << juce::String (meanWokeLate, 1)
              << " us after a block was due on average\n";
    return 0;
}

int usage()
{
    std::cerr << "usage: keyferry-host check BUNDLE\n"
                 "       keyferry-host run BUNDLE [--block=N] [--rate=HZ] [--seconds=S] [--clock-drift=PERCENT]\n"
                 "                                [--vary-blocks] [--tempo=BPM] [--stop-transport-after=S]\n";
    return 2;
}
} // namespace

int main (int argc, char* argv[])
{
    const juce::ScopedJuceInitialiser_GUI juce;

    if (argc == 3 && juce::String (argv[1]) == "check")
        return check (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    if (argc >= 3 && juce::String (argv[1]) == "run")
    {
        const juce::ArgumentList arguments (argv[0], juce::StringArray (argv + 3, argc - 3));
        const auto option = [&] (const char* name, double fallback)
        { return arguments.containsOption (name) ? arguments.getValueForOption (name).getDoubleValue() : fallback; };

        RunOptions options;
        options.blockSize = static_cast<int> (option ("--block", 512));
        options.sampleRate = option ("--rate", 48000);
        options.seconds = option ("--seconds", 0);
        options.clockDrift = option ("--clock-drift", 0) / 100.0;
        options.varyBlocks = arguments.containsOption ("--vary-blocks");
        options.tempo = option ("--tempo", 0);
        options.stopTransportAfter = option ("--stop-transport-after", 0);

        if (options.blockSize < 1 || options.blockSize > 65536 || options.sampleRate < 1000 || options.sampleRate > 768000
            || std::abs (options.clockDrift) >= 0.5 || options.tempo < 0.0)
            return usage();

        return run (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]), options);
    }

    return usage();
}

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

int run (const juce::File& bundle, int blockSize, double sampleRate, double seconds)
{
    PluginLoader loader;
    juce::String error;
    const auto before = TableSnapshot::read (tableFile());
    auto instance = loader.load (bundle, sampleRate, blockSize, error);

    if (instance == nullptr)
    {
        std::cerr << "keyferry-host: cannot load " << bundle.getFullPathName() << ": " << error << "\n";
        return 1;
    }

    instance->prepareToPlay (sampleRate, blockSize);
    const auto slot = newlyHeldSlot (before, TableSnapshot::read (tableFile()));

    if (slot < 0)
    {
        std::cerr << "keyferry-host: the instance holds no slot (all nine taken?)\n";
        return 1;
    }

    std::signal (SIGINT, onStop);
    std::signal (SIGTERM, onStop);
    std::cout << "ready: receiver " << slot + 1 << ", " << blockSize << " samples per block at " << sampleRate << " Hz\n"
              << "    block  sample   time (s)  since first  event\n"
              << std::flush;

    using Clock = std::chrono::steady_clock;
    const auto blockDuration = std::chrono::duration<double> (blockSize / sampleRate);
    const auto numBlocks = seconds > 0.0 ? static_cast<long> (seconds * sampleRate / blockSize) : -1;
    const auto start = Clock::now();
    juce::AudioBuffer<float> audio (2, blockSize);
    juce::MidiBuffer midi;
    long events = 0, block = 0;
    double firstEventTime = -1.0;

    for (; ! stopRequested.load() && (numBlocks < 0 || block < numBlocks); ++block)
    {
        std::this_thread::sleep_until (start + std::chrono::duration_cast<Clock::duration> (blockDuration * block));
        audio.clear();
        midi.clear();
        instance->processBlock (audio, midi);

        for (const auto metadata : midi)
        {
            // The time since the first event lines up with the times in the sender's file.
            const auto time = (double) (block * blockSize + metadata.samplePosition) / sampleRate;
            if (firstEventTime < 0.0)
                firstEventTime = time;

            std::cout << juce::String (block).paddedLeft (' ', 9) << juce::String (metadata.samplePosition).paddedLeft (' ', 8)
                      << juce::String (time, 3).paddedLeft (' ', 11) << juce::String (time - firstEventTime, 3).paddedLeft (' ', 13)
                      << "  " << metadata.getMessage().getDescription() << "\n";
            ++events;
        }

        if (! midi.isEmpty())
            std::cout << std::flush;
    }

    instance->releaseResources();
    std::cout << "stopped after " << block << " blocks, " << events << " events out\n";
    return 0;
}

int usage()
{
    std::cerr << "usage: keyferry-host check BUNDLE\n"
                 "       keyferry-host run BUNDLE [--block=N] [--rate=HZ] [--seconds=S]\n";
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

        const auto blockSize = static_cast<int> (option ("--block", 512));
        const auto sampleRate = option ("--rate", 48000);
        if (blockSize < 1 || blockSize > 65536 || sampleRate < 1000 || sampleRate > 768000)
            return usage();

        return run (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]), blockSize, sampleRate, option ("--seconds", 0));
    }

    return usage();
}

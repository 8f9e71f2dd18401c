// keyferry-host: a small headless VST3 host for the receiver plug-in.
//
//   keyferry-host check BUNDLE   load the bundle, show what it declares and the slot the
//                                instance claims, then destroy it and show the slot released

#include "PluginLoader.h"
#include "TableSnapshot.h"

#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
juce::File tableFile()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile (keyferry::TableFileRelativePath);
}

// The slot that is held in 'after' but was not in 'before', or -1.
int newlyHeldSlot (const TableSnapshot& before, const TableSnapshot& after)
{
    for (int i = 0; i < keyferry::NumSlots; ++i)
        if (after.slots[(size_t) i].active && ! (before.valid && before.slots[(size_t) i].active))
            return i;
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

int usage()
{
    std::cerr << "usage: keyferry-host check BUNDLE\n";
    return 2;
}
} // namespace

int main (int argc, char* argv[])
{
    const juce::ScopedJuceInitialiser_GUI juce;

    if (argc == 3 && juce::String (argv[1]) == "check")
        return check (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    return usage();
}

#include "KeyferryCli.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    // The MIDI input of `bridge` needs the framework's message thread machinery.
    const juce::ScopedJuceInitialiser_GUI juce;

    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    return runKeyferry (arguments, std::cout, std::cerr);
}

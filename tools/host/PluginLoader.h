#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// Loads a VST3 bundle through the framework's own VST3 hosting. Message thread only.
class PluginLoader
{
public:
    PluginLoader();

    // The first plug-in class in the bundle, created at the given rate and block size; null with
    // a reason in 'error' when the bundle cannot be loaded.
    std::unique_ptr<juce::AudioPluginInstance> load (const juce::File& bundle,
                                                     double sampleRate,
                                                     int blockSize,
                                                     juce::String& error);

private:
    juce::VST3PluginFormat format;

    JUCE_DECLARE_NON_COPYABLE (PluginLoader)
};

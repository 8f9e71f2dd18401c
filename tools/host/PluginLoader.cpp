#include "PluginLoader.h"

PluginLoader::PluginLoader() = default;

std::unique_ptr<juce::AudioPluginInstance> PluginLoader::load (const juce::File& bundle,
                                                               double sampleRate,
                                                               int blockSize,
                                                               juce::String& error)
{
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, bundle.getFullPathName());

    if (types.isEmpty())
    {
        error = "no VST3 plug-in found in " + bundle.getFullPathName();
        return nullptr;
    }

    return format.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
}

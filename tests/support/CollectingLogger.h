#pragma once

#include <juce_core/juce_core.h>

// Installs itself as the framework's logger for its lifetime and keeps every line written.
class CollectingLogger final : public juce::Logger
{
public:
    CollectingLogger() { juce::Logger::setCurrentLogger (this); }
    ~CollectingLogger() override { juce::Logger::setCurrentLogger (nullptr); }

    void logMessage (const juce::String& message) override { lines.add (message); }

    juce::StringArray lines;
};

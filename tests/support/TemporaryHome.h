#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>

// Points HOME at a fresh temporary folder for the object's lifetime, so the table file lives at
// <temp>/.config/Keyferry/receivers.dat and a user's real one is never touched.
class TemporaryHome
{
public:
    TemporaryHome()
        : folder (juce::File::createTempFile ("keyferry-home"))
    {
        folder.createDirectory();

        if (const auto* previous = std::getenv ("HOME"))
            previousHome = previous;

        ::setenv ("HOME", folder.getFullPathName().toRawUTF8(), 1);
    }

    ~TemporaryHome()
    {
        if (previousHome.isNotEmpty())
            ::setenv ("HOME", previousHome.toRawUTF8(), 1);
        else
            ::unsetenv ("HOME");

        folder.deleteRecursively();
    }

    const juce::File& getFolder() const noexcept { return folder; }

    juce::File getTableFile() const { return folder.getChildFile (".config/Keyferry/receivers.dat"); }

private:
    juce::File folder;
    juce::String previousHome;

    JUCE_DECLARE_NON_COPYABLE (TemporaryHome)
};

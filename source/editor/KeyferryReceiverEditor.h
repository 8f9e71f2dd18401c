#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class KeyferryReceiverProcessor;

// The plug-in's window: title, connection light and words, an activity bar that flashes when the
// processor takes messages and fades out, and the display name. 280 x 120, fixed. It only reads
// the processor, and everything here runs on the message thread.
class KeyferryReceiverEditor final : public juce::AudioProcessorEditor, public juce::Timer
{
public:
    explicit KeyferryReceiverEditor (KeyferryReceiverProcessor& processorToShow);
    ~KeyferryReceiverEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Every 33 ms: full level on any change of the processor's activity stamp, otherwise a fade
    // of x0.9 down to nothing below 0.01; repaints on every tick.
    void timerCallback() override;

    float getActivityLevel() const noexcept { return activityLevel; }

private:
    KeyferryReceiverProcessor& processorRef;
    float activityLevel = 0.0f;
    juce::int64 lastSeenActivityMs = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KeyferryReceiverEditor)
};

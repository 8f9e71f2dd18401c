#include "KeyferryReceiverEditor.h"

#include "../processor/KeyferryReceiverProcessor.h"

namespace
{
namespace Colours
{
const juce::Colour background { 0xff232323 };
const juce::Colour text { 0xffe8e8e8 };
const juce::Colour connected { 0xff4caf50 };
const juce::Colour disconnected { 0xff5a5a5a };
const juce::Colour barTrack { 0xff3a3a3a };
const juce::Colour barFill { 0xffff8c00 };
const juce::Colour name { 0xb2e8e8e8 };
} // namespace Colours

constexpr int tickPeriodMs = 33;
constexpr float fadePerTick = 0.9f;
constexpr float visibleLevel = 0.01f;
constexpr float barWidth = 80.0f;
constexpr float shapeHeight = 12.0f;
constexpr float cornerSize = 4.0f;
} // namespace

KeyferryReceiverEditor::KeyferryReceiverEditor (KeyferryReceiverProcessor& processorToShow)
    : AudioProcessorEditor (processorToShow)
    , processorRef (processorToShow)
{
    setSize (280, 120);
    startTimer (tickPeriodMs);
}

KeyferryReceiverEditor::~KeyferryReceiverEditor()
{
    stopTimer();
}

void KeyferryReceiverEditor::paint (juce::Graphics& g)
{
    const auto connected = processorRef.getSlotIndex() >= 0;

    // Rows from the top of the content area, columns from the left of the status row; each cut
    // is clipped to what is left, so at this size the name line gets 12 of its 20 pixels.
    auto content = getLocalBounds().reduced (16);
    const auto titleRow = content.removeFromTop (28);
    content.removeFromTop (12);
    auto statusRow = content.removeFromTop (24);
    content.removeFromTop (12);
    const auto nameLine = content.removeFromTop (20);

    const auto lightColumn = statusRow.removeFromLeft (16);
    statusRow.removeFromLeft (8);
    const auto statusText = statusRow.removeFromLeft (100);
    statusRow.removeFromLeft (16);
    const auto barColumn = statusRow.removeFromLeft (80);

    const auto light = lightColumn.toFloat().withSizeKeepingCentre (shapeHeight, shapeHeight);
    const auto track = barColumn.toFloat().withSizeKeepingCentre (barWidth, shapeHeight);

    g.fillAll (Colours::background);

    g.setColour (Colours::text);
    g.setFont (juce::FontOptions (juce::String(), 18.0f, juce::Font::bold));
    g.drawText ("Keyferry Receiver", titleRow.toFloat(), juce::Justification::centred, true);

    g.setColour (connected ? Colours::connected : Colours::disconnected);
    g.fillEllipse (light);

    // The bold style set for the title stays in force for the smaller texts.
    g.setColour (Colours::text);
    g.setFont (g.getCurrentFont().withHeight (14.0f));
    g.drawText (connected ? "Connected" : "Disconnected", statusText.toFloat(), juce::Justification::centredLeft, true);

    g.setColour (Colours::barTrack);
    g.fillRoundedRectangle (track, cornerSize);

    if (activityLevel > visibleLevel)
    {
        g.setColour (Colours::barFill.withAlpha (activityLevel));
        g.fillRoundedRectangle (track.withWidth (juce::jmax (0.0f, barWidth * activityLevel)), cornerSize);
    }

    g.setColour (Colours::name);
    g.setFont (g.getCurrentFont().withHeight (14.0f));
    g.drawText (processorRef.getDisplayName(), nameLine.toFloat(), juce::Justification::centred, true);
}

void KeyferryReceiverEditor::resized()
{
}

void KeyferryReceiverEditor::timerCallback()
{
    const auto activity = processorRef.getLastActivityMs();

    if (activity != lastSeenActivityMs)
    {
        lastSeenActivityMs = activity;
        activityLevel = 1.0f;
    }
    else
    {
        activityLevel *= fadePerTick;

        if (activityLevel < visibleLevel)
            activityLevel = 0.0f;
    }

    repaint();
}

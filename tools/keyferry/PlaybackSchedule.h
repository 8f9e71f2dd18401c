#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <vector>

// The events of a Standard MIDI File in the order and at the times they play.
struct ScheduledEvent
{
    double seconds = 0.0;
    std::vector<std::uint8_t> bytes;
};

// All tracks merged, the tempo map applied, meta events (tempo, text, end of track) left out;
// events of equal time keep their track order.
std::vector<ScheduledEvent> scheduleFromMidiFile (const juce::MidiFile& file);

// Reads the file; false if it is not a Standard MIDI File.
bool readMidiFile (const juce::File& path, juce::MidiFile& file);

#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <vector>

// The events of a Standard MIDI File in the order and at the times they play.
struct ScheduledEvent
{
    double time = 0.0; // seconds, or quarter notes
    std::vector<std::uint8_t> bytes;
};

enum class TimeUnit
{
    seconds,      // the file's tempo map applied
    quarterNotes  // the file's tempo map ignored: for following a host's tempo
};

// All tracks merged, meta events (tempo, text, end of track) left out; events of equal time keep
// their track order. Quarter notes need a file timed in ticks per quarter note: for one timed in
// SMPTE frames the result is empty.
std::vector<ScheduledEvent> scheduleFromMidiFile (const juce::MidiFile& file, TimeUnit unit = TimeUnit::seconds);

// Reads the file; false if it is not a Standard MIDI File.
bool readMidiFile (const juce::File& path, juce::MidiFile& file);

#include "PlaybackSchedule.h"

#include <algorithm>

bool readMidiFile (const juce::File& path, juce::MidiFile& file)
{
    juce::FileInputStream stream (path);
    return stream.openedOk() && file.readFrom (stream, true);
}

std::vector<ScheduledEvent> scheduleFromMidiFile (const juce::MidiFile& original, TimeUnit unit)
{
    auto file = original;
    const auto ticksPerQuarterNote = file.getTimeFormat();
    double scale = 1.0;

    if (unit == TimeUnit::seconds)
        file.convertTimestampTicksToSeconds();
    else if (ticksPerQuarterNote > 0)
        scale = 1.0 / ticksPerQuarterNote;
    else
        return {};

    std::vector<ScheduledEvent> events;
    for (int track = 0; track < file.getNumTracks(); ++track)
    {
        for (const auto* holder : *file.getTrack (track))
        {
            const auto& message = holder->message;
            if (message.isMetaEvent())
                continue;

            const auto* data = message.getRawData();
            events.push_back ({ message.getTimeStamp() * scale, std::vector<std::uint8_t> (data, data + message.getRawDataSize()) });
        }
    }

    std::stable_sort (events.begin(), events.end(), [] (const auto& a, const auto& b) { return a.time < b.time; });
    return events;
}
